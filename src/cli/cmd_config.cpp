// kestrix-cli config: the Delphi 3 IDE settings as the Delphi3 page shows
// them after start-up. It only reads: nothing is written back, not even the
// normalised flags the page's fill would store. `config set NAME VALUE`
// changes one option as the page's control does.
#include <iostream>

#include "cli/cli.h"
#include "cli/output.h"
#include "delphi3/D3_Reg.h"
#include "delphi3/KnownPacks.h"
#include "platform/codepage.h"

namespace kx::cli {
namespace {

struct Option {
  const char* label;
  const char* jsonName;
  bool compiling;  // "Compiling", else "Debugging"
  const char* valueName;
};

const Option kFlags[] = {
    {"Show Details", "showDetails", true, kShowPackageDetailsValue},
    {"Warn On Rebuild", "warnOnRebuild", true, kWarnOnPackageRebuildValue},
    {"Detailed Exception", "detailedException", false, kDetailedExceptionsValue},
    {"Fly Over Watches", "flyOverWatches", false, kFlyOverWatchesValue},
    {"CPU Registers", "cpuRegisters", false, kEnableCPUValue},
};
const size_t kFillOrder[] = {1, 0, 2, 3, 4};  // indices into kFlags

int RunConfigSet(const Args& args) {
  if (args.positional.size() != 3 || !args.flags.empty())
    throw UsageError{"config set takes NAME and VALUE"};
  const IdeOption* option = FindIdeOption(args.positional[1]);
  if (option == nullptr) {
    std::string names;
    for (const IdeOption& o : kIdeOptions)
      names += std::string(names.empty() ? "" : ", ") + o.label;
    throw UsageError{"unknown option name '" + args.positional[1] + "' (one of: " + names + ")"};
  }
  // The text is stored exactly as given, every character kept.
  if (!WriteIdeOption(*option, Utf8ToUtf16(args.positional[2]))) {
    std::cerr << "kestrix-cli: " << option->label << " not stored: the key HKEY_CURRENT_USER\\"
              << "SOFTWARE\\Borland\\Delphi\\3.0\\" << option->subkey << " does not exist\n";
    return 1;
  }
  return 0;
}

int RunConfig(const Args& args) {
  if (!args.positional.empty() && args.positional[0] == "set") return RunConfigSet(args);
  if (!args.positional.empty()) throw UsageError{"config takes no FILE"};
  for (const std::string& f : args.flags)
    if (f != "--json") throw UsageError{"unknown option " + f};

  const bool installed = IsDelphi3Installed();
  // Texts and package names as stored, every character kept (UTF-8 here).
  std::string defaultPackage, dllOut, dcpOut, libraryPath;
  int flags[std::size(kFlags)] = {};
  std::vector<std::string> known, knownDesc, disabled, disabledDesc, shared;
  std::vector<std::u16string> knownStored, disabledStored;
  if (installed) {
    // Start-up reads the library path while extending PATH, in a block of
    // its own whose failure is only logged: the page then shows an empty
    // path and fills everything else.
    try {
      libraryPath = Utf16ToUtf8(ReadSettingText(kLibraryKey, kSearchPathValue));
    } catch (const Exception&) {
      libraryPath.clear();
    }
    defaultPackage = Utf16ToUtf8(ReadSettingText(kAddToPackageKey, kAddToPackageNameValue));
    dllOut = Utf16ToUtf8(ReadSettingText(kLibraryKey, kPackageDLLOutputDirValue));
    dcpOut = Utf16ToUtf8(ReadSettingText(kLibraryKey, kPackageDCPOutputDirValue));
    // The page's fill reads "Warn On Rebuild" before "Show Details"; the
    // same order makes the same bad value the one reported.
    for (const size_t i : kFillOrder) {
      const int v = kFlags[i].compiling ? ReadCompilingOption(kFlags[i].valueName)
                                        : ReadDebuggingOption(kFlags[i].valueName);
      flags[i] = v != 0 ? 1 : 0;
    }
    ReadKnownPackages(known, knownDesc, &knownStored);
    ReadDisabledPackages(disabled, disabledDesc, &disabledStored);
    for (size_t i = 0; i < known.size() && i < knownStored.size(); ++i)
      known[i] = Utf16ToUtf8(knownStored[i]);
    for (size_t i = 0; i < disabled.size() && i < disabledStored.size(); ++i)
      disabled[i] = Utf16ToUtf8(disabledStored[i]);
    ReadSharedPackages(shared);
  }

  if (args.Has("--json")) {
    nlohmann::json j;
    j["delphi3"] = installed;
    j["defaultPackage"] = defaultPackage;
    for (size_t i = 0; i < std::size(kFlags); ++i) j[kFlags[i].jsonName] = flags[i];
    j["packDLLOut"] = dllOut;
    j["packDCPOut"] = dcpOut;
    j["libraryPath"] = libraryPath;
    auto packages = [](const std::vector<std::string>& names,
                       const std::vector<std::string>& descs) {
      nlohmann::json list = nlohmann::json::array();
      for (size_t i = 0; i < names.size(); ++i)
        list.push_back(
            {{"path", names[i]}, {"description", J(i < descs.size() ? descs[i] : std::string())}});
      return list;
    };
    j["known"] = packages(known, knownDesc);
    j["disabled"] = packages(disabled, disabledDesc);
    j["shared"] = nlohmann::json::array();
    for (const std::string& s : shared) j["shared"].push_back(J(s));
    PrintJson(j);
    return 0;
  }

  // Cells of the text output: control characters written as \xHH.
  auto desc = [](const std::vector<std::string>& list, size_t i) {
    return TextCell(i < list.size() ? list[i] : "");
  };
  std::cout << "Delphi 3\t" << (installed ? "yes" : "no") << "\n";
  std::cout << "Default Package\t" << Utf8Cell(defaultPackage) << "\n";
  for (size_t i = 0; i < std::size(kFlags); ++i)
    std::cout << kFlags[i].label << "\t" << flags[i] << "\n";
  std::cout << "Pack. DLL Out\t" << Utf8Cell(dllOut) << "\n";
  std::cout << "Pack. DCP Out\t" << Utf8Cell(dcpOut) << "\n";
  std::cout << "Delphi Library Path\t" << Utf8Cell(libraryPath) << "\n";
  for (size_t i = 0; i < known.size(); ++i)
    std::cout << "Known\t" << Utf8Cell(known[i]) << "\t" << desc(knownDesc, i) << "\n";
  for (size_t i = 0; i < disabled.size(); ++i)
    std::cout << "Disabled\t" << Utf8Cell(disabled[i]) << "\t" << desc(disabledDesc, i) << "\n";
  for (const std::string& s : shared) std::cout << "Shared\t" << TextCell(s) << "\n";
  return 0;
}

}  // namespace

KX_CLI_COMMAND("config", "config [--json] | config set NAME VALUE", {}, RunConfig);

}  // namespace kx::cli
