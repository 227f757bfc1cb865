#pragma once
// Reader of compiled package files (.dcp): the required packages, one entry
// per compiled unit with its offsets and sizes, and the resource files the
// package source binds in. The layout is trusted as the compiler writes it,
// but every read is checked against the end of the file: a file that is not a
// compiled package, or that ends before the data it refers to, raises
// EDCPDamaged and yields nothing.
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace kx {

// A compiled package file that ends before the data its offsets point at, or
// that is not a compiled package at all.
class EDCPDamaged : public Exception {
 public:
  using Exception::Exception;
};

// "File %s is damaged or is not a compiled package file." (the stream name; a
// stream without a name gives "The file is damaged or ...").
std::string DCPDamagedMessage(std::string_view fileName);

// A read-only, seekable byte stream over a file or a buffer. Reads past the
// end raise EDCPDamaged with the stream's name.
class TDCPStream {
 public:
  // Opens a Windows path read-only; EFOpenError "Cannot open file %s" when it
  // cannot be opened.
  static TDCPStream OpenFile(std::string_view windowsFileName);
  static TDCPStream FromBytes(std::vector<uint8_t> bytes, std::string name = std::string());

  TDCPStream(TDCPStream&&) noexcept;
  TDCPStream& operator=(TDCPStream&&) noexcept;
  ~TDCPStream();

  const std::string& Name() const { return name_; }
  uint64_t Size() const { return size_; }
  uint64_t Position() const { return pos_; }
  // Any position may be set; reading there fails when it lies past the end.
  void Seek(uint64_t position) { pos_ = position; }
  // Reads exactly n bytes or raises EDCPDamaged (the position is unchanged then).
  void ReadBuffer(void* buffer, size_t n);
  uint8_t ReadByte();
  uint32_t ReadU32();
  // Zero-terminated name: read up to and including its zero byte. A name that
  // reaches the end of the file without a zero raises EDCPDamaged.
  std::string ReadZString();
  // Counted name: stops after n bytes or at a zero byte (consumed), whichever
  // comes first.
  std::string ReadCountedString(size_t n);
  // Raises EDCPDamaged for this stream.
  [[noreturn]] void Damaged() const;

 private:
  TDCPStream() = default;
  std::string name_;
  uint64_t size_ = 0;
  uint64_t pos_ = 0;
  std::vector<uint8_t> bytes_;           // buffer streams
  std::unique_ptr<std::ifstream> file_;  // file streams
};

// The first 36 bytes of the file as one record.
struct TDCPHeader {
  uint8_t Raw[36] = {};
  uint32_t UnitTableSize() const;    // offset 12
  uint32_t UnitTableOffset() const;  // offset 16, also the end of the requires names
  uint32_t DCPImageBase() const;     // offset 20
  uint8_t NeverBuild() const { return Raw[29]; }
};

// One unit table entry (the fixed 20 bytes before the name).
struct TDCUEntry {
  uint32_t DCUOffset = 0;
  uint32_t Reserved1 = 0;
  uint32_t CodeOffset = 0;
  uint32_t DataOffset = 0;
  uint32_t Reserved2 = 0;
};

// The block at the start of the package unit's compiled image.
struct TPackageUnitBlock {
  uint8_t Raw[21] = {};
  uint8_t NameLength() const { return Raw[20]; }
};

// One compiled unit of a compiled package file.
class TMyDCUInfo {
 public:
  std::string Name;
  int32_t DCUSize = 0;   // bytes of the unit's image in the file
  int32_t CodeSize = 0;  // bytes of the unit's code in the package library
  int32_t DataSize = 0;  // bytes of the unit's data in the package library
  uint32_t DCUOffset = 0;
  uint32_t CodeOffset = 0;
  uint32_t DataOffset = 0;
  bool operator==(const TMyDCUInfo&) const = default;
};

using TDCUInfoList = std::vector<TMyDCUInfo>;

// Reads the header at the current position (the start of the file) and
// appends the requires names from offset 32 while the position is below
// UnitTableOffset. Returns UnitTableOffset.
uint32_t ReadDCPHeader(TDCPStream& s, TDCPHeader& header, std::vector<std::string>& requiresNames);
// Reads one unit table entry at the current position. Returns its length,
// name length + 21.
uint32_t ReadDCUEntry(TDCPStream& s, TDCUEntry& entry, std::string& name);
// Reads the package unit's block at the current position and its counted
// name. Returns name length + 27, the distance to the first resource entry.
uint32_t ReadPackageUnitHeader(TDCPStream& s, TPackageUnitBlock& block, std::string& name);
// Reads one resource entry at the current position.
void ReadResourceEntry(TDCPStream& s, uint32_t& entryLength, uint32_t& marker, std::string& name);

inline constexpr uint32_t kResourceListEnd = 0xFFFFFFFF;

// The whole analysis: requiresNames, one TMyDCUInfo per unit table entry with
// sizes from the entry that follows it (the sizes of the unit named like
// packageName are zeroed), and the resource names of the last unit of the
// table. A unit table of length 0 gives no units and no resources.
void ReadDCPContents(TDCPStream& s, std::string_view packageName, TDCPHeader& header,
                     TDCUInfoList& units, std::vector<std::string>& resources,
                     std::vector<std::string>& requiresNames);

// The variant behind a package source: every unit name except the one equal
// to the file base name of the compiled package file (ASCII case folded)
// goes to contains; opens and closes the named file.
void ReadDCPForDPK(std::string_view dcpFileName, TDCPHeader& header,
                   std::vector<std::string>& contains, std::vector<std::string>& resources,
                   std::vector<std::string>& requiresNames);
// The same on an open stream, with the package name given.
void ReadDCPForDPK(TDCPStream& s, std::string_view packageName, TDCPHeader& header,
                   std::vector<std::string>& contains, std::vector<std::string>& resources,
                   std::vector<std::string>& requiresNames);

// Names (UTF-8) compared ignoring the case of every letter, as the system's
// locale compares them.
bool AnsiSameText(std::string_view a, std::string_view b);

}  // namespace kx
