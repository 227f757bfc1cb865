#include "platform/files.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/activity_log.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/strutil.h"
#include "platform/system.h"

namespace kx {
namespace fs = std::filesystem;

namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochDelta = 11644473600LL;
constexpr uint64_t kTicksPerSecond = 10000000ULL;

FileTime ToFileTime(int64_t sec, uint32_t nsec) {
  if (sec < -kEpochDelta) return 0;
  return static_cast<uint64_t>(sec + kEpochDelta) * kTicksPerSecond + nsec / 100;
}

// statx of dirfd + path (an empty path with AT_EMPTY_PATH: the open file dirfd).
std::optional<FileInformation> StatInformation(int dirfd, const char* path, int flags,
                                               const std::string& name) {
  struct statx sx {};
  if (statx(dirfd, path, flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return std::nullopt;
  FileInformation info;
  const bool dir = S_ISDIR(sx.stx_mode);
  if (dir) {
    info.attributes |= FILE_ATTRIBUTE_DIRECTORY;
  } else {
    info.attributes |= FILE_ATTRIBUTE_ARCHIVE;
    info.size = sx.stx_size;
  }
  // As Wine shows them: no write permission for anyone means read-only, and
  // a name starting with '.' is hidden.
  if ((sx.stx_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
    info.attributes |= FILE_ATTRIBUTE_READONLY;
  if (!name.empty() && name[0] == '.' && name != "." && name != "..")
    info.attributes |= FILE_ATTRIBUTE_HIDDEN;
  if (info.attributes == 0) info.attributes = FILE_ATTRIBUTE_NORMAL;
  const auto& birth = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime;
  info.creationTime = ToFileTime(birth.tv_sec, birth.tv_nsec);
  info.lastAccessTime = ToFileTime(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
  info.lastWriteTime = ToFileTime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
  info.numberOfLinks = sx.stx_nlink;
  return info;
}

std::optional<FileInformation> HostInformation(const fs::path& host, const std::string& name) {
  return StatInformation(AT_FDCWD, host.c_str(), 0, name);
}

// Splits a pattern into its folder (with the trailing '\') and last component.
void SplitPattern(const std::string& full, std::string& folder, std::string& mask) {
  folder = ExtractFilePath(full);
  mask = ExtractFileName(full);
  // A plain name loses its trailing blanks and dots, as every part of a path
  // does on its way to the disk; in a mask with wildcards they keep their
  // meaning ("*." is a name without an extension).
  if (mask.find_first_of("*?") == std::string::npos) {
    while (!mask.empty() && (mask.back() == ' ' || mask.back() == '.')) mask.pop_back();
  }
}

// Days since 1970-01-01 for a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

bool IsLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(unsigned y, unsigned m) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

bool FileExists(std::string_view windowsPath) {
  const auto host = Sys().ToHost(windowsPath);
  if (!host) return false;
  // Only a regular file is a file here: a FIFO, device or socket would
  // block or act when a caller opens it.
  std::error_code ec;
  const auto st = fs::status(*host, ec);
  return !ec && fs::is_regular_file(st);
}

bool DirectoryExists(std::string_view windowsPath) {
  const auto host = Sys().ToHost(windowsPath);
  if (!host) return false;
  std::error_code ec;
  return fs::is_directory(*host, ec);
}

std::optional<FileInformation> GetFileInformation(std::string_view windowsPath) {
  const auto host = Sys().ToHost(windowsPath);
  if (!host) return std::nullopt;
  return HostInformation(*host, host->filename().string());
}

std::optional<FileInformation> GetOpenedFileInformation(std::string_view windowsPath) {
  const auto host = Sys().ToHost(windowsPath);
  if (!host) return std::nullopt;
  return GetOpenedHostFileInformation(*host);
}

std::optional<FileInformation> GetOpenedHostFileInformation(const fs::path& hostPath) {
  // Non-blocking: a named pipe that happens to match must not stall the
  // caller. Nothing is read, so the flag changes nothing for a plain file.
  const int fd = open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  auto info = StatInformation(fd, "", AT_EMPTY_PATH, hostPath.filename().string());
  close(fd);
  return info;
}

namespace {

// The mask rules on names of one character type: bytes for ASCII names (the
// common case), upper-cased code points otherwise, so that '?' takes one
// whole character and letters compare ignoring case.
template <typename Char, typename Upper>
bool MatchesMaskOf(std::basic_string_view<Char> name, std::basic_string_view<Char> mask,
                   Upper upper) {
  using View = std::basic_string_view<Char>;
  const size_t n = name.size();
  const size_t m = mask.size();
  const size_t lastDot = name.rfind(Char('.'));
  const auto isWild = [](Char c) { return c == Char('*') || c == Char('?'); };
  bool wild = false;
  for (Char c : mask) wild = wild || isWild(c);
  // A mask without wildcards (a file looked up by name) is the name itself
  // unless it ends in '.', which also matches the end of a name.
  if (!wild && (m == 0 || mask[m - 1] != Char('.'))) {
    if (n != m) return false;
    for (size_t k = 0; k < n; ++k) {
      if (upper(name[k]) != upper(mask[k])) return false;
    }
    return true;
  }
  // "*.ext" with a plain extension, the mask of nearly every search: the
  // rules below reduce it to the text after the name's last '.'.
  if (m >= 3 && mask[0] == Char('*') && mask[1] == Char('.')) {
    bool plain = true;
    for (size_t k = 2; k < m; ++k) plain = plain && !isWild(mask[k]) && mask[k] != Char('.');
    if (plain) {
      if (lastDot == View::npos || n - lastDot - 1 != m - 2) return false;
      for (size_t k = 0; k + 2 < m; ++k) {
        if (upper(name[lastDot + 1 + k]) != upper(mask[2 + k])) return false;
      }
      return true;
    }
  }
  // next[j]: mask from i + 1 matches name from j; cur[j]: mask from i. Two
  // rows kept between calls: a folder search matches every name it lists.
  thread_local std::vector<char> next, cur;
  next.assign(n + 1, 0);
  cur.assign(n + 1, 0);
  next[n] = 1;
  for (size_t i = m; i-- > 0;) {
    const Char c = mask[i];
    for (size_t j = n + 1; j-- > 0;) {
      bool ok = false;
      if (c == Char('*')) {
        // A '*' before a '.' does not run past the name's last '.'.
        const bool dosStar = i + 1 < m && mask[i + 1] == Char('.');
        ok = next[j] || (j < n && !(dosStar && j == lastDot) && cur[j + 1]);
      } else if (c == Char('?')) {
        if (j < n && name[j] != Char('.')) {
          ok = next[j + 1];
        } else {
          ok = next[j];
        }
      } else if (c == Char('.')) {
        const bool dosDot = i + 1 == m || mask[i + 1] == Char('*') || mask[i + 1] == Char('?');
        ok = (j < n && name[j] == Char('.') && next[j + 1]) || (dosDot && j == n && next[j]);
      } else {
        ok = j < n && upper(name[j]) == upper(c) && next[j + 1];
      }
      cur[j] = ok;
    }
    next.swap(cur);
  }
  return next[0];
}

bool IsAsciiText(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::u32string FoldedCodePoints(std::string_view utf8) {
  std::u32string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) out += UpperCaseLetter(NextCodePoint(utf8, i));
  return out;
}

}  // namespace

bool MatchesMask(std::string_view name, std::string_view mask) {
  // Wildcards with the FindFirstFile meaning: '*' any run; '?' one character
  // other than '.', or nothing at a '.' or at the end of the name; a '.'
  // followed by a wildcard or ending the mask also matches the end of the
  // name ("*.*" matches "README", "VCL30.*" matches "VCL30", "*." matches
  // names without an extension).
  if (IsAsciiText(name) && IsAsciiText(mask)) {
    return MatchesMaskOf<char>(name, mask, [](char c) {
      return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c;
    });
  }
  const std::u32string n = FoldedCodePoints(name), m = FoldedCodePoints(mask);
  return MatchesMaskOf<char32_t>(n, m, [](char32_t c) { return c; });
}

std::vector<FindData> FindFiles(std::string_view windowsPattern) {
  std::vector<FindData> out;
  std::string folder, mask;
  SplitPattern(Sys().ExpandFileName(windowsPattern), folder, mask);
  if (mask.empty()) return out;
  const auto hostDir = Sys().ToHost(folder);
  if (!hostDir) return out;
  std::error_code ec;
  if (!fs::is_directory(*hostDir, ec)) return out;

  fs::directory_iterator it(*hostDir, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const std::string hostName = it->path().filename().string();
    // A host name that is not UTF-8 has no Windows form.
    if (!IsValidUtf8(hostName)) continue;
    const std::string& name = hostName;
    if (!MatchesMask(name, mask)) continue;
    if (auto info = HostInformation(it->path(), hostName)) out.push_back({name, *info});
  }
  std::sort(out.begin(), out.end(), [](const FindData& a, const FindData& b) {
    const int c = CompareText(a.name, b.name);
    return c != 0 ? c < 0 : a.name < b.name;
  });
  // A folder other than a drive root lists "." and ".." first, as Windows does.
  if (folder.size() > 3) {
    std::vector<FindData> dots;
    for (const char* dot : {".", ".."}) {
      if (!MatchesMask(dot, mask)) continue;
      const fs::path p = std::string_view(dot) == "." ? *hostDir : hostDir->parent_path();
      if (auto info = HostInformation(p, dot)) dots.push_back({dot, *info});
    }
    out.insert(out.begin(), dots.begin(), dots.end());
  }
  return out;
}

std::optional<FindData> FindFirstFile(std::string_view windowsPattern) {
  std::vector<FindData> all = FindFiles(windowsPattern);
  if (all.empty()) return std::nullopt;
  return std::move(all.front());
}

std::optional<std::vector<uint8_t>> ReadFileBytes(std::string_view windowsPath) {
  const auto host = Sys().ToHost(windowsPath);
  if (!host) return std::nullopt;
  // Regular files only: opening a FIFO would wait for a writer.
  std::error_code ec;
  if (!fs::is_regular_file(*host, ec)) return std::nullopt;
  std::ifstream in(*host, std::ios::binary);
  if (!in) return std::nullopt;
  // One read of the whole file: packages run to megabytes.
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0) return std::nullopt;
  in.seekg(0, std::ios::beg);
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) return std::nullopt;
  return bytes;
}

std::string AnsiFileText(std::string_view windowsPath, std::string_view text) {
  std::string lost;
  std::string bytes = Utf8ToAnsi(text, &lost);
  if (!lost.empty()) {
    const std::string message = LostCharactersMessage(windowsPath, lost);
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
    LogLine(message);
  }
  return bytes;
}

void WriteAnsiTextFile(std::string_view windowsPath, std::string_view text) {
  WriteFileBytes(windowsPath, AnsiFileText(windowsPath, text));
}

void WriteFileBytes(std::string_view windowsPath, std::string_view bytes) {
  const std::string error = "Cannot create file " + std::string(windowsPath);
  auto host = Sys().ToHost(windowsPath);
  if (!host || host->filename().empty()) throw EFOpenError(error);
  std::error_code ec;
  // Replacing a symbolic link replaces the file it points to, not the link.
  if (fs::is_symlink(fs::symlink_status(*host, ec))) {
    const fs::path target = fs::weakly_canonical(*host, ec);
    if (ec) throw EFOpenError(error);
    host = target;
  }
  const auto existing = fs::status(*host, ec);
  if (fs::is_directory(existing)) throw EFOpenError(error);

  std::string temp =
      (host->parent_path() / ("." + host->filename().string() + ".kx-XXXXXX")).string();
  const int fd = mkstemp(temp.data());
  if (fd < 0) throw EFOpenError(error);
  bool ok = true;
  size_t done = 0;
  while (ok && done < bytes.size()) {
    const ssize_t w = write(fd, bytes.data() + done, bytes.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      ok = false;
    } else {
      done += static_cast<size_t>(w);
    }
  }
  // A replaced file keeps its permissions; a new one gets the usual 0666 & ~umask.
  mode_t mode = 0;
  if (fs::exists(existing)) {
    mode = static_cast<mode_t>(existing.permissions()) & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  if (ok && fchmod(fd, mode) != 0) ok = false;
  if (ok && fsync(fd) != 0) ok = false;
  if (close(fd) != 0) ok = false;
  if (ok && rename(temp.c_str(), host->c_str()) != 0) ok = false;
  if (!ok) {
    unlink(temp.c_str());
    throw EFOpenError(error);
  }
}

std::optional<FileTime> FileTimeToLocalFileTime(FileTime utc) {
  // Windows applies the bias in force now (daylight saving included) to any
  // time, not the bias of the date being converted.
  const time_t now = time(nullptr);
  struct tm local {};
  if (localtime_r(&now, &local) == nullptr) return std::nullopt;
  const int64_t bias =
      static_cast<int64_t>(local.tm_gmtoff) * static_cast<int64_t>(kTicksPerSecond);
  if (bias < 0 && utc < static_cast<uint64_t>(-bias)) return std::nullopt;
  const uint64_t result = utc + static_cast<uint64_t>(bias);
  if (bias > 0 && result < utc) return std::nullopt;
  if (result >= 0x8000000000000000ULL) return std::nullopt;
  return result;
}

std::optional<DosDateTime> FileTimeToDosDateTime(FileTime local) {
  const uint64_t seconds = local / kTicksPerSecond;
  const int64_t days = static_cast<int64_t>(seconds / 86400) - kEpochDelta / 86400;
  const uint64_t secOfDay = seconds % 86400;
  int64_t y;
  unsigned m, d;
  CivilFromDays(days, y, m, d);
  if (y < 1980 || y > 2107) return std::nullopt;
  DosDateTime dos;
  dos.date = static_cast<uint16_t>(((y - 1980) << 9) | (m << 5) | d);
  const unsigned hour = static_cast<unsigned>(secOfDay / 3600);
  const unsigned minute = static_cast<unsigned>(secOfDay / 60 % 60);
  const unsigned second = static_cast<unsigned>(secOfDay % 60);
  dos.time = static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
  return dos;
}

double DosDateTimeToDateTime(DosDateTime dos) {
  const unsigned year = 1980 + (dos.date >> 9);
  const unsigned month = (dos.date >> 5) & 15;
  const unsigned day = dos.date & 31;
  const unsigned hour = dos.time >> 11;
  const unsigned minute = (dos.time >> 5) & 63;
  const unsigned second = (dos.time & 31) * 2;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    throw Exception("Invalid argument to date encode");
  if (hour >= 24 || minute >= 60 || second >= 60)
    throw Exception("Invalid argument to time encode");
  const int64_t days = DaysFromCivil(year, month, day) - DaysFromCivil(1899, 12, 30);
  const double ms = (hour * 3600.0 + minute * 60.0 + second) * 1000.0;
  return static_cast<double>(days) + ms / 86400000.0;
}

double FileTimeToDateValue(FileTime utc) {
  const auto local = FileTimeToLocalFileTime(utc);
  if (!local) return 0;
  const auto dos = FileTimeToDosDateTime(*local);
  if (!dos) return 0;
  return DosDateTimeToDateTime(*dos);
}

std::optional<double> FileDateTime(std::string_view windowsPath) {
  const auto info = GetFileInformation(windowsPath);
  if (!info || (info->attributes & FILE_ATTRIBUTE_DIRECTORY)) return std::nullopt;
  const auto local = FileTimeToLocalFileTime(info->lastWriteTime);
  if (!local) return std::nullopt;
  const auto dos = FileTimeToDosDateTime(*local);
  if (!dos) return std::nullopt;
  return DosDateTimeToDateTime(*dos);
}

}  // namespace kx
