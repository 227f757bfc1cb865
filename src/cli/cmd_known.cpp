// kestrix-cli known: the known packages list of the Delphi3 page, its
// editing (add, remove, up, down) and the load-order check.
#include <iostream>

#include "cli/cli.h"
#include "cli/output.h"
#include "delphi3/D3_Reg.h"
#include "delphi3/KnownPacks.h"
#include "delphi3/SearchPath.h"
#include "platform/codepage.h"
#include "platform/system.h"

namespace kx::cli {
namespace {

// The page's messages on stderr. Removal is not asked about: the command
// itself is the confirmation.
class StderrPrompts : public Prompts {
 public:
  PromptResult WarningOkCancel(const std::string& text) override {
    Print(text);
    return PromptResult::Cancel;
  }
  PromptResult WarningYesNo(const std::string&) override { return PromptResult::Yes; }
  void Message(const std::string&) override {}  // findings are printed by the command
  void Error(const std::string& text) override {
    Print(text);
    failed = true;
  }
  std::optional<std::string> OpenFile(const FileDialogSpec&) override { return std::nullopt; }
  std::optional<std::string> SaveFile(const FileDialogSpec&) override { return std::nullopt; }
  std::optional<std::string> SelectFolder(const std::string&, const std::string&) override {
    return std::nullopt;
  }
  // Each text once: the "next time Delphi3 starts up" note is not repeated.
  void Print(const std::string& text) {
    for (const std::string& s : printed_)
      if (s == text) return;
    printed_.push_back(text);
    std::cerr << Out(text) << "\n";
  }
  bool failed = false;

 private:
  std::vector<std::string> printed_;
};

int RunKnown(const Args& args) {
  for (const std::string& f : args.flags)
    if (f != "--json") throw UsageError{"unknown option " + f};
  const std::string action = args.positional.empty() ? "" : args.positional[0];
  const bool takesPath =
      action == "add" || action == "remove" || action == "up" || action == "down";
  if (!action.empty() && !takesPath && action != "check")
    throw UsageError{"unknown action " + action};
  if (takesPath != (args.positional.size() == 2) || args.positional.size() > 2)
    throw UsageError{takesPath ? action + " needs one PATH" : "too many arguments"};

  const bool installed = IsDelphi3Installed();
  if (!installed && !action.empty()) {
    std::cerr << "kestrix-cli: Delphi 3 is not installed (no HKEY_CURRENT_USER\\SOFTWARE\\"
                 "Borland\\Delphi\\3.0)\n";
    return 1;
  }
  KnownPackStore store;
  // The loader finds required packages along PATH extended at start-up.
  if (installed) store.ReadFromRegistry();
  StderrPrompts prompts;
  NullMeter meter;
  TKnownPackList list(store.Lists(), prompts, [&](const std::string& t) { prompts.Print(t); },
                      meter, {});
  list.OriginalPath = Startup().State.OriginalPath;
  list.InitSystemInfo();

  if (action.empty()) {
    if (args.Has("--json")) {
      nlohmann::json rows = nlohmann::json::array();
      for (int i = 0; i < static_cast<int>(list.Rows.size()); ++i) {
        nlohmann::json r;
        for (int c = 0; c < kKnownPackColumnCount; ++c)
          r[kKnownPackColumns[c].title] = Utf16ToUtf8(list.CellText(i, c));
        rows.push_back(r);
      }
      PrintJson(rows);
      return 0;
    }
    for (int i = 0; i < static_cast<int>(list.Rows.size()); ++i) {
      for (int c = 0; c < kKnownPackColumnCount; ++c)
        std::cout << (c ? "\t" : "") << Utf8Cell(Utf16ToUtf8(list.CellText(i, c)));
      std::cout << "\n";
    }
    return 0;
  }

  if (action == "check") {
    const std::vector<LoadOrderFinding> findings = list.TestKnownPackBtnClick();
    if (args.Has("--json")) {
      nlohmann::json j = nlohmann::json::array();
      for (const auto& f : findings) j.push_back({{"package", J(f.package)}, {"text", J(f.text)}});
      PrintJson(j);
    } else {
      for (const auto& f : findings) std::cout << TextCell(f.text) << "\n";
    }
    return findings.empty() && !prompts.failed ? 0 : 1;
  }

  const std::string path = WindowsPathArg(args.positional[1]);
  if (action == "add") return list.AddKnownPackage(path) ? 0 : 1;

  // A Windows path names the package exactly as stored, every character
  // kept; a host path goes through the drive map.
  const std::string& arg = args.positional[1];
  const bool windowsPath = arg.size() >= 3 && arg[1] == ':' && arg[2] == '\\';
  list.Selected = windowsPath ? list.FindRow(Utf8ToUtf16(arg)) : list.FindRow(path);
  if (list.Selected < 0) {
    std::cerr << "kestrix-cli: " << (windowsPath ? arg : Out(path))
              << " is not in the known packages list\n";
    return 1;
  }
  const KnownPackButtons buttons = list.Buttons();
  if (action == "remove") return list.RemoveKnownPackage(list.Selected) ? 0 : 1;
  const bool up = action == "up";
  if (!(up ? buttons.up : buttons.down)) {
    std::cerr << "kestrix-cli: " << Out(path) << " cannot move " << action
              << " (first or last in the load order, or a lost package)\n";
    return 1;
  }
  try {
    list.MoveKnownPackage(up);
  } catch (const Exception& e) {
    if (*e.what() != '\0') throw;
    // The page reports an empty error here; say what happened.
    std::cerr << "kestrix-cli: the two packages are not both listed under Known Packages\n";
    return 1;
  }
  return 0;
}

}  // namespace

KX_CLI_COMMAND("known",
               "known [--json] | known add FILE | known remove PATH | known up PATH | known down "
               "PATH | known check [--json]",
               {}, RunKnown);

}  // namespace kx::cli
