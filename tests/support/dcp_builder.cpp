#include "support/dcp_builder.h"

namespace kx::test {

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

void PutU32At(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  if (out.size() < at + 4) out.resize(at + 4);
  for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
}

namespace {

void PutEntry(std::vector<uint8_t>& out, uint32_t dcu, uint32_t code, uint32_t data,
              const std::string& name) {
  PutU32(out, dcu);
  PutU32(out, 0xAAAAAAAA);  // unused field
  PutU32(out, code);
  PutU32(out, data);
  PutU32(out, 0xBBBBBBBB);  // unused field
  out.insert(out.end(), name.begin(), name.end());
  out.push_back(0);
}

}  // namespace

std::vector<uint8_t> DcpBuilder::Build(DcpLayout* layoutOut) const {
  DcpLayout layout;
  std::vector<uint8_t> out(32, 0);
  for (size_t i = 0; i < 12; ++i) out[i] = uint8_t(0x40 + i);  // unused leading bytes
  for (const auto& r : requiredPackages) {
    out.insert(out.end(), r.begin(), r.end());
    out.push_back(0);
  }
  // The header record is 36 bytes long; with no requiredPackages names its last
  // four bytes are the start of the unit table.
  layout.unitTableOffset = uint32_t(out.size());

  // Images of the units, the last one carrying the resource list.
  std::vector<std::vector<uint8_t>> images;
  for (size_t i = 0; i < units.size(); ++i) {
    if (i + 1 < units.size() || !units[i].image.empty()) {
      images.push_back(units[i].image);
      continue;
    }
    std::vector<uint8_t> img(20, 0x11);
    img.push_back(uint8_t(packageBlockName.size()));
    img.insert(img.end(), packageBlockName.begin(), packageBlockName.end());
    img.insert(img.end(), 6, 0x22);
    for (const auto& r : resources) {
      img.push_back(uint8_t(r.size()));
      img.insert(img.end(), r.begin(), r.end());
      PutU32(img, 0x00000001);
      img.push_back(0x33);
      img.push_back(0x33);
    }
    img.push_back(0);
    PutU32(img, 0xFFFFFFFF);
    img.push_back(0);
    img.push_back(0);
    images.push_back(std::move(img));
  }

  size_t tableSize = 0;
  for (const auto& u : units) tableSize += u.name.size() + 21;
  std::vector<uint8_t> after;
  size_t afterSize = afterTable ? afterTable->size() : 21;
  uint32_t pos = uint32_t(layout.unitTableOffset + tableSize + afterSize);
  for (const auto& img : images) {
    layout.dcuOffsets.push_back(pos);
    pos += uint32_t(img.size());
  }
  layout.endOffset = pos;
  if (!units.empty())
    layout.resourceListOffset = layout.dcuOffsets.back() + 27 + uint32_t(packageBlockName.size());
  layout.unitTableSize = uint32_t(tableSize);

  for (size_t i = 0; i < units.size(); ++i)
    PutEntry(out, layout.dcuOffsets[i], units[i].codeOffset, units[i].dataOffset, units[i].name);
  if (afterTable)
    out.insert(out.end(), afterTable->begin(), afterTable->end());
  else
    PutEntry(out, layout.endOffset, codeEnd, dataEnd, "");
  for (const auto& img : images) out.insert(out.end(), img.begin(), img.end());

  PutU32At(out, 12, unitTableSizeOverride.value_or(layout.unitTableSize));
  PutU32At(out, 16, unitTableOffsetOverride.value_or(layout.unitTableOffset));
  PutU32At(out, 20, imageBase);
  for (size_t i = 24; i < 29; ++i) out[i] = 0x55;
  out[29] = neverBuild;
  out[30] = out[31] = 0x66;
  if (layoutOut) *layoutOut = layout;
  return out;
}

}  // namespace kx::test
