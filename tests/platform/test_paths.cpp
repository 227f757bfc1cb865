// The drive map, case-insensitive name resolution, host <-> Windows paths,
// the 32-bit redirection of a 64-bit prefix, ExpandFileName and the
// system's start-up state.
#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/environment.h"
#include "platform/files.h"
#include "platform/system.h"
#include "support/test_system.h"

namespace kx {
namespace {
namespace fs = std::filesystem;
using test::TempPrefix;

// Sets or clears a host environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

class ScopedCwd {
 public:
  explicit ScopedCwd(const fs::path& dir) : old_(fs::current_path()) { fs::current_path(dir); }
  ~ScopedCwd() { fs::current_path(old_); }

 private:
  fs::path old_;
};

TEST(DriveMap, ReadsDosdevicesLinksOnly) {
  TempPrefix prefix;
  const fs::path dev = prefix.Root() / "dosdevices";
  const fs::path other = prefix.Root() / "elsewhere";
  fs::create_directories(other);
  fs::create_symlink(other, dev / "d:");         // absolute target
  fs::create_symlink("/dev/null", dev / "c::");  // a raw device, not a drive
  fs::create_directories(dev / "e:");            // not a link
  fs::create_symlink("../drive_c", dev / "notadrive");

  const DriveMap map = DriveMap::FromPrefix(prefix.Root());
  EXPECT_EQ(map.Letters(), "CDZ");
  EXPECT_EQ(map.HostRoot('c'), prefix.Root() / "drive_c");  // relative to dosdevices/
  EXPECT_EQ(map.HostRoot('D'), other);
  EXPECT_EQ(map.HostRoot('Z'), fs::path("/"));
  EXPECT_FALSE(map.HostRoot('E'));
  EXPECT_EQ(DriveMap::FromPrefix(prefix.Root() / "missing").Letters(), "");
  EXPECT_EQ(DriveMap::RootOnly().Letters(), "Z");
}

TEST(DriveMap, ResolvesEachComponentIgnoringCase) {
  TempPrefix prefix;
  const fs::path dpl = prefix.WriteText("C:\\windows\\system32\\VCL30.dpl", "x");
  const DriveMap& map = prefix.System().Drives();

  EXPECT_EQ(map.ToHost("c:\\WINDOWS\\System32\\vcl30.DPL"), dpl);
  EXPECT_EQ(map.ToHost("C:/windows/system32/VCL30.dpl"), dpl);
  EXPECT_EQ(map.ToHost("C:\\\\windows\\\\system32\\VCL30.dpl"), dpl);
  // Missing parts are appended as written once a component is not found.
  EXPECT_EQ(map.ToHost("C:\\WINDOWS\\NewDir\\File.TXT"),
            prefix.Root() / "drive_c" / "windows" / "NewDir" / "File.TXT");
  // "." and ".." fold first and never climb above the drive root.
  EXPECT_EQ(map.ToHost("C:\\..\\..\\Windows\\.\\x\\..\\SYSTEM32\\vcl30.dpl"), dpl);
  EXPECT_EQ(map.ToHost("C:\\"), prefix.Root() / "drive_c");
  EXPECT_EQ(map.ToHost("C:"), prefix.Root() / "drive_c");
}

TEST(DriveMap, ExactSpellingWinsOverOtherCaseVariants) {
  TempPrefix prefix;
  const fs::path upper = prefix.WriteText("C:\\data\\README", "1");
  const fs::path lower = prefix.WriteText("C:\\data\\readme", "2");
  const DriveMap& map = prefix.System().Drives();
  EXPECT_EQ(map.ToHost("C:\\data\\readme"), lower);
  EXPECT_EQ(map.ToHost("C:\\data\\README"), upper);
  // Neither spelled this way: the first in name order.
  EXPECT_EQ(map.ToHost("C:\\data\\ReadMe"), upper);
}

// A folder's listing is kept between look-ups only while the folder is
// unchanged: an entry added, renamed or removed later is seen at once.
TEST(DriveMap, KeptFolderListingsFollowChangesToTheFolder) {
  TempPrefix prefix;
  const fs::path dir = prefix.WriteText("C:\\lib\\A.dpl", "a").parent_path();
  const DriveMap& map = prefix.System().Drives();
  auto age = [&] {  // old enough for its listing to be kept
    fs::last_write_time(dir, fs::file_time_type::clock::now() - std::chrono::hours(1));
  };
  age();
  EXPECT_EQ(map.ToHost("C:\\LIB\\a.DPL"), dir / "A.dpl");
  EXPECT_EQ(map.ToHost("C:\\LIB\\B.DPL"), dir / "B.DPL");  // not there: as written
  std::ofstream(dir / "b.dpl") << "b";
  EXPECT_EQ(map.ToHost("C:\\LIB\\B.DPL"), dir / "b.dpl");
  age();
  fs::rename(dir / "A.dpl", dir / "c.dpl");
  EXPECT_EQ(map.ToHost("C:\\LIB\\a.DPL"), dir / "a.DPL");
  EXPECT_EQ(map.ToHost("C:\\LIB\\C.dpl"), dir / "c.dpl");
}

TEST(DriveMap, NonAsciiNamesMatchIgnoringCase) {
  TempPrefix prefix;
  const struct {
    const char* host;     // the folder on disk
    const char* windows;  // a spelling that finds it
  } kNames[] = {
      {"Caf\u00E9", "CAF\u00C9"},
      {"\u041A\u043E\u043C\u043F\u043E\u043D\u0435\u043D\u0442\u044B",
       "\u043A\u041E\u041C\u041F\u041E\u041D\u0415\u041D\u0422\u042B"},
      {"\u8868\u793A", "\u8868\u793A"},
      {"\u5DE5\u5177", "\u5DE5\u5177"},
  };
  for (const auto& n : kNames) {
    const fs::path dir = prefix.Root() / "drive_c" / n.host;
    fs::create_directories(dir);
    EXPECT_EQ(prefix.System().Drives().ToHost(std::string("C:\\") + n.windows), dir);
    EXPECT_EQ(prefix.System().ToWindows(dir), std::string("C:\\") + n.host);
  }
  // A host name that is not UTF-8 has no Windows form to find it by.
  fs::create_directories(prefix.Root() / "drive_c" / "Caf\xE9");
  EXPECT_EQ(prefix.System().ToWindows(prefix.Root() / "drive_c" / "Caf\xE9"), "C:\\Caf\uFFFD");
}

// A path meets the host as Windows opens it: every component without its
// trailing blanks and dots; leading and inner ones stay.
TEST(DriveMap, TrailingBlanksAndDotsOfComponentsAreDropped) {
  TempPrefix prefix;
  const fs::path dpl = prefix.WriteText("C:\\Lib\\DemoComp.dpl", "x");
  const fs::path lib = dpl.parent_path();
  const struct {
    const char* windows;
    fs::path host;
  } cases[] = {
      {"C:\\Lib\\DemoComp.dpl ", dpl},
      {"C:\\Lib\\DemoComp.dpl...", dpl},
      {"C:\\lib. \\demoComp.DPL . ", dpl},
      {"C:\\Lib\\ .\\DemoComp.dpl", dpl},       // nothing left: "."
      {"C:\\Lib\\...\\DemoComp.dpl", dpl},      // dots only: "."
      {"C:\\Lib\\..\\Lib\\DemoComp.dpl", dpl},  // ".." still climbs
      {"C:\\Lib\\New.dpk  ", lib / "New.dpk"},
      {"C:\\Lib\\ DemoComp.dpl", lib / " DemoComp.dpl"},
      {"C:\\Lib\\Demo Comp.dpl.x", lib / "Demo Comp.dpl.x"},
      {"C:\\Lib \\", lib},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(prefix.System().Drives().ToHost(c.windows), c.host) << c.windows;
    EXPECT_EQ(prefix.System().ToHost(c.windows), c.host) << c.windows;
    // The file functions find the file by such a name.
    const std::optional<FindData> found = FindFirstFile(c.windows);
    EXPECT_EQ(found ? found->name : "", c.host == dpl ? "DemoComp.dpl" : "") << c.windows;
    EXPECT_EQ(FileExists(c.windows), c.host == dpl) << c.windows;
  }
}

TEST(DriveMap, RejectsPathsThatAreNotAbsoluteOrHaveNoDrive) {
  TempPrefix prefix;
  const DriveMap& map = prefix.System().Drives();
  EXPECT_FALSE(map.ToHost("Q:\\file"));
  EXPECT_FALSE(map.ToHost("C:relative"));
  EXPECT_FALSE(map.ToHost("relative\\file"));
  EXPECT_FALSE(map.ToHost("\\rooted"));
  EXPECT_FALSE(map.ToHost(""));
}

TEST(DriveMap, HostToWindowsThroughTheLongestRoot) {
  TempPrefix prefix;
  const WinSystem& sys = prefix.System();
  EXPECT_EQ(sys.ToWindows(prefix.Root() / "drive_c" / "windows" / "system32"),
            "C:\\windows\\system32");
  EXPECT_EQ(sys.ToWindows(prefix.Root() / "drive_c"), "C:\\");
  EXPECT_EQ(sys.ToWindows(prefix.Root() / "drive_c" / "a" / ".." / "b"), "C:\\b");
  EXPECT_EQ(sys.ToWindows("/"), "Z:\\");
  EXPECT_EQ(sys.ToWindows("/usr/share"), "Z:\\usr\\share");
  // The prefix folder itself lies outside drive C:.
  const std::optional<std::string> root = sys.ToWindows(prefix.Root());
  ASSERT_TRUE(root);
  EXPECT_EQ(root->substr(0, 3), "Z:\\");

  // A root reached through a symbolic link still maps to its drive.
  const fs::path alias = prefix.Root() / "alias";
  fs::create_directory_symlink(prefix.Root() / "drive_c", alias);
  DriveMap map;
  map.Map('c', alias);
  EXPECT_EQ(map.ToWindows(prefix.Root() / "drive_c" / "x"), "C:\\x");
  EXPECT_FALSE(map.ToWindows("/usr"));
}

TEST(DriveMap, Wow64RedirectsSystem32InA64BitPrefix) {
  TempPrefix prefix64(true);
  const WinSystem& sys = prefix64.System();
  EXPECT_TRUE(sys.Win64Prefix());
  EXPECT_TRUE(sys.Drives().Wow64Redirection());
  const fs::path dll = prefix64.WriteText("C:\\windows\\syswow64\\Vcl30.dpl", "x");
  EXPECT_EQ(sys.ToHost("C:\\WINDOWS\\SYSTEM32\\vcl30.dpl"), dll);
  EXPECT_EQ(sys.ToHost("c:\\windows\\system32"), dll.parent_path());
  // Only the system folder itself is redirected.
  EXPECT_EQ(sys.ToHost("C:\\windows\\system32x"),
            prefix64.Root() / "drive_c" / "windows" / "system32x");
  EXPECT_EQ(sys.ToHost("C:\\system32"), prefix64.Root() / "drive_c" / "system32");

  TempPrefix prefix32(false);
  EXPECT_FALSE(prefix32.System().Win64Prefix());
  EXPECT_EQ(prefix32.System().ToHost("C:\\windows\\system32\\x.dll"),
            prefix32.Root() / "drive_c" / "windows" / "system32" / "x.dll");
}

TEST(WinSystem, ExpandFileNameAgainstTheCurrentDirectory) {
  TempPrefix prefix;
  WinSystem& sys = prefix.System();
  sys.SetCurrentDirectory("C:\\dir\\sub");
  EXPECT_EQ(sys.ExpandFileName("a.dpl"), "C:\\dir\\sub\\a.dpl");
  EXPECT_EQ(sys.ExpandFileName(".\\a.dpl"), "C:\\dir\\sub\\a.dpl");
  EXPECT_EQ(sys.ExpandFileName("..\\x"), "C:\\dir\\x");
  EXPECT_EQ(sys.ExpandFileName("..\\..\\..\\..\\x"), "C:\\x");
  EXPECT_EQ(sys.ExpandFileName("\\x\\y"), "C:\\x\\y");
  EXPECT_EQ(sys.ExpandFileName("C:x"), "C:\\dir\\sub\\x");
  EXPECT_EQ(sys.ExpandFileName("D:x"), "D:\\x");
  EXPECT_EQ(sys.ExpandFileName("c:/a/./b/../c"), "c:\\a\\c");
  EXPECT_EQ(sys.ExpandFileName("C:\\a\\\\b"), "C:\\a\\b");
  EXPECT_EQ(sys.ExpandFileName("C:\\.."), "C:\\");
  EXPECT_EQ(sys.ExpandFileName("C:\\dir\\"), "C:\\dir\\");
  EXPECT_EQ(sys.ExpandFileName("."), "C:\\dir\\sub");
  EXPECT_EQ(sys.ExpandFileName(""), "");
  EXPECT_EQ(sys.ExpandFileName("\\\\server\\share\\f"), "\\\\server\\share\\f");

  const fs::path f = prefix.WriteText("C:\\Dir\\Sub\\Pack.DPL", "x");
  EXPECT_EQ(sys.ToHost("pack.dpl"), f);
  EXPECT_EQ(sys.ToHost("..\\SUB\\pack.dpl"), f);
}

TEST(WinSystem, UserPathsInEitherForm) {
  TempPrefix prefix;
  WinSystem& sys = prefix.System();
  const fs::path f = prefix.WriteText("C:\\Pkg\\a.dpl", "x");
  EXPECT_EQ(sys.UserPathToWindows(f.string()), "C:\\Pkg\\a.dpl");
  EXPECT_EQ(sys.UserPathToWindows("/no/such/file.dpl"), "Z:\\no\\such\\file.dpl");
  EXPECT_EQ(sys.UserPathToWindows("C:\\Pkg\\..\\b.dpl"), "C:\\b.dpl");
  EXPECT_EQ(sys.UserPathToWindows("c.dpl"), "C:\\c.dpl");
  // Host paths are UTF-8 text too.
  prefix.WriteText("C:\\Caf\u00E9\\a.dpl", "x");  // a UTF-8 name on the host
  const std::string driveC = (prefix.Root() / "drive_c").string();
  EXPECT_EQ(sys.UserPathToWindows(driveC + "/Caf\u00E9/a.dpl"), "C:\\Caf\u00E9\\a.dpl");
  {
    // A relative name that exists on the host is taken as a host path.
    ScopedCwd cwd(f.parent_path());
    EXPECT_EQ(sys.UserPathToWindows("a.dpl"), "C:\\Pkg\\a.dpl");
  }
}

TEST(WinSystem, StartStateOfAPrefix) {
  TempPrefix prefix;
  std::unique_ptr<WinSystem> sys;
  {
    ScopedCwd cwd(prefix.Root() / "drive_c" / "windows");
    sys = WinSystem::ForPrefix(prefix.Root());
  }
  EXPECT_EQ(sys->Prefix(), prefix.Root());
  EXPECT_EQ(sys->Drives().Letters(), "CZ");
  EXPECT_EQ(sys->CurrentDirectory(), "C:\\windows");
  EXPECT_EQ(sys->SystemDirectory(), "C:\\windows\\system32");
  EXPECT_EQ(sys->WindowsDirectory(), "C:\\windows");
  EXPECT_EQ(sys->Env().Get("WINDIR"), "C:\\windows");
  EXPECT_EQ(sys->Env().Get("systemroot"), "C:\\windows");
  EXPECT_TRUE(sys->Env().Get("PATH"));
  // The program file defaults to this test program, seen through Z:.
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  EXPECT_EQ(sys->ProgramFileName(), sys->ToWindows(self));
  EXPECT_EQ(sys->ProgramFileName().substr(0, 3), "Z:\\");

  const auto bare = WinSystem::ForPrefix(std::nullopt);
  EXPECT_FALSE(bare->Prefix());
  EXPECT_FALSE(bare->Win64Prefix());
  EXPECT_EQ(bare->Drives().Letters(), "Z");
  EXPECT_EQ(bare->SystemDirectory(), "C:\\WINDOWS\\SYSTEM");
  EXPECT_EQ(bare->WindowsDirectory(), "C:\\WINDOWS");
  EXPECT_EQ(bare->Env().Get("windir"), "C:\\WINDOWS");
}

TEST(WinSystem, ArchLineIsReadFromTheRegistryHeaderOnly) {
  TempPrefix prefix;
  const fs::path reg = prefix.Root() / "system.reg";
  auto write = [&](const char* text) {
    FILE* f = fopen(reg.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs(text, f);
    fclose(f);
  };
  write("WINE REGISTRY Version 2\r\n;; All keys relative to \\\\Machine\r\n\r\n#arch=win64\r\n");
  EXPECT_TRUE(WinSystem::ForPrefix(prefix.Root())->Win64Prefix());
  write("WINE REGISTRY Version 2\n\n[Software\\\\X] 1\n\"a\"=\"#arch=win64\"\n#arch=win64\n");
  EXPECT_FALSE(WinSystem::ForPrefix(prefix.Root())->Win64Prefix());
  fs::remove(reg);
  EXPECT_FALSE(WinSystem::ForPrefix(prefix.Root())->Win64Prefix());
}

TEST(WinSystem, FromHostFindsThePrefix) {
  TempPrefix prefix;
  {
    ScopedEnv wp("WINEPREFIX", prefix.Root().c_str());
    EXPECT_EQ(WinSystem::FromHost()->Prefix(), prefix.Root());
  }
  {
    // A named prefix that does not exist is not created and not replaced by ~/.wine.
    const fs::path missing = prefix.Root() / "missing";
    ScopedEnv wp("WINEPREFIX", missing.c_str());
    ScopedEnv home("HOME", prefix.Root().c_str());
    fs::create_directory_symlink(prefix.Root(), prefix.Root() / ".wine");
    EXPECT_FALSE(WinSystem::FromHost()->Prefix());
    EXPECT_FALSE(fs::exists(missing));
  }
  {
    ScopedEnv wp("WINEPREFIX", nullptr);
    ScopedEnv home("HOME", prefix.Root().c_str());
    EXPECT_EQ(WinSystem::FromHost()->Prefix(), prefix.Root() / ".wine");
  }
  {
    ScopedEnv wp("WINEPREFIX", nullptr);
    ScopedEnv home("HOME", (prefix.Root() / "drive_c").c_str());
    EXPECT_FALSE(WinSystem::FromHost()->Prefix());
  }
}

TEST(WinSystem, ScopedSystemRestoresThePrevious) {
  WinSystem* before = &Sys();
  {
    TempPrefix prefix;
    EXPECT_EQ(&Sys(), &prefix.System());
    EXPECT_NE(&Sys(), before);
  }
  EXPECT_EQ(&Sys(), before);
}

TEST(Environment, NamesIgnoreCaseAndExpansionFollowsWindows) {
  Environment env;
  env.Set("Path", "C:\\a");
  env.Set("PATH", "C:\\b");
  EXPECT_EQ(env.Items().size(), 1u);
  EXPECT_EQ(env.Get("path"), "C:\\b");
  env.Set("Empty", "");
  EXPECT_EQ(env.Get("EMPTY"), "");
  env.Set("SystemRoot", "C:\\windows");
  EXPECT_EQ(env.Expand("%SystemRoot%\\system32;%PATH%"), "C:\\windows\\system32;C:\\b");
  EXPECT_EQ(env.Expand("%nosuch%"), "%nosuch%");
  // The closing '%' of an unknown name may open the next reference.
  EXPECT_EQ(env.Expand("%nosuch%path%"), "%nosuchC:\\b");
  EXPECT_EQ(env.Expand("100%"), "100%");
  EXPECT_EQ(env.Expand("%%"), "%%");
  EXPECT_EQ(env.Expand("a%empty%b"), "ab");
  env.Remove("PATH");
  EXPECT_FALSE(env.Get("Path"));
  env.Remove("PATH");  // removing twice is harmless
  EXPECT_EQ(env.Items().size(), 2u);
}

TEST(RegionalSettings, CLocaleGivesTheUsEnglishDefaults) {
  ScopedEnv all("LC_ALL", "C");
  const RegionalSettings rs = RegionalSettings::FromHostLocale();
  EXPECT_EQ(rs.thousandSeparator, ",");
  EXPECT_EQ(rs.shortDateFormat, "M/d/yyyy");
  EXPECT_EQ(rs.longTimeFormat, "h:mm:ss tt");
  EXPECT_EQ(rs.timeAMString, "AM");
}

TEST(RegionalSettings, GermanLocaleWhenInstalled) {
  locale_t probe = newlocale(LC_ALL_MASK, "de_DE.UTF-8", static_cast<locale_t>(0));
  if (!probe) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  freelocale(probe);
  ScopedEnv all("LC_ALL", "de_DE.UTF-8");
  const RegionalSettings rs = RegionalSettings::FromHostLocale();
  EXPECT_EQ(rs.thousandSeparator, ".");
  EXPECT_EQ(rs.shortDateFormat, "dd.MM.yyyy");
  EXPECT_EQ(rs.dateSeparator, ".");
  EXPECT_EQ(rs.longTimeFormat, "HH:mm:ss");
}

// The user's regional values in a prefix win over the host locale, value
// by value; a key without them leaves the host's.
TEST(RegionalSettings, ThePrefixsInternationalKeyWins) {
  ScopedEnv all("LC_ALL", "C");
  const RegionalSettings us;
  const struct {
    const char* name;
    const char* values;  // lines of the key in Wine's format; nullptr: no key
    const char *thousand, *dateSep, *timeSep;
    const char *shortDate, *longTime, *am, *pm;
  } cases[] = {
      {"none", nullptr, ",", "/", ":", "M/d/yyyy", "h:mm:ss tt", "AM", "PM"},
      {"ru-RU",
       "\"Locale\"=\"00000419\"\n\"LocaleName\"=\"ru-RU\"\n\"s1159\"=\"AM\"\n\"s2359\"=\"PM\"\n"
       "\"sDate\"=\".\"\n\"sDecimal\"=\",\"\n\"sShortDate\"=\"dd.MM.yyyy\"\n"
       "\"sThousand\"=\"\\xa0\"\n\"sTime\"=\":\"\n\"sTimeFormat\"=\"HH:mm:ss\"\n",
       "\u00A0", ".", ":", "dd.MM.yyyy", "HH:mm:ss", "AM", "PM"},
      {"ja-JP",
       "\"s1159\"=\"\\x5348\\x524d\"\n\"s2359\"=\"\\x5348\\x5f8c\"\n\"sShortDate\"=\"yyyy/M/d\"\n"
       "\"sDate\"=\"/\"\n\"sTimeFormat\"=\"H:mm:ss\"\n",
       ",", "/", ":", "yyyy/M/d", "H:mm:ss", "午前", "午後"},
      // Separators taken from the patterns when sDate and sTime are absent.
      {"patterns only", "\"sShortDate\"=\"yyyy-MM-dd\"\n\"sTimeFormat\"=\"HH.mm.ss\"\n", ",", "-",
       ".", "yyyy-MM-dd", "HH.mm.ss", "AM", "PM"},
      // An empty separator is none; an empty pattern and a value of another
      // type are ignored; an unknown locale leaves the host's values.
      {"odd values",
       "\"LocaleName\"=\"xx-YY\"\n\"sThousand\"=\"\"\n\"sShortDate\"=\"\"\n"
       "\"sTimeFormat\"=dword:00000001\n\"s1159\"=\"vorm.\"\n\"s2359\"=\"\"\n",
       "", "/", ":", "M/d/yyyy", "h:mm:ss tt", "vorm.", ""},
  };
  for (const auto& c : cases) {
    TempPrefix prefix;
    if (c.values) {
      std::ofstream(prefix.Root() / "user.reg", std::ios::app)
          << "\n[Control Panel\\\\International] 1796875045\n#time=1dd885a90e1e9be\n"
          << c.values;
    }
    const RegionalSettings rs = WinSystem::ForPrefix(prefix.Root())->Regional();
    EXPECT_EQ(rs.thousandSeparator, c.thousand) << c.name;
    EXPECT_EQ(rs.dateSeparator, c.dateSep) << c.name;
    EXPECT_EQ(rs.timeSeparator, c.timeSep) << c.name;
    EXPECT_EQ(rs.shortDateFormat, c.shortDate) << c.name;
    EXPECT_EQ(rs.longTimeFormat, c.longTime) << c.name;
    EXPECT_EQ(rs.timeAMString, c.am) << c.name;
    EXPECT_EQ(rs.timePMString, c.pm) << c.name;
  }
  // Without a prefix nothing but the host is asked.
  EXPECT_EQ(WinSystem::ForPrefix(std::nullopt)->Regional().shortDateFormat, us.shortDateFormat);
}

}  // namespace
}  // namespace kx
