#include "deploy/StaticEXE.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/host_file.h"
#include "platform/strutil.h"
#include "platform/system.h"

namespace kx {

namespace {

constexpr uint32_t kPeSignature = 0x00004550;
constexpr uint32_t kDescriptorSize = 20;
constexpr uint32_t kSectionHeaderSize = 40;

// Bytes of the file at a location, or false when any of them lies outside
// it or cannot be read.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual bool Read(uint64_t offset, std::span<uint8_t> out) = 0;
  virtual uint64_t Size() const = 0;
};

class SpanSource : public ByteSource {
 public:
  explicit SpanSource(std::span<const uint8_t> view) : view_(view) {}
  bool Read(uint64_t offset, std::span<uint8_t> out) override {
    if (offset > view_.size() || view_.size() - offset < out.size()) return false;
    std::memcpy(out.data(), view_.data() + offset, out.size());
    return true;
  }
  uint64_t Size() const override { return view_.size(); }

 private:
  std::span<const uint8_t> view_;
};

// Reads the file in blocks, each block at most once while the cache holds
// it. Positioned reads instead of a mapping: a file cut short or replaced
// while it is scanned, or an I/O error, ends the scan with false where a
// mapping would raise SIGBUS.
class FileSource : public ByteSource {
 public:
  explicit FileSource(const HostFile& file) : file_(file), size_(file.Size()) {}
  bool Read(uint64_t offset, std::span<uint8_t> out) override {
    if (offset > size_ || size_ - offset < out.size()) return false;
    size_t done = 0;
    while (done < out.size()) {
      const uint64_t at = offset + done;
      const uint8_t* block = Block(at / kBlock);
      if (!block) return false;
      const size_t inBlock = static_cast<size_t>(at % kBlock);
      const size_t n = std::min(out.size() - done, kBlock - inBlock);
      std::memcpy(out.data() + done, block + inBlock, n);
      done += n;
    }
    return true;
  }
  uint64_t Size() const override { return size_; }

 private:
  static constexpr size_t kBlock = 4096;
  static constexpr size_t kMaxCached = 2048;  // 8 MB

  const uint8_t* Block(uint64_t index) {
    const auto it = blocks_.find(index);
    if (it != blocks_.end()) return it->second.get();
    if (blocks_.size() >= kMaxCached) blocks_.clear();
    const uint64_t start = index * kBlock;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kBlock, size_ - start));
    auto data = std::make_unique<uint8_t[]>(kBlock);
    if (!file_.ReadAt(start, std::span<uint8_t>(data.get(), n))) return nullptr;
    return blocks_.emplace(index, std::move(data)).first->second.get();
  }

  const HostFile& file_;
  uint64_t size_;
  std::unordered_map<uint64_t, std::unique_ptr<uint8_t[]>> blocks_;
};

bool ReadU16(ByteSource& src, uint64_t offset, uint16_t& value) {
  uint8_t b[2];
  if (!src.Read(offset, b)) return false;
  value = static_cast<uint16_t>(b[0] | (b[1] << 8));
  return true;
}

bool ReadU32(ByteSource& src, uint64_t offset, uint32_t& value) {
  uint8_t b[4];
  if (!src.Read(offset, b)) return false;
  value = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
          (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
  return true;
}

// The NUL-terminated module name at offset; false when no NUL ends it within
// kMaxModuleName bytes or before the end of the file.
bool ReadModuleName(ByteSource& src, uint64_t offset, std::string& text) {
  if (offset >= src.Size()) return false;
  uint8_t buf[kMaxModuleName];
  const size_t n = static_cast<size_t>(std::min<uint64_t>(kMaxModuleName, src.Size() - offset));
  if (!src.Read(offset, std::span<uint8_t>(buf, n))) return false;
  const void* nul = std::memchr(buf, 0, n);
  if (!nul) return false;
  text.assign(reinterpret_cast<const char*>(buf), static_cast<const uint8_t*>(nul) - buf);
  return true;
}

std::optional<TSectionHeader> FindSection(uint32_t rva, ByteSource& src, uint32_t ntHeaders) {
  uint16_t count = 0, optionalSize = 0;
  if (!ReadU16(src, uint64_t{ntHeaders} + 6, count) ||
      !ReadU16(src, uint64_t{ntHeaders} + 20, optionalSize))
    return std::nullopt;
  const uint64_t table = uint64_t{ntHeaders} + 24 + optionalSize;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = table + uint64_t{i} * kSectionHeaderSize;
    TSectionHeader s;
    if (!ReadU32(src, at + 8, s.virtualSize) || !ReadU32(src, at + 12, s.virtualAddress) ||
        !ReadU32(src, at + 20, s.pointerToRawData))
      return std::nullopt;
    if (s.virtualAddress <= rva && uint64_t{rva} < uint64_t{s.virtualAddress} + s.virtualSize)
      return s;
  }
  return std::nullopt;
}

bool ScanImports(ByteSource& src, std::vector<std::string>& names) {
  uint32_t nt = 0, signature = 0, importRva = 0;
  if (!ReadU32(src, 60, nt) || !ReadU32(src, nt, signature) || signature != kPeSignature)
    return false;
  if (!ReadU32(src, uint64_t{nt} + 128, importRva) || importRva == 0) return false;
  const auto section = FindSection(importRva, src, nt);
  if (!section) return false;
  // File offsets are RVA - Delta in 32-bit arithmetic, as the loader's own
  // RVA-to-offset translation wraps.
  const uint32_t delta = section->virtualAddress - section->pointerToRawData;
  const uint64_t first = static_cast<uint32_t>(importRva - delta);

  // The duplicate test covers the whole list, entries held before the scan
  // included; a set of upper-cased names keeps it linear for huge tables.
  std::unordered_set<std::string> held;
  for (const std::string& n : names) held.insert(AsciiUpper(n));
  // The distinct names of this file, to bound what a damaged table costs.
  std::unordered_set<std::string> imported;
  for (uint64_t at = first;; at += kDescriptorSize) {
    uint32_t timeDateStamp = 0, nameRva = 0;
    if (!ReadU32(src, at + 4, timeDateStamp) || !ReadU32(src, at + 12, nameRva)) return false;
    if (timeDateStamp == 0 && nameRva == 0) return true;
    std::string raw;
    if (!ReadModuleName(src, static_cast<uint32_t>(nameRva - delta), raw)) return false;
    // The name is 8-bit text in the system code page; decoded before the
    // ASCII case rule, which would change the second byte of a double-byte
    // character (Shift-JIS ヂ 83 61 would become ア 83 41).
    std::string name = AnsiToUtf8(raw);
    std::string upper = AsciiUpper(name);
    if (imported.size() < kMaxImportedModules + 1) imported.insert(upper);
    if (imported.size() > kMaxImportedModules) return false;
    if (held.insert(std::move(upper)).second) names.push_back(std::move(name));
  }
}

}  // namespace

std::optional<TSectionHeader> FindSectionForRva(uint32_t rva, std::span<const uint8_t> view,
                                                uint32_t ntHeaders) {
  SpanSource src(view);
  return FindSection(rva, src, ntHeaders);
}

bool ScanImportDirectory(std::span<const uint8_t> view, std::vector<std::string>& names) {
  SpanSource src(view);
  return ScanImports(src, names);
}

bool ReadStaticImports(const std::string& fileName, std::vector<std::string>& names) {
  if (!FileExists(fileName)) return false;
  try {
    const auto host = Sys().ToHost(fileName);
    if (!host) return false;
    const HostFile file(*host);
    if (!file.IsOpen()) return false;
    FileSource src(file);
    uint16_t mz = 0;
    if (!ReadU16(src, 0, mz) || mz != 0x5A4D) return false;
    return ScanImports(src, names);
  } catch (...) {
    return false;
  }
}

}  // namespace kx
