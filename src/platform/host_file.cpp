#include "platform/host_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kx {

HostFile::HostFile(const std::filesystem::path& path) {
  // Anything but a regular file is never opened: opening a FIFO waits for a
  // writer, and opening a device may act on it. Non-blocking, in case the
  // name was replaced by such a node since the check.
  if (::stat(path.c_str(), &status_) != 0 || !S_ISREG(status_.st_mode)) {
    status_ = {};
    return;
  }
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd_ >= 0 && (::fstat(fd_, &status_) != 0 || !S_ISREG(status_.st_mode))) {
    ::close(fd_);
    fd_ = -1;
    status_ = {};
  }
}

HostFile::~HostFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool HostFile::ReadAt(uint64_t offset, std::span<uint8_t> out) const {
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n =
        ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::optional<std::string> HostFile::ReadAll() const {
  if (fd_ < 0) return std::nullopt;
  // One byte more than the size: a read that fills it shows the file grew.
  std::string data(static_cast<size_t>(Size()) + 1, '\0');
  size_t got = 0;
  for (;;) {
    if (got == data.size()) data.resize(data.size() * 2);
    const ssize_t n = ::pread(fd_, data.data() + got, data.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  data.resize(got);
  return data;
}

}  // namespace kx
