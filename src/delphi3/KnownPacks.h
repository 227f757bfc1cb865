#pragma once
// The known packages list of the Delphi3 page and its editing: the rows and
// their statuses, the counters, the button rules, Add, Remove, Up, Down,
// Find and the load-order check. Qt-free: the page shows Rows and Selected
// and calls these operations; the command line does the same without a
// window.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/ui.h"

namespace kx {

// The status of a package (the object slot of KnownPackNames).
enum PackageStatus : int { psOn = 0, psOff = 1, psLost = 2 };
// "On", "Off", "Lost".
const char* PackageStatusName(int status);

// The list view's columns, left to right.
struct KnownPackColumn {
  const char* title;
  int width;  // pixels; 0: the view's default
  bool rightAligned;
};
inline constexpr int kKnownPackColumnCount = 12;
extern const KnownPackColumn kKnownPackColumns[kKnownPackColumnCount];
enum KnownPackCell : int {
  kcName = 0,
  kcStatus = 1,
  kcDescription = 2,
  kcType = 3,
  kcLocation = 6
};

// Messages of the page, exact.
inline constexpr char kPackageExistsMsg[] = "Package already exists.";
inline constexpr char kNextStartMsg[] = "Changes will take effect next time Delphi3 starts up!";
// The IDE is an ANSI program: a package whose name the system code page
// cannot hold is kept and shown by its real name, but the IDE cannot load
// it. Nullopt when the name can be written.
std::optional<std::string> UnloadableNameMsg(const std::string& path);
inline constexpr char kNoPackageAddedMsg[] = "ERROR: No package added.";
inline constexpr char kTestErrorMsg[] = "An errer has occured during this operation!";
inline constexpr char kNoLoadOrderProblemsMsg[] = "No load-order problems found.";

// The main window's package lists and counters, which the operations keep
// in step with the rows and the registry (references to where they live).
struct KnownPackLists {
  std::vector<std::string>& KnownPackNames;
  // The names exactly as the registry holds them, parallel to KnownPackNames
  // and DisabledPackNames (whose code-page form may make two alike). The
  // operations act on these; an entry without one stands for its code-page
  // name.
  std::vector<std::u16string>& KnownPackStoredNames;
  std::vector<std::u16string>& DisabledPackStoredNames;
  std::vector<int>& KnownPackStatus;  // parallel to KnownPackNames
  std::vector<std::string>& KnownPackDescriptions;
  std::vector<std::string>& DisabledPackNames;
  std::vector<std::string>& DisabledPackDescriptions;
  const std::vector<std::string>& SharedPackNames;
  const std::vector<std::string>& StdRunTimePackages;
  const std::vector<std::string>& StdDesignTimePackages;
  int& OnPackCount;
  int& OffPackCount;
  int& LostPackCount;
};

// The same lists held by value (the command line and tests).
struct KnownPackStore {
  std::vector<std::string> KnownPackNames;
  std::vector<std::u16string> KnownPackStoredNames;
  std::vector<std::u16string> DisabledPackStoredNames;
  std::vector<int> KnownPackStatus;
  std::vector<std::string> KnownPackDescriptions;
  std::vector<std::string> DisabledPackNames;
  std::vector<std::string> DisabledPackDescriptions;
  std::vector<std::string> SharedPackNames;
  std::vector<std::string> StdRunTimePackages;
  std::vector<std::string> StdDesignTimePackages;
  int OnPackCount = 0;
  int OffPackCount = 0;
  int LostPackCount = 0;

  // What start-up reads when Delphi 3 is installed: the standard package
  // tables, then the known, disabled and shared package names.
  void ReadFromRegistry();
  // Empties every list and count.
  void Clear();
  KnownPackLists Lists() {
    return {KnownPackNames,
            KnownPackStoredNames,
            DisabledPackStoredNames,
            KnownPackStatus,
            KnownPackDescriptions,
            DisabledPackNames,
            DisabledPackDescriptions,
            SharedPackNames,
            StdRunTimePackages,
            StdDesignTimePackages,
            OnPackCount,
            OffPackCount,
            LostPackCount};
  }
};

// Which of the page's buttons are enabled.
struct KnownPackButtons {
  bool load = false, remove = false, find = false, up = false, down = false;
  bool add = true, test = true;
};

// A package module's requirements as the check sees them.
using PackageReader = std::function<std::vector<std::string>(const std::string& path)>;

// One problem of the load order.
struct LoadOrderFinding {
  std::string package;  // full path of the package that has the problem
  std::string text;     // the whole finding, one line
};

class TKnownPackList {
 public:
  using WarningFn = std::function<void(const std::string&)>;
  TKnownPackList(KnownPackLists lists, Prompts& prompts, WarningFn warningOk, ProgressMeter& meter,
                 ProcessMessagesFn processMessages);

  // The rows of the list view: kKnownPackColumnCount cells each.
  std::vector<std::vector<std::string>> Rows;
  // The package name of each row exactly as stored (parallel to Rows).
  std::vector<std::u16string> RowNames;
  int Selected = -1;
  // The open dialog of Add.
  FileDialogSpec AddPackageDialog;

  // Statuses and counters from the lists, then one row per entry, with the
  // progress window and the activity log lines.
  void InitSystemInfo();
  // Status and counters only (steps of InitSystemInfo before the rows).
  void ClassifyPackages();
  // One row; index < 0 appends. False when a cell could not be worked out.
  // storedName is the registry's spelling of path (empty: path itself).
  bool AddKnownPackageRow(const std::string& path, const std::string& description, int status,
                          int index, const std::u16string& storedName = {});

  KnownPackButtons Buttons() const;
  // Location + Name of a row.
  std::string RowPath(int row) const;
  // The row whose path is path (ignoring ASCII case); -1 when none.
  int FindRow(const std::string& path) const;
  // The package name of a row exactly as stored.
  std::u16string RowStoredName(int row) const;
  // The row whose stored name is name (ignoring ASCII case); -1 when none.
  int FindRow(const std::u16string& name) const;
  // A cell as it is to be shown: Name and Location from the stored name,
  // with every character kept; the other cells converted from the code page.
  std::u16string CellText(int row, int column) const;

  // The package Load opens; nullopt when nothing is to be loaded.
  std::optional<std::string> LoadTarget() const;
  // The bare file name Find searches for; nullopt when no row is selected.
  std::optional<std::string> FindTarget() const;

  // The dialog, then AddKnownPackage.
  void AddKnownPackBtnClick();
  // Registers path: "Package already exists." / the next-start note, or
  // "ERROR: No package added.". True when the package was added.
  bool AddKnownPackage(const std::string& path);
  // Asks, then removes the selected row. True when it was removed.
  bool RemoveKnownPackBtnClick();
  // Removes a row without asking (the command line): the package's values
  // go in one atomic change of the hive. When the hive cannot be written the
  // error is shown, the row and the lists stay, and the result is false.
  bool RemoveKnownPackage(int row);
  // Swaps the selected row with its upper (up) or lower neighbour in the
  // registry and the list. A path missing from "Known Packages" raises an
  // error without message text; nothing is changed then. False when there
  // is no selection or no such neighbour.
  bool MoveKnownPackage(bool up);

  // The walk of Test and the load-order check; findings are logged and
  // shown in one message box. Returns the findings.
  std::vector<LoadOrderFinding> TestKnownPackBtnClick();

 private:
  void ShowWarning(const std::string& text) {
    if (warningOk_) warningOk_(text);
  }
  KnownPackLists lists_;
  Prompts& prompts_;
  WarningFn warningOk_;
  ProgressMeter& meter_;
  ProcessMessagesFn processMessages_;
};

// The load-order check: for each package that is On, in load order, every
// required package must be found as a freshly started IDE finds it
// (FreshIdeSearchFolders), and a required package
// that is itself a known package must come earlier and be On. reader
// returns the required package names of a package module (raises when it
// cannot be read); by default PACKAGEINFO read from a data-file mapping.
std::vector<LoadOrderFinding> CheckLoadOrder(const std::vector<std::string>& names,
                                             const std::vector<int>& statuses,
                                             const PackageReader& reader = {});
// The required package names of a package file read as data.
std::vector<std::string> ReadRequiredPackages(const std::string& path);
// The folders a freshly started IDE searches for a package it loads, in
// order: its program folder ($(DELPHI)\Bin, when the root folder is known),
// the system folder, the Windows folder, then PATH extended with the library
// search path. Modules the tool itself has loaded and its current folder
// play no part.
std::vector<std::string> FreshIdeSearchFolders();

// The Delphi 3 IDE options of the page, in the order of its fill.
struct IdeOption {
  const char* label;     // as `config` prints it
  const char* jsonName;  // as `config --json` names it
  const char* subkey;
  const char* valueName;
  bool flag;
};
inline constexpr int kIdeOptionCount = 9;
extern const IdeOption kIdeOptions[kIdeOptionCount];
// By label or JSON name, ignoring case; nullptr when none.
const IdeOption* FindIdeOption(const std::string& name);
// The option's current value as the page shows it after the fill: the text,
// or "1"/"0" for a flag. The library path is the given one (start-up's).
std::string ReadIdeOption(const IdeOption& option, const std::string& delphiSearchPath);
// The same with the text exactly as stored (every character kept). The
// library path is start-up's, in the stored spelling when the value still
// reads as it did then.
std::u16string ReadIdeOptionText(const IdeOption& option, const std::string& delphiSearchPath);
// Writes the option as the page's change handler does (a flag as "1" or
// "0"; a text exactly as given). A value that already holds it is not
// rewritten. False when its subkey is missing and nothing was stored.
bool WriteIdeOption(const IdeOption& option, const std::string& value);
bool WriteIdeOption(const IdeOption& option, const std::u16string& value);
// The fill's normalisation of a flag that reads as set: a stored text other
// than "1" (such as "2") is stored as "1". True when it wrote.
bool NormaliseIdeFlag(const IdeOption& option);

}  // namespace kx
