#pragma once
// The package module reader: loads a package library (.dpl, .bpl, or a DLL
// that behaves as one) into the emulated process, reads its PACKAGEINFO and
// DESCRIPTION resources and locates the export, import and resource
// directories of the loaded image. Loading never runs code from the file:
// "Initialize" and "Finalize" are only looked up.
//
// The page logic built on it (export list, structure tree, import list,
// resource tree) lives in PackPages.h.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"
#include "platform/process.h"

namespace kx {

// The exception of the package reader; carries only the message.
class ELoadPackage : public Exception {
 public:
  using Exception::Exception;
};

// ---------------------------------------------------------------------------
// The package flag word (first dword of PACKAGEINFO).
constexpr uint32_t pfNeverBuild = 0x00000001;
constexpr uint32_t pfDesignOnly = 0x00000002;
constexpr uint32_t pfRunOnly = 0x00000004;
constexpr uint32_t pfModuleTypeMask = 0xC0000000;
constexpr uint32_t pfPackageModule = 0x40000000;
constexpr uint32_t pfLibraryModule = 0x80000000;

// Unit flag byte of a contained-unit entry.
constexpr uint8_t ufbMainUnit = 0x01;
constexpr uint8_t ufbPackageUnit = 0x02;
constexpr uint8_t ufbWeakUnit = 0x04;
constexpr uint8_t ufbOrgWeakUnit = 0x08;
constexpr uint8_t ufbImplicitUnit = 0x10;

// Elements of UnitFlagSet (bit numbers).
enum UnitFlag : uint8_t {
  ufMainUnit = 0,
  ufPackageUnit = 1,
  ufWeakUnit = 2,
  ufOrgWeakUnit = 3,
  ufImplicitUnit = 4,
  ufWeakPackageUnit = 5,
};
// One byte, bits 0..5 as UnitFlag.
using UnitFlagSet = uint8_t;
constexpr bool InSet(UnitFlagSet s, UnitFlag f) { return (s >> f) & 1u; }
// Bits 0..4 copied from the unit flag byte; ufWeakPackageUnit when the byte
// has the package-unit or the weak-unit bit (mask 6).
constexpr UnitFlagSet UnitFlagSetFromByte(uint8_t b) {
  return static_cast<UnitFlagSet>((b & 0x1F) | ((b & 0x06) ? (1u << ufWeakPackageUnit) : 0u));
}

// Elements of PackageKindSet (bit numbers).
enum PackageKind : uint8_t {
  pkDesignOnly = 0,
  pkRunOnly = 1,
  pkImplicitBuild = 2,
  pkNeverBuild = 3,
  pkHasInfo = 4,
  pkExeModule = 5,
  pkLibraryModule = 6,
  pkPackageModule = 7,
};
using PackageKindSet = uint8_t;
constexpr bool InSet(PackageKindSet s, PackageKind k) { return (s >> k) & 1u; }
// The set summarising a flag word (pkHasInfo always set).
PackageKindSet PackageKindFromFlags(uint32_t flags);

// From the file extension only, compared ignoring case.
enum ModuleKind : uint8_t { mkDLL = 0, mkDPL = 1, mkBPL = 2 };
ModuleKind ModuleKindFromFileName(std::string_view fileName);
// ".DLL", ".DPL", ".BPL".
const char* DefaultExtensionOf(ModuleKind kind);

// ---------------------------------------------------------------------------
// The parsed PACKAGEINFO resource.
struct ContainedUnit {
  std::string name;
  UnitFlagSet flags = 0;  // built from the unit flag byte
  uint8_t rawFlags = 0;   // the unit flag byte as stored
};

struct PackageInfo {
  uint32_t flags = 0;
  std::vector<std::string> requiredPackages;
  std::vector<ContainedUnit> containedUnits;
};

// Parses PACKAGEINFO bytes. A negative count reads as no entries. Data that
// ends inside an entry or count raises ELoadPackage with
// "Cannot access package information for package '<packageName>'".
PackageInfo ParsePackageInfo(std::span<const uint8_t> data, std::string_view packageName);

// ---------------------------------------------------------------------------
// The RCDATA "PACKAGEOPTIONS" the compiler writes into every package: byte 0
// (0x30), bytes 1..26 the switches $A..$Z, bytes 36..39 the image base, then
// from byte 40 three strings of a length byte and that many characters: the
// conditional defines, the unit aliases and the package description, which
// may be followed by zero bytes.
struct TPackageOptions {
  // $A..$Z in letter order: 0 or 1; $Z is the minimum enum size 1, 2 or 4.
  std::array<uint8_t, 26> Switches{};
  uint32_t ImageBase = 0;
  // The three strings as stored: 8-bit text in the code page of the machine
  // that built the package. PackageOptionsText turns them into core text.
  std::string Conditionals;  // "PACKAGES;" in vcl30, empty in most packages
  std::string UnitAliases;   // "WinTypes=Windows;WinProcs=Windows;..."
  std::string Description;
};

// nullopt (the resource counts as absent) when data is shorter than 43
// bytes, a switch byte is out of range, or a string runs past the end.
std::optional<TPackageOptions> ParsePackageOptions(std::span<const uint8_t> data);
// The switches in the compiler's notation: "A+ B- C+ ... Y- Z1".
std::string PackageSwitchesText(const TPackageOptions& options);

// The three strings of PACKAGEOPTIONS as core text. Every reader of them
// (description, General Info lines) takes them from here, so that they are
// decoded in this one place.
struct TPackageOptionsText {
  std::string Conditionals;
  std::string UnitAliases;
  std::string Description;
};
TPackageOptionsText PackageOptionsText(const TPackageOptions& options);

// ---------------------------------------------------------------------------
// One exported routine as placed on the structure tree.
struct TPackageMethodInfo {
  uint32_t Ordinal = 0;  // export ordinal, ordinal base included
  uint32_t Address = 0;  // RVA from the export address table
  std::string ElementName;
  std::string ExportName;
  std::string UnitName;
  std::string ClassName;
  std::string Signature;  // from the first "@" on; the whole name without "@"
  uint32_t Reserved = 0;
};

// One line of the flattened resource tree.
struct ResourceLine {
  std::string text;
  int depth = 0;
};

class TPackageModuleInfo {
 public:
  TPackageModuleInfo();
  // Unloads the module; never throws.
  ~TPackageModuleInfo();
  TPackageModuleInfo(const TPackageModuleInfo&) = delete;
  TPackageModuleInfo& operator=(const TPackageModuleInfo&) = delete;

  // Loads fileName as a package and reads its package information. Raises
  // ELoadPackage with the tool's texts ("Can't load package %s.\r\n%s",
  // "Cannot load package '%s.'  It contains unit ...", "Invalid package file
  // '%s'", "Cannot access package information for package '%s'").
  void Load(const std::string& fileName);
  // Maps fileName as a data file (LOAD_LIBRARY_AS_DATAFILE): nothing is
  // resolved, no package checks; PACKAGEINFO is read when present and
  // intact. For inspecting any PE32 file. Raises ELoadPackage
  // "PackMan: Could not load <name> package module!" when it cannot be mapped.
  void LoadAsData(const std::string& fileName);
  // Unloads the current module and zeroes the scalar fields (the lists stay).
  // The module is always released; when it has no "Finalize" export this
  // then raises ELoadPackage "Invalid package handle".
  void Clear();
  std::string GetDescription() const;
  // Fills ImageBase, LoadBase, ModuleEntry, the export fields and
  // ImportTable from the loaded-module record matching FileName.
  void ReadExportTables();
  // Fills ResourceRoot and appends to ResourceLines (walk of the resource
  // directory; a damaged directory ends the walk with what was read).
  void ReadResources();
  std::string DefaultExtension() const { return DefaultExtensionOf(Kind); }
  bool Loaded() const { return Handle != 0; }
  bool IsDataFile() const { return dataFile_; }

  ModuleKind Kind = mkDLL;
  std::vector<std::string> SourceUnits;     // Contains minus main unit and SysInit
  std::vector<ContainedUnit> Contains;      // PACKAGEINFO order
  std::vector<std::string> StructureUnits;  // Contains minus main/weak units and SysInit
  std::vector<std::string> Requires;        // PACKAGEINFO order
  double FileDate = 0;
  int32_t FileSize = 0;  // -1 when the file cannot be found
  std::string FileName;  // full Windows path as the loader reports it
  HMODULE Handle = 0;
  uint32_t Flags = 0;
  // Preferred base from the optional header of the image in memory (shown
  // to the user). Every table address below lies in the actual mapping at
  // LoadBase, which may differ when the preferred range was taken.
  uint32_t ImageBase = 0;
  uint32_t LoadBase = 0;
  const ModuleRecord* ModuleEntry = nullptr;
  uint32_t ResourceRoot = 0;
  uint32_t OrdinalBase = 0;
  int32_t NameCount = 0;
  uint32_t ImportTable = 0;
  uint32_t FunctionTable = 0;
  uint32_t OrdinalTable = 0;
  uint32_t NameTable = 0;
  std::vector<ResourceLine> ResourceLines;

 private:
  void ReadPackageInfo();
  void ReadFileFactsAndEmptyLists();
  // Zeroes what ReadExportTables fills.
  void ZeroImageTables();
  bool dataFile_ = false;
};

// ---------------------------------------------------------------------------
// Free functions.

// The package description (UTF-8): the RCDATA "DESCRIPTION" (UTF-16 text),
// else the description of PACKAGEOPTIONS when it is not empty, else
// "{no description}".
std::string GetPackageDescription(HMODULE module);
// The same description as UTF-16 text, as the module holds it; nullopt when
// it has neither a DESCRIPTION nor a description in PACKAGEOPTIONS.
std::optional<std::u16string> ReadPackageDescription(HMODULE module);
// The intact PACKAGEOPTIONS of a loaded (or data-file mapped) module.
std::optional<TPackageOptions> GetPackageOptions(HMODULE module);
bool HasPackageInfo(HMODULE module);
// The bytes of "PACKAGEINFO" inside the loaded image; nullopt when missing.
std::optional<std::span<const uint8_t>> GetPackageInfoData(HMODULE module);
// Flags of a package file read from a data-file mapping (no code, no imports).
PackageKindSet GetPackageKind(const std::string& fileName);
// The same for a loaded (or data-file mapped) module.
PackageKindSet GetModulePackageKind(HMODULE module);

// Loads a library as a package the way the system's package loader does
// (duplicate-unit check, "Initialize" must exist; nothing runs). Returns
// the handle; raises ELoadPackage.
HMODULE LoadPackage(const std::string& fileName);
// Looks up "Finalize" and frees the library; raises ELoadPackage "Invalid
// package handle" when "Finalize" is missing (the library is freed anyway).
void UnloadPackage(HMODULE module);

}  // namespace kx
