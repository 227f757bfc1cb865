#include "deploy/AppDeploy.h"

#include "deploy/StaticEXE.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/strutil.h"
#include "platform/system.h"

namespace kx {

int TModuleList::IndexOf(const std::string& name) const {
  const auto it = index_.find(AsciiUpper(name));
  return it == index_.end() ? -1 : static_cast<int>(it->second);
}

void TModuleList::Add(const std::string& name, TModulePathData* data) {
  index_.emplace(AsciiUpper(name), entries_.size());
  entries_.push_back({name, data});
}

TModulePathData* TModuleList::AddOwned(const std::string& name,
                                       std::unique_ptr<TModulePathData> data) {
  TModulePathData* raw = data.get();
  owned_.push_back(std::move(data));
  Add(name, raw);
  return raw;
}

void TModuleList::Clear() {
  entries_.clear();
  index_.clear();
  owned_.clear();
}

namespace {

TModulePathData& Checked(TModuleList& checked, const std::string& name) {
  const int i = checked.IndexOf(name);
  if (i < 0 || !checked[static_cast<size_t>(i)].Data) throw EDeploy("Module not checked!");
  return *checked[static_cast<size_t>(i)].Data;
}

// Steps for one file: its imports located by the loader, then the ones the
// loader could not load looked for on the drives.
void CheckOneFile(const std::string& fileName, std::vector<std::string>& found,
                  std::vector<std::string>& missing, TModuleList& checked,
                  const FindModuleFileFn& findModuleFile) {
  std::vector<std::string> names;
  if (!ReadStaticImports(fileName, names)) names.clear();
  Process& proc = Sys().Proc();
  std::vector<std::string> pending;
  for (const std::string& name : names) {
    if (checked.IndexOf(name) >= 0) continue;
    auto record = std::make_unique<TModulePathData>();
    const HMODULE module = proc.LoadLibrary(name);
    if (module != 0) {
      found.push_back(name);
      record->Path = proc.GetModuleFileName(module);
      record->BadPath = false;
      proc.FreeLibrary(module);
    } else {
      pending.push_back(name);
      record->BadPath = true;
    }
    checked.AddOwned(name, std::move(record));
  }
  for (const std::string& name : pending) {
    std::string path;
    if (findModuleFile && findModuleFile(name, path)) {
      found.push_back(name);
      Checked(checked, name).Path = path;
    } else {
      missing.push_back(name);
    }
  }
}

void Collect(const TModuleList& source, TModuleList& target, bool TModulePathData::*flag) {
  for (const auto& e : source.Entries()) {
    if (!e.Data) throw EDeploy("Module Path Data not found!");
    if (e.Data->*flag) target.Add(e.Name, e.Data);
  }
}

}  // namespace

void CheckModuleImports(const std::string& fileName, std::vector<std::string>& found,
                        std::vector<std::string>& missing, TModuleList& checked,
                        const FindModuleFileFn& findModuleFile) {
  // The located modules form one queue shared by the whole walk: each is
  // scanned once, in the order in which it was located. Done as a loop, so
  // that a long chain of modules cannot exhaust the stack.
  CheckOneFile(fileName, found, missing, checked, findModuleFile);
  size_t next = 0;
  while (next < found.size()) {
    const std::string name = found[next++];
    const std::string path = Checked(checked, name).Path;
    CheckOneFile(path, found, missing, checked, findModuleFile);
  }
  found.clear();
}

void FillModulePathData(TModuleList& checked) {
  Process& proc = Sys().Proc();
  for (const auto& e : checked.Entries()) {
    if (!e.Data) throw EDeploy("Module Path Data not found!");
    TModulePathData& r = *e.Data;
    if (r.Path.empty()) continue;
    const HMODULE module = proc.LoadLibraryEx(r.Path, LOAD_LIBRARY_AS_DATAFILE);
    if (module == 0) continue;
    try {
      r.IsPackage = HasPackageInfo(module);
      if (r.IsPackage) {
        r.Description = GetPackageDescription(module);
        r.PackageKind = GetModulePackageKind(module);
      }
    } catch (const Exception&) {
      // A damaged resource section leaves what could be read.
    }
    if (const auto info = GetFileInformation(r.Path)) r.Size = static_cast<uint32_t>(info->size);
    proc.FreeLibrary(module);
  }
}

void CollectBadPathModules(const TModuleList& source, TModuleList& target) {
  Collect(source, target, &TModulePathData::BadPath);
}

void CollectPackageModules(const TModuleList& source, TModuleList& target) {
  Collect(source, target, &TModulePathData::IsPackage);
}

int64_t TotalModuleSize(const TModuleList& list) {
  int64_t total = 0;
  for (const auto& e : list.Entries()) {
    if (!e.Data) throw EDeploy("Module Path Data not found!");
    total += e.Data->Size;
  }
  return total;
}

}  // namespace kx
