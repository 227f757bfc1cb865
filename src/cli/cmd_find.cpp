// kestrix-cli find: the SmartFind search from a script. Each file found is
// printed as soon as it is found (its ten cells, tab-separated), or all of
// them as one JSON array at the end.
#include <iostream>

#include "cli/cli.h"
#include "cli/output.h"
#include "delphi3/D3_Reg.h"
#include "delphi3/SearchPath.h"
#include "delphi3/SysPackg.h"
#include "platform/codepage.h"
#include "platform/strutil.h"
#include "platform/system.h"
#include "search/PackSearch.h"

namespace kx::cli {
namespace {

// What the window holds after start-up and the search uses.
struct StartupState {
  std::string SystemDirectory;
  std::string ExpandedPath;
  std::vector<std::string> StdRunTime, StdDesignTime, Shared;
};

StartupState ReadStartupState() {
  StartupState s;
  s.SystemDirectory = Startup().State.SystemDirectory;
  s.ExpandedPath = Startup().State.ExpandedPath;
  if (!Startup().Delphi3Installed) return s;
  AddRunTimePackages(s.StdRunTime);
  AddDesignTimePackages(s.StdDesignTime);
  ReadSharedPackages(s.Shared);
  return s;
}

// A mask whose folder part is a host path ("/tmp/pkgs/*.dpl") gets the
// Windows form of that folder; a Windows mask stays as written.
std::string MaskArg(const std::string& arg) {
  const std::string& mask = arg;
  const size_t slash = mask.rfind('/');
  if (slash == std::string::npos) return mask;
  const std::string folder = Sys().UserPathToWindows(mask.substr(0, slash + 1));
  if (folder.empty()) throw UsageError{"no drive holds the folder of " + arg};
  return IncludeTrailingBackslash(folder) + mask.substr(slash + 1);
}

int RunFind(const Args& args) {
  if (args.positional.size() != 1) throw UsageError{"expected exactly one MASK"};
  for (const std::string& f : args.flags)
    if (f != "--system" && f != "--path" && f != "--first" && f != "--json")
      throw UsageError{"unknown option " + f};
  const std::string* folderArg = args.Option("--folder");
  // Every --folder counts: a second one is as ambiguous as --system with it.
  const size_t places =
      args.options.size() + (args.Has("--system") ? 1 : 0) + (args.Has("--path") ? 1 : 0);
  if (places > 1) throw UsageError{"choose one of --folder, --system and --path"};
  const std::string mask = MaskArg(args.positional[0]);
  if (mask.empty()) throw UsageError{"empty MASK"};

  SearchMode mode = smDriveRoots;
  std::string folder;
  // A folder in the mask is where to look ("C:\\Pkgs\\*.dpl" is
  // "*.dpl --folder C:\\Pkgs"), so it cannot go with another place.
  const std::string maskFolder = ExtractFilePath(mask);
  if (!maskFolder.empty()) {
    if (places > 0)
      throw UsageError{"a MASK with a folder takes none of --folder, --system and --path"};
    if (ExtractFileName(mask).empty())
      throw UsageError{"no file name in MASK " + args.positional[0]};
    mode = smFolder;
    folder = Sys().ExpandFileName(maskFolder);
  } else if (folderArg) {
    mode = smFolder;
    folder = WindowsPathArg(*folderArg);
    if (folder.empty()) throw UsageError{"no drive holds " + *folderArg};
  } else if (args.Has("--system")) {
    mode = smSystemFolder;
  } else if (args.Has("--path")) {
    mode = smProcessPath;
  }
  const bool first = args.Has("--first");
  const bool json = args.Has("--json");

  const StartupState state = ReadStartupState();
  TFindRowContext context;
  context.StdRunTimePackages = &state.StdRunTime;
  context.StdDesignTimePackages = &state.StdDesignTime;
  context.SharedPackNames = &state.Shared;

  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  TFileFinder finder;
  ConfigurePackSearch(
      finder, PackSearchRoots(mode, mask, folder, first, state.SystemDirectory, state.ExpandedPath),
      mask, first);
  finder.OnAddFile = [&](const TFoundFile& file, bool&) {
    const TFindRow row = MakeFindRow(file.fileName, context, &file.hostPath);
    if (json) {
      nlohmann::ordered_json j;
      for (int c = 0; c < kFindColumnCount; ++c)
        j[kFindColumnTitles[size_t(c)]] = J(row[size_t(c)]);
      rows.push_back(std::move(j));
      return;
    }
    for (int c = 0; c < kFindColumnCount; ++c)
      std::cout << (c ? "\t" : "") << TextCell(row[size_t(c)]);
    std::cout << std::endl;  // each file as soon as it is found
  };
  finder.Execute();
  if (json) std::cout << rows.dump(2) << "\n";
  return 0;
}

}  // namespace

KX_CLI_COMMAND("find", "find MASK [--folder DIR | --system | --path] [--first] [--json]",
               {"--folder"}, RunFind);

}  // namespace kx::cli
