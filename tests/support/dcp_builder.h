#pragma once
// Writes synthetic compiled package files (.dcp) for tests: header, requiredPackages
// names, unit table, the bytes after the table, the units' compiled images
// and, in the last unit's image, the resource list.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kx::test {

struct DcpUnit {
  std::string name;
  uint32_t codeOffset = 0;
  uint32_t dataOffset = 0;
  // The compiled image; the last unit's image is generated (package block
  // and resource list) unless ownImage is set on the builder.
  std::vector<uint8_t> image;
};

struct DcpLayout {
  uint32_t unitTableOffset = 0;
  uint32_t unitTableSize = 0;
  std::vector<uint32_t> dcuOffsets;  // per unit, in table order
  uint32_t resourceListOffset = 0;   // first resource entry
  uint32_t endOffset = 0;            // file size
};

class DcpBuilder {
 public:
  uint32_t imageBase = 0x00400000;
  uint8_t neverBuild = 0;
  std::vector<std::string> requiredPackages;
  std::vector<DcpUnit> units;
  std::vector<std::string> resources;
  // Name written in the package unit's block (byte 20 is its length).
  std::string packageBlockName = "pkg";
  // Bytes placed right after the unit table (read as the entry that follows
  // the last unit). Default: an end entry whose offsets are the end of the
  // images and codeEnd / dataEnd.
  std::optional<std::vector<uint8_t>> afterTable;
  uint32_t codeEnd = 0x1000;
  uint32_t dataEnd = 0x2000;
  // Overrides of the header fields (after the layout is computed).
  std::optional<uint32_t> unitTableOffsetOverride;
  std::optional<uint32_t> unitTableSizeOverride;

  std::vector<uint8_t> Build(DcpLayout* layout = nullptr) const;
};

// Little-endian helpers for hand-made bytes.
void PutU32(std::vector<uint8_t>& out, uint32_t v);
void PutU32At(std::vector<uint8_t>& out, size_t at, uint32_t v);

}  // namespace kx::test
