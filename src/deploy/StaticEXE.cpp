#include "deploy/StaticEXE.h"

#include <cstring>
#include <memory>
#include <unordered_set>

#include "dcp/dsstream.h"
#include "platform/files.h"
#include "platform/strutil.h"

namespace kx {

namespace {

constexpr uint32_t kPeSignature = 0x00004550;
constexpr uint32_t kDescriptorSize = 20;
constexpr uint32_t kSectionHeaderSize = 40;

// Little-endian reads that fail for a location outside the view.
bool ReadU16(std::span<const uint8_t> view, uint64_t offset, uint16_t& value) {
  if (offset > view.size() || view.size() - offset < 2) return false;
  value = static_cast<uint16_t>(view[offset] | (view[offset + 1] << 8));
  return true;
}

bool ReadU32(std::span<const uint8_t> view, uint64_t offset, uint32_t& value) {
  if (offset > view.size() || view.size() - offset < 4) return false;
  value = static_cast<uint32_t>(view[offset]) | (static_cast<uint32_t>(view[offset + 1]) << 8) |
          (static_cast<uint32_t>(view[offset + 2]) << 16) |
          (static_cast<uint32_t>(view[offset + 3]) << 24);
  return true;
}

// The NUL-terminated string at offset; false when it or its NUL runs past the view.
bool ReadCString(std::span<const uint8_t> view, uint64_t offset, std::string& text) {
  if (offset >= view.size()) return false;
  const void* nul = std::memchr(view.data() + offset, 0, view.size() - offset);
  if (!nul) return false;
  const auto* start = reinterpret_cast<const char*>(view.data() + offset);
  text.assign(start, static_cast<const char*>(nul));
  return true;
}

}  // namespace

std::optional<TSectionHeader> FindSectionForRva(uint32_t rva, std::span<const uint8_t> view,
                                                uint32_t ntHeaders) {
  uint16_t count = 0, optionalSize = 0;
  if (!ReadU16(view, uint64_t{ntHeaders} + 6, count) ||
      !ReadU16(view, uint64_t{ntHeaders} + 20, optionalSize))
    return std::nullopt;
  const uint64_t table = uint64_t{ntHeaders} + 24 + optionalSize;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = table + uint64_t{i} * kSectionHeaderSize;
    TSectionHeader s;
    if (!ReadU32(view, at + 8, s.virtualSize) || !ReadU32(view, at + 12, s.virtualAddress) ||
        !ReadU32(view, at + 20, s.pointerToRawData))
      return std::nullopt;
    if (s.virtualAddress <= rva && uint64_t{rva} < uint64_t{s.virtualAddress} + s.virtualSize)
      return s;
  }
  return std::nullopt;
}

bool ScanImportDirectory(std::span<const uint8_t> view, std::vector<std::string>& names) {
  uint32_t nt = 0, signature = 0, importRva = 0;
  if (!ReadU32(view, 60, nt) || !ReadU32(view, nt, signature) || signature != kPeSignature)
    return false;
  if (!ReadU32(view, uint64_t{nt} + 128, importRva) || importRva == 0) return false;
  const auto section = FindSectionForRva(importRva, view, nt);
  if (!section) return false;
  // File offsets are RVA - Delta in 32-bit arithmetic, as the loader's own
  // RVA-to-offset translation wraps.
  const uint32_t delta = section->virtualAddress - section->pointerToRawData;
  const uint64_t first = static_cast<uint32_t>(importRva - delta);

  // The duplicate test covers the whole list, entries held before the scan
  // included; a set of upper-cased names keeps it linear for huge tables.
  std::unordered_set<std::string> held;
  for (const std::string& n : names) held.insert(AsciiUpper(n));
  for (uint64_t at = first;; at += kDescriptorSize) {
    uint32_t timeDateStamp = 0, nameRva = 0;
    if (!ReadU32(view, at + 4, timeDateStamp) || !ReadU32(view, at + 12, nameRva)) return false;
    if (timeDateStamp == 0 && nameRva == 0) return true;
    std::string name;
    if (!ReadCString(view, static_cast<uint32_t>(nameRva - delta), name)) return false;
    if (held.insert(AsciiUpper(name)).second) names.push_back(std::move(name));
  }
}

bool ReadStaticImports(const std::string& fileName, std::vector<std::string>& names) {
  if (!FileExists(fileName)) return false;
  std::unique_ptr<TMemoryMappedFileStream> stream;
  try {
    stream = std::make_unique<TMemoryMappedFileStream>(fileName, "", fmOpenRead | fmShareDenyWrite);
  } catch (...) {
    return false;
  }
  try {
    const std::span<const uint8_t> view(static_cast<const uint8_t*>(stream->Memory()),
                                        static_cast<size_t>(stream->Size()));
    uint16_t mz = 0;
    if (!ReadU16(view, 0, mz) || mz != 0x5A4D) return false;
    return ScanImportDirectory(view, names);
  } catch (...) {
    return false;
  }
}

}  // namespace kx
