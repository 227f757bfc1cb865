#include "search/FileFinder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <utility>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/strutil.h"
#include "platform/system.h"
#include "search/FolderWalk.h"

namespace kx {
namespace fs = std::filesystem;

bool IsPseudoFileSystem(const fs::path& hostFolder) {
  struct statfs sfs {};
  if (statfs(hostFolder.c_str(), &sfs) != 0) return false;
  if (walk::IsPseudoFileSystemType(static_cast<unsigned long>(sfs.f_type))) return true;
  struct stat st {};
  const dev_t devMount = walk::DevMountDevice();
  return devMount != 0 && stat(hostFolder.c_str(), &st) == 0 && st.st_dev == devMount;
}

// One run's state: the folders already searched.
struct TFileFinder::Walk {
  explicit Walk(TFileFinder& f) : finder(f), folders(f.MountTable, f.HostRoot) {}
  TFileFinder& finder;
  walk::FolderWalk folders;
  walk::DirSet visited;
  std::chrono::steady_clock::time_point lastPump = std::chrono::steady_clock::now();

  // Searches one folder; subfolders go to queue when it is given. Returns
  // whether a file was accepted.
  bool SearchFolder(walk::Folder& folder, std::deque<walk::Folder>* queue) {
    const int fd = folders.Open(folder, visited);
    if (fd < 0) return false;
    if (finder.OnNewPath) finder.OnNewPath(folder.win, finder.stop_);
    if (finder.stop_) {
      close(fd);
      return false;
    }
    std::vector<walk::Folder> subfolders;
    std::vector<walk::Entry> files;
    const std::string& mask = finder.Mask;
    folders.List(
        fd, folder, queue ? &subfolders : nullptr,
        [&mask](std::string_view name) { return MatchesMask(name, mask); }, true, files);
    for (walk::Folder& sub : subfolders) queue->push_back(std::move(sub));
    bool any = false;
    for (const walk::Entry& file : files) {
      if (finder.stop_) break;
      TFoundFile found{folder.win + file.name,
                       folder.host == "/" ? "/" + file.hostName : folder.host + "/" + file.hostName,
                       file.size};
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
    std::optional<walk::Folder> start = folders.Root(root);
    if (!start) return;
    if (!finder.Recurse) {
      if (SearchFolder(*start, nullptr) && finder.StopAtFirst) finder.stop_ = true;
      return;
    }
    std::deque<walk::Folder> queue{std::move(*start)};
    while (!queue.empty() && !finder.stop_) {
      walk::Folder folder = std::move(queue.front());
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
