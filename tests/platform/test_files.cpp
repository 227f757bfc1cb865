// File queries on Windows paths: wildcard search, file information, whole-file
// reads and atomic writes, and the file time -> local -> DOS -> date chain.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/host_file.h"
#include "support/test_system.h"

namespace kx {
namespace {
namespace fs = std::filesystem;
using test::TempPrefix;

constexpr FileTime kSecond = 10000000ULL;

// Unix time to FILETIME, computed independently of the code under test.
FileTime UnixToFileTime(int64_t t) { return static_cast<FileTime>(t + 11644473600LL) * kSecond; }

// A fixed host time zone for one scope.
class ScopedTz {
 public:
  explicit ScopedTz(const char* tz) {
    if (const char* old = getenv("TZ")) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTz() {
    if (old_) {
      setenv("TZ", old_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> old_;
};

std::vector<std::string> Names(const std::vector<FindData>& found) {
  std::vector<std::string> names;
  for (const auto& f : found) names.push_back(f.name);
  return names;
}

using Names_t = std::vector<std::string>;

TEST(Files, MaskMatchingFollowsFindFirstFile) {
  EXPECT_TRUE(MatchesMask("VCL30.DPL", "*.dpl"));
  EXPECT_TRUE(MatchesMask("vcl30.dpl", "VCL30.DPL"));
  EXPECT_FALSE(MatchesMask("vcl30.dpl.bak", "*.dpl"));
  EXPECT_TRUE(MatchesMask("a.b.dpl", "*.dpl"));
  EXPECT_TRUE(MatchesMask("VCL30.dpl", "VCL??.*"));
  EXPECT_TRUE(MatchesMask("VCL3.dpl", "VCL??.*"));  // '?' matches nothing before a '.'
  EXPECT_FALSE(MatchesMask("VCL300.dpl", "VCL??.*"));
  EXPECT_TRUE(MatchesMask("README", "*.*"));
  EXPECT_TRUE(MatchesMask("VCL30", "VCL30.*"));
  EXPECT_TRUE(MatchesMask("README", "*."));
  EXPECT_FALSE(MatchesMask("a.txt", "*."));
  EXPECT_TRUE(MatchesMask("abc", "a?c"));
  EXPECT_FALSE(MatchesMask("a.c", "a?c"));  // '?' never matches a '.'
  EXPECT_TRUE(MatchesMask("ab", "ab?"));
  EXPECT_FALSE(MatchesMask("abcd", "ab?"));
  EXPECT_TRUE(MatchesMask("", "*"));
  EXPECT_FALSE(MatchesMask("x", ""));
  EXPECT_TRUE(MatchesMask("caf\u00E9.pas", "CAF\u00C9.PAS"));
  // '?' takes one whole character, however many bytes it has; letters of
  // every script fold.
  EXPECT_TRUE(MatchesMask("\u8868\u793A.dpl", "??.dpl"));
  EXPECT_FALSE(MatchesMask("\u8868\u793A.dpl", "?.dpl"));
  EXPECT_TRUE(MatchesMask("\u043A\u043E\u043C.dpl", "\u041A*.DPL"));
  EXPECT_FALSE(MatchesMask("\u30A2.dpl", "\u30C2.dpl"));
  // Many stars over a long name stay fast (no backtracking blow-up).
  EXPECT_FALSE(MatchesMask(std::string(300, 'a'), "*a*a*a*a*a*a*a*a*a*a*b"));
}

TEST(Files, FindListsMatchesSortedWithDotEntriesInFolders) {
  TempPrefix prefix;
  prefix.WriteText("C:\\pk\\vcl40.dpl", "4");
  prefix.WriteText("C:\\pk\\VCL30.DPL", "3");
  prefix.WriteText("C:\\pk\\Readme", "r");
  prefix.WriteText("C:\\pk\\notes.txt", "n");
  fs::create_directories(prefix.Host("C:\\pk\\Sub.dir"));

  EXPECT_EQ(Names(FindFiles("C:\\PK\\*.dpl")), (Names_t{"VCL30.DPL", "vcl40.dpl"}));
  EXPECT_EQ(Names(FindFiles("c:\\pk\\vcl??.*")), (Names_t{"VCL30.DPL", "vcl40.dpl"}));
  EXPECT_EQ(Names(FindFiles("C:\\pk\\*.*")),
            (Names_t{".", "..", "notes.txt", "Readme", "Sub.dir", "VCL30.DPL", "vcl40.dpl"}));
  EXPECT_EQ(Names(FindFiles("C:\\pk\\*.")), (Names_t{".", "..", "Readme"}));
  EXPECT_EQ(Names(FindFiles("C:\\pk\\README")), (Names_t{"Readme"}));
  EXPECT_TRUE(FindFiles("C:\\pk\\*.dcp").empty());
  EXPECT_TRUE(FindFiles("C:\\nowhere\\*.*").empty());
  EXPECT_TRUE(FindFiles("Q:\\*.*").empty());

  // A drive root has no "." or "..".
  const Names_t root = Names(FindFiles("C:\\*"));
  EXPECT_EQ(std::count(root.begin(), root.end(), "."), 0);
  EXPECT_EQ(std::count(root.begin(), root.end(), "pk"), 1);

  // Relative patterns use the current directory.
  prefix.System().SetCurrentDirectory("C:\\pk");
  const auto first = FindFirstFile("*.dpl");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->name, "VCL30.DPL");
  EXPECT_EQ(first->info.size, 1u);
  const auto dir = FindFirstFile("sub.*");
  ASSERT_TRUE(dir);
  EXPECT_NE(dir->info.attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_FALSE(FindFirstFile("*.zip"));
}

TEST(Files, InformationFromTheHost) {
  TempPrefix prefix;
  const fs::path f = prefix.WriteText("C:\\data\\File.bin", std::string(1234, 'x'));
  const int64_t mtime = 981173106;  // 2001-02-03 04:05:06 UTC
  struct timespec times[2] = {{mtime - 60, 0}, {mtime, 700000000}};
  ASSERT_EQ(utimensat(AT_FDCWD, f.c_str(), times, 0), 0);

  auto info = GetFileInformation("c:\\DATA\\file.BIN");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->size, 1234u);
  EXPECT_EQ(info->attributes, FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(info->numberOfLinks, 1u);
  EXPECT_EQ(info->lastWriteTime, UnixToFileTime(mtime) + 7000000);
  EXPECT_EQ(info->lastAccessTime, UnixToFileTime(mtime - 60));
  // Birth time, or the change time where the file system keeps none: both are "now".
  EXPECT_GT(info->creationTime, UnixToFileTime(time(nullptr) - 3600));

  fs::create_hard_link(f, prefix.Host("C:\\data\\Link.bin"));
  EXPECT_EQ(GetFileInformation("C:\\data\\file.bin")->numberOfLinks, 2u);

  fs::permissions(f, fs::perms::owner_read | fs::perms::group_read);
  EXPECT_EQ(GetFileInformation("C:\\data\\file.bin")->attributes,
            FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);

  prefix.WriteText("C:\\data\\.hidden", "");
  EXPECT_NE(GetFileInformation("C:\\data\\.hidden")->attributes & FILE_ATTRIBUTE_HIDDEN, 0u);

  const auto dir = GetFileInformation("C:\\DATA");
  ASSERT_TRUE(dir);
  EXPECT_EQ(dir->attributes, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(dir->size, 0u);
  EXPECT_FALSE(GetFileInformation("C:\\data\\missing.bin"));

  EXPECT_TRUE(FileExists("C:\\Data\\FILE.bin"));
  EXPECT_FALSE(FileExists("C:\\Data"));
  EXPECT_TRUE(DirectoryExists("C:\\Data"));
  EXPECT_FALSE(DirectoryExists("C:\\Data\\file.bin"));
  EXPECT_FALSE(FileExists("Q:\\x"));
}

TEST(Files, ReadWholeFilesAndReplaceAtomically) {
  TempPrefix prefix;
  const std::string bytes("\x00\xFF\r\nabc\x80", 8);
  WriteFileBytes("C:\\out\\..\\Report.TXT", bytes);  // folder "out" need not exist
  const fs::path host = prefix.Host("C:\\Report.TXT");
  EXPECT_EQ(test::ReadHostFile(host), std::vector<uint8_t>(bytes.begin(), bytes.end()));
  EXPECT_EQ(ReadFileBytes("c:\\report.txt"), std::vector<uint8_t>(bytes.begin(), bytes.end()));

  // Replacing keeps the existing file's name, permissions and nothing of the old text.
  fs::permissions(host, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  WriteFileBytes("C:\\REPORT.txt", "short");
  EXPECT_EQ(test::ReadHostFile(host), (std::vector<uint8_t>{'s', 'h', 'o', 'r', 't'}));
  EXPECT_EQ(fs::status(host).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  WriteFileBytes("C:\\empty.txt", "");
  EXPECT_EQ(ReadFileBytes("C:\\empty.txt"), std::vector<uint8_t>{});
  // No temporary files are left behind.
  std::vector<std::string> entries;
  for (const auto& e : fs::directory_iterator(prefix.Host("C:\\"))) {
    entries.push_back(e.path().filename().string());
  }
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (Names_t{"Report.TXT", "empty.txt", "windows"}));

  // Writing through a symbolic link replaces the linked file and keeps the link.
  fs::create_symlink("Report.TXT", prefix.Host("C:\\link.txt"));
  WriteFileBytes("C:\\LINK.txt", "via");
  EXPECT_TRUE(fs::is_symlink(prefix.Host("C:\\link.txt")));
  EXPECT_EQ(test::ReadHostFile(host), (std::vector<uint8_t>{'v', 'i', 'a'}));

  try {
    WriteFileBytes("C:\\no\\such\\dir\\x.txt", "x");
    FAIL() << "no error for a missing folder";
  } catch (const EFOpenError& e) {
    EXPECT_STREQ(e.what(), "Cannot create file C:\\no\\such\\dir\\x.txt");
  }
  EXPECT_THROW(WriteFileBytes("C:\\windows", "x"), EFOpenError);
  EXPECT_THROW(WriteFileBytes("Q:\\x.txt", "x"), EFOpenError);
  EXPECT_TRUE(fs::is_directory(prefix.Host("C:\\windows")));

  EXPECT_FALSE(ReadFileBytes("C:\\windows"));
  EXPECT_FALSE(ReadFileBytes("C:\\missing.txt"));
}

TEST(FileTimes, LocalTimeUsesTheBiasInForceNow) {
  {
    ScopedTz tz("<+03>-3");
    EXPECT_EQ(FileTimeToLocalFileTime(UnixToFileTime(0)), UnixToFileTime(3 * 3600));
  }
  {
    ScopedTz tz("<-05>5");
    EXPECT_EQ(FileTimeToLocalFileTime(UnixToFileTime(3600 * 6)), UnixToFileTime(3600));
    EXPECT_FALSE(FileTimeToLocalFileTime(0));  // before 1601 in local time
  }
  {
    // Windows applies today's bias to every date, so a winter and a summer
    // time shift by the same amount even in a zone with daylight saving.
    ScopedTz tz("EST5EDT,M3.2.0,M11.1.0");
    const FileTime january = UnixToFileTime(1704106800);  // 2024-01-01
    const FileTime july = UnixToFileTime(1719835200);     // 2024-07-01
    const auto lj = FileTimeToLocalFileTime(january);
    const auto ll = FileTimeToLocalFileTime(july);
    ASSERT_TRUE(lj && ll);
    EXPECT_EQ(january - *lj, july - *ll);
  }
}

TEST(FileTimes, DosDateTimeCoversOnly1980To2107) {
  const auto first = FileTimeToDosDateTime(UnixToFileTime(315532800));  // 1980-01-01 00:00:00
  ASSERT_TRUE(first);
  EXPECT_EQ(first->date, 0x0021);
  EXPECT_EQ(first->time, 0x0000);
  EXPECT_FALSE(FileTimeToDosDateTime(UnixToFileTime(315532799)));  // 1979-12-31 23:59:59

  const int64_t lastSecond = 4354819199;  // 2107-12-31 23:59:59
  const auto last = FileTimeToDosDateTime(UnixToFileTime(lastSecond));
  ASSERT_TRUE(last);
  EXPECT_EQ(last->date, (127 << 9) | (12 << 5) | 31);
  EXPECT_EQ(last->time, (23 << 11) | (59 << 5) | 29);
  EXPECT_FALSE(FileTimeToDosDateTime(UnixToFileTime(lastSecond + 1)));  // 2108
  EXPECT_FALSE(FileTimeToDosDateTime(0));
  EXPECT_FALSE(FileTimeToDosDateTime(~0ULL));

  // Two-second resolution: 12:34:57.9 is stored as 12:34:56.
  const int64_t t = 981173106 + 8 * 3600 + 29 * 60 + 51;  // 2001-02-03 12:34:57
  const auto dos = FileTimeToDosDateTime(UnixToFileTime(t) + 9000000);
  ASSERT_TRUE(dos);
  EXPECT_EQ(dos->time, (12 << 11) | (34 << 5) | 28);
  EXPECT_EQ(dos->date, (21 << 9) | (2 << 5) | 3);
}

TEST(FileTimes, DateValuesCountDaysFrom1899) {
  EXPECT_DOUBLE_EQ(DosDateTimeToDateTime({0x0021, 0}), 29221.0);  // 1980-01-01
  // 2001-02-03 12:34:56 (Delphi EncodeDate gives 36925).
  const double v = DosDateTimeToDateTime({(21 << 9) | (2 << 5) | 3, (12 << 11) | (34 << 5) | 28});
  EXPECT_DOUBLE_EQ(v, 36925.0 + (12 * 3600 + 34 * 60 + 56) / 86400.0);
  // 2000-02-29 exists, 2100-02-29 does not.
  EXPECT_DOUBLE_EQ(DosDateTimeToDateTime({(20 << 9) | (2 << 5) | 29, 0}), 36585.0);
  EXPECT_THROW(DosDateTimeToDateTime({(120 << 9) | (2 << 5) | 29, 0}), Exception);
  EXPECT_THROW(DosDateTimeToDateTime({(0 << 9) | (0 << 5) | 1, 0}), Exception);   // month 0
  EXPECT_THROW(DosDateTimeToDateTime({(0 << 9) | (13 << 5) | 1, 0}), Exception);  // month 13
  EXPECT_THROW(DosDateTimeToDateTime({(0 << 9) | (1 << 5) | 0, 0}), Exception);   // day 0
  EXPECT_THROW(DosDateTimeToDateTime({0x0021, 24 << 11}), Exception);
  EXPECT_THROW(DosDateTimeToDateTime({0x0021, 60 << 5}), Exception);
  EXPECT_THROW(DosDateTimeToDateTime({0x0021, 30}), Exception);  // 60 seconds
}

TEST(FileTimes, WholeChainGivesZeroWhenAStepFails) {
  ScopedTz tz("<-05>5");
  // 1980-01-01 01:00 UTC is still 1979 in local time.
  EXPECT_EQ(FileTimeToDateValue(UnixToFileTime(315532800 + 3600)), 0.0);
  EXPECT_EQ(FileTimeToDateValue(0), 0.0);
  EXPECT_DOUBLE_EQ(FileTimeToDateValue(UnixToFileTime(315532800 + 5 * 3600)), 29221.0);

  TempPrefix prefix;
  const fs::path f = prefix.WriteText("C:\\t.txt", "x");
  struct timespec times[2] = {{981173107, 0}, {981173107, 0}};  // 2001-02-03 04:05:07 UTC
  ASSERT_EQ(utimensat(AT_FDCWD, f.c_str(), times, 0), 0);
  const auto value = FileDateTime("C:\\T.TXT");
  ASSERT_TRUE(value);
  // Local 2001-02-02 23:05:07, stored as :06.
  EXPECT_DOUBLE_EQ(*value, 36924.0 + (23 * 3600 + 5 * 60 + 6) / 86400.0);
  EXPECT_FALSE(FileDateTime("C:\\missing.txt"));
  EXPECT_FALSE(FileDateTime("C:\\windows"));

  struct timespec old[2] = {{0, 0}, {0, 0}};  // 1970
  ASSERT_EQ(utimensat(AT_FDCWD, f.c_str(), old, 0), 0);
  EXPECT_FALSE(FileDateTime("C:\\t.txt"));
}

// A whole file read into shared memory comes back byte for byte: small files
// from the heap, large ones (a grown registry file) in their own mapping.
TEST(HostFile, WholeFilesReadSharedByteForByte) {
  const fs::path dir = fs::temp_directory_path() / ("kx-hostfile-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  for (const size_t size : {size_t{0}, size_t{10}, size_t{3} << 20}) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7919) >> 3);
    const fs::path path = dir / ("f" + std::to_string(size));
    std::ofstream(path, std::ios::binary) << bytes;
    const auto text = HostFile(path).ReadAllShared();
    ASSERT_TRUE(text) << size;
    EXPECT_TRUE(*text == bytes) << size;
  }
  EXPECT_FALSE(HostFile(dir).ReadAllShared());  // not a regular file
  fs::remove_all(dir);
}

}  // namespace
}  // namespace kx
