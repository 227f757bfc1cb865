#pragma once
// File queries on Windows paths (resolved through Sys()), and the Windows
// time chain file time -> local file time -> DOS date and time -> date value.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// 100-nanosecond intervals since 1601-01-01 UTC.
using FileTime = uint64_t;

constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x01;
constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr uint32_t FILE_ATTRIBUTE_SYSTEM = 0x04;
constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;

struct FileInformation {
  uint32_t attributes = 0;
  FileTime creationTime = 0;  // statx birth time, else the change time
  FileTime lastAccessTime = 0;
  FileTime lastWriteTime = 0;
  uint64_t size = 0;
  uint32_t numberOfLinks = 0;
};

struct FindData {
  std::string name;  // the entry's own name as stored on disk (UTF-8)
  FileInformation info;
};

// A regular file (not a folder, FIFO, device or socket).
bool FileExists(std::string_view windowsPath);
bool DirectoryExists(std::string_view windowsPath);
// Information about a file or folder; nullopt when it cannot be read.
std::optional<FileInformation> GetFileInformation(std::string_view windowsPath);
// Opens the file for reading (others may go on reading, writing and
// deleting it) and reads its information from the open file, as
// CreateFile + GetFileInformationByHandle do. nullopt when it cannot be
// opened (missing, no permission).
std::optional<FileInformation> GetOpenedFileInformation(std::string_view windowsPath);
// The same for a file whose host path is known already (a file search found it).
std::optional<FileInformation> GetOpenedHostFileInformation(const std::filesystem::path& hostPath);
// The first entry matching the last component of the path, which may hold
// the wildcards '*' and '?' (matched ignoring case), with all attributes
// (folders included). nullopt when nothing matches. A relative pattern is
// taken against the current directory.
std::optional<FindData> FindFirstFile(std::string_view windowsPattern);
// All entries matching, sorted by name ignoring case. As on Windows, a
// folder other than a drive root also lists "." and ".." (first) when the
// mask matches them ("*", "*.*"): callers that walk folders skip them.
std::vector<FindData> FindFiles(std::string_view windowsPattern);
// Windows wildcard match ignoring case as the file system does ("*.dpl",
// "VCL??.*"; "*.*" matches every name, "*." names without an extension, a
// '?' before a '.' or at the end may match nothing).
bool MatchesMask(std::string_view name, std::string_view mask);

// Whole file contents; nullopt when it cannot be opened or is no regular file.
std::optional<std::vector<uint8_t>> ReadFileBytes(std::string_view windowsPath);
// Create-or-replace, atomically (temporary file, flush, rename); throws
// EFOpenError "Cannot create file %s" on failure.
void WriteFileBytes(std::string_view windowsPath, std::string_view bytes);
// Text (UTF-8) as a file of the system code page holds it. Each character
// the code page cannot hold becomes '?', and the user is told once which
// characters of which file were lost (stderr and the activity log).
std::string AnsiFileText(std::string_view windowsPath, std::string_view text);
// WriteFileBytes of AnsiFileText.
void WriteAnsiTextFile(std::string_view windowsPath, std::string_view text);

struct DosDateTime {
  uint16_t date = 0;
  uint16_t time = 0;
};

// The local time zone of the host applied as Windows does.
std::optional<FileTime> FileTimeToLocalFileTime(FileTime utc);
// Fails outside 1980..2107.
std::optional<DosDateTime> FileTimeToDosDateTime(FileTime local);
// TDateTime: days since 1899-12-30, fraction = time of day.
double DosDateTimeToDateTime(DosDateTime dos);
// The whole chain; 0 when any step fails.
double FileTimeToDateValue(FileTime utc);
// Last-write time of a file as a date value (Delphi FileAge + FileDateToDateTime);
// nullopt when the file's age cannot be read.
std::optional<double> FileDateTime(std::string_view windowsPath);

}  // namespace kx
