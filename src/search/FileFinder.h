#pragma once
// The recursive file finder: searches a list of Windows folders for files
// whose names match a Windows wildcard mask, on the calling thread.
//
//  - Roots are searched in list order. Each gets a trailing '\' when it has
//    none; empty entries are skipped; relative ones are taken against the
//    current directory.
//  - With Recurse, a root is searched breadth first: a queue starts with the
//    root; for the folder at its head, its subfolders are appended to the
//    queue, then its matching files are reported, then it leaves the queue.
//    Subfolders and files of one folder come in name order (ignoring case).
//  - Only files are reported (any attributes: read-only, hidden, system,
//    archive); folders and device nodes never are.
//  - The mask is matched as Windows does (MatchesMask: '*', '?', case
//    ignored, "*.*" also matches names without a dot). A mask must not hold
//    a folder part; the caller puts the folder into Roots.
//  - Because a drive may map the whole host disk (Z: -> /), every host folder
//    is searched at most once per run (device + inode, so symbolic link
//    loops end), kernel pseudo file systems (/proc, /sys, /dev, ...) are
//    never entered, nor, below a root, network and user-space mounts (told
//    from MountTable, never by touching them), and folders that cannot be
//    listed are skipped silently.
//  - A folder that is a drive's root is named by that drive, whichever root
//    led to it (Z:\home\u\.wine\drive_c\x.dpl is reported as C:\x.dpl).
//  - Names Windows cannot have (\ : * ? " < > |, control characters) are
//    left out, as are host names that are not UTF-8.
//
// Events, in this order: OnBeforeExecute once; OnNewPath for every folder
// about to be searched (it may set stop); OnAddFile for every matching file
// (it may reject it: accept = false); OnEndSearch once at the end, also
// after a stop or an abort. Stopping: when StopAtFirst is set and a folder
// produced at least one accepted file, the search stops after that folder;
// once stopped no further folder is searched and no further file is
// reported. Abort() (typically called from a handler or from the message
// pump) stops the same way.
//
// ProcessMessages, when set, lets pending window messages run after a
// folder of a recursive search, at most once every PumpInterval, so that
// the pump never costs more than the walk itself.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace kx {

// One file the finder reports.
struct TFoundFile {
  std::string fileName;  // full Windows file name: the folder as searched + the name on disk
  std::filesystem::path hostPath;
  uint64_t size = 0;  // file size in bytes
};

class TFileFinder {
 public:
  using NewPathFn = std::function<void(const std::string& folder, bool& stop)>;
  using AddFileFn = std::function<void(const TFoundFile& file, bool& accept)>;
  using NotifyFn = std::function<void()>;

  TFileFinder();
  ~TFileFinder();
  TFileFinder(const TFileFinder&) = delete;
  TFileFinder& operator=(const TFileFinder&) = delete;

  // Inputs, read by Execute.
  std::vector<std::string> Roots;  // Windows folders
  std::string Mask = "*.*";
  bool Recurse = true;
  bool StopAtFirst = false;

  // Events (any may be empty).
  NotifyFn OnBeforeExecute;
  NewPathFn OnNewPath;
  AddFileFn OnAddFile;
  NotifyFn OnEndSearch;
  ProcessMessagesFn ProcessMessages;
  std::chrono::milliseconds PumpInterval{20};
  // The mount table (format of /proc/self/mountinfo) that tells the network
  // and user-space mounts.
  std::filesystem::path MountTable{"/proc/self/mountinfo"};

  // Runs the search to its end. Returns false without doing anything when a
  // search of this finder is already running (a handler called Execute).
  bool Execute();
  // Stops a running search after the current file; no effect otherwise.
  void Abort();

  bool Running() const { return running_; }
  // True after a run that ended by StopAtFirst, by a handler's stop or by Abort.
  bool Stopped() const { return stop_; }
  // Counters of the last run (reset when a run starts): accepted files, and
  // the sum of the low 32 bits of their sizes.
  uint32_t FilesFound() const { return filesFound_; }
  uint64_t TotalSize() const { return totalSize_; }
  // Full Windows file names of the accepted files in the order found.
  const std::vector<std::string>& Results() const { return results_; }

 private:
  struct Walk;
  bool running_ = false;
  bool stop_ = false;
  uint32_t filesFound_ = 0;
  uint64_t totalSize_ = 0;
  std::vector<std::string> results_;
};

// Whether the host folder lies on a kernel pseudo file system (proc, sysfs,
// devtmpfs as mounted on /dev, debugfs, cgroup, ...), judged by the file
// system's magic number. false when the folder cannot be examined.
bool IsPseudoFileSystem(const std::filesystem::path& hostFolder);

}  // namespace kx
