// PATH of the emulated process at start: $WINEPATH, then the system
// environment key's PATH expanded, then the user's.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <optional>
#include <string>

#include "platform/environment.h"
#include "platform/system.h"
#include "support/test_system.h"

namespace kx {
namespace {

// Sets or clears WINEPATH for one test and restores it afterwards.
class WinePathScope {
 public:
  explicit WinePathScope(const char* value) {
    if (const char* old = getenv("WINEPATH")) old_ = old;
    if (value)
      setenv("WINEPATH", value, 1);
    else
      unsetenv("WINEPATH");
  }
  ~WinePathScope() {
    if (old_)
      setenv("WINEPATH", old_->c_str(), 1);
    else
      unsetenv("WINEPATH");
  }

 private:
  std::optional<std::string> old_;
};

void Write(const std::filesystem::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

const char kSystemReg[] =
    "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n"
    "[System\\\\CurrentControlSet\\\\Control\\\\Session Manager\\\\Environment] 1796758390\n"
    "#time=1d2f5a1b9a8b7c6\n"
    "\"ComSpec\"=str(2):\"%SystemRoot%\\\\system32\\\\cmd.exe\"\n"
    "\"Tools\"=str(2):\"%SystemDrive%\\\\Tools\"\n"
    "\"PATH\"=str(2):\"%SystemRoot%\\\\system32;%SystemRoot%;%Tools%;%Unknown%\"\n";

const char kUserReg[] =
    "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
    "#arch=win32\n\n[Environment] 1796758390\n\"PATH\"=\"C:\\\\Users\\\\bin;%SystemRoot%\"\n";

TEST(InitialPath, WithoutAPrefixIsTheWindows95Default) {
  WinePathScope wp("D:\\ignored");
  auto sys = WinSystem::ForPrefix(std::nullopt);
  EXPECT_EQ(BuildInitialPath(*sys), "C:\\WINDOWS;C:\\WINDOWS\\COMMAND");
  EXPECT_EQ(sys->Env().Get("path"), "C:\\WINDOWS;C:\\WINDOWS\\COMMAND");
}

TEST(InitialPath, SystemThenUserPathWithVariablesExpanded) {
  WinePathScope wp(nullptr);
  test::TempPrefix prefix;
  Write(prefix.Root() / "system.reg", kSystemReg);
  EXPECT_EQ(BuildInitialPath(prefix.System()),
            "C:\\windows\\system32;C:\\windows;C:\\Tools;%Unknown%");
  Write(prefix.Root() / "user.reg", kUserReg);
  // REG_SZ user data is taken as it stands.
  EXPECT_EQ(BuildInitialPath(prefix.System()),
            "C:\\windows\\system32;C:\\windows;C:\\Tools;%Unknown%;C:\\Users\\bin;%SystemRoot%");
  // A new system over the prefix starts with it.
  auto sys = WinSystem::ForPrefix(prefix.Root());
  EXPECT_EQ(sys->Env().Get("PATH"), BuildInitialPath(prefix.System()));
}

TEST(InitialPath, WinePathComesFirst) {
  WinePathScope wp("D:\\wine\\path");
  test::TempPrefix prefix;
  EXPECT_EQ(BuildInitialPath(prefix.System()), "D:\\wine\\path");
  Write(prefix.Root() / "system.reg", kSystemReg);
  EXPECT_EQ(BuildInitialPath(prefix.System()),
            "D:\\wine\\path;C:\\windows\\system32;C:\\windows;C:\\Tools;%Unknown%");
}

TEST(InitialPath, CurrentControlSetAsALinkAsWineStoresIt) {
  WinePathScope wp(nullptr);
  test::TempPrefix prefix;
  std::string target;
  for (char c : std::string("\\Registry\\Machine\\System\\ControlSet001")) {
    char buf[8];
    snprintf(buf, sizeof buf, "%02x,00,", static_cast<unsigned char>(c));
    target += buf;
  }
  target.pop_back();
  Write(prefix.Root() / "system.reg",
        "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n"
        "[System\\\\ControlSet001\\\\Control\\\\Session Manager\\\\Environment] 1\n"
        "\"PATH\"=str(2):\"%SystemRoot%\\\\system32;%windir%\"\n\n"
        "[System\\\\CurrentControlSet] 1\n#time=1\n#link\n\"SymbolicLinkValue\"=hex(6):" +
            target + "\n");
  EXPECT_EQ(BuildInitialPath(prefix.System()), "C:\\windows\\system32;C:\\windows");
}

TEST(InitialPath, ADamagedHiveGivesNoRegistryPart) {
  WinePathScope wp(nullptr);
  test::TempPrefix prefix;
  Write(prefix.Root() / "system.reg", "garbage\n\"PATH\"=\"C:\\\\x\"\n");
  EXPECT_EQ(BuildInitialPath(prefix.System()), "");
}

}  // namespace
}  // namespace kx
