#include "platform/pe_image.h"

#include <algorithm>
#include <cstring>

#include "platform/codepage.h"

namespace kx {
namespace {

std::string Hex8(uint64_t v) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s(8, '0');
  for (int i = 7; i >= 0; --i, v >>= 4) s[static_cast<size_t>(i)] = kDigits[v & 0xF];
  return s;
}

[[noreturn]] void BadFormat(const std::string& why) {
  throw EBadImageFormat("Not a valid PE32 image: " + why);
}

[[noreturn]] void OutOfImage(uint64_t rva, uint64_t size) {
  throw EReadError("Image read outside the data: RVA $" + Hex8(rva) + ", " + std::to_string(size) +
                   " bytes");
}

// Limits the bytes of names and thunks a table walk may read, so that tables
// whose entries all point at the same long text cannot make a walk quadratic.
class ReadBudget {
 public:
  explicit ReadBudget(size_t dataSize) : left_(2 * static_cast<uint64_t>(dataSize) + (1u << 20)) {}
  void Spend(uint64_t n) {
    if (n > left_) throw EReadError("Image tables refer to more data than the image holds");
    left_ -= n;
  }

 private:
  uint64_t left_;
};

}  // namespace

uint16_t ReadLe16(std::span<const uint8_t> data, uint64_t offset) {
  if (offset > data.size() || data.size() - offset < 2) OutOfImage(offset, 2);
  return static_cast<uint16_t>(data[offset] | (data[offset + 1] << 8));
}

uint32_t ReadLe32(std::span<const uint8_t> data, uint64_t offset) {
  if (offset > data.size() || data.size() - offset < 4) OutOfImage(offset, 4);
  return static_cast<uint32_t>(data[offset]) | (static_cast<uint32_t>(data[offset + 1]) << 8) |
         (static_cast<uint32_t>(data[offset + 2]) << 16) |
         (static_cast<uint32_t>(data[offset + 3]) << 24);
}

PeImage::PeImage(std::span<const uint8_t> data, Layout layout, Accept accept, uint64_t fileSize)
    : data_(data), layout_(layout), fileSize_(fileSize != 0 ? fileSize : data.size()) {
  if (data.size() < 0x40) BadFormat("too short for a DOS header");
  if (data[0] != 'M' || data[1] != 'Z') BadFormat("no MZ signature");
  const uint64_t nt = ReadLe32(data, 0x3C);
  if (nt + kNtOptionalHeader > data.size()) BadFormat("NT headers outside the file");
  if (std::memcmp(data.data() + nt, "PE\0\0", 4) != 0) BadFormat("no PE signature");
  ntHeaders_ = static_cast<uint32_t>(nt);

  const uint64_t fh = nt + kNtFileHeader;
  machine_ = ReadLe16(data, fh);
  const uint16_t numberOfSections = ReadLe16(data, fh + 2);
  timeDateStamp_ = ReadLe32(data, fh + 4);
  const uint16_t sizeOfOptionalHeader = ReadLe16(data, fh + 16);
  characteristics_ = ReadLe16(data, fh + 18);

  const uint64_t opt = nt + kNtOptionalHeader;
  if (sizeOfOptionalHeader < 2 || opt + 2 > data.size()) BadFormat("no optional header");
  const uint16_t magic = ReadLe16(data, opt);
  const bool any = accept == Accept::Pe32OrPe32Plus;
  if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC && !any) BadFormat("a PE32+ (64-bit) image");
  if (magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC && magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
    BadFormat("unknown optional header magic");
  if (machine_ != IMAGE_FILE_MACHINE_I386 && !any) BadFormat("not an i386 image");
  pe32Plus_ = magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
  // The fixed part ends where the data directories start.
  const uint32_t fixed = pe32Plus_ ? kPe32PlusDataDirectories : kOptDataDirectories;
  if (sizeOfOptionalHeader < fixed || opt + fixed > data.size())
    BadFormat("optional header too short");

  entryPoint_ = ReadLe32(data, opt + 16);
  imageBase_ = ReadLe32(data, opt + (pe32Plus_ ? 24 : kOptImageBase));
  sectionAlignment_ = ReadLe32(data, opt + 32);
  fileAlignment_ = ReadLe32(data, opt + 36);
  sizeOfImage_ = ReadLe32(data, opt + 56);
  sizeOfHeaders_ = ReadLe32(data, opt + 60);
  subsystem_ = ReadLe16(data, opt + 68);
  const uint32_t rvaAndSizes = ReadLe32(data, opt + fixed - 4);
  const uint32_t room = (sizeOfOptionalHeader - fixed) / 8;
  numberOfDirectories_ = std::min<uint32_t>(
      {rvaAndSizes, room, static_cast<uint32_t>(IMAGE_NUMBEROF_DIRECTORY_ENTRIES)});
  for (uint32_t i = 0; i < numberOfDirectories_; ++i) {
    const uint64_t at = opt + fixed + 8ull * i;
    directories_[i].rva = ReadLe32(data, at);
    directories_[i].size = ReadLe32(data, at + 4);
  }

  const uint64_t table = opt + sizeOfOptionalHeader;
  const uint64_t end = table + static_cast<uint64_t>(kSectionHeaderSize) * numberOfSections;
  if (end > data.size()) BadFormat("section table outside the file");
  headersEnd_ = static_cast<uint32_t>(end);
  sections_.reserve(numberOfSections);
  for (uint32_t i = 0; i < numberOfSections; ++i) {
    const uint64_t at = table + static_cast<uint64_t>(kSectionHeaderSize) * i;
    PeSection s;
    const char* raw = reinterpret_cast<const char*>(data.data() + at);
    s.name.assign(raw, strnlen(raw, 8));
    s.virtualSize = ReadLe32(data, at + 8);
    s.virtualAddress = ReadLe32(data, at + 12);
    s.sizeOfRawData = ReadLe32(data, at + 16);
    s.pointerToRawData = ReadLe32(data, at + 20);
    s.characteristics = ReadLe32(data, at + 36);
    sections_.push_back(std::move(s));
  }
}

PeDataDirectory PeImage::Directory(int index) const {
  if (index < 0 || static_cast<uint32_t>(index) >= numberOfDirectories_) return {};
  return directories_[static_cast<size_t>(index)];
}

std::optional<uint32_t> PeImage::RvaToOffset(uint32_t rva, uint32_t size) const {
  const uint64_t end = static_cast<uint64_t>(rva) + size;
  if (layout_ == Layout::Mapped) {
    if (end > data_.size()) return std::nullopt;
    return rva;
  }
  for (const PeSection& s : sections_) {
    if (rva < s.virtualAddress) continue;
    const uint64_t delta = rva - s.virtualAddress;
    const uint64_t extent = std::max(s.virtualSize, s.sizeOfRawData);
    if (delta >= extent) continue;
    // Only the raw part has bytes in the file; the rest is zero fill.
    if (delta + size > s.sizeOfRawData) return std::nullopt;
    const uint64_t offset = s.pointerToRawData + delta;
    if (offset + size > data_.size()) return std::nullopt;
    return static_cast<uint32_t>(offset);
  }
  // Outside every section: the headers, mapped as they lie in the file.
  if (end <= std::max(sizeOfHeaders_, headersEnd_) && end <= data_.size()) return rva;
  return std::nullopt;
}

std::span<const uint8_t> PeImage::Bytes(uint32_t rva, uint32_t size) const {
  const auto offset = RvaToOffset(rva, size);
  if (!offset) OutOfImage(rva, size);
  return data_.subspan(*offset, size);
}

uint8_t PeImage::U8(uint32_t rva) const { return Bytes(rva, 1)[0]; }

uint16_t PeImage::U16(uint32_t rva) const { return ReadLe16(Bytes(rva, 2), 0); }

uint32_t PeImage::U32(uint32_t rva) const { return ReadLe32(Bytes(rva, 4), 0); }

std::string PeImage::CString(uint32_t rva, size_t maxLength) const {
  return AnsiToUtf8(CStringView(rva, maxLength));
}

std::string_view PeImage::CStringView(uint32_t rva, size_t maxLength) const {
  const auto offset = RvaToOffset(rva, 1);
  if (!offset) OutOfImage(rva, 1);
  const size_t limit = std::min<size_t>(data_.size() - *offset, maxLength);
  const char* start = reinterpret_cast<const char*>(data_.data() + *offset);
  const void* zero = std::memchr(start, 0, limit);
  if (zero == nullptr) throw EReadError("Unterminated text at RVA $" + Hex8(rva));
  return std::string_view(start, static_cast<size_t>(static_cast<const char*>(zero) - start));
}

std::optional<PeExportDirectory> PeImage::ExportDirectory() const {
  const PeDataDirectory d = Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
  if (!d.Present()) return std::nullopt;
  const auto raw = Bytes(d.rva, 40);
  PeExportDirectory e;
  e.rva = d.rva;
  e.size = d.size;
  e.nameRva = ReadLe32(raw, 12);
  e.ordinalBase = ReadLe32(raw, 16);
  e.numberOfFunctions = ReadLe32(raw, 20);
  e.numberOfNames = ReadLe32(raw, 24);
  e.addressOfFunctions = ReadLe32(raw, 28);
  e.addressOfNames = ReadLe32(raw, 32);
  e.addressOfNameOrdinals = ReadLe32(raw, 36);
  // The tables must lie inside the data, and their entries must fit in the
  // file (four bytes per address, six per name): a count a small file
  // cannot hold is damage, refused before anything is allocated per entry.
  const uint64_t room = std::min<uint64_t>(data_.size(), fileSize_);
  if (e.numberOfFunctions > room / 4 || e.numberOfNames > room / 6)
    throw EReadError("Export directory counts exceed the image");
  Bytes(e.addressOfFunctions, e.numberOfFunctions * 4);
  Bytes(e.addressOfNames, e.numberOfNames * 4);
  Bytes(e.addressOfNameOrdinals, e.numberOfNames * 2);
  return e;
}

std::vector<PeExport> PeImage::Exports() const {
  const auto dir = ExportDirectory();
  if (!dir) return {};
  ReadBudget budget(data_.size());
  const auto functions = Bytes(dir->addressOfFunctions, dir->numberOfFunctions * 4);
  const auto names = Bytes(dir->addressOfNames, dir->numberOfNames * 4);
  const auto ordinals = Bytes(dir->addressOfNameOrdinals, dir->numberOfNames * 2);
  // (slot, name position) for every name the loader can reach, in slot
  // order: the work is bounded by the names, not by the claimed slots.
  std::vector<std::pair<uint32_t, uint32_t>> named;
  named.reserve(dir->numberOfNames);
  for (uint32_t i = 0; i < dir->numberOfNames; ++i) {
    const uint16_t index = ReadLe16(ordinals, 2ull * i);
    if (index < dir->numberOfFunctions) named.emplace_back(index, i);
  }
  std::stable_sort(named.begin(), named.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<PeExport> result;
  auto next = named.begin();
  for (uint32_t i = 0; i < dir->numberOfFunctions; ++i) {
    const uint32_t rva = ReadLe32(functions, 4ull * i);
    if (rva == 0) {
      while (next != named.end() && next->first == i) ++next;
      continue;
    }
    PeExport e;
    e.ordinal = dir->ordinalBase + i;
    e.rva = rva;
    for (; next != named.end() && next->first == i; ++next) {
      std::string name = CString(ReadLe32(names, 4ull * next->second));
      budget.Spend(name.size() + 1);
      e.names.push_back(std::move(name));
    }
    if (IsForwarderRva(*dir, rva)) {
      e.forwarder = CString(rva);
      budget.Spend(e.forwarder.size() + 1);
    }
    result.push_back(std::move(e));
  }
  return result;
}

std::optional<uint32_t> PeImage::FindExportIndex(const PeExportDirectory& dir,
                                                 std::string_view name, uint32_t hint) const {
  auto nameAt = [&](uint32_t i) { return CStringView(U32(dir.addressOfNames + 4 * i)); };
  auto indexOf = [&](uint32_t i) -> std::optional<uint32_t> {
    const uint16_t index = U16(dir.addressOfNameOrdinals + 2 * i);
    if (index >= dir.numberOfFunctions) return std::nullopt;
    return index;
  };
  if (hint < dir.numberOfNames && nameAt(hint) == name) return indexOf(hint);
  uint32_t low = 0;
  uint32_t high = dir.numberOfNames;
  while (low < high) {
    const uint32_t mid = low + (high - low) / 2;
    // Byte-wise comparison, as strcmp compares.
    const int c = nameAt(mid).compare(name);
    if (c == 0) return indexOf(mid);
    if (c < 0)
      low = mid + 1;
    else
      high = mid;
  }
  return std::nullopt;
}

uint32_t PeImage::ExportRva(const PeExportDirectory& dir, uint32_t index) const {
  if (index >= dir.numberOfFunctions) return 0;
  return U32(dir.addressOfFunctions + 4 * index);
}

std::vector<PeImportModule> PeImage::Imports() const {
  const PeDataDirectory d = Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
  std::vector<PeImportModule> result;
  if (!d.Present()) return result;
  ReadBudget budget(data_.size());
  for (uint64_t at = d.rva;; at += 20) {
    if (at > 0xFFFFFFFFull - 20) OutOfImage(at, 20);
    const auto raw = Bytes(static_cast<uint32_t>(at), 20);
    budget.Spend(20);
    PeImportModule m;
    m.originalFirstThunk = ReadLe32(raw, 0);
    const uint32_t nameRva = ReadLe32(raw, 12);
    m.firstThunk = ReadLe32(raw, 16);
    // The system loader ends the list at the first descriptor without a
    // name or without an address table.
    if (nameRva == 0 || m.firstThunk == 0) break;
    m.dll = CString(nameRva);
    budget.Spend(m.dll.size() + 1);
    const uint32_t thunks = m.originalFirstThunk != 0 ? m.originalFirstThunk : m.firstThunk;
    for (uint64_t t = thunks;; t += 4) {
      if (t > 0xFFFFFFFFull - 4) OutOfImage(t, 4);
      const uint32_t value = U32(static_cast<uint32_t>(t));
      budget.Spend(4);
      if (value == 0) break;
      PeImportThunk thunk;
      if (value & 0x80000000u) {
        thunk.byOrdinal = true;
        thunk.ordinal = static_cast<uint16_t>(value & 0xFFFF);
      } else {
        thunk.hint = U16(value);
        if (value > 0xFFFFFFFFu - 2) OutOfImage(value, 3);
        thunk.name = CString(value + 2);
        budget.Spend(thunk.name.size() + 3);
      }
      m.thunks.push_back(std::move(thunk));
    }
    result.push_back(std::move(m));
  }
  return result;
}

}  // namespace kx
