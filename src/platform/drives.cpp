#include "platform/drives.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <mutex>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "platform/codepage.h"
#include "platform/strutil.h"

namespace kx {
namespace fs = std::filesystem;

namespace {

char UpperLetter(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Splits the part after "X:" into components, folding "." and ".."; ".."
// never climbs above the drive root. As Windows does when it opens a file,
// each component loses its trailing blanks and dots ("Lib.\x.dpl " names
// Lib\x.dpl); one that is nothing else counts as ".".
std::vector<std::string> FoldComponents(std::string_view rest) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= rest.size()) {
    size_t next = rest.find_first_of("\\/", pos);
    if (next == std::string_view::npos) next = rest.size();
    std::string_view part = rest.substr(pos, next - pos);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else {
      while (!part.empty() && (part.back() == ' ' || part.back() == '.')) part.remove_suffix(1);
      if (!part.empty()) parts.emplace_back(part);
    }
    pos = next + 1;
  }
  return parts;
}

// A file name as the case-insensitive comparison sees it.
std::string FoldedFileName(std::string_view name) { return FileNameFold(name); }

// The names of one folder by folded name (the first in name order when
// several fold alike), and the folder's modification time when it was read.
struct FolderListing {
  int64_t mtimeNs = 0;
  std::unordered_map<std::string, std::string> byFolded;
};

int64_t Nanoseconds(const struct timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Reads the folder's names that are UTF-8 (a name that is not has no
// Windows form).
FolderListing ListFolder(const fs::path& dir) {
  FolderListing listing;
  DIR* const handle = ::opendir(dir.c_str());
  if (!handle) return listing;
  while (const dirent* entry = ::readdir(handle)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (!IsValidUtf8(name)) continue;
    auto [slot, added] = listing.byFolded.try_emplace(FoldedFileName(name), name);
    if (!added && name < slot->second) slot->second = std::move(name);
  }
  ::closedir(handle);
  return listing;
}

// The entry of dir whose name equals component ignoring case; an exact
// match wins, otherwise the first in name order.
//
// A module search asks the same folders for many names that are not there,
// and a prefix's system folder holds hundreds of files: the listing of a
// folder is kept while its modification time (which every entry added,
// removed or renamed changes) stays the same. A folder changed less than two
// seconds before it was read is read again next time, since time stamps can
// lag the clock and be coarse.
std::optional<std::string> FindEntry(const fs::path& dir, const std::string& component) {
  std::error_code ec;
  if (fs::symlink_status(dir / component, ec).type() != fs::file_type::not_found && !ec)
    return component;
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) return std::nullopt;
  const int64_t mtime = Nanoseconds(st.st_mtim);
  static std::mutex mutex;
  static auto& cache = *new std::unordered_map<std::string, FolderListing>;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = cache.find(dir.native());
  if (it == cache.end() || it->second.mtimeNs != mtime) {
    FolderListing listing = ListFolder(dir);
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    if (mtime + 2'000'000'000 >= Nanoseconds(now)) {
      const auto found = listing.byFolded.find(FoldedFileName(component));
      if (found == listing.byFolded.end()) return std::nullopt;
      return found->second;
    }
    if (cache.size() >= 256) cache.clear();
    listing.mtimeNs = mtime;
    it = cache.insert_or_assign(dir.native(), std::move(listing)).first;
  }
  const auto found = it->second.byFolded.find(FoldedFileName(component));
  if (found == it->second.byFolded.end()) return std::nullopt;
  return found->second;
}

// Number of leading components of path equal to those of root; -1 when root
// is not a prefix of path.
int RootDepth(const fs::path& root, const fs::path& path) {
  auto r = root.begin();
  auto p = path.begin();
  int depth = 0;
  for (; r != root.end(); ++r, ++p) {
    if (r->empty()) continue;  // trailing separator of the root
    if (p == path.end() || *r != *p) return -1;
    ++depth;
  }
  return depth;
}

}  // namespace

DriveMap DriveMap::FromPrefix(const fs::path& prefix) {
  DriveMap map;
  const fs::path dosdevices = prefix / "dosdevices";
  std::error_code ec;
  fs::directory_iterator it(dosdevices, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    // "c:" is a drive; "c::" is the raw device behind it and not a drive.
    if (name.size() != 2 || name[1] != ':' || !IsLetter(name[0])) continue;
    std::error_code lec;
    if (!it->is_symlink(lec)) continue;
    fs::path target = fs::read_symlink(it->path(), lec);
    if (lec) continue;
    if (target.is_relative()) target = dosdevices / target;
    map.Map(name[0], target.lexically_normal());
  }
  return map;
}

DriveMap DriveMap::RootOnly() {
  DriveMap map;
  map.Map('Z', "/");
  return map;
}

void DriveMap::Map(char letter, const fs::path& hostRoot) {
  roots_[UpperLetter(letter)] = hostRoot;
}

std::string DriveMap::Letters() const {
  std::string out;
  for (const auto& [letter, root] : roots_) out += letter;
  return out;
}

std::optional<fs::path> DriveMap::HostRoot(char letter) const {
  const auto it = roots_.find(UpperLetter(letter));
  if (it == roots_.end()) return std::nullopt;
  return it->second;
}

std::optional<fs::path> DriveMap::ToHost(std::string_view windowsPath) const {
  if (windowsPath.size() < 2 || !IsLetter(windowsPath[0]) || windowsPath[1] != ':')
    return std::nullopt;
  const std::string_view rest = windowsPath.substr(2);
  if (!rest.empty() && rest[0] != '\\' && rest[0] != '/') return std::nullopt;  // "C:dir"
  const char letter = UpperLetter(windowsPath[0]);
  const auto root = HostRoot(letter);
  if (!root) return std::nullopt;

  std::vector<std::string> parts = FoldComponents(rest);
  // Wine's file system redirection for a 32-bit process in a 64-bit prefix.
  if (wow64_ && letter == 'C' && parts.size() >= 2 && SameFileName(parts[0], "windows") &&
      SameFileName(parts[1], "system32")) {
    parts[1] = "syswow64";
  }

  fs::path host = *root;
  bool resolving = true;
  for (const std::string& part : parts) {
    if (resolving) {
      std::error_code ec;
      if (fs::is_directory(host, ec)) {
        if (auto found = FindEntry(host, part)) {
          host /= *found;
          continue;
        }
      }
      resolving = false;
    }
    host /= part;
  }
  return host;
}

std::optional<std::string> DriveMap::ToWindows(const fs::path& hostPath) const {
  std::error_code ec;
  const fs::path lexical = fs::absolute(hostPath, ec).lexically_normal();
  if (ec) return std::nullopt;
  const fs::path canonical = fs::weakly_canonical(lexical, ec);
  const bool haveCanonical = !ec;

  // The longest drive root covering the path wins (Z: -> / covers everything
  // and loses to any deeper drive). Roots are compared as written and, when
  // that fails, with their symbolic links resolved.
  int bestDepth = -1;
  char bestLetter = 0;
  fs::path bestRoot, bestPath;
  for (const auto& [letter, root] : roots_) {
    const fs::path rootLexical = root.lexically_normal();
    int depth = RootDepth(rootLexical, lexical);
    fs::path usedRoot = rootLexical, usedPath = lexical;
    if (depth < 0 && haveCanonical) {
      std::error_code rec;
      const fs::path rootCanonical = fs::weakly_canonical(rootLexical, rec);
      if (!rec) {
        depth = RootDepth(rootCanonical, canonical);
        usedRoot = rootCanonical;
        usedPath = canonical;
      }
    }
    if (depth > bestDepth) {
      bestDepth = depth;
      bestLetter = letter;
      bestRoot = usedRoot;
      bestPath = usedPath;
    }
  }
  if (bestDepth < 0) return std::nullopt;

  std::string out{bestLetter, ':'};
  const fs::path relative = bestPath.lexically_relative(bestRoot);
  for (const fs::path& part : relative) {
    const std::string name = part.string();
    if (name.empty() || name == ".") continue;
    out += '\\';
    // Core text is UTF-8: a host name that is not gets U+FFFD for its
    // malformed bytes.
    out += IsValidUtf8(name) ? name : Utf16ToUtf8(Utf8ToUtf16(name));
  }
  if (out.size() == 2) out += '\\';
  return out;
}

}  // namespace kx
