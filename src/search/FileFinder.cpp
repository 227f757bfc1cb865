#include "search/FileFinder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/strutil.h"
#include "platform/system.h"

namespace kx {
namespace fs = std::filesystem;

namespace {

// Magic numbers of the kernel's pseudo file systems (linux/magic.h).
constexpr unsigned long kPseudoMagic[] = {
    0x9fa0,      // proc
    0x62656572,  // sysfs
    0x1cd1,      // devpts
    0x64626720,  // debugfs
    0x74726163,  // tracefs
    0x73636673,  // securityfs
    0x27e0eb,    // cgroup
    0x63677270,  // cgroup2
    0x6165676c,  // pstore
    0xcafe4a11,  // bpf
    0x62656570,  // configfs
    0x65735543,  // fusectl
    0x19800202,  // mqueue
    0x958458f6,  // hugetlbfs
    0x42494e4d,  // binfmt_misc
    0xf97cff8c,  // selinuxfs
    0xde5e81e4,  // efivarfs
    0x6e736673,  // nsfs
};

bool PseudoMagic(unsigned long magic) {
  return std::find(std::begin(kPseudoMagic), std::end(kPseudoMagic), magic) !=
         std::end(kPseudoMagic);
}

bool IsAscii(std::string_view s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// The device that holds /dev when /dev is a mount of its own (devtmpfs has
// the magic number of tmpfs, so it is told apart by where it is mounted).
dev_t DevMountDevice() {
  struct stat dev {
  }, root{};
  if (stat("/dev", &dev) != 0 || stat("/", &root) != 0) return 0;
  return dev.st_dev != root.st_dev ? dev.st_dev : 0;
}

struct DirKey {
  dev_t dev;
  ino_t ino;
  bool operator==(const DirKey& o) const { return dev == o.dev && ino == o.ino; }
};
struct DirKeyHash {
  size_t operator()(const DirKey& k) const {
    return std::hash<uint64_t>()(static_cast<uint64_t>(k.ino) * 0x9e3779b97f4a7c15ULL ^
                                 static_cast<uint64_t>(k.dev));
  }
};

struct Entry {
  std::string name;      // Windows-1252
  std::string hostName;  // as on disk
  uint64_t size = 0;
};

void SortByName(std::vector<Entry>& entries) {
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    const int c = CompareText(a.name, b.name);
    return c != 0 ? c < 0 : a.name < b.name;
  });
}

}  // namespace

bool IsPseudoFileSystem(const fs::path& hostFolder) {
  struct statfs sfs {};
  if (statfs(hostFolder.c_str(), &sfs) != 0) return false;
  if (PseudoMagic(static_cast<unsigned long>(sfs.f_type))) return true;
  struct stat st {};
  const dev_t devMount = DevMountDevice();
  return devMount != 0 && stat(hostFolder.c_str(), &st) == 0 && st.st_dev == devMount;
}

// One run's state: the folders already searched and the verdict per device.
struct TFileFinder::Walk {
  explicit Walk(TFileFinder& f) : finder(f) {}
  TFileFinder& finder;
  std::unordered_set<DirKey, DirKeyHash> visited;
  std::unordered_map<dev_t, bool> pseudo;
  dev_t devMount = DevMountDevice();
  std::chrono::steady_clock::time_point lastPump = std::chrono::steady_clock::now();

  struct Folder {
    std::string win;   // with a trailing '\'
    std::string host;  // without a trailing '/' (except "/")
  };

  bool PseudoDevice(int fd, dev_t dev) {
    const auto it = pseudo.find(dev);
    if (it != pseudo.end()) return it->second;
    struct statfs sfs {};
    const bool verdict =
        (devMount != 0 && dev == devMount) ||
        (fstatfs(fd, &sfs) == 0 && PseudoMagic(static_cast<unsigned long>(sfs.f_type)));
    pseudo.emplace(dev, verdict);
    return verdict;
  }

  static std::string HostChild(const std::string& host, const std::string& name) {
    return host == "/" ? "/" + name : host + "/" + name;
  }

  // Searches one folder; subfolders go to queue when it is given. Returns
  // whether a file was accepted.
  bool SearchFolder(const Folder& folder, std::deque<Folder>* queue) {
    const int fd = open(folder.host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !visited.insert({st.st_dev, st.st_ino}).second ||
        PseudoDevice(fd, st.st_dev)) {
      close(fd);
      return false;
    }
    if (finder.OnNewPath) finder.OnNewPath(folder.win, finder.stop_);
    if (finder.stop_) {
      close(fd);
      return false;
    }
    DIR* dir = fdopendir(fd);
    if (!dir) {
      close(fd);
      return false;
    }
    std::vector<Entry> folders, files;
    const std::string& mask = finder.Mask;
    while (const dirent* ent = readdir(dir)) {
      const char* raw = ent->d_name;
      if (raw[0] == '.' && (raw[1] == 0 || (raw[1] == '.' && raw[2] == 0))) continue;
      std::string hostName(raw);
      std::string name;
      if (IsAscii(hostName)) {
        name = hostName;
      } else {
        // A name with no exact Windows-1252 form cannot be opened by its
        // Windows name: leave it out, as path resolution does.
        name = Utf8ToCp1252(hostName);
        if (Cp1252ToUtf8(name) != hostName) continue;
      }
      bool isDir = ent->d_type == DT_DIR;
      bool isFile = ent->d_type == DT_REG;
      bool haveStat = false;
      struct stat est {};
      if (ent->d_type == DT_LNK || ent->d_type == DT_UNKNOWN) {
        // Links count as what they point to; a broken one is left out.
        if (!queue && ent->d_type == DT_LNK && !MatchesMask(name, mask)) continue;
        if (fstatat(fd, raw, &est, 0) != 0) continue;
        haveStat = true;
        isDir = S_ISDIR(est.st_mode);
        isFile = S_ISREG(est.st_mode);
      }
      if (isDir) {
        if (queue) folders.push_back({std::move(name), std::move(hostName), 0});
      } else if (isFile && MatchesMask(name, mask)) {
        if (!haveStat && fstatat(fd, raw, &est, 0) != 0) continue;
        files.push_back({std::move(name), std::move(hostName), static_cast<uint64_t>(est.st_size)});
      }
    }
    closedir(dir);

    if (queue) {
      SortByName(folders);
      for (const Entry& sub : folders)
        queue->push_back({folder.win + sub.name + "\\", HostChild(folder.host, sub.hostName)});
    }
    SortByName(files);
    bool any = false;
    for (const Entry& file : files) {
      if (finder.stop_) break;
      TFoundFile found{folder.win + file.name, HostChild(folder.host, file.hostName), file.size};
      bool accept = true;
      if (finder.OnAddFile) finder.OnAddFile(found, accept);
      if (!accept) continue;
      any = true;
      ++finder.filesFound_;
      finder.totalSize_ += static_cast<uint32_t>(found.size);
      finder.results_.push_back(std::move(found.fileName));
    }
    return any;
  }

  void Pump() {
    if (!finder.ProcessMessages) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPump < finder.PumpInterval) return;
    finder.ProcessMessages();
    lastPump = std::chrono::steady_clock::now();
  }

  void SearchRoot(const std::string& root) {
    Folder start;
    start.win = IncludeTrailingBackslash(Sys().ExpandFileName(root));
    if (!start.win.empty() && start.win.back() == ':') start.win += '\\';
    const auto host = Sys().ToHost(start.win);
    if (!host) return;
    start.host = host->lexically_normal().string();
    while (start.host.size() > 1 && start.host.back() == '/') start.host.pop_back();
    if (!finder.Recurse) {
      if (SearchFolder(start, nullptr) && finder.StopAtFirst) finder.stop_ = true;
      return;
    }
    std::deque<Folder> queue{std::move(start)};
    while (!queue.empty() && !finder.stop_) {
      const Folder folder = std::move(queue.front());
      queue.pop_front();
      if (SearchFolder(folder, &queue) && finder.StopAtFirst) finder.stop_ = true;
      Pump();
    }
  }
};

TFileFinder::TFileFinder() = default;
TFileFinder::~TFileFinder() = default;

bool TFileFinder::Execute() {
  if (running_) return false;
  running_ = true;
  stop_ = false;
  filesFound_ = 0;
  totalSize_ = 0;
  results_.clear();
  try {
    if (OnBeforeExecute) OnBeforeExecute();
    Walk walk(*this);
    // A copy: a handler may change Roots while the search runs.
    const std::vector<std::string> roots = Roots;
    for (const std::string& root : roots) {
      if (stop_) break;
      if (root.empty()) continue;
      walk.SearchRoot(root);
    }
  } catch (...) {
    // An exception from a handler ends the run without OnEndSearch.
    running_ = false;
    throw;
  }
  running_ = false;
  if (OnEndSearch) OnEndSearch();
  return true;
}

void TFileFinder::Abort() {
  if (running_) stop_ = true;
}

}  // namespace kx
