#pragma once
// The file search fallback of the start-up module walk: looks for a module
// that the loader could not load on the current folder and the drives.
#include <map>
#include <memory>
#include <string>

#include "search/FileFinder.h"

namespace kx {

// Configures finder (roots from BuildSearchRoots(name, roots, true), recurse,
// stop at the first folder with a match, mask = the name) and runs it. The
// finder's event handlers are left as the caller set them. On success
// foundPath is the first file found (a full Windows file name). A name
// holding a wildcard ('*', '?') names no file and is never searched for.
bool FindModuleFile(TFileFinder& finder, const std::string& name, std::string& foundPath);

// The same search for every module of one analysis, walking each root at
// most once: what a walk saw (the folder listings) is kept for the rest of
// the run, and a walk stopped at a match goes on from there when a later
// name needs more of it. The answers and their order are those of
// FindModuleFile. The finder lends its message pump, its pump interval and
// its mount table; its events are not raised. The files on disk are taken
// to stay as they were for the length of the run.
class TModuleSearch {
 public:
  explicit TModuleSearch(TFileFinder& finder);
  ~TModuleSearch();
  TModuleSearch(const TModuleSearch&) = delete;
  TModuleSearch& operator=(const TModuleSearch&) = delete;

  bool Find(const std::string& name, std::string& foundPath);

  // How many walks were started from the root (as BuildSearchRoots spells
  // it, letter case ignored), and how many folders all walks listed.
  size_t Walks(const std::string& root) const;
  size_t FoldersListed() const { return foldersListed_; }

 private:
  struct RootWalk;
  RootWalk& Walk(const std::string& root);
  void ListNext(RootWalk& walk);
  void Pump();

  TFileFinder& finder_;
  struct State;
  std::unique_ptr<State> state_;
  size_t foldersListed_ = 0;
};

}  // namespace kx
