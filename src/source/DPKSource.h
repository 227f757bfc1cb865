#pragma once
// The two package source (.dpk) writers: one from the loaded package module
// and the General Info page's choices, one from a compiled package file.
// Every line of the text ends in CR LF; the text is UTF-8, and the file
// written from it is in the system code page.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dcp/DCPMan.h"
#include "package/GeneralInfo.h"
#include "platform/ui.h"

namespace kx {

class TPackageModuleInfo;

struct TGeneralInfoChoices {
  int Usage = ucNA;
  int Build = bcNA;
};

// The choices the General Info page makes from a loaded module's flag word:
// usage 1 for design-only, 2 for run-only (2 wins when both are set), 3 when
// neither; build 2 for never-build, else 1.
TGeneralInfoChoices GeneralInfoChoicesFromFlags(uint32_t flags);

// Compiler switches $A..$Z as PACKAGEOPTIONS records them: 0 or 1, $Z the
// minimum enum size.
using TSwitches = std::array<uint8_t, 26>;

// What the writer reads from the loaded module and the description box.
struct TDPKModuleData {
  std::string FileName;  // header source name; the package name comes from it
  uint32_t ImageBase = 0;   // the preferred base of the file, not where it was mapped
  std::string Description;  // the description box's text
  std::vector<std::string> Requires;
  std::vector<std::string> SourceUnits;
  // When set, the directive block takes each value from these switches
  // instead of writing the fixed block.
  std::optional<TSwitches> OwnSwitches;
};

TDPKModuleData DPKModuleDataFrom(const TPackageModuleInfo& module);

inline constexpr std::string_view kNoDescription = "{no description}";

// The package source of a module; the header (made now) replaces what text held.
void BuildDPKFromDPL(const TDPKModuleData& module, const TGeneralInfoChoices& choices,
                     std::string& text);
void BuildDPKFromDPL(const TPackageModuleInfo& module, const TGeneralInfoChoices& choices,
                     std::string& text);
// The same with a given header block (tests, fixed clocks).
std::string DPKTextFromModule(const TDPKModuleData& module, const TGeneralInfoChoices& choices,
                              std::string_view header);

// What the compiled-package writer reads from the .dcp file.
struct TDPKCompiledData {
  std::string DCPFileName;  // header source name
  uint32_t ImageBase = 0;
  uint8_t NeverBuild = 0;
  std::vector<std::string> Requires;
  std::vector<std::string> Contains;  // the package's own unit left out
  std::vector<std::string> Resources;
};

// Reads the compiled package file (EFOpenError / EDCPDamaged).
TDPKCompiledData DPKCompiledDataFrom(std::string_view dcpFileName);
// The package name is the file base name of dpkFileName.
void BuildDPKFromDCP(std::string_view dcpFileName, std::string_view dpkFileName, std::string& text);
std::string DPKTextFromCompiled(const TDPKCompiledData& data, std::string_view packageName,
                                std::string_view header);

// The DCP page's unit report: the header named after the unit and the
// loaded module's compiled package (".DCP" alone without a module), then
// the unit's offsets and sizes.
std::string MakeDCUReport(const TMyDCUInfo& info, std::string_view moduleFileName);

// Save dialog of both writers, preset to fileName; open dialog of the viewer.
FileDialogSpec DPKSaveDialog(std::string_view fileName);
FileDialogSpec DPKOpenDialog();
// The .dpk the "View" button looks for: the module's file base name + ".dpk",
// no folder (looked for in the current directory); empty when the module is
// not a ".dpl".
std::string ExpectedDPKFileName(std::string_view moduleFileName);

// The text's lines for the source view (CR LF, lone CR or lone LF end a line;
// a last line without an end is kept).
std::vector<std::string> SplitSourceLines(std::string_view text);
// Reads a file's lines for the view; EFOpenError "Cannot open file %s".
std::vector<std::string> LoadSourceLines(std::string_view windowsFileName);

}  // namespace kx
