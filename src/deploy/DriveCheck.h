#pragma once
// The logical drives and the folder list a drive-wide file search starts
// from.
#include <string>
#include <vector>

namespace kx {

// Appends the root strings of all logical drives ("C:\", "Z:\", ...): the
// drive map's letters in alphabetical order.
void GetLogicalDriveList(std::vector<std::string>& list);

// Whether a drive root ("D:\") is ready: its host folder exists and can be
// listed.
bool DriveReady(const std::string& root);

// Whether the drive ("Z:\") maps the host's root folder.
bool DriveMapsHostRoot(const std::string& root);

// Appends the root of every ready drive that Roots does not yet hold
// (compared ignoring ASCII case). A: and B: (floppy drives) and a drive
// that maps the host's root folder are never probed or added.
void AddReadyDrives(std::vector<std::string>& roots);

// Appends the search roots for a file mask: the mask's folder (the current
// directory when it has none) with a trailing '\', only when stopAtFirst is
// set; then that folder's drive root ("C:\" or "\\server\share\"; nothing
// when the folder has no drive part; no duplicate test), except for a drive
// that maps the host's root folder, which is never searched as a whole: the
// folder itself stands for it (once); then the ready drives
// (AddReadyDrives).
void BuildSearchRoots(const std::string& mask, std::vector<std::string>& roots, bool stopAtFirst);

}  // namespace kx
