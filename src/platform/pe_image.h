#pragma once
// A bounds-checked view of a PE32 image, either as the file lies on disk or
// as the loader maps it (sections at their RVAs). The view never owns the
// bytes. Every read is checked against the end of the data: a read outside
// throws EReadError, a header that is not a usable PE32 image for the i386
// throws EBadImageFormat (an EReadError), so a damaged file never leads to an
// out-of-bounds read. A PE32+ (64-bit) image is read only when asked for, as
// a data file: its headers differ in size, its tables do not.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace kx {

// The file is not a PE32 image the loader can map (bad signatures, PE32+,
// another machine, inconsistent headers).
class EBadImageFormat : public EReadError {
 public:
  using EReadError::EReadError;
};

constexpr uint16_t IMAGE_FILE_MACHINE_I386 = 0x014C;
constexpr uint16_t IMAGE_FILE_DLL = 0x2000;
constexpr uint16_t IMAGE_NT_OPTIONAL_HDR32_MAGIC = 0x010B;
constexpr uint16_t IMAGE_NT_OPTIONAL_HDR64_MAGIC = 0x020B;

constexpr int IMAGE_DIRECTORY_ENTRY_EXPORT = 0;
constexpr int IMAGE_DIRECTORY_ENTRY_IMPORT = 1;
constexpr int IMAGE_DIRECTORY_ENTRY_RESOURCE = 2;
constexpr int IMAGE_DIRECTORY_ENTRY_BASERELOC = 5;
constexpr int IMAGE_NUMBEROF_DIRECTORY_ENTRIES = 16;

// Offsets inside the NT headers ("PE\0\0" at 0).
constexpr uint32_t kNtFileHeader = 4;
constexpr uint32_t kNtOptionalHeader = 24;
constexpr uint32_t kOptImageBase = 28;           // from the optional header
constexpr uint32_t kOptDataDirectories = 96;     // from the optional header
constexpr uint32_t kPe32OptionalHeaderMin = 96;  // fixed part of a PE32 optional header
constexpr uint32_t kPe32PlusDataDirectories = 112;
constexpr uint32_t kSectionHeaderSize = 40;

struct PeSection {
  std::string name;  // up to 8 bytes, zero padding removed
  uint32_t virtualSize = 0;
  uint32_t virtualAddress = 0;
  uint32_t sizeOfRawData = 0;
  uint32_t pointerToRawData = 0;
  uint32_t characteristics = 0;
};

struct PeDataDirectory {
  uint32_t rva = 0;
  uint32_t size = 0;
  bool Present() const { return rva != 0; }
};

// The fixed fields of the export directory.
struct PeExportDirectory {
  uint32_t rva = 0;  // of the directory itself
  uint32_t size = 0;
  uint32_t nameRva = 0;
  uint32_t ordinalBase = 0;
  uint32_t numberOfFunctions = 0;
  uint32_t numberOfNames = 0;
  uint32_t addressOfFunctions = 0;
  uint32_t addressOfNames = 0;
  uint32_t addressOfNameOrdinals = 0;
};

// One exported routine: one slot of the export address table, with the
// names that point at it.
struct PeExport {
  uint32_t ordinal = 0;  // ordinal base included
  uint32_t rva = 0;
  std::vector<std::string> names;  // empty: exported by ordinal only
  std::string forwarder;           // "DLL.Name" or "DLL.#12" when forwarded
};

struct PeImportThunk {
  bool byOrdinal = false;
  uint16_t ordinal = 0;
  uint16_t hint = 0;
  std::string name;
};

struct PeImportModule {
  std::string dll;  // as written in the descriptor
  uint32_t originalFirstThunk = 0;
  uint32_t firstThunk = 0;
  std::vector<PeImportThunk> thunks;
};

class PeImage {
 public:
  enum class Layout { File, Mapped };
  enum class Accept { Pe32, Pe32OrPe32Plus };

  // Parses and checks the headers. Throws EBadImageFormat when the data is
  // not a PE32 image for the i386 (ERROR_BAD_EXE_FORMAT for the loader), or
  // with Accept::Pe32OrPe32Plus not a PE32 or PE32+ image of any machine.
  // fileSize is the size of the file the data was mapped from (default: the
  // data's size); table counts are bounded by it, so that a small file that
  // claims a huge image cannot make a walk allocate per claimed entry.
  explicit PeImage(std::span<const uint8_t> data, Layout layout = Layout::File,
                   Accept accept = Accept::Pe32, uint64_t fileSize = 0);

  std::span<const uint8_t> Data() const { return data_; }
  Layout GetLayout() const { return layout_; }

  uint32_t NtHeadersOffset() const { return ntHeaders_; }
  uint16_t Machine() const { return machine_; }
  bool IsPe32Plus() const { return pe32Plus_; }
  uint16_t Characteristics() const { return characteristics_; }
  bool IsDll() const { return (characteristics_ & IMAGE_FILE_DLL) != 0; }
  uint32_t TimeDateStamp() const { return timeDateStamp_; }
  uint32_t AddressOfEntryPoint() const { return entryPoint_; }
  // The preferred base (its low 32 bits for a PE32+ image).
  uint32_t ImageBase() const { return imageBase_; }
  uint32_t SectionAlignment() const { return sectionAlignment_; }
  uint32_t FileAlignment() const { return fileAlignment_; }
  uint32_t SizeOfImage() const { return sizeOfImage_; }
  uint32_t SizeOfHeaders() const { return sizeOfHeaders_; }
  uint16_t Subsystem() const { return subsystem_; }
  // Offset just past the section table (headers a loader must copy at least).
  uint32_t HeadersEnd() const { return headersEnd_; }
  const std::vector<PeSection>& Sections() const { return sections_; }
  // Directory entries beyond NumberOfRvaAndSizes read as absent.
  PeDataDirectory Directory(int index) const;

  // The data offset of an RVA range: identity in the mapped layout, through
  // the section table in the file layout. nullopt when [rva, rva+size) is not
  // backed by the data.
  std::optional<uint32_t> RvaToOffset(uint32_t rva, uint32_t size = 1) const;

  // Bounds-checked reads at RVAs (EReadError outside the data).
  uint8_t U8(uint32_t rva) const;
  uint16_t U16(uint32_t rva) const;
  uint32_t U32(uint32_t rva) const;
  std::span<const uint8_t> Bytes(uint32_t rva, uint32_t size) const;
  // Zero-terminated 8-bit text in the system code page, as UTF-8; EReadError
  // when the data ends before the terminator or maxLength bytes pass
  // without one.
  std::string CString(uint32_t rva, size_t maxLength = 65536) const;
  // The same text in place, as its bytes stand, without a copy.
  std::string_view CStringView(uint32_t rva, size_t maxLength = 65536) const;

  // The export directory; nullopt when the image has none. EReadError when
  // the directory or its tables do not lie inside the data.
  std::optional<PeExportDirectory> ExportDirectory() const;
  // Every non-empty slot of the export address table with its names, in
  // ordinal order. EReadError for tables or names outside the data.
  std::vector<PeExport> Exports() const;
  // The import descriptors up to the terminating one (name RVA or first
  // thunk 0) with their thunks. EReadError when a list runs off the data.
  std::vector<PeImportModule> Imports() const;

  // The export address table index of a name, found as the system loader
  // finds it: the name at hint first, then a binary search of the name table
  // (which linkers sort by byte value), then that name's ordinal index. No
  // name is copied. nullopt when the name is absent or its index lies
  // outside the address table. EReadError when a probed entry lies outside.
  std::optional<uint32_t> FindExportIndex(const PeExportDirectory& dir, std::string_view name,
                                          uint32_t hint = 0xFFFFFFFFu) const;
  // The RVA in slot index of the export address table (0: an empty slot).
  uint32_t ExportRva(const PeExportDirectory& dir, uint32_t index) const;

  // A forwarder is an export whose RVA points into the export directory.
  static bool IsForwarderRva(const PeExportDirectory& dir, uint32_t rva) {
    return rva >= dir.rva && rva - dir.rva < dir.size;
  }

 private:
  std::span<const uint8_t> data_;
  Layout layout_;
  uint64_t fileSize_ = 0;
  bool pe32Plus_ = false;
  uint32_t ntHeaders_ = 0;
  uint16_t machine_ = 0;
  uint16_t characteristics_ = 0;
  uint32_t timeDateStamp_ = 0;
  uint32_t entryPoint_ = 0;
  uint32_t imageBase_ = 0;
  uint32_t sectionAlignment_ = 0;
  uint32_t fileAlignment_ = 0;
  uint32_t sizeOfImage_ = 0;
  uint32_t sizeOfHeaders_ = 0;
  uint16_t subsystem_ = 0;
  uint32_t headersEnd_ = 0;
  uint32_t numberOfDirectories_ = 0;
  std::array<PeDataDirectory, IMAGE_NUMBEROF_DIRECTORY_ENTRIES> directories_{};
  std::vector<PeSection> sections_;
};

// Little-endian reads from a span with bounds checks (EReadError).
uint16_t ReadLe16(std::span<const uint8_t> data, uint64_t offset);
uint32_t ReadLe32(std::span<const uint8_t> data, uint64_t offset);

}  // namespace kx
