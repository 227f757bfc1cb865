#pragma once
// The static import scanner: the names of the modules that a 32-bit PE
// file's import directory lists, read from the file on disk without loading
// it. Nothing here shows a message, writes a log line or raises: every
// failure is the result false.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kx {

// One section header as it lies in the file.
struct TSectionHeader {
  uint32_t virtualSize = 0;
  uint32_t virtualAddress = 0;
  uint32_t pointerToRawData = 0;
};

// A module name must end with its NUL within this many bytes, and a file
// may import at most kMaxImportedModules distinct modules; beyond either
// bound the file counts as damaged.
inline constexpr size_t kMaxModuleName = 260;
inline constexpr size_t kMaxImportedModules = 1024;

// Reads the file (a Windows file name, full or relative; regular files
// only) and appends the names its import directory lists: as stored (letter case
// kept), in descriptor order, each once; a name equal to an entry the list
// already holds (ASCII case ignored), also one held before the call, is not
// appended. true when the import directory was walked to its terminating
// descriptor; false for a missing file, a folder, an empty or unmappable
// file, no "MZ", no "PE" signature, no import directory, an import
// directory outside every section, any location outside the file, a name
// without its NUL within kMaxModuleName bytes, more than
// kMaxImportedModules distinct names, or a file that shrinks or fails to
// read during the scan. Only the header, descriptor and name bytes are
// read. On false names may already hold some of the file's names.
bool ReadStaticImports(const std::string& fileName, std::vector<std::string>& names);

// The walk over an image whose bytes (the whole file) are view: the NT
// headers at the offset stored at 60, the import directory RVA at NT
// headers + 128, its section, then the descriptors up to the first one
// whose Name and TimeDateStamp are both 0. Every name is translated with
// the import directory section's delta. Does not check "MZ".
bool ScanImportDirectory(std::span<const uint8_t> view, std::vector<std::string>& names);

// The first of the NumberOfSections headers (at NT headers + 24 +
// SizeOfOptionalHeader) with VirtualAddress <= rva < VirtualAddress +
// VirtualSize; none when no header matches or a header lies outside view.
std::optional<TSectionHeader> FindSectionForRva(uint32_t rva, std::span<const uint8_t> view,
                                                uint32_t ntHeaders);

}  // namespace kx
