#include "dcp/DCPMan.h"

#include <algorithm>
#include <cstring>

#include "platform/codepage.h"
#include "platform/strutil.h"
#include "platform/system.h"
#include "source/Version.h"

namespace kx {
namespace {

uint32_t U32At(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

std::string DCPDamagedMessage(std::string_view fileName) {
  if (fileName.empty()) return "The file is damaged or is not a compiled package file.";
  return "File " + std::string(fileName) + " is damaged or is not a compiled package file.";
}

bool AnsiSameText(std::string_view a, std::string_view b) { return SameFileName(a, b); }

// ---- TDCPStream ----

TDCPStream TDCPStream::OpenFile(std::string_view windowsFileName) {
  TDCPStream s;
  s.name_ = std::string(windowsFileName);
  auto host = Sys().ToHost(windowsFileName);
  std::error_code ec;
  if (host && std::filesystem::is_regular_file(*host, ec)) {
    auto f = std::make_unique<std::ifstream>(*host, std::ios::binary);
    if (f->is_open()) {
      f->seekg(0, std::ios::end);
      std::streamoff end = f->tellg();
      if (end >= 0) {
        f->seekg(0);
        s.size_ = uint64_t(end);
        s.file_ = std::move(f);
        return s;
      }
    }
  }
  throw EFOpenError("Cannot open file " + std::string(windowsFileName));
}

TDCPStream TDCPStream::FromBytes(std::vector<uint8_t> bytes, std::string name) {
  TDCPStream s;
  s.name_ = std::move(name);
  s.size_ = bytes.size();
  s.bytes_ = std::move(bytes);
  return s;
}

TDCPStream::TDCPStream(TDCPStream&&) noexcept = default;
TDCPStream& TDCPStream::operator=(TDCPStream&&) noexcept = default;
TDCPStream::~TDCPStream() = default;

void TDCPStream::Damaged() const { throw EDCPDamaged(DCPDamagedMessage(name_)); }

void TDCPStream::ReadBuffer(void* buffer, size_t n) {
  if (pos_ > size_ || n > size_ - pos_) Damaged();
  if (n == 0) return;
  if (file_) {
    file_->clear();
    file_->seekg(std::streamoff(pos_));
    file_->read(static_cast<char*>(buffer), std::streamsize(n));
    if (size_t(file_->gcount()) != n) Damaged();
  } else {
    std::memcpy(buffer, bytes_.data() + pos_, n);
  }
  pos_ += n;
}

uint8_t TDCPStream::ReadByte() {
  uint8_t b = 0;
  ReadBuffer(&b, 1);
  return b;
}

uint32_t TDCPStream::ReadU32() {
  uint8_t b[4];
  ReadBuffer(b, 4);
  return U32At(b);
}

std::string TDCPStream::ReadZString() {
  std::string name;
  uint64_t start = pos_;
  char chunk[256];
  for (;;) {
    if (pos_ >= size_) {
      pos_ = start;
      Damaged();
    }
    size_t n = size_t(std::min<uint64_t>(sizeof chunk, size_ - pos_));
    ReadBuffer(chunk, n);
    const void* zero = std::memchr(chunk, 0, n);
    if (zero) {
      size_t len = size_t(static_cast<const char*>(zero) - chunk);
      name.append(chunk, len);
      pos_ -= n - len - 1;  // just past the zero byte
      return name;
    }
    name.append(chunk, n);
  }
}

std::string TDCPStream::ReadCountedString(size_t n) {
  std::string name;
  if (n == 0) return name;
  uint64_t start = pos_;
  if (pos_ >= size_) Damaged();
  size_t avail = size_t(std::min<uint64_t>(n, size_ - pos_));
  name.resize(avail);
  ReadBuffer(name.data(), avail);
  size_t zero = name.find('\0');
  if (zero != std::string::npos) {
    name.resize(zero);
    pos_ = start + zero + 1;
    return name;
  }
  if (avail < n) {  // ends before the count and without a zero byte
    pos_ = start;
    Damaged();
  }
  return name;
}

// ---- records ----

uint32_t TDCPHeader::UnitTableSize() const { return U32At(Raw + 12); }
uint32_t TDCPHeader::UnitTableOffset() const { return U32At(Raw + 16); }
uint32_t TDCPHeader::DCPImageBase() const { return U32At(Raw + 20); }

// ---- reading ----

uint32_t ReadDCPHeader(TDCPStream& s, TDCPHeader& header, std::vector<std::string>& requiresNames) {
  s.ReadBuffer(header.Raw, sizeof header.Raw);
  uint32_t tableOffset = header.UnitTableOffset();
  // The names end at the table; a table beyond the file cannot be reached.
  if (tableOffset > s.Size()) s.Damaged();
  uint64_t p = 32;
  s.Seek(p);
  // Each name takes at least one byte, so the loop ends at the table offset
  // or at the end of the file, whichever comes first.
  while (p < tableOffset) {
    const std::string name = s.ReadZString();
    requiresNames.push_back(AnsiToUtf8(name));
    p += name.size() + 1;
    s.Seek(p);
  }
  return tableOffset;
}

namespace {

// The fixed 20 bytes of a unit table entry.
void ReadEntryFields(TDCPStream& s, TDCUEntry& entry) {
  uint8_t raw[20];
  s.ReadBuffer(raw, sizeof raw);
  entry.DCUOffset = U32At(raw);
  entry.Reserved1 = U32At(raw + 4);
  entry.CodeOffset = U32At(raw + 8);
  entry.DataOffset = U32At(raw + 12);
  entry.Reserved2 = U32At(raw + 16);
}

// Steps 1, 3 and 4 shared by both variants; onEntry sees each table entry
// with its name and the position right after it.
template <class OnEntry>
void ReadDCP(TDCPStream& s, TDCPHeader& header, std::vector<std::string>& resources,
             std::vector<std::string>& requiresNames, OnEntry onEntry) {
  s.Seek(0);
  uint64_t p = ReadDCPHeader(s, header, requiresNames);
  const uint64_t tableEnd = uint64_t(header.UnitTableSize()) + p;
  // Every entry lies inside the file, so a table longer than the bytes that
  // remain is damaged before any entry is read.
  if (tableEnd > s.Size()) s.Damaged();
  s.Seek(p);
  bool any = false;
  TDCUEntry last;
  // Every entry is at least 21 bytes long and must lie inside the file, so
  // the loop ends at the table's end or at the end of the file.
  while (p < tableEnd) {
    TDCUEntry a;
    std::string name;
    p += ReadDCUEntry(s, a, name);
    s.Seek(p);
    onEntry(a, name, p);
    s.Seek(p);
    last = a;
    any = true;
  }
  // A table without entries has no package unit and so no resource list.
  if (!any) return;

  uint64_t r = last.DCUOffset;
  s.Seek(r);
  TPackageUnitBlock block;
  std::string unitName;
  r += ReadPackageUnitHeader(s, block, unitName);
  s.Seek(r);
  // Each entry is at least 7 bytes long and must lie inside the file.
  for (;;) {
    uint32_t length = 0, marker = 0;
    std::string name;
    ReadResourceEntry(s, length, marker, name);
    if (marker == kResourceListEnd) break;
    resources.push_back(name);
    r += length;
    s.Seek(r);
  }
}

}  // namespace

uint32_t ReadDCUEntry(TDCPStream& s, TDCUEntry& entry, std::string& name) {
  uint64_t start = s.Position();
  ReadEntryFields(s, entry);
  const std::string raw = s.ReadZString();
  s.Seek(start + 20 + raw.size() + 1);
  name = AnsiToUtf8(raw);
  return uint32_t(raw.size() + 21);
}

uint32_t ReadPackageUnitHeader(TDCPStream& s, TPackageUnitBlock& block, std::string& name) {
  s.ReadBuffer(block.Raw, sizeof block.Raw);
  name = AnsiToUtf8(s.ReadCountedString(block.NameLength()));
  return uint32_t(block.NameLength()) + 27;
}

void ReadResourceEntry(TDCPStream& s, uint32_t& entryLength, uint32_t& marker, std::string& name) {
  uint64_t start = s.Position();
  uint8_t n = s.ReadByte();
  name = AnsiToUtf8(s.ReadCountedString(n));
  // The marker's place never depends on where the name stopped.
  s.Seek(start + 1 + n);
  marker = s.ReadU32();
  entryLength = uint32_t(n) + 7;
}

void ReadDCPContents(TDCPStream& s, std::string_view packageName, TDCPHeader& header,
                     TDCUInfoList& units, std::vector<std::string>& resources,
                     std::vector<std::string>& requiresNames) {
  TDCPHeader h;
  TDCUInfoList found;
  std::vector<std::string> res, req;
  ReadDCP(s, h, res, req, [&](const TDCUEntry& a, const std::string& name, uint64_t next) {
    // The entry that follows, or the bytes after the table for the last one;
    // only its offsets are used.
    TDCUEntry b;
    s.Seek(next);
    ReadEntryFields(s, b);
    TMyDCUInfo info;
    info.Name = name;
    info.DCUOffset = a.DCUOffset;
    info.CodeOffset = a.CodeOffset;
    info.DataOffset = a.DataOffset;
    if (!AnsiSameText(name, packageName)) {
      info.DCUSize = int32_t(b.DCUOffset - a.DCUOffset);
      info.CodeSize = int32_t(b.CodeOffset - a.CodeOffset);
      info.DataSize = int32_t(b.DataOffset - a.DataOffset);
    }
    found.push_back(std::move(info));
  });
  // Nothing is handed back from a damaged file.
  header = h;
  units.insert(units.end(), found.begin(), found.end());
  resources.insert(resources.end(), res.begin(), res.end());
  requiresNames.insert(requiresNames.end(), req.begin(), req.end());
}

void ReadDCPForDPK(TDCPStream& s, std::string_view packageName, TDCPHeader& header,
                   std::vector<std::string>& contains, std::vector<std::string>& resources,
                   std::vector<std::string>& requiresNames) {
  TDCPHeader h;
  std::vector<std::string> con, res, req;
  ReadDCP(s, h, res, req, [&](const TDCUEntry&, const std::string& name, uint64_t) {
    if (!SameText(name, packageName)) con.push_back(name);
  });
  header = h;
  contains.insert(contains.end(), con.begin(), con.end());
  resources.insert(resources.end(), res.begin(), res.end());
  requiresNames.insert(requiresNames.end(), req.begin(), req.end());
}

void ReadDCPForDPK(std::string_view dcpFileName, TDCPHeader& header,
                   std::vector<std::string>& contains, std::vector<std::string>& resources,
                   std::vector<std::string>& requiresNames) {
  TDCPStream s = TDCPStream::OpenFile(dcpFileName);
  ReadDCPForDPK(s, FileBaseName(dcpFileName), header, contains, resources, requiresNames);
}

}  // namespace kx
