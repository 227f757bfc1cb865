#pragma once
// Builders of synthetic PE32 images for tests: a library or program with any
// export names, imports, a full three-level resource tree and base
// relocations, laid out the way a linker lays out a real image (FileAlignment
// 0x200, SectionAlignment 0x1000). None of the code in the image is meant to
// run; every exported routine is a tiny stub in .text.
//
// Texts: export, import and module names are written byte for byte as given
// (8-bit text); resource names are UTF-8 and stored as counted UTF-16.
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace kx::test {

struct PeExport {
  std::string name{};
  uint16_t ordinal = 0;     // the full ordinal (ordinal base included); 0: next free
  uint32_t rva = 0;         // 0: a stub in .text; otherwise written as given
  std::string forwarder{};  // "DLL.Name": a forwarded export
  bool noName = false;      // exported by ordinal only
};

struct PeImport {
  std::string dll{};
  std::vector<std::string> names{};  // imported by name (hint 0)
  std::vector<uint16_t> ordinals{};  // imported by ordinal, after the names
};

struct PeResName {
  bool isId = true;
  uint16_t id = 0;
  std::string name{};  // UTF-8/ASCII, stored as UTF-16
  static PeResName Id(uint16_t id);
  static PeResName Name(std::string name);
};

struct PeResource {
  PeResName type{};
  PeResName name{};
  uint16_t lang = 0;
  std::vector<uint8_t> data{};
};

struct PeSpec {
  uint32_t imageBase = 0x00400000;
  bool dll = true;           // IMAGE_FILE_DLL characteristic
  std::string exportName{};  // export directory Name (default "test.dll")
  uint32_t ordinalBase = 1;
  std::vector<PeExport> exports{};  // names sorted in the name table unless keepExportOrder
  bool keepExportOrder = false;
  std::vector<PeImport> imports{};
  std::vector<PeResource> resources{};
  bool relocations = true;  // emit a .reloc section
  // An image with no exports gets no export directory unless this is set
  // (then an empty directory carrying only the name).
  bool emptyExportDirectory = false;
};

// Where the builder put things, for tests that damage an image on purpose.
// Offsets are file offsets; RVAs are relative to the image base. A field is 0
// when the image has no such part.
struct PeSectionLayout {
  std::string name;
  uint32_t rva = 0;
  uint32_t virtualSize = 0;
  uint32_t rawOffset = 0;
  uint32_t rawSize = 0;
};

struct PeLayout {
  uint32_t ntHeaders = 0;       // e_lfanew: offset of "PE\0\0"
  uint32_t optionalHeader = 0;  // offset of the optional header
  uint32_t sectionTable = 0;    // offset of the first section header
  std::vector<PeSectionLayout> sections;
  uint32_t exportDir = 0, exportDirSize = 0;  // RVAs
  uint32_t importDir = 0, importDirSize = 0;
  uint32_t resourceDir = 0, resourceDirSize = 0;
  uint32_t relocDir = 0, relocDirSize = 0;
  uint32_t iat = 0, iatSize = 0;
  uint32_t entryPoint = 0;
  std::vector<uint32_t> exportRvas;      // final RVA of each spec export, in spec order
  std::vector<uint16_t> exportOrdinals;  // final ordinal of each spec export
  // File offset of an RVA inside a section; throws std::out_of_range otherwise.
  uint32_t Offset(uint32_t rva) const;
};

// Builds the image. Throws std::invalid_argument for a spec that cannot be laid
// out (duplicate ordinals, an ordinal below the base, duplicate resources, ...).
std::vector<uint8_t> BuildPe(const PeSpec& spec);
std::vector<uint8_t> BuildPe(const PeSpec& spec, PeLayout* layout);

// PACKAGEINFO resource bytes: flags, R, R*(hash, name\0), C, C*(unit flags,
// hash, name\0), padded with zeros to a multiple of 4.
std::vector<uint8_t> BuildPackageInfo(uint32_t flags, const std::vector<std::string>& requiresList,
                                      const std::vector<std::pair<uint8_t, std::string>>& contains);

// DESCRIPTION resource bytes: UTF-16LE zero-terminated from UTF-8 text.
std::vector<uint8_t> BuildDescription(const std::string& utf8);

// A package library spec: exports Initialize and Finalize plus `exports`;
// RCDATA PACKAGEINFO (and DESCRIPTION when description is non-empty), language 0.
PeSpec PackageSpec(uint32_t flags, const std::vector<std::string>& requiresList,
                   const std::vector<std::pair<uint8_t, std::string>>& contains,
                   const std::string& description = {}, std::vector<PeExport> exports = {});

// A large package library for timing: `units` units of `exportsPerUnit`
// exports each (two classes with a marker, a unit-level export and twelve
// members; Register, Initialization, Finalization; procedures), contained
// with SysInit and the main unit "bigpack".
PeSpec LargePackageSpec(int units, int exportsPerUnit);

// UTF-8 to UTF-16 as the builder stores resource names (invalid bytes become
// U+FFFD).
std::u16string Utf8ToUtf16ForTest(const std::string& utf8);

// Writes bytes to a host file (creating parent folders); throws std::runtime_error.
void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Little-endian patch helpers for damaging an image.
void Put16(std::vector<uint8_t>& image, uint32_t offset, uint16_t value);
void Put32(std::vector<uint8_t>& image, uint32_t offset, uint32_t value);
uint16_t Get16(const std::vector<uint8_t>& image, uint32_t offset);
uint32_t Get32(const std::vector<uint8_t>& image, uint32_t offset);

}  // namespace kx::test
