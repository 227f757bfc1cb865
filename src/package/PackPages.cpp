#include "package/PackPages.h"

#include <set>
#include <unordered_map>

#include "package/ImageReader.h"
#include "platform/formats.h"
#include "platform/strutil.h"
#include "platform/system.h"

namespace kx {

namespace {

struct MeterHider {
  ProgressMeter& meter;
  ~MeterHider() { meter.Hide(); }
};

void Pump(const ProcessMessagesFn& fn) {
  if (fn) fn();
}

}  // namespace

// ---------------------------------------------------------------------------
// Export list

std::vector<ExportRow> ReadExportRows(const TPackageModuleInfo& m, bool* damaged) {
  std::vector<ExportRow> rows;
  if (damaged) *damaged = false;
  if (m.Handle == 0 || m.NameCount <= 0 || m.ModuleEntry == nullptr) return rows;
  const Process& proc = Sys().Proc();
  const ModuleRecord* rec = proc.Module(m.ModuleEntry->handle);
  if (rec != m.ModuleEntry) return rows;  // the module is gone
  ImageReader img(proc, rec);
  // A name table cannot hold more entries than the file has room for (a
  // name pointer and an ordinal each); a larger count is damage, and only
  // what fits is read.
  const uint64_t fit = img.RealBytes() / 6;
  const int32_t count = static_cast<int32_t>(std::min<uint64_t>(uint64_t(m.NameCount), fit));
  if (count < m.NameCount && damaged) *damaged = true;
  rows.reserve(static_cast<size_t>(count));
  try {
    for (int32_t i = 0; i < count; ++i) {
      uint32_t nameRva = img.U32(m.NameTable + 4u * uint32_t(i));
      ExportRow row;
      row.name = img.CString(m.LoadBase + nameRva);
      uint16_t index = img.U16(m.OrdinalTable + 2u * uint32_t(i));
      row.ordinal = uint32_t(index) + m.OrdinalBase;
      row.address = img.U32(m.FunctionTable + 4u * index);
      rows.push_back(std::move(row));
    }
  } catch (const EReadError&) {
    if (damaged) *damaged = true;
  }
  return rows;
}

ExportListResult FillExportList(const TPackageModuleInfo& m, ProgressMeter& meter,
                                const ProcessMessagesFn& processMessages) {
  ExportListResult r;
  r.statusPanels[0] = "Exported Functions: -";
  r.statusPanels[1] = "BaseAddress :" + HexAddress(m.LoadBase);
  r.statusPanels[2] = "ImageBase :" + HexAddress(m.ImageBase);
  if (m.NameCount <= 0) return r;
  meter.SetCompleted(0);
  meter.SetTotal(m.NameCount);
  Pump(processMessages);
  r.rows = ReadExportRows(m, &r.damaged);
  const int step = m.NameCount / 8 + 1;
  for (size_t i = 0; i < r.rows.size(); ++i)
    if (int(i) % step == 0) meter.SetCompleted(int(i));
  meter.SetCompleted(0);
  r.statusPanels[0] = "Exported Functions: " + std::to_string(m.NameCount);
  return r;
}

// ---------------------------------------------------------------------------
// Structure tree

namespace {

std::string UpTo(std::string_view s, char c) {
  size_t p = s.find(c);
  return std::string(p == std::string_view::npos ? s : s.substr(0, p));
}

// The identifier at the start of s: up to the first "@", except that an
// identifier starting with "@" (a compiler helper such as "@LStrClr") keeps
// it and runs to the next "@".
std::string IdentOf(std::string_view s) {
  if (!s.empty() && s[0] == '@') return "@" + UpTo(s.substr(1), '@');
  return UpTo(s, '@');
}

// From the "@" that ends an identifier on: an "@" that starts one (right
// after a ".") belongs to the name.
std::string SignatureOf(const std::string& name) {
  for (size_t at = name.find('@'); at != std::string::npos; at = name.find('@', at + 1))
    if (at == 0 || name[at - 1] != '.') return name.substr(at);
  return name;
}

// The candidate class of a Rest that contains a ".".
std::string ClassCandidate(std::string_view rest) {
  std::string_view q = rest;
  if (!q.empty() && q[0] == '.') q.remove_prefix(1);
  size_t dot = q.find('.');
  size_t at = q.find('@');
  if (dot != std::string_view::npos && (at == std::string_view::npos || dot < at))
    return std::string(q.substr(0, dot));
  return IdentOf(q);
}

std::unique_ptr<TPackageMethodInfo> MakeInfo(const ExportRow& row, const std::string& caption,
                                             const std::string& unit,
                                             const std::string& className) {
  auto info = std::make_unique<TPackageMethodInfo>();
  info->Ordinal = row.ordinal;
  info->Address = row.address;
  info->ElementName = caption;
  info->ExportName = row.name;
  info->UnitName = unit;
  info->ClassName = className;
  info->Signature = SignatureOf(row.name);
  info->Reserved = 0;
  return info;
}

StructureNode Leaf(LeafInfo leafInfo, const ExportRow& row, const std::string& caption, int state,
                   const std::string& unit, const std::string& className = {}) {
  StructureNode n;
  n.caption = caption;
  n.stateIndex = state;
  if (leafInfo == LeafInfo::Attach) n.info = MakeInfo(row, caption, unit, className);
  return n;
}

}  // namespace

StructureResult BuildStructureFromExports(const std::vector<ExportRow>& exports,
                                          const std::vector<std::string>& structureUnits,
                                          const std::string& rootCaption, ProgressMeter& meter,
                                          LeafInfo leafInfo) {
  StructureResult r;
  r.built = true;
  r.root.caption = rootCaption;
  r.root.children.reserve(structureUnits.size());
  meter.SetCompleted(0);
  meter.SetTotal(int(structureUnits.size()));

  // Per name: the position of its first "." and the upper-cased text
  // before it; the first dotted name of each unit prefix.
  const size_t n = exports.size();
  std::vector<size_t> dots(n);
  std::unordered_map<std::string, size_t> firstOf;
  std::vector<std::string> prefixes(n);
  for (size_t i = 0; i < n; ++i) {
    dots[i] = exports[i].name.find('.');
    if (dots[i] == std::string::npos) continue;
    prefixes[i] = AsciiUpper(std::string_view(exports[i].name).substr(0, dots[i]));
    firstOf.emplace(prefixes[i], i);
  }

  for (size_t u = 0; u < structureUnits.size(); ++u) {
    const std::string& unit = structureUnits[u];
    const std::string unitUpper = AsciiUpper(unit);
    StructureNode unitNode;
    unitNode.caption = unit;

    // The stretch: consecutive names of this unit from its first one;
    // undotted names inside it are passed over.
    std::vector<size_t> stretch;
    auto f = firstOf.find(unitUpper);
    if (f != firstOf.end()) {
      for (size_t j = f->second; j < n; ++j) {
        if (dots[j] == std::string::npos) continue;
        if (prefixes[j] != unitUpper) break;
        stretch.push_back(j);
      }
    }
    auto restOf = [&](size_t j) { return std::string_view(exports[j].name).substr(dots[j] + 1); };

    // Class markers ("..C@") and unit-level names ("C@") of the stretch.
    std::set<std::string> markers, unitLevel;
    for (size_t j : stretch) {
      std::string_view rest = restOf(j);
      if (!rest.empty() && rest[0] == '.')
        markers.insert(AsciiUpper(IdentOf(rest.substr(1))));
      else if (rest.find('.') == std::string_view::npos)
        unitLevel.insert(AsciiUpper(IdentOf(rest)));
    }

    StructureNode classes, system, procedures;
    classes.caption = "Classes";
    system.caption = "System";
    procedures.caption = "Procedures/Types";
    std::vector<std::string> classList;
    std::set<std::string> classSet;  // upper case

    for (size_t j : stretch) {
      std::string_view rest = restOf(j);
      if (rest.find('.') == std::string_view::npos) {
        std::string ident = IdentOf(rest);
        if (SameText(ident, unit)) continue;
        if (SameText(ident, "Register") || SameText(ident, "Initialization") ||
            SameText(ident, "Finalization")) {
          system.children.push_back(Leaf(leafInfo, exports[j], ident, ssSystem, unit));
        } else if (!classSet.count(AsciiUpper(ident))) {
          procedures.children.push_back(Leaf(leafInfo, exports[j], ident, ssProcedure, unit));
        }
      } else {
        std::string c = ClassCandidate(rest);
        std::string cu = AsciiUpper(c);
        if (markers.count(cu) && unitLevel.count(cu) && classSet.insert(cu).second)
          classList.push_back(c);
      }
    }

    // Members go to their class in stretch order: one pass finds each
    // name's class, so that every class's list is made at its final size.
    std::vector<std::pair<size_t, size_t>> members;  // (class index, export index)
    std::vector<size_t> memberCount(classList.size());
    for (size_t j : stretch) {
      std::string_view rest = restOf(j);
      size_t dot = rest.find('.');
      if (dot == std::string_view::npos) continue;
      for (size_t c = 0; c < classList.size(); ++c)
        if (SameText(rest.substr(0, dot), classList[c])) {
          members.emplace_back(c, j);
          ++memberCount[c];
          break;
        }
    }
    classes.children.resize(classList.size());
    for (size_t c = 0; c < classList.size(); ++c) {
      classes.children[c].caption = classList[c];
      classes.children[c].children.reserve(memberCount[c]);
    }
    for (const auto& [c, j] : members) {
      std::string_view rest = restOf(j);
      std::string caption = IdentOf(rest.substr(rest.find('.') + 1)) + "()";
      classes.children[c].children.push_back(
          Leaf(leafInfo, exports[j], caption, ssMember, unit, classList[c]));
    }

    for (StructureNode* g : {&classes, &system, &procedures})
      if (!g->children.empty()) unitNode.children.push_back(std::move(*g));
    r.root.children.push_back(std::move(unitNode));
    r.classCount += int(classList.size());
    meter.SetCompleted(int(u));
  }
  r.unitCount = int(structureUnits.size());
  r.statusPanels[0] = "Units: " + std::to_string(r.unitCount);
  r.statusPanels[1] = "Classes: " + std::to_string(r.classCount);
  meter.SetCompleted(0);
  return r;
}

StructureResult BuildStructure(const TPackageModuleInfo& m, ProgressMeter& meter,
                               LeafInfo leafInfo) {
  if (m.Kind != mkDPL || m.Handle == 0) return StructureResult{};
  return BuildStructureFromExports(ReadExportRows(m), m.StructureUnits, ExtractFileName(m.FileName),
                                   meter, leafInfo);
}

std::optional<std::vector<std::pair<std::string, std::string>>> ElementInfoRows(
    const StructureNode& node) {
  if (!node.info) return std::nullopt;
  const TPackageMethodInfo& i = *node.info;
  std::vector<std::pair<std::string, std::string>> rows;
  rows.emplace_back("Export Ordinal", std::to_string(i.Ordinal));
  rows.emplace_back("Export Address (RVA)", HexAddress(i.Address));
  rows.emplace_back("Export Name", i.ExportName);
  rows.emplace_back("Unit Name", i.UnitName);
  if (node.stateIndex == ssMember) rows.emplace_back("Class Name", i.ClassName);
  rows.emplace_back("Element Name", i.ElementName);
  return rows;
}

// ---------------------------------------------------------------------------
// Import list

ImportListResult FillImportList(const TPackageModuleInfo& m) {
  ImportListResult r;
  if (m.Handle != 0 && m.ImportTable != 0 && m.ModuleEntry != nullptr) {
    Process& proc = Sys().Proc();
    const ModuleRecord* rec = proc.Module(m.ModuleEntry->handle);
    if (rec == m.ModuleEntry) {
      ImageReader img(proc, rec);
      std::set<std::string> seen;  // handle texts, or upper-case names for a data file
      try {
        for (uint64_t d = m.ImportTable;; d += 20) {
          if (d > UINT32_MAX) throw EReadError("import table runs past the address space");
          uint32_t nameRva = img.U32(uint32_t(d) + 12);
          if (nameRva == 0) break;
          img.U32(uint32_t(d) + 16);  // first thunk: the descriptor must be whole
          ImportRow row;
          row.name = img.CString(m.LoadBase + nameRva);
          bool isPackage = false;
          if (m.IsDataFile()) {
            row.handleText = "-";
            if (!seen.insert(AsciiUpper(row.name)).second) continue;
            // Looked for as data only, to tell a package from a library.
            HMODULE h = proc.LoadLibraryEx(row.name, LOAD_LIBRARY_AS_DATAFILE);
            if (h != 0) {
              isPackage = HasPackageInfo(h);
              proc.FreeLibrary(h);
            }
          } else {
            row.handle = proc.GetModuleHandle(row.name);
            row.handleText = HexAddress(row.handle);
            if (!seen.insert(row.handleText).second) continue;
            isPackage = HasPackageInfo(row.handle);
          }
          row.type = isPackage ? "Package" : "Library";
          ++r.moduleCount;
          if (isPackage) ++r.packageCount;
          r.rows.push_back(std::move(row));
        }
      } catch (const EReadError&) {
        r.damaged = true;
      }
    }
  }
  r.statusPanels[0] = "Modules Imported: " + std::to_string(r.moduleCount);
  r.statusPanels[1] = "Imported Packages: " + std::to_string(r.packageCount);
  return r;
}

// ---------------------------------------------------------------------------

PackageNames ShowNames(const TPackageModuleInfo& m, ProgressMeter& meter,
                       const ProcessMessagesFn& processMessages) {
  PackageNames names;
  if (m.Handle == 0) return names;
  meter.Show();
  MeterHider hider{meter};
  Pump(processMessages);
  meter.SetLabel("Retrieving Export Data...");
  names.exports = FillExportList(m, meter, processMessages);
  meter.SetLabel("Retrieving Import Data...");
  Pump(processMessages);
  names.imports = FillImportList(m);
  meter.SetLabel("Building DPL Structure...");
  Pump(processMessages);
  names.structure = BuildStructure(m, meter);
  return names;
}

}  // namespace kx
