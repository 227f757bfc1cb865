#pragma once
// A regular host file opened for reading: positioned reads checked for their
// full length, or the whole file in one go.
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace kx {

class HostFile {
 public:
  // Opens path; anything but a regular file is left closed.
  explicit HostFile(const std::filesystem::path& path);
  ~HostFile();
  HostFile(const HostFile&) = delete;
  HostFile& operator=(const HostFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  // Size and times as the file was opened.
  const struct stat& Status() const { return status_; }
  uint64_t Size() const { return static_cast<uint64_t>(status_.st_size); }
  // Fills out from offset; false when the file ends first or cannot be read.
  bool ReadAt(uint64_t offset, std::span<uint8_t> out) const;
  // The whole file, to its end at the time of reading (a file that grew
  // since it was opened is read to the new end); nullopt on a read error.
  std::optional<std::string> ReadAll() const;

 private:
  int fd_ = -1;
  struct stat status_ {};
};

}  // namespace kx
