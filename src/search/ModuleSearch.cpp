#include "search/ModuleSearch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <unordered_map>

#include "deploy/DriveCheck.h"
#include "platform/files.h"
#include "platform/strutil.h"
#include "search/FolderWalk.h"

namespace kx {

namespace {

// A module file name as the folder search compares it (case ignored).
std::string NameKey(std::string_view name) { return FileNameFold(name); }

}  // namespace

bool FindModuleFile(TFileFinder& finder, const std::string& name, std::string& foundPath) {
  const std::string fileName = ExtractFileName(name);
  // An import table is untrusted: a name such as "*.dll" would otherwise
  // "find" whatever library comes first.
  if (fileName.empty() || fileName.find_first_of("*?") != std::string::npos) return false;
  std::vector<std::string> roots;
  BuildSearchRoots(name, roots, true);
  finder.Roots = std::move(roots);
  finder.Mask = fileName;
  finder.Recurse = true;
  finder.StopAtFirst = true;
  if (!finder.Execute() || finder.Results().empty()) return false;
  foundPath = finder.Results().front();
  return true;
}

// One root's walk, listed as far as some search needed it.
struct TModuleSearch::RootWalk {
  size_t started = 0;
  bool complete = false;
  std::deque<walk::Folder> queue;
  walk::DirSet visited;  // every folder this walk entered
  struct Listed {
    std::string win;
    std::vector<walk::Entry> files;  // sorted by name
  };
  std::vector<Listed> folders;
  std::vector<walk::DirKey> keys;  // of folders, in the same order
  // Upper-cased file name -> (folder, file) in walk order.
  std::unordered_map<std::string, std::vector<std::pair<uint32_t, uint32_t>>> byName;
};

struct TModuleSearch::State {
  explicit State(const std::filesystem::path& mountTable) : folders(mountTable) {}
  walk::FolderWalk folders;
  std::unordered_map<std::string, std::unique_ptr<RootWalk>> walks;  // by upper-cased root
  std::chrono::steady_clock::time_point lastPump = std::chrono::steady_clock::now();
};

TModuleSearch::TModuleSearch(TFileFinder& finder)
    : finder_(finder), state_(std::make_unique<State>(finder.MountTable)) {}

TModuleSearch::~TModuleSearch() = default;

size_t TModuleSearch::Walks(const std::string& root) const {
  const auto it = state_->walks.find(AsciiUpper(IncludeTrailingBackslash(root)));
  return it == state_->walks.end() ? 0 : it->second->started;
}

TModuleSearch::RootWalk& TModuleSearch::Walk(const std::string& root) {
  std::unique_ptr<RootWalk>& walk = state_->walks[AsciiUpper(IncludeTrailingBackslash(root))];
  if (!walk) {
    walk = std::make_unique<RootWalk>();
    walk->started = 1;
    if (auto start = state_->folders.Root(root)) {
      walk->queue.push_back(std::move(*start));
    } else {
      walk->complete = true;
    }
  }
  return *walk;
}

void TModuleSearch::Pump() {
  if (!finder_.ProcessMessages) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - state_->lastPump < finder_.PumpInterval) return;
  finder_.ProcessMessages();
  state_->lastPump = std::chrono::steady_clock::now();
}

// Lists folders of the walk until one more is listed or the walk ends.
void TModuleSearch::ListNext(RootWalk& walk) {
  while (!walk.queue.empty()) {
    walk::Folder folder = std::move(walk.queue.front());
    walk.queue.pop_front();
    const int fd = state_->folders.Open(folder, walk.visited);
    if (fd < 0) continue;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
      close(fd);
      continue;
    }
    std::vector<walk::Folder> subfolders;
    RootWalk::Listed listed{folder.win, {}};
    state_->folders.List(fd, folder, &subfolders, {}, false, listed.files);
    for (walk::Folder& sub : subfolders) walk.queue.push_back(std::move(sub));
    const auto index = static_cast<uint32_t>(walk.folders.size());
    for (size_t f = 0; f < listed.files.size(); ++f)
      walk.byName[NameKey(listed.files[f].name)].emplace_back(index, static_cast<uint32_t>(f));
    walk.folders.push_back(std::move(listed));
    walk.keys.push_back({st.st_dev, st.st_ino});
    ++foldersListed_;
    Pump();
    return;
  }
  walk.complete = true;
}

bool TModuleSearch::Find(const std::string& name, std::string& foundPath) {
  const std::string fileName = ExtractFileName(name);
  if (fileName.empty() || fileName.find_first_of("*?") != std::string::npos) return false;
  std::vector<std::string> roots;
  BuildSearchRoots(name, roots, true);
  // A name ending in '.' also matches the name without it: compared with
  // the mask rules; any other name is looked up directly.
  const bool plain = fileName.back() != '.';
  const std::string key = NameKey(fileName);

  // A root searched after others skips the folders their walks entered,
  // as one search over all the roots does; each earlier root was walked to
  // its end before a later one is needed.
  std::vector<const RootWalk*> earlier;
  const auto excluded = [&earlier](const walk::DirKey& k) {
    for (const RootWalk* w : earlier)
      if (w->visited.count(k)) return true;
    return false;
  };
  const auto result = [&foundPath](const RootWalk& w, size_t folder, size_t file) {
    foundPath = w.folders[folder].win + w.folders[folder].files[file].name;
    return true;
  };
  for (const std::string& root : roots) {
    if (root.empty()) continue;
    RootWalk& walk = Walk(root);
    if (std::find(earlier.begin(), earlier.end(), &walk) != earlier.end()) continue;
    // What the walk listed before.
    if (plain) {
      const auto it = walk.byName.find(key);
      if (it != walk.byName.end()) {
        for (const auto& [folder, file] : it->second)
          if (!excluded(walk.keys[folder])) return result(walk, folder, file);
      }
    } else {
      for (size_t f = 0; f < walk.folders.size(); ++f) {
        if (excluded(walk.keys[f])) continue;
        for (size_t i = 0; i < walk.folders[f].files.size(); ++i)
          if (MatchesMask(walk.folders[f].files[i].name, fileName)) return result(walk, f, i);
      }
    }
    // Then the walk goes on, folder by folder, until a match or its end.
    while (!walk.complete) {
      const size_t f = walk.folders.size();
      ListNext(walk);
      if (walk.folders.size() == f || excluded(walk.keys[f])) continue;
      const auto& files = walk.folders[f].files;
      for (size_t i = 0; i < files.size(); ++i) {
        if (plain ? NameKey(files[i].name) == key : MatchesMask(files[i].name, fileName))
          return result(walk, f, i);
      }
    }
    earlier.push_back(&walk);
  }
  return false;
}

}  // namespace kx
