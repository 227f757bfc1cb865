#pragma once
// The start-up module walk of an application: which modules must be present
// for it to start, where the system loader finds each one, and the package
// facts and size of every located file.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "package/PackMan.h"
#include "platform/errors.h"

namespace kx {

// One module reached by the walk. A new record is all zero.
struct TModulePathData {
  std::string Path;         // full file name as located; empty while not located
  bool BadPath = false;     // the loader could not load the module by its bare name
  bool IsPackage = false;   // the file carries a PACKAGEINFO resource
  std::string Description;  // package description; empty for non-packages
  PackageKindSet PackageKind = 0;
  uint32_t Size = 0;  // low 32 bits of the file size, never shown negative
};

// An internal inconsistency between the walk's lists: "Module not checked!"
// or "Module Path Data not found!".
class EDeploy : public Exception {
 public:
  using Exception::Exception;
};

// A list of module names, each with a record attached (or none). Names are
// compared ignoring ASCII case. A list either owns its records (AddOwned)
// or refers to records owned by another list (Add).
class TModuleList {
 public:
  struct Entry {
    std::string Name;
    TModulePathData* Data = nullptr;
  };
  size_t Count() const { return entries_.size(); }
  const Entry& operator[](size_t i) const { return entries_[i]; }
  const std::vector<Entry>& Entries() const { return entries_; }
  // -1 when the list holds no such name.
  int IndexOf(const std::string& name) const;
  void Add(const std::string& name, TModulePathData* data);
  TModulePathData* AddOwned(const std::string& name, std::unique_ptr<TModulePathData> data);
  void Clear();

 private:
  std::vector<Entry> entries_;
  std::unordered_map<std::string, size_t> index_;  // upper-cased name -> first entry
  std::vector<std::unique_ptr<TModulePathData>> owned_;
};

// The file search fallback for a module the loader cannot load: true with
// the full file name of the first file found.
using FindModuleFileFn = std::function<bool(const std::string& name, std::string& foundPath)>;

// The walk. Reads the static imports of fileName; every imported name not
// yet in checked gets a record: loaded by bare name through the process's
// loader (Path from GetModuleFileName, unloaded again at once) or, when
// that fails, looked for with findModuleFile (BadPath true; a name found
// nowhere goes to missing). Every located module is then scanned the same
// way, once, in the order located; found is empty on return. The
// application itself gets no entry. Raises EDeploy "Module not checked!"
// when found names a module that checked does not hold.
void CheckModuleImports(const std::string& fileName, std::vector<std::string>& found,
                        std::vector<std::string>& missing, TModuleList& checked,
                        const FindModuleFileFn& findModuleFile);

// Completes IsPackage, Description, PackageKind and Size of every located
// entry (the file is mapped as data only). EDeploy "Module Path Data not
// found!" for an entry without a record.
void FillModulePathData(TModuleList& checked);

// Append the entries of source whose BadPath / IsPackage is true to target
// (same names, same records), in source order.
void CollectBadPathModules(const TModuleList& source, TModuleList& target);
void CollectPackageModules(const TModuleList& source, TModuleList& target);
// The sum of Size over the list, in 64 bits so that a large total is never
// shown wrapped to a negative number.
int64_t TotalModuleSize(const TModuleList& list);

}  // namespace kx
