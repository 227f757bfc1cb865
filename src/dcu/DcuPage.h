#pragma once
// What the DCP page shows of compiled units: the interface pane's text for a
// selected node, a standalone .dcu as a tree of one unit, and the saving of
// an interface as a Pascal source.
#include <array>
#include <string>
#include <string_view>

#include "dcp/DCPPage.h"
#include "platform/ui.h"

namespace kx {

// True for a file name ending in ".dcu" (letter case ignored).
bool IsDcuFileName(std::string_view fileName);

// A standalone compiled unit as the page's tree: "Units" with the one unit
// (named as the unit declares itself, else after the file; its entry has the
// file size as DCUSize), and the two other roots empty. EFOpenError.
TDCPPageContent AnalyzeDcuFile(std::string_view fileName);
// The Data rows of a standalone unit: its size in "DCU Size", the five
// others empty.
std::array<std::string, 6> DcuFileInfoData(const TMyDCUInfo& entry);

// The pane's text for a selected node of the page showing fileName: a unit's
// interface, the decoder's message when the unit cannot be decoded,
// kNoCompiledUnitText for the package source, empty for other nodes.
// isInterface tells whether the text is an interface (what can be saved).
std::string InterfacePaneText(std::string_view fileName, bool standaloneUnit,
                              const TDCPTreeNode* node, bool* isInterface = nullptr);

// The open dialog of the page's file box: compiled packages and compiled units.
FileDialogSpec DCPPageOpenDialog();
FileDialogSpec InterfaceSaveDialog(std::string_view unitName);
// The pane's text as the file "Save Interface..." writes: CR LF line ends,
// the text in the system code page.
std::string InterfaceFileText(std::string_view paneText);

}  // namespace kx
