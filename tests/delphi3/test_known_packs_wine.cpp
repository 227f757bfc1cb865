// Interop with Wine itself: the values Add and Up write under "Known
// Packages" are read back by `wine reg query`. Skipped when Wine is not
// installed or does not start on this machine.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "delphi3/KnownPacks.h"
#include "platform/system.h"
#include "support/pe_builder.h"

namespace kx {
namespace {
namespace fs = std::filesystem;

class KnownPacksWine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v wine >/dev/null 2>&1 && command -v wineserver >/dev/null 2>&1") !=
        0)
      GTEST_SKIP() << "Wine is not installed";
    std::string pattern = (fs::temp_directory_path() / "kx-wine-known-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    prefix_ = pattern;
    // The hives appear when wineserver saves them on exit.
    const bool booted = Shell("timeout 300 wineboot -i") == 0;
    Stop();
    if (!booted || !fs::exists(prefix_ / "user.reg")) GTEST_SKIP() << "Wine does not start here";
  }
  void TearDown() override {
    if (prefix_.empty()) return;
    Stop();
    std::error_code ec;
    fs::remove_all(prefix_, ec);
  }
  // Output goes to a file: a pipe would stay open while wineserver runs.
  int Shell(const std::string& command, std::string* output = nullptr) {
    const fs::path out = prefix_ / "kx-out.txt";
    const std::string cmd = "WINEPREFIX='" + prefix_.string() + "' WINEDEBUG=-all " + command +
                            " >'" + out.string() + "' 2>/dev/null </dev/null";
    const int status = std::system(cmd.c_str());
    if (output) {
      std::ifstream in(out, std::ios::binary);
      std::stringstream ss;
      ss << in.rdbuf();
      *output = ss.str();
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void Stop() { Shell("wineserver -w"); }
  fs::path prefix_;
};

TEST_F(KnownPacksWine, AddAndUpAreReadBackByWine) {
  const std::string key = "'HKCU\\Software\\Borland\\Delphi\\3.0\\Known Packages'";
  ASSERT_EQ(Shell("wine reg add " + key + " /v 'C:\\D3\\A.dpl' /t REG_SZ /d 'Package A' /f"), 0);
  ASSERT_EQ(Shell("wine reg add " + key + " /v 'C:\\D3\\B.dpl' /t REG_SZ /d 'Package B' /f"), 0);
  Stop();
  test::WriteBytes(prefix_ / "drive_c/D3/New.dpl",
                   test::BuildPe(test::PackageSpec(0x2, {}, {{0x10, "NewReg"}}, "New one")));
  {
    ScopedSystem system(WinSystem::ForPrefix(prefix_));
    KnownPackStore store;
    store.ReadFromRegistry();
    NullMeter meter;
    struct Silent : Prompts {
      PromptResult WarningOkCancel(const std::string&) override { return PromptResult::Ok; }
      PromptResult WarningYesNo(const std::string&) override { return PromptResult::Yes; }
      void Message(const std::string&) override {}
      void Error(const std::string& t) override { ADD_FAILURE() << t; }
      std::optional<std::string> OpenFile(const FileDialogSpec&) override { return {}; }
      std::optional<std::string> SaveFile(const FileDialogSpec&) override { return {}; }
      std::optional<std::string> SelectFolder(const std::string&, const std::string&) override {
        return {};
      }
    } prompts;
    TKnownPackList list(store.Lists(), prompts, {}, meter, {});
    list.InitSystemInfo();
    ASSERT_TRUE(list.AddKnownPackage("C:\\D3\\New.dpl"));
    list.Selected = list.FindRow("C:\\D3\\B.dpl");
    ASSERT_TRUE(list.MoveKnownPackage(true));
    EXPECT_EQ(store.KnownPackNames[0], "C:\\D3\\B.dpl");
  }
  std::string out;
  ASSERT_EQ(Shell("wine reg query " + key, &out), 0);
  for (const char* expected :
       {"C:\\D3\\A.dpl", "Package A", "C:\\D3\\B.dpl", "Package B", "C:\\D3\\New.dpl", "New one"})
    EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;
}

}  // namespace
}  // namespace kx
