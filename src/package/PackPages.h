#pragma once
// What the Export, Structure, Import and Resources pages show for the loaded
// package module: rows, tree nodes, captions, state indexes and status texts
// are all decided here; the pages (and kestrix-cli) only display them.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "package/PackMan.h"
#include "platform/ui.h"

namespace kx {

// ---------------------------------------------------------------------------
// Export list.
struct ExportRow {
  uint32_t address = 0;  // RVA from the export address table
  uint32_t ordinal = 0;  // ordinal base included
  std::string name;
};

// Reads the export name table of the loaded module in table order. A damaged
// table (an address outside the image) ends the read with the rows read so
// far; *damaged (when given) is set then.
std::vector<ExportRow> ReadExportRows(const TPackageModuleInfo& m, bool* damaged = nullptr);

struct ExportListResult {
  std::vector<ExportRow> rows;
  // "Exported Functions: N", "BaseAddress :$XXXXXXXX", "ImageBase :$XXXXXXXX";
  // with no exports the first reads "Exported Functions: -".
  std::array<std::string, 3> statusPanels;
  bool damaged = false;
};

// Fills the export rows; the meter counts rows and advances at multiples of
// (NameCount div 8 + 1). processMessages runs once before the rows are read.
ExportListResult FillExportList(const TPackageModuleInfo& m, ProgressMeter& meter,
                                const ProcessMessagesFn& processMessages = {});

// ---------------------------------------------------------------------------
// Structure tree.
enum StructureState : int {
  ssNone = 0,       // root, unit, group and class nodes
  ssSystem = 1,     // "Register", "Initialization", "Finalization"
  ssProcedure = 2,  // other unit-level items
  ssMember = 3,     // class members, caption "Name()"
};

struct StructureNode {
  std::string caption;
  int stateIndex = ssNone;
  std::unique_ptr<TPackageMethodInfo> info;  // leaves only
  std::vector<StructureNode> children;
};

struct StructureResult {
  bool built = false;  // false: not a .dpl module; tree empty, status unchanged
  StructureNode root;  // valid when built
  int unitCount = 0;
  int classCount = 0;
  // "Units: N", "Classes: N" when built.
  std::array<std::string, 2> statusPanels;
};

// Whether the leaves get their TPackageMethodInfo: the page's element list
// and the JSON listing show it; a listing of captions alone does without
// (a fifth of the work on a package of many thousand exports).
enum class LeafInfo { Attach, Skip };

// The tree for a module of kind mkDPL (root caption = file name without its
// folder); the meter counts units.
StructureResult BuildStructure(const TPackageModuleInfo& m, ProgressMeter& meter,
                               LeafInfo leafInfo = LeafInfo::Attach);
// The same over given export rows (table order) and structure units.
StructureResult BuildStructureFromExports(const std::vector<ExportRow>& exports,
                                          const std::vector<std::string>& structureUnits,
                                          const std::string& rootCaption, ProgressMeter& meter,
                                          LeafInfo leafInfo = LeafInfo::Attach);

// The element list rows ("Field", "Data") for a selected node; nullopt for a
// node without a TPackageMethodInfo (the list stays as it is).
std::optional<std::vector<std::pair<std::string, std::string>>> ElementInfoRows(
    const StructureNode& node);

// ---------------------------------------------------------------------------
// Import list.
struct ImportRow {
  HMODULE handle = 0;
  std::string handleText;  // "$XXXXXXXX"; "-" for a data-file module
  std::string type;        // "Package" or "Library"
  std::string name;        // as written in the import descriptor
};

struct ImportListResult {
  std::vector<ImportRow> rows;
  int moduleCount = 0;
  int packageCount = 0;
  // "Modules Imported: N", "Imported Packages: N".
  std::array<std::string, 2> statusPanels;
  bool damaged = false;
};

// One row per distinct imported module (a descriptor whose handle text is
// already listed is skipped). For a data-file module nothing is loaded: the
// handle column is "-", the module is looked for along the search path only
// to tell a package from a library, and a repeated name is skipped.
ImportListResult FillImportList(const TPackageModuleInfo& m);

// ---------------------------------------------------------------------------
// The three lists together, as the first visit to one of the Export,
// Import and Structure pages fills them: progress window shown with the
// labels "Retrieving Export Data...", "Retrieving Import Data...",
// "Building DPL Structure...", messages let run between the stages.
struct PackageNames {
  ExportListResult exports;
  ImportListResult imports;
  StructureResult structure;
};
PackageNames ShowNames(const TPackageModuleInfo& m, ProgressMeter& meter,
                       const ProcessMessagesFn& processMessages = {});

// ---------------------------------------------------------------------------
// Resource tree.

// Type names for resource type ids 0..16 ("UNK_#0", "CURSOR", ...);
// other ids as 8 upper-case hex digits.
std::string ResourceTypeName(uint32_t id);

struct ResourceNode {
  std::string caption;
  std::vector<ResourceNode> children;
};

struct ResourceTree {
  std::vector<ResourceNode> topLevel;
  std::string status;  // "Resource Directories: N"
};

// Builds the tree from the flattened lines and their depths.
ResourceTree ShowResourceTree(const std::vector<ResourceLine>& lines);

}  // namespace kx
