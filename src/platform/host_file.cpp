#include "platform/host_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>

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

namespace {

// Bytes of one read: a buffer of at least size bytes, never cleared. From
// 1 MB on it is its own mapping, aligned for huge pages and populated in
// one call, since faulting in hundreds of fresh pages one by one costs more
// than the read itself.
class ReadBuffer {
 public:
  explicit ReadBuffer(size_t size) {
    constexpr size_t kLarge = 1 << 20, kHuge = 2 << 20;
    if (size >= kLarge) {
      const size_t length = (size + kHuge - 1) / kHuge * kHuge;
      void* raw = ::mmap(nullptr, length + kHuge, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (raw != MAP_FAILED) {
        mapped_ = static_cast<char*>(raw);
        mappedSize_ = length + kHuge;
        data_ =
            reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(raw) + kHuge - 1) / kHuge * kHuge);
#ifdef MADV_HUGEPAGE
        ::madvise(data_, length, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
        ::madvise(data_, length, MADV_POPULATE_WRITE);
#endif
        return;
      }
    }
    heap_ = std::make_unique_for_overwrite<char[]>(size);
    data_ = heap_.get();
  }
  ~ReadBuffer() {
    if (mapped_) ::munmap(mapped_, mappedSize_);
  }
  ReadBuffer(const ReadBuffer&) = delete;
  ReadBuffer& operator=(const ReadBuffer&) = delete;
  char* Data() const { return data_; }

 private:
  std::unique_ptr<char[]> heap_;
  char* mapped_ = nullptr;
  size_t mappedSize_ = 0;
  char* data_ = nullptr;
};

// Reads fd from its start into out (size bytes): the bytes read, or nullopt
// on a read error.
std::optional<size_t> ReadFrom(int fd, char* out, size_t size) {
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd, out + got, size - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}

}  // namespace

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

std::shared_ptr<const std::string_view> ShareText(std::string text) {
  struct Copy {
    std::string text;
    std::string_view view;
  };
  auto copy = std::make_shared<Copy>();
  copy->text = std::move(text);
  copy->view = copy->text;
  return std::shared_ptr<const std::string_view>(copy, &copy->view);
}

std::shared_ptr<const std::string_view> HostFile::ReadAllShared() const {
  if (fd_ < 0) return nullptr;
  struct Bytes {
    explicit Bytes(size_t size) : buffer(size) {}
    ReadBuffer buffer;
    std::string_view view;
  };
  // One byte more than the size: a read that fills it shows the file grew;
  // a file that grows while it is read is read whole as a string instead.
  const size_t size = static_cast<size_t>(Size()) + 1;
  auto bytes = std::make_shared<Bytes>(size);
  const std::optional<size_t> got = ReadFrom(fd_, bytes->buffer.Data(), size);
  if (!got) return nullptr;
  if (*got == size) {
    auto whole = ReadAll();
    return whole ? ShareText(std::move(*whole)) : nullptr;
  }
  bytes->view = std::string_view(bytes->buffer.Data(), *got);
  return std::shared_ptr<const std::string_view>(bytes, &bytes->view);
}

}  // namespace kx
