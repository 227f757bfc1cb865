// The known packages list and its editing.
#include "delphi3/KnownPacks.h"

#include <algorithm>

#include "delphi3/D3_Reg.h"
#include "delphi3/SearchPath.h"
#include "delphi3/SysPackg.h"
#include "package/PackMan.h"
#include "platform/activity_log.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/formats.h"
#include "platform/strutil.h"
#include "platform/system.h"

namespace kx {
namespace {

const char kNotAvailable[] = "N/A";

// Index of name in list, ignoring ASCII case; -1 when absent.
int IndexOfText(const std::vector<std::string>& list, const std::string& name) {
  for (size_t i = 0; i < list.size(); ++i)
    if (SameText(list[i], name)) return static_cast<int>(i);
  return -1;
}

// A loaded data-file image, released when it goes out of scope.
class DataImage {
 public:
  explicit DataImage(const std::string& path)
      : handle_(Sys().Proc().LoadLibraryEx(path, LOAD_LIBRARY_AS_DATAFILE)) {
    if (handle_ == 0) throw ELoadPackage("PackMan: Could not load " + path + " package module!");
  }
  ~DataImage() { Sys().Proc().FreeLibrary(handle_); }
  DataImage(const DataImage&) = delete;
  DataImage& operator=(const DataImage&) = delete;
  HMODULE Handle() const { return handle_; }

 private:
  HMODULE handle_;
};

// The description of a package file read as data, as UTF-16; empty when it
// has none. Raises when the file cannot be loaded.
std::u16string ReadDescriptionAsData(const std::string& path) {
  DataImage image(path);
  return ReadPackageDescription(image.Handle()).value_or(std::u16string());
}

// The file name without its extension ("C:\D3\vcl30.dpl" -> "vcl30").
std::string PackageBaseName(const std::string& path) {
  const std::string name = ExtractFileName(path);
  const std::string ext = ExtractFileExt(name);
  return name.substr(0, name.size() - ext.size());
}

// Two names as stored, compared ignoring the case of ASCII letters only.
bool SameStoredName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
    if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
    if (x != y) return false;
  }
  return true;
}

int IndexOfStored(const std::vector<std::u16string>& list, std::u16string_view name) {
  for (size_t i = 0; i < list.size(); ++i)
    if (SameStoredName(list[i], name)) return static_cast<int>(i);
  return -1;
}

// Stored names for every entry of names: lists filled without them (by
// hand, or by an older reader) stand for their code-page names.
void CompleteStoredNames(const std::vector<std::string>& names,
                         std::vector<std::u16string>& stored) {
  if (stored.size() > names.size()) stored.resize(names.size());
  for (size_t i = stored.size(); i < names.size(); ++i) stored.push_back(Utf8ToUtf16(names[i]));
}

template <typename T>
void EraseAt(std::vector<T>& list, int i) {
  if (i >= 0 && i < static_cast<int>(list.size())) list.erase(list.begin() + i);
}

template <typename T>
void SwapAt(std::vector<T>& list, int a, int b) {
  if (a >= 0 && b >= 0 && a < static_cast<int>(list.size()) && b < static_cast<int>(list.size()))
    std::swap(list[a], list[b]);
}

// True when fileName lies in one of the folders.
bool FoundInFolders(const std::vector<std::string>& folders, const std::string& fileName) {
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    const bool sep = folder.back() == '\\' || folder.back() == ':';
    if (FileExists(folder + (sep ? "" : "\\") + fileName)) return true;
  }
  return false;
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

}  // namespace

const KnownPackColumn kKnownPackColumns[kKnownPackColumnCount] = {
    {"Name", 100, false},     {"Status", 42, false},      {"Description", 120, false},
    {"Type", 46, false},      {"System", 0, false},       {"Shared", 46, false},
    {"Location", 140, false}, {"Size", 60, true},         {"Modified", 80, false},
    {"Created", 80, false},   {"Last Access", 80, false}, {"TotLinks", 0, true},
};

const char* PackageStatusName(int status) {
  switch (status) {
    case psOn:
      return "On";
    case psOff:
      return "Off";
    default:
      return "Lost";
  }
}

void KnownPackStore::ReadFromRegistry() {
  AddRunTimePackages(StdRunTimePackages);
  AddDesignTimePackages(StdDesignTimePackages);
  ReadKnownPackages(KnownPackNames, KnownPackDescriptions, &KnownPackStoredNames);
  ReadDisabledPackages(DisabledPackNames, DisabledPackDescriptions, &DisabledPackStoredNames);
  ReadSharedPackages(SharedPackNames);
}

void KnownPackStore::Clear() { *this = KnownPackStore(); }

TKnownPackList::TKnownPackList(KnownPackLists lists, Prompts& prompts, WarningFn warningOk,
                               ProgressMeter& meter, ProcessMessagesFn processMessages)
    : lists_(lists),
      prompts_(prompts),
      warningOk_(std::move(warningOk)),
      meter_(meter),
      processMessages_(std::move(processMessages)) {
  AddPackageDialog.title = "Add New Package";
  AddPackageDialog.filter = "Package Library (*.DPL)|*.DPL";
  AddPackageDialog.fileName = "*.dpl";
  AddPackageDialog.defaultExt = "dpl";
}

void TKnownPackList::ClassifyPackages() {
  LogLine("* Suddivide il tipo di package: tutti");
  lists_.KnownPackStatus.assign(lists_.KnownPackNames.size(), psOn);
  CompleteStoredNames(lists_.KnownPackNames, lists_.KnownPackStoredNames);
  CompleteStoredNames(lists_.DisabledPackNames, lists_.DisabledPackStoredNames);
  LogLine("* Suddivide il tipo di package: toglie gli OFF e i LOST");
  // Entries are matched on their stored names: two packages whose names
  // differ only in characters the code page lacks stay two packages.
  for (size_t d = 0; d < lists_.DisabledPackNames.size(); ++d) {
    const std::string& path = lists_.DisabledPackNames[d];
    const std::u16string& stored = lists_.DisabledPackStoredNames[d];
    const int i = IndexOfStored(lists_.KnownPackStoredNames, stored);
    if (i >= 0) {
      lists_.KnownPackStatus[i] = FileExists(ExpandDelphiMacro(path)) ? psOff : psLost;
    } else {
      lists_.KnownPackNames.push_back(path);
      lists_.KnownPackStoredNames.push_back(stored);
      lists_.KnownPackStatus.push_back(psLost);
      lists_.KnownPackDescriptions.push_back(
          d < lists_.DisabledPackDescriptions.size() ? lists_.DisabledPackDescriptions[d] : "");
    }
  }
  // The counters count the rows of each status, so that a package listed
  // twice under "Disabled Packages" cannot count twice.
  lists_.OnPackCount = static_cast<int>(
      std::count(lists_.KnownPackStatus.begin(), lists_.KnownPackStatus.end(), psOn));
  lists_.OffPackCount = static_cast<int>(
      std::count(lists_.KnownPackStatus.begin(), lists_.KnownPackStatus.end(), psOff));
  lists_.LostPackCount = static_cast<int>(
      std::count(lists_.KnownPackStatus.begin(), lists_.KnownPackStatus.end(), psLost));
}

void TKnownPackList::InitSystemInfo() {
  LogLine("*** Executing InitSystemInfo()...");
  meter_.Show();
  if (processMessages_) processMessages_();
  try {
    ClassifyPackages();
  } catch (const std::exception&) {
    LogLine("* Sorting Packages...ERROR!");
  }
  LogLine("* Sorting Packages...OK");
  const int count = static_cast<int>(lists_.KnownPackNames.size());
  meter_.SetLabel("Retrieving System Packages...");
  meter_.SetCompleted(0);
  meter_.SetTotal(count);
  if (processMessages_) processMessages_();
  LogLine("** Get Extended Package Info...");
  try {
    for (int i = 0; i < count; ++i) {
      const std::string description = i < static_cast<int>(lists_.KnownPackDescriptions.size())
                                          ? lists_.KnownPackDescriptions[i]
                                          : "";
      const int status =
          i < static_cast<int>(lists_.KnownPackStatus.size()) ? lists_.KnownPackStatus[i] : psOn;
      AddKnownPackageRow(lists_.KnownPackNames[i], description, status, -1,
                         i < static_cast<int>(lists_.KnownPackStoredNames.size())
                             ? lists_.KnownPackStoredNames[i]
                             : std::u16string());
      if (MeterStep(i, count)) meter_.SetCompleted(i);
    }
  } catch (const std::exception&) {
    LogLine("** Extended Package Info...ERROR!");
  }
  LogLine("** Extended Package Info...OK");
  meter_.SetCompleted(0);
  meter_.Hide();
  if (processMessages_) processMessages_();
  LogLine("*** InitSystemInfo()...OK");
}

bool TKnownPackList::AddKnownPackageRow(const std::string& path, const std::string& description,
                                        int status, int index, const std::u16string& storedName) {
  LogLine("* Adding \"" + path + "\"...");
  bool result = true;
  std::vector<std::string> row = {ExtractFileName(path)};
  try {
    row.push_back(PackageStatusName(status));
    row.push_back(description);
    // The file is reached through the expanded path; the cells keep the
    // path as the registry holds it.
    const std::string file = ExpandDelphiMacro(path);
    const PackageKindSet kind = GetPackageKind(file);
    row.push_back(InSet(kind, pkRunOnly) ? "Run" : InSet(kind, pkDesignOnly) ? "Dsgn" : "Both");
    row.push_back(IsStandardPackage(lists_.StdRunTimePackages, lists_.StdDesignTimePackages,
                                    ExtractFileName(path))
                      ? "Yes"
                      : "No");
    row.push_back(IndexOfText(lists_.SharedPackNames, path) >= 0 ||
                          IndexOfText(lists_.SharedPackNames, file) >= 0
                      ? "Yes"
                      : "No");
    row.push_back(ExtractFilePath(path));
    const std::optional<FileInformation> info = GetFileInformation(file);
    if (!info) throw EFOpenError("Cannot open file " + path);
    row.push_back(FormatByteCount(static_cast<uint32_t>(info->size)));
    row.push_back(FormatShortDate(FileTimeToDateValue(info->lastWriteTime)));
    row.push_back(FormatShortDate(FileTimeToDateValue(info->creationTime)));
    row.push_back(FormatShortDate(FileTimeToDateValue(info->lastAccessTime)));
    row.push_back(std::to_string(info->numberOfLinks));
  } catch (const std::exception&) {
    result = false;
    LogLine("ERROR Adding \"" + path + "\"...ERROR!");
  }
  row.resize(kKnownPackColumnCount, kNotAvailable);
  row[kcLocation] = ExtractFilePath(path);
  if (index < 0 || index > static_cast<int>(Rows.size())) index = static_cast<int>(Rows.size());
  Rows.insert(Rows.begin() + index, std::move(row));
  RowNames.resize(Rows.size() - 1);
  RowNames.insert(RowNames.begin() + index, storedName.empty() ? Utf8ToUtf16(path) : storedName);
  if (Selected >= index) ++Selected;
  return result;
}

KnownPackButtons TKnownPackList::Buttons() const {
  KnownPackButtons b;
  if (Selected < 0 || Selected >= static_cast<int>(Rows.size())) return b;
  const bool lost = SameText(Rows[Selected][kcStatus], "Lost");
  b.load = !lost;
  b.remove = true;
  b.find = !b.load;
  b.up = !lost && Selected > 0;
  b.down = !lost && Selected < lists_.OnPackCount + lists_.OffPackCount - 1;
  return b;
}

std::string TKnownPackList::RowPath(int row) const {
  return Rows[row][kcLocation] + Rows[row][kcName];
}

int TKnownPackList::FindRow(const std::string& path) const {
  for (size_t i = 0; i < Rows.size(); ++i)
    if (SameText(RowPath(static_cast<int>(i)), path)) return static_cast<int>(i);
  return -1;
}

std::u16string TKnownPackList::RowStoredName(int row) const {
  if (row >= 0 && row < static_cast<int>(RowNames.size()) && !RowNames[row].empty())
    return RowNames[row];
  return Utf8ToUtf16(RowPath(row));
}

int TKnownPackList::FindRow(const std::u16string& name) const {
  for (size_t i = 0; i < Rows.size(); ++i)
    if (SameStoredName(RowStoredName(static_cast<int>(i)), name)) return static_cast<int>(i);
  return -1;
}

std::u16string TKnownPackList::CellText(int row, int column) const {
  if (column == kcName || column == kcLocation) {
    const std::u16string name = RowStoredName(row);
    const size_t cut = name.find_last_of(u"\\:");
    const size_t split = cut == std::u16string::npos ? 0 : cut + 1;
    // A stored name that no longer matches the cells (it cannot happen
    // through these operations) leaves the cells as they are.
    if (Utf16ToUtf8(name) == RowPath(row))
      return column == kcName ? name.substr(split) : name.substr(0, split);
  }
  return Utf8ToUtf16(Rows[row][column]);
}

std::optional<std::string> TKnownPackList::LoadTarget() const {
  if (Selected < 0 || Selected >= static_cast<int>(Rows.size())) return std::nullopt;
  if (Rows[Selected][kcName].empty()) return std::nullopt;
  const std::string path = ExpandDelphiMacro(RowPath(Selected));
  if (!FileExists(path)) return std::nullopt;
  return path;
}

std::optional<std::string> TKnownPackList::FindTarget() const {
  if (Selected < 0 || Selected >= static_cast<int>(Rows.size())) return std::nullopt;
  return Rows[Selected][kcName];
}

void TKnownPackList::AddKnownPackBtnClick() {
  const std::optional<std::string> chosen = prompts_.OpenFile(AddPackageDialog);
  if (chosen) AddKnownPackage(*chosen);
}

bool TKnownPackList::AddKnownPackage(const std::string& path) {
  const int insertAt = lists_.OnPackCount;
  try {
    if (IndexOfText(lists_.KnownPackNames, path) >= 0) {
      ShowWarning(kPackageExistsMsg);
      return false;
    }
    // Wildcards are in no file's name: no value is written under one.
    if (path.find('?') != std::string::npos || path.find('*') != std::string::npos)
      throw EFOpenError("Cannot open file " + path);
    const std::u16string description = ReadDescriptionAsData(path);
    if (!WriteKnownPackage(path, description))
      throw ERegistryException("Failed to set data for '" + path + "'");
    lists_.KnownPackNames.push_back(path);
    CompleteStoredNames(lists_.KnownPackNames, lists_.KnownPackStoredNames);
    lists_.KnownPackStatus.push_back(psOn);
    lists_.KnownPackDescriptions.push_back(Utf16ToUtf8(description));
    // The row is On whether or not its cells could all be worked out (a
    // .dpl without package information shows "N/A"), so it counts.
    AddKnownPackageRow(path, lists_.KnownPackDescriptions.back(), psOn, insertAt);
    ++lists_.OnPackCount;
    if (const auto unloadable = UnloadableNameMsg(path)) ShowWarning(*unloadable);
    ShowWarning(kNextStartMsg);
    return true;
  } catch (const std::exception&) {
    prompts_.Error(kNoPackageAddedMsg);
    return false;
  }
}

bool TKnownPackList::RemoveKnownPackBtnClick() {
  if (Selected < 0 || Selected >= static_cast<int>(Rows.size())) return false;
  if (prompts_.WarningYesNo("Removing \"" + Rows[Selected][kcName] + "\".\r\nAre you sure?") !=
      PromptResult::Yes)
    return false;
  return RemoveKnownPackage(Selected);
}

bool TKnownPackList::RemoveKnownPackage(int row) {
  const std::u16string stored = RowStoredName(row);
  const std::string status = Rows[row][kcStatus];
  const bool on = SameText(status, "On");
  // Both keys in one change: a failure leaves both as they were. Values
  // that are already gone are passed over silently.
  try {
    DeletePackageValues(stored, !on);
  } catch (const ERegistryException& e) {
    prompts_.Error(e.what());
    return false;
  }
  CompleteStoredNames(lists_.KnownPackNames, lists_.KnownPackStoredNames);
  if (const int i = IndexOfStored(lists_.KnownPackStoredNames, stored); i >= 0) {
    // The parallel lists lose the same entry.
    EraseAt(lists_.KnownPackNames, i);
    EraseAt(lists_.KnownPackStoredNames, i);
    EraseAt(lists_.KnownPackDescriptions, i);
    EraseAt(lists_.KnownPackStatus, i);
  }
  if (!on) {
    CompleteStoredNames(lists_.DisabledPackNames, lists_.DisabledPackStoredNames);
    if (const int i = IndexOfStored(lists_.DisabledPackStoredNames, stored); i >= 0) {
      EraseAt(lists_.DisabledPackNames, i);
      EraseAt(lists_.DisabledPackStoredNames, i);
      EraseAt(lists_.DisabledPackDescriptions, i);
    }
  }
  if (SameText(status, "On"))
    --lists_.OnPackCount;
  else if (SameText(status, "Off"))
    --lists_.OffPackCount;
  else if (SameText(status, "Lost"))
    --lists_.LostPackCount;
  Rows.erase(Rows.begin() + row);
  EraseAt(RowNames, row);
  if (Selected == row)
    Selected = -1;
  else if (Selected > row)
    --Selected;
  ShowWarning(kNextStartMsg);
  return true;
}

bool TKnownPackList::MoveKnownPackage(bool up) {
  const int row = Selected;
  const int neighbour = up ? row - 1 : row + 1;
  if (row < 0 || row >= static_cast<int>(Rows.size()) || neighbour < 0 ||
      neighbour >= static_cast<int>(Rows.size()))
    return false;
  // The two values are found by their stored names and exchanged inside one
  // change of the hive, so the entries swapped are exactly the two rows'.
  const std::u16string a = RowStoredName(row);
  const std::u16string b = RowStoredName(neighbour);
  if (!SwapKnownPackages(a, b)) throw Exception("");

  // The in-memory lists follow the key; every entry keeps its status, and
  // packages listed only under "Disabled Packages" stay after them.
  CompleteStoredNames(lists_.KnownPackNames, lists_.KnownPackStoredNames);
  const int ia = IndexOfStored(lists_.KnownPackStoredNames, a);
  const int ib = IndexOfStored(lists_.KnownPackStoredNames, b);
  SwapAt(lists_.KnownPackNames, ia, ib);
  SwapAt(lists_.KnownPackStoredNames, ia, ib);
  SwapAt(lists_.KnownPackDescriptions, ia, ib);
  SwapAt(lists_.KnownPackStatus, ia, ib);

  std::swap(Rows[row], Rows[neighbour]);
  RowNames.resize(Rows.size());
  std::swap(RowNames[row], RowNames[neighbour]);
  Selected = neighbour;
  return true;
}

std::vector<LoadOrderFinding> TKnownPackList::TestKnownPackBtnClick() {
  LogLine("** Checking Load Order Dependencies...");
  std::vector<LoadOrderFinding> findings;
  bool failed = false;
  try {
    const int count = static_cast<int>(lists_.KnownPackNames.size());
    meter_.SetLabel("Checking Load Order Dependencies...");
    meter_.SetCompleted(0);
    meter_.SetTotal(count);
    meter_.Show();
    if (processMessages_) processMessages_();
    std::vector<int> statuses = lists_.KnownPackStatus;
    statuses.resize(lists_.KnownPackNames.size(), psOn);
    try {
      const std::vector<LoadOrderFinding> all = CheckLoadOrder(lists_.KnownPackNames, statuses);
      for (int i = 0; i < count; ++i) {
        LogLine("*** Testing package \"" + lists_.KnownPackNames[i] + "\"");
        for (const LoadOrderFinding& f : all) {
          if (f.package != lists_.KnownPackNames[i]) continue;
          LogLine(f.text);
          findings.push_back(f);
        }
        if (MeterStep(i, count)) meter_.SetCompleted(i);
      }
    } catch (...) {
      meter_.Hide();
      throw;
    }
    meter_.Hide();
  } catch (const std::exception&) {
    failed = true;
    prompts_.Message(kTestErrorMsg);
    LogLine(kTestErrorMsg);
  }
  if (!failed) {
    std::string text;
    for (const LoadOrderFinding& f : findings) text += (text.empty() ? "" : "\r\n") + f.text;
    prompts_.Message(findings.empty() ? kNoLoadOrderProblemsMsg : text);
  }
  return findings;
}

std::optional<std::string> UnloadableNameMsg(const std::string& path) {
  const CodePage& page = SystemCodePage();
  if (page.CanEncode(path)) return std::nullopt;
  return path + " cannot be written in code page " + std::to_string(page.Number()) +
         "; the IDE will not be able to load it.";
}

std::vector<std::string> ReadRequiredPackages(const std::string& path) {
  DataImage image(path);
  const auto data = GetPackageInfoData(image.Handle());
  if (!data) throw ELoadPackage("Cannot access package information for package '" + path + "'");
  return ParsePackageInfo(*data, ExtractFileName(path)).requiredPackages;
}

std::vector<std::string> FreshIdeSearchFolders() {
  const std::string rootDir = ReadDelphiRootDir();
  std::vector<std::string> folders;
  if (!rootDir.empty()) folders.push_back(ExpandDelphiMacro("$(DELPHI)\\Bin", rootDir));
  folders.push_back(Sys().SystemDirectory());
  folders.push_back(Sys().WindowsDirectory());
  // The IDE's PATH: the process's, extended with the library search path
  // (the tool's own PATH may already carry it; a folder twice costs nothing).
  for (const std::string& folder : SplitString(Sys().Env().Get("PATH").value_or(""), ';'))
    folders.push_back(ExpandDelphiMacro(folder, rootDir));
  std::string libraryPath;
  try {
    libraryPath = ReadLibrarySearchPath();
  } catch (const std::exception&) {
    // Unreadable: the IDE would not find anything along it either.
  }
  for (const std::string& folder : SplitString(libraryPath, ';'))
    folders.push_back(ExpandDelphiMacro(folder, rootDir));
  return folders;
}

std::vector<LoadOrderFinding> CheckLoadOrder(const std::vector<std::string>& names,
                                             const std::vector<int>& statuses,
                                             const PackageReader& reader) {
  std::vector<LoadOrderFinding> findings;
  const std::vector<std::string> folders = FreshIdeSearchFolders();
  for (size_t i = 0; i < names.size(); ++i) {
    if (i < statuses.size() && statuses[i] != psOn) continue;  // the IDE does not load it
    const std::string& path = names[i];
    auto add = [&](const std::string& text) { findings.push_back({path, text}); };
    if (const auto unloadable = UnloadableNameMsg(path)) add(*unloadable);
    const std::string file = ExpandDelphiMacro(path);
    if (!FileExists(file)) {
      add(Quoted(path) + " is set to load, but its file cannot be found.");
      continue;
    }
    std::vector<std::string> required;
    try {
      required = reader ? reader(file) : ReadRequiredPackages(file);
    } catch (const std::exception& e) {
      add(Quoted(path) + ": its package information cannot be read (" + e.what() + ").");
      continue;
    }
    const std::string ext = SameText(ExtractFileExt(path), ".bpl") ? ".bpl" : ".dpl";
    for (const std::string& req : required) {
      int known = -1;
      for (size_t j = 0; j < names.size() && known < 0; ++j)
        if (SameText(PackageBaseName(names[j]), req)) known = static_cast<int>(j);
      if (known == static_cast<int>(i)) continue;
      const std::string head = Quoted(path) + " requires " + Quoted(req);
      if (known >= 0) {
        const int status = known < static_cast<int>(statuses.size()) ? statuses[known] : psOn;
        if (status != psOn) {
          add(head + ", which is disabled (" + Quoted(names[known]) + ").");
          continue;
        }
        if (known > static_cast<int>(i)) {
          add(head + ", which comes later in the load order (" + Quoted(names[known]) + ").");
          continue;
        }
        continue;  // loaded before it by the IDE
      }
      if (!FoundInFolders(folders, req + ext)) add(head + ", which the loader cannot find.");
    }
  }
  return findings;
}

const IdeOption kIdeOptions[kIdeOptionCount] = {
    {"Delphi Library Path", "libraryPath", kLibraryKey, kSearchPathValue, false},
    {"Default Package", "defaultPackage", kAddToPackageKey, kAddToPackageNameValue, false},
    {"Pack. DLL Out", "packDLLOut", kLibraryKey, kPackageDLLOutputDirValue, false},
    {"Pack. DCP Out", "packDCPOut", kLibraryKey, kPackageDCPOutputDirValue, false},
    {"Warn On Rebuild", "warnOnRebuild", kCompilingKey, kWarnOnPackageRebuildValue, true},
    {"Show Details", "showDetails", kCompilingKey, kShowPackageDetailsValue, true},
    {"Detailed Exception", "detailedException", kDebuggingKey, kDetailedExceptionsValue, true},
    {"Fly Over Watches", "flyOverWatches", kDebuggingKey, kFlyOverWatchesValue, true},
    {"CPU Registers", "cpuRegisters", kDebuggingKey, kEnableCPUValue, true},
};

const IdeOption* FindIdeOption(const std::string& name) {
  for (const IdeOption& o : kIdeOptions)
    if (SameText(name, o.label) || SameText(name, o.jsonName)) return &o;
  return nullptr;
}

std::string ReadIdeOption(const IdeOption& option, const std::string& delphiSearchPath) {
  const std::string subkey = option.subkey;
  const std::string value = option.valueName;
  if (option.flag) {
    const int v = subkey == kCompilingKey ? ReadCompilingOption(value) : ReadDebuggingOption(value);
    return v != 0 ? "1" : "0";
  }
  if (value == kSearchPathValue) return delphiSearchPath;
  if (value == kAddToPackageNameValue) return ReadAddToPackageName();
  if (value == kPackageDLLOutputDirValue) return ReadPackageDLLOutputDir();
  return ReadPackageDCPOutputDir();
}

std::u16string ReadIdeOptionText(const IdeOption& option, const std::string& delphiSearchPath) {
  if (option.flag) return Utf8ToUtf16(ReadIdeOption(option, delphiSearchPath));
  if (std::string(option.valueName) == kSearchPathValue) {
    // Start-up's reading, in the stored spelling while the value still
    // reads the same in the code page.
    try {
      const std::u16string stored = ReadSettingText(option.subkey, option.valueName);
      if (Utf16ToUtf8(stored) == delphiSearchPath) return stored;
    } catch (const std::exception&) {
      // Start-up could not read it either: its (empty) text stands.
    }
    return Utf8ToUtf16(delphiSearchPath);
  }
  return ReadSettingText(option.subkey, option.valueName);
}

bool WriteIdeOption(const IdeOption& option, const std::string& text) {
  return WriteIdeOption(option, Utf8ToUtf16(text));
}

bool WriteIdeOption(const IdeOption& option, const std::u16string& text) {
  if (option.flag) {
    const int v = StrToInt(Utf16ToUtf8(text)) != 0 ? 1 : 0;
    return WriteSettingText(option.subkey, option.valueName, v ? u"1" : u"0");
  }
  return WriteSettingText(option.subkey, option.valueName, text);
}

bool NormaliseIdeFlag(const IdeOption& option) {
  if (!option.flag) return false;
  const std::u16string stored = ReadSettingText(option.subkey, option.valueName);
  if (stored.empty() || StrToInt(Utf16ToUtf8(stored)) == 0 || stored == u"1") return false;
  bool written = false;
  WriteSettingText(option.subkey, option.valueName, u"1", &written);
  return written;
}

}  // namespace kx
