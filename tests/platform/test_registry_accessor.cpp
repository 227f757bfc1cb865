// The registry accessor over a private prefix's hive files: opening keys,
// reading and writing values, write-through to disk, atomic replacement and
// the warning about a running wineserver.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/registry_hive.h"
#include "support/test_system.h"

namespace kx {
namespace {
namespace fs = std::filesystem;

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteText(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << text;
}

const char kUserReg[] =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n"
    "\n"
    "#arch=win32\n"
    "\n"
    "[Software\\\\Borland\\\\Delphi\\\\3.0\\\\Library] 1796758398\n"
    "#time=1d2f5a1c3b4e5f6\n"
    "\"SearchPath\"=\"$(DELPHI)\\\\Lib\"\n"
    "\"Expand\"=str(2):\"%SystemRoot%\\\\x\"\n"
    "\"WithNul\"=\"ab\\0cd\"\n"
    "\"Empty\"=\"\"\n"
    "\"NoData\"=hex(1):\n"
    "\"Dw\"=dword:00000001\n"
    "\"Bin\"=hex:01,02\n"
    "\"Latin\"=\"f\\xfcr\"\n"
    "\n"
    "[Software\\\\Wine] 1796758390\n"
    "#time=1d2f5a1b9a8b7c6\n"
    "\"Version\"=\"win95\"\n";

class RegistryAccessorTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteText(UserReg(), kUserReg); }
  fs::path UserReg() const { return prefix_.Root() / "user.reg"; }
  // Files in the prefix folder other than the hives (left-over temporaries).
  int StrayFiles() const {
    int n = 0;
    for (const auto& e : fs::directory_iterator(prefix_.Root()))
      if (e.is_regular_file() && e.path().filename() != "user.reg" &&
          e.path().filename() != "system.reg")
        ++n;
    return n;
  }
  test::TempPrefix prefix_;
};

TEST(RegistryWithoutPrefix, IsEmptyAndNeverCreatesAnything) {
  RegistryAccessor reg(std::nullopt, RootKey::CurrentUser);
  EXPECT_FALSE(reg.HivePath().has_value());
  EXPECT_FALSE(reg.OpenKey("Software", true));
  EXPECT_FALSE(reg.HasCurrentKey());
  EXPECT_TRUE(reg.GetValueNames().empty());
  EXPECT_FALSE(reg.DeleteValue("x"));
  EXPECT_EQ(reg.ReadString("x"), "");
  try {
    reg.WriteString("x", "1");
    FAIL() << "write without a key";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'x'");
  }
}

TEST_F(RegistryAccessorTest, AMissingOrDamagedHiveOpensNothingAndIsNotCreated) {
  fs::remove(UserReg());
  RegistryAccessor reg(prefix_.Root(), RootKey::CurrentUser);
  EXPECT_FALSE(reg.OpenKey("Software", true));
  EXPECT_FALSE(fs::exists(UserReg()));
  WriteText(UserReg(), "not a hive\n[Software]\n");
  EXPECT_FALSE(reg.OpenKey("Software", true));
  EXPECT_EQ(ReadText(UserReg()), "not a hive\n[Software]\n");
}

TEST_F(RegistryAccessorTest, KeysOpenLevelByLevelRelativeOrFromTheRoot) {
  RegistryAccessor reg(RootKey::CurrentUser);  // the current system is the test prefix
  EXPECT_EQ(*reg.HivePath(), UserReg());
  for (const char* level : {"SOFTWARE", "borland", "Delphi", "3.0"})
    ASSERT_TRUE(reg.OpenKey(level, false));
  EXPECT_EQ(reg.CurrentPath(), "SOFTWARE\\borland\\Delphi\\3.0");
  EXPECT_FALSE(reg.OpenKey("Missing", false));
  EXPECT_EQ(reg.CurrentPath(), "SOFTWARE\\borland\\Delphi\\3.0");  // unchanged by a failure
  ASSERT_TRUE(reg.OpenKey("Library", false));
  EXPECT_EQ(reg.GetValueNames().front(), "SearchPath");
  ASSERT_TRUE(reg.OpenKey("\\Software\\Wine", false));
  EXPECT_EQ(reg.CurrentPath(), "Software\\Wine");
  EXPECT_EQ(reg.ReadString("version"), "win95");
  reg.CloseKey();
  EXPECT_FALSE(reg.HasCurrentKey());
  EXPECT_EQ(reg.CurrentPath(), "");
  reg.SetRoot(RootKey::LocalMachine);
  EXPECT_EQ(*reg.HivePath(), prefix_.Root() / "system.reg");
  EXPECT_FALSE(reg.OpenKey("Software\\Wine", false));
}

TEST_F(RegistryAccessorTest, ReadStringTakesStringTypesUpToTheFirstNul) {
  RegistryAccessor reg(RootKey::CurrentUser);
  ASSERT_TRUE(reg.OpenKey("Software\\Borland\\Delphi\\3.0\\Library", false));
  EXPECT_EQ(reg.ReadString("SearchPath"), "$(DELPHI)\\Lib");
  EXPECT_EQ(reg.ReadString("Expand"), "%SystemRoot%\\x");  // not expanded
  EXPECT_EQ(reg.ReadString("WithNul"), "ab");
  EXPECT_EQ(reg.ReadString("Empty"), "");
  EXPECT_EQ(reg.ReadString("NoData"), "");
  EXPECT_EQ(reg.ReadString("Missing"), "");
  EXPECT_EQ(reg.ReadString("Latin"), "f\u00FCr");  // UTF-8 in the core
  for (const char* name : {"Dw", "Bin"}) {
    try {
      reg.ReadString(name);
      FAIL() << name;
    } catch (const ERegistryException& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Invalid data type for '") + name + "'");
    }
  }
  EXPECT_EQ(reg.GetDataInfo("SearchPath")->size, 14u);  // 13 characters and the NUL
  EXPECT_EQ(reg.GetDataInfo("Expand")->type, REG_EXPAND_SZ);
  EXPECT_EQ(reg.GetDataInfo("Dw")->size, 4u);
  EXPECT_FALSE(reg.GetDataInfo("Missing").has_value());
  uint32_t type = 0;
  EXPECT_THROW(reg.GetData("SearchPath", 3, type), ERegistryException);
  try {
    reg.GetData("Missing", 100, type);
    FAIL();
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to get data for 'Missing'");
  }
}

TEST_F(RegistryAccessorTest, ChangesAreWrittenAtOnceAndEachCallReadsTheFile) {
  RegistryAccessor reg(RootKey::CurrentUser);
  ASSERT_TRUE(reg.OpenKey("Software\\Wine", false));
  reg.WriteString("Added", "f\u00FCr");
  EXPECT_NE(ReadText(UserReg()).find("\"Added\"=\"f\\xfcr\"\n"), std::string::npos);
  EXPECT_EQ(reg.GetValueNames(), (std::vector<std::string>{"Version", "Added"}));
  EXPECT_EQ(reg.ReadValue("Added")->type, REG_SZ);
  // Another writer changes the file: the next call sees it.
  std::string text = ReadText(UserReg());
  text.replace(text.find("win95"), 5, "win98");
  WriteText(UserReg(), text);
  EXPECT_EQ(reg.ReadString("Version"), "win98");
  EXPECT_TRUE(reg.DeleteValue("VERSION"));
  EXPECT_FALSE(reg.DeleteValue("Version"));
  EXPECT_EQ(ReadText(UserReg()).find("\"Version\""), std::string::npos);
  // The key stays, empty, and can be written again.
  reg.WriteString("Version", "win2k");
  EXPECT_EQ(reg.GetValueNames(), (std::vector<std::string>{"Added", "Version"}));
  EXPECT_EQ(StrayFiles(), 0);
}

TEST_F(RegistryAccessorTest, CreatingAKeyAddsOnlyTheMissingLevels) {
  RegistryAccessor reg(RootKey::CurrentUser);
  const std::string before = ReadText(UserReg());
  ASSERT_TRUE(reg.OpenKey("Software\\Wine", true));  // exists: nothing is written
  EXPECT_EQ(ReadText(UserReg()), before);
  ASSERT_TRUE(reg.OpenKey("Drivers\\Audio", true));
  EXPECT_EQ(reg.CurrentPath(), "Software\\Wine\\Drivers\\Audio");
  const std::string after = ReadText(UserReg());
  EXPECT_EQ(after.substr(0, before.size()), before);
  EXPECT_NE(after.find("\n[Software\\\\Wine\\\\Drivers\\\\Audio] "), std::string::npos);
  EXPECT_EQ(after.find("[Software\\\\Wine\\\\Drivers] "), std::string::npos);
}

TEST_F(RegistryAccessorTest, AFailedChangeLeavesTheFileAsItWas) {
  const std::string before = ReadText(UserReg());
  HiveFile file(UserReg());
  EXPECT_THROW(file.Modify([](RegistryHive& h) -> bool {
    h.SetValue({u"Software", u"Wine"}, RegValue::String(u"x", u"y"));
    throw ERegistryException("injected");
  }),
               ERegistryException);
  EXPECT_EQ(ReadText(UserReg()), before);
  // A key removed by someone else cannot be written to.
  RegistryAccessor reg(RootKey::CurrentUser);
  ASSERT_TRUE(reg.OpenKey("Software\\Wine", false));
  std::string text = before.substr(0, before.find("\n[Software\\\\Wine]") + 1);
  WriteText(UserReg(), text);
  try {
    reg.WriteString("Version", "x");
    FAIL();
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'Version'");
  }
  EXPECT_EQ(ReadText(UserReg()), text);
  EXPECT_EQ(StrayFiles(), 0);
}

TEST_F(RegistryAccessorTest, AWriterThatCutsInIsKeptAlongsideOurChange) {
  HiveFile file(UserReg());
  int calls = 0;
  ASSERT_TRUE(file.Modify([&](RegistryHive& h) {
    if (calls++ == 0) {
      // Another process rewrites the file while we prepare ours.
      std::string text = ReadText(UserReg());
      text.replace(text.find("win95"), 5, "win98");
      WriteText(UserReg(), text);
    }
    return h.SetValue({u"Software", u"Wine"}, RegValue::String(u"Ours", u"1"));
  }));
  EXPECT_EQ(calls, 2);
  auto hive = file.Load();
  ASSERT_TRUE(hive);
  EXPECT_EQ(hive->FindValue({u"Software", u"Wine"}, u"Version")->data,
            RegValue::String(u"", u"win98").data);
  EXPECT_NE(hive->FindValue({u"Software", u"Wine"}, u"Ours"), nullptr);
  EXPECT_EQ(StrayFiles(), 0);
}

TEST_F(RegistryAccessorTest, FileModeIsKept) {
  ASSERT_EQ(chmod(UserReg().c_str(), 0640), 0);
  RegistryAccessor reg(RootKey::CurrentUser);
  ASSERT_TRUE(reg.OpenKey("Software\\Wine", false));
  reg.WriteString("x", "y");
  struct stat st {};
  ASSERT_EQ(stat(UserReg().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// A stand-in wineserver: a child process holding the lock a real one holds
// for the prefix.
class FakeWineServer {
 public:
  explicit FakeWineServer(const fs::path& prefix) {
    struct stat st {};
    stat(prefix.c_str(), &st);
    char dir[128];
    snprintf(dir, sizeof dir, "/tmp/.wine-%u/server-%llx-%llx", static_cast<unsigned>(getuid()),
             static_cast<unsigned long long>(st.st_dev),
             static_cast<unsigned long long>(st.st_ino));
    dir_ = dir;
    fs::create_directories(dir_);
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      const int fd = open((dir_ / "lock").c_str(), O_RDWR | O_CREAT, 0600);
      struct flock fl {};
      fl.l_type = F_WRLCK;
      fl.l_whence = SEEK_SET;
      fcntl(fd, F_SETLK, &fl);
      char c = 1;
      (void)!write(ready[1], &c, 1);
      for (;;) pause();
    }
    char c;
    (void)!read(ready[0], &c, 1);
    close(ready[0]);
    close(ready[1]);
  }
  ~FakeWineServer() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

 private:
  fs::path dir_;
  pid_t pid_ = -1;
};

TEST_F(RegistryAccessorTest, ARunningWineServerIsReportedOncePerFile) {
  EXPECT_FALSE(WineServerRunning(prefix_.Root()));
  std::vector<std::string> warnings;
  RegistryWarningFn previous =
      SetRegistryWarningHandler([&](const std::string& text) { warnings.push_back(text); });
  {
    RegistryAccessor reg(RootKey::CurrentUser);
    ASSERT_TRUE(reg.OpenKey("Software\\Wine", false));
    reg.WriteString("a", "1");
    EXPECT_TRUE(warnings.empty());
    FakeWineServer server(prefix_.Root());
    ASSERT_TRUE(WineServerRunning(prefix_.Root()));
    reg.WriteString("b", "2");
    reg.WriteString("c", "3");
    EXPECT_TRUE(reg.DeleteValue("a"));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("user.reg"), std::string::npos);
    EXPECT_EQ(reg.ReadString("c"), "3");  // the change is still made
  }
  EXPECT_FALSE(WineServerRunning(prefix_.Root()));
  SetRegistryWarningHandler(previous);
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// Sets a file's modification time (the change time still moves).
void SetMtime(const fs::path& path, const timespec& mtime) {
  const timespec times[2] = {mtime, mtime};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST_F(RegistryAccessorTest, AHiveIsParsedOnceWhileItsBytesStayTheSame) {
  HiveFile file(UserReg());
  auto first = file.Load();
  ASSERT_TRUE(first);
  EXPECT_EQ(file.Load(), first);
  // Rewritten with the same bytes: still the same parse.
  WriteText(UserReg(), kUserReg);
  EXPECT_EQ(file.Load(), first);

  // The same size and modification time with other bytes, moments after
  // the last read: the bytes decide.
  struct stat before {};
  ASSERT_EQ(::stat(UserReg().c_str(), &before), 0);
  std::string text = kUserReg;
  text.replace(text.find("win95"), 5, "win98");
  WriteText(UserReg(), text);
  SetMtime(UserReg(), before.st_mtim);
  auto changed = file.Load();
  ASSERT_TRUE(changed);
  EXPECT_NE(changed, first);
  EXPECT_EQ(changed->FindValue({u"Software", u"Wine"}, u"Version")->data,
            RegValue::String(u"", u"win98").data);

  // Gone, then damaged: no hive; back again: parsed anew.
  fs::remove(UserReg());
  EXPECT_FALSE(file.Load());
  WriteText(UserReg(), "not a hive\n");
  EXPECT_FALSE(file.Load());
  WriteText(UserReg(), kUserReg);
  auto again = file.Load();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->FindValue({u"Software", u"Wine"}, u"Version")->data,
            RegValue::String(u"", u"win95").data);
}

}  // namespace
}  // namespace kx
