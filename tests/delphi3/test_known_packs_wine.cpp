// Interop with Wine itself: the values Add and Up write under "Known
// Packages" are read back by `wine reg query`. Skipped, with the reason,
// when Wine cannot run here.
#include <gtest/gtest.h>

#include <filesystem>

#include "delphi3/KnownPacks.h"
#include "platform/system.h"
#include "support/pe_builder.h"
#include "support/wine_prefix.h"

namespace kx {
namespace {
namespace fs = std::filesystem;

class KnownPacksWine : public test::WinePrefixTest {};

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
