#pragma once
// The Shared mark of the known packages list, the file search and the
// deployment rows: whether a file is one of the shared package files (the
// "SharedDLLs" names ending in ".dpl").
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// The shared package names with the file each one names, looked up once.
// A file is shared when it is the same file on disk as one of them (the
// same device and inode, whichever drive, folder or letter case reached
// it); a name whose file does not exist matches by its text, ignoring ASCII
// case.
class TSharedPackages {
 public:
  explicit TSharedPackages(const std::vector<std::string>& names);
  // path: the file's full Windows name; hostPath, when given, where it lies
  // on the host (saves resolving path again).
  bool Holds(std::string_view path, const std::filesystem::path* hostPath = nullptr) const;

 private:
  struct Entry {
    std::string name;
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
  };
  std::vector<Entry> entries_;
};

// The same for one file, the names looked up on the spot.
bool IsSharedPackage(const std::vector<std::string>& names, std::string_view path,
                     const std::filesystem::path* hostPath = nullptr);

}  // namespace kx
