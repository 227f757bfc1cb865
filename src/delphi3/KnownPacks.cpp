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

// True when the loader finds a module of that name along its search order.
bool LoaderFinds(const std::string& fileName) {
  Process& proc = Sys().Proc();
  const HMODULE h = proc.LoadLibraryEx(fileName, LOAD_LIBRARY_AS_DATAFILE);
  if (h == 0) return false;
  proc.FreeLibrary(h);
  return true;
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
  ReadKnownPackages(KnownPackNames, KnownPackDescriptions);
  ReadDisabledPackages(DisabledPackNames, DisabledPackDescriptions);
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
  LogLine("* Suddivide il tipo di package: toglie gli OFF e i LOST");
  for (size_t d = 0; d < lists_.DisabledPackNames.size(); ++d) {
    const std::string& path = lists_.DisabledPackNames[d];
    const int i = IndexOfText(lists_.KnownPackNames, path);
    if (i >= 0 && FileExists(ExpandDelphiMacro(path))) {
      lists_.KnownPackStatus[i] = psOff;
      ++lists_.OffPackCount;
    } else if (i >= 0) {
      lists_.KnownPackStatus[i] = psLost;
      ++lists_.LostPackCount;
    } else {
      lists_.KnownPackNames.push_back(path);
      lists_.KnownPackStatus.push_back(psLost);
      lists_.KnownPackDescriptions.push_back(
          d < lists_.DisabledPackDescriptions.size() ? lists_.DisabledPackDescriptions[d] : "");
      ++lists_.LostPackCount;
    }
  }
  lists_.OnPackCount = std::max(0, static_cast<int>(lists_.KnownPackNames.size()) -
                                       lists_.LostPackCount - lists_.OffPackCount);
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
      AddKnownPackageRow(lists_.KnownPackNames[i], description, status, -1);
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
                                        int status, int index) {
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
    // A '?' stands for a character the code page could not hold: the name
    // would not be the file's, and no value is written under it.
    if (path.find('?') != std::string::npos || path.find('*') != std::string::npos)
      throw EFOpenError("Cannot open file " + path);
    const std::u16string description = ReadDescriptionAsData(path);
    if (!WriteKnownPackage(path, description))
      throw ERegistryException("Failed to set data for '" + path + "'");
    lists_.KnownPackNames.push_back(path);
    lists_.KnownPackStatus.push_back(psOn);
    lists_.KnownPackDescriptions.push_back(Utf16ToCp1252(description));
    if (AddKnownPackageRow(path, lists_.KnownPackDescriptions.back(), psOn, insertAt))
      ++lists_.OnPackCount;
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
  RemoveKnownPackage(Selected);
  return true;
}

void TKnownPackList::RemoveKnownPackage(int row) {
  const std::string path = RowPath(row);
  const std::string status = Rows[row][kcStatus];
  DeleteKnownPackage(path);
  if (const int i = IndexOfText(lists_.KnownPackNames, path); i >= 0) {
    // The parallel lists lose the same entry.
    lists_.KnownPackNames.erase(lists_.KnownPackNames.begin() + i);
    if (i < static_cast<int>(lists_.KnownPackDescriptions.size()))
      lists_.KnownPackDescriptions.erase(lists_.KnownPackDescriptions.begin() + i);
    if (i < static_cast<int>(lists_.KnownPackStatus.size()))
      lists_.KnownPackStatus.erase(lists_.KnownPackStatus.begin() + i);
  }
  if (!SameText(status, "On")) {
    DeleteDisabledPackage(path);
    if (const int i = IndexOfText(lists_.DisabledPackNames, path); i >= 0) {
      lists_.DisabledPackNames.erase(lists_.DisabledPackNames.begin() + i);
      if (i < static_cast<int>(lists_.DisabledPackDescriptions.size()))
        lists_.DisabledPackDescriptions.erase(lists_.DisabledPackDescriptions.begin() + i);
    }
  }
  if (SameText(status, "On"))
    --lists_.OnPackCount;
  else if (SameText(status, "Off"))
    --lists_.OffPackCount;
  else if (SameText(status, "Lost"))
    --lists_.LostPackCount;
  Rows.erase(Rows.begin() + row);
  if (Selected == row)
    Selected = -1;
  else if (Selected > row)
    --Selected;
  ShowWarning(kNextStartMsg);
}

bool TKnownPackList::MoveKnownPackage(bool up) {
  const int row = Selected;
  const int neighbour = up ? row - 1 : row + 1;
  if (row < 0 || row >= static_cast<int>(Rows.size()) || neighbour < 0 ||
      neighbour >= static_cast<int>(Rows.size()))
    return false;
  std::vector<std::string> oldNames, descriptions;
  ReadKnownPackages(oldNames, descriptions);
  descriptions.resize(oldNames.size());
  std::vector<std::string> newNames = oldNames;
  const int a = IndexOfText(newNames, RowPath(row));
  const int b = IndexOfText(newNames, RowPath(neighbour));
  if (a < 0 || b < 0) throw Exception("");
  std::swap(newNames[a], newNames[b]);
  std::swap(descriptions[a], descriptions[b]);
  RewriteKnownPackages(&oldNames, &newNames, &descriptions);

  // The in-memory lists follow the key; packages listed only under
  // "Disabled Packages" stay after them, as the rows show them, and every
  // entry keeps its status.
  std::vector<std::string> names = newNames;
  std::vector<std::string> descs = descriptions;
  std::vector<int> statuses;
  for (const std::string& name : newNames) {
    const int i = IndexOfText(lists_.KnownPackNames, name);
    statuses.push_back(i >= 0 && i < static_cast<int>(lists_.KnownPackStatus.size())
                           ? lists_.KnownPackStatus[i]
                           : psOn);
  }
  for (size_t i = 0; i < lists_.KnownPackNames.size(); ++i) {
    if (IndexOfText(newNames, lists_.KnownPackNames[i]) >= 0) continue;
    if (IndexOfText(lists_.DisabledPackNames, lists_.KnownPackNames[i]) < 0) continue;
    names.push_back(lists_.KnownPackNames[i]);
    descs.push_back(i < lists_.KnownPackDescriptions.size() ? lists_.KnownPackDescriptions[i] : "");
    statuses.push_back(psLost);
  }
  lists_.KnownPackNames = std::move(names);
  lists_.KnownPackDescriptions = std::move(descs);
  lists_.KnownPackStatus = std::move(statuses);

  std::swap(Rows[row], Rows[neighbour]);
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

std::vector<std::string> ReadRequiredPackages(const std::string& path) {
  DataImage image(path);
  const auto data = GetPackageInfoData(image.Handle());
  if (!data) throw ELoadPackage("Cannot access package information for package '" + path + "'");
  return ParsePackageInfo(*data, ExtractFileName(path)).requiredPackages;
}

std::vector<LoadOrderFinding> CheckLoadOrder(const std::vector<std::string>& names,
                                             const std::vector<int>& statuses,
                                             const PackageReader& reader) {
  std::vector<LoadOrderFinding> findings;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i < statuses.size() && statuses[i] != psOn) continue;  // the IDE does not load it
    const std::string& path = names[i];
    auto add = [&](const std::string& text) { findings.push_back({path, text}); };
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
      if (!LoaderFinds(req + ext)) add(head + ", which the loader cannot find.");
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

bool WriteIdeOption(const IdeOption& option, const std::string& text) {
  const std::string subkey = option.subkey;
  const std::string value = option.valueName;
  if (option.flag) {
    const int v = StrToInt(text) != 0 ? 1 : 0;
    return subkey == kCompilingKey ? WriteCompilingOption(value, v)
                                   : WriteDebuggingOption(value, v);
  }
  if (value == kSearchPathValue) return WriteLibrarySearchPath(text);
  if (value == kAddToPackageNameValue) return WriteAddToPackageName(text);
  if (value == kPackageDLLOutputDirValue) return WritePackageDLLOutputDir(text);
  return WritePackageDCPOutputDir(text);
}

}  // namespace kx
