// Extending and restoring PATH with the IDE's library search path.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "delphi3/SearchPath.h"
#include "platform/system.h"
#include "support/test_system.h"

namespace kx {
namespace {

class SearchPathTest : public ::testing::Test {
 protected:
  void SetLibraryPath(const std::string& value) {
    std::ofstream(prefix_.Root() / "user.reg", std::ios::binary | std::ios::trunc)
        << "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
           "[Software\\\\Borland\\\\Delphi\\\\3.0\\\\Library] 1\n\"SearchPath\"=\""
        << value << "\"\n";
  }
  // Expands with the given PATH and system directory; returns the new PATH.
  std::string Expand(const std::string& path, const std::string& systemDir) {
    env_.Set("PATH", path);
    state_.SystemDirectory = systemDir;
    ExpandSearchPath(state_, env_);
    return *env_.Get("PATH");
  }
  test::TempPrefix prefix_;
  Environment env_;
  SearchPathState state_;
};

TEST_F(SearchPathTest, SystemDirectoryGoesFirstWhenMissing) {
  SetLibraryPath("D:\\\\D3\\\\LIB");
  EXPECT_EQ(Expand("C:\\WINDOWS;C:\\WINDOWS\\COMMAND", "C:\\WINDOWS\\SYSTEM"),
            "C:\\WINDOWS\\SYSTEM;C:\\WINDOWS;C:\\WINDOWS\\COMMAND;D:\\D3\\LIB");
  EXPECT_EQ(state_.DelphiSearchPath, "D:\\D3\\LIB");
  EXPECT_EQ(state_.OriginalPath, "C:\\WINDOWS;C:\\WINDOWS\\COMMAND");
  EXPECT_EQ(state_.ExpandedPath, *env_.Get("PATH"));
}

TEST_F(SearchPathTest, SystemDirectoryAlreadyPresentInAnyCaseOrAsPartOfAnEntry) {
  SetLibraryPath("D:\\\\D3\\\\LIB");
  EXPECT_EQ(Expand("c:\\windows\\system;C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM"),
            "c:\\windows\\system;C:\\WINDOWS;D:\\D3\\LIB");
  EXPECT_EQ(Expand("C:\\WINDOWS\\SYSTEM32;C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM"),
            "C:\\WINDOWS\\SYSTEM32;C:\\WINDOWS;D:\\D3\\LIB");
  // A directory already on the path is appended again.
  EXPECT_EQ(Expand("C:\\WINDOWS\\SYSTEM;D:\\D3\\LIB", "C:\\WINDOWS\\SYSTEM"),
            "C:\\WINDOWS\\SYSTEM;D:\\D3\\LIB;D:\\D3\\LIB");
}

// "$(DELPHI)" stands for RootDir of HKEY_LOCAL_MACHINE, else of
// HKEY_CURRENT_USER; PATH gets it expanded, the state keeps the stored text.
TEST_F(SearchPathTest, DelphiMacroExpandsToTheRootFolder) {
  const auto hive = [this](const char* file, const char* root) {
    std::ofstream(prefix_.Root() / file, std::ios::binary | std::ios::app)
        << "\n[Software\\\\Borland\\\\Delphi\\\\3.0] 1\n\"RootDir\"=\"" << root << "\"\n";
  };
  EXPECT_EQ(ExpandDelphiMacro("$(DELPHI)\\Lib"), "$(DELPHI)\\Lib");  // no RootDir: unchanged
  hive("user.reg", "C:\\\\User D3");
  EXPECT_EQ(ReadDelphiRootDir(), "C:\\User D3");
  hive("system.reg", "C:\\\\Program Files\\\\D3");
  EXPECT_EQ(ReadDelphiRootDir(), "C:\\Program Files\\D3");

  SetLibraryPath("$(DELPHI)\\\\Lib;$(delphi)\\\\Bin;D:\\\\X");
  EXPECT_EQ(Expand("C:\\WINDOWS", "C:\\WINDOWS"),
            "C:\\WINDOWS;C:\\Program Files\\D3\\Lib;C:\\Program Files\\D3\\Bin;D:\\X");
  EXPECT_EQ(state_.DelphiSearchPath, "$(DELPHI)\\Lib;$(delphi)\\Bin;D:\\X");

  const struct {
    const char* text;
    const char* root;
    const char* expanded;
  } cases[] = {
      {"$(DELPHI)\\Bin\\a.dpl", "C:\\D3", "C:\\D3\\Bin\\a.dpl"},
      {"$(Delphi)\\Bin", "C:\\D3\\", "C:\\D3\\Bin"},  // no doubled "\\"
      {"$(DELPHI)", "C:\\D3\\", "C:\\D3\\"},
      {"x;$(DELPHI)\\L;$(DELPHI)", "R:", "x;R:\\L;R:"},
      {"$(DELPHI\\Bin", "C:\\D3", "$(DELPHI\\Bin"},
      {"$(DELPHI)\\Bin", "", "$(DELPHI)\\Bin"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExpandDelphiMacro(c.text, c.root), c.expanded) << c.text;
}

TEST_F(SearchPathTest, EmptyLibraryPathLeavesATrailingSemicolon) {
  EXPECT_EQ(Expand("C:\\WINDOWS", "C:\\WINDOWS"), "C:\\WINDOWS;");  // no Library key at all
  SetLibraryPath("");
  EXPECT_EQ(Expand("C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS\\SYSTEM"), "C:\\WINDOWS\\SYSTEM;");
}

TEST_F(SearchPathTest, RestoreBringsBackTheStartValue) {
  SetLibraryPath("D:\\\\D3\\\\LIB");
  Expand("C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM");
  RestoreSearchPath(state_, env_);
  EXPECT_EQ(env_.Get("PATH"), "C:\\WINDOWS");
  // An expansion that never happened is never undone: PATH is not wiped.
  env_.Set("PATH", "C:\\X");
  RestoreSearchPath(SearchPathState{}, env_);
  EXPECT_EQ(env_.Get("PATH"), "C:\\X");
}

TEST_F(SearchPathTest, FailuresCarryTheirMessages) {
  SetLibraryPath("D:\\\\D3\\\\LIB");
  state_.SystemDirectory = "C:\\WINDOWS\\SYSTEM";
  try {
    ExpandSearchPath(state_, env_);  // no PATH at all
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Error retrieving path!");
  }
  env_.Set("PATH", "");
  EXPECT_THROW(ExpandSearchPath(state_, env_), Exception);
  EXPECT_EQ(env_.Get("PATH"), "");
  // A value longer than the environment takes is refused; PATH keeps its value.
  const std::string longPath(32760, 'p');
  env_.Set("PATH", longPath);
  state_.ExpandedPath.clear();
  try {
    ExpandSearchPath(state_, env_);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Error expanding path!");
  }
  EXPECT_EQ(env_.Get("PATH"), longPath);
  EXPECT_EQ(state_.ExpandedPath, "");  // never applied, never recorded
  SearchPathState tooLong;
  tooLong.OriginalPath = std::string(40000, 'p');
  EXPECT_THROW(RestoreSearchPath(tooLong, env_), Exception);
}

TEST_F(SearchPathTest, TheProcessEnvironmentIsWhatTheLoaderSees) {
  SetLibraryPath("C:\\\\Projects");
  Sys().Env().Set("PATH", "C:\\windows\\system32;C:\\windows");
  SearchPathState state;
  state.SystemDirectory = Sys().SystemDirectory();
  ExpandSearchPath(state);
  EXPECT_EQ(Sys().Env().Get("PATH"), "C:\\windows\\system32;C:\\windows;C:\\Projects");
  RestoreSearchPath(state);
  EXPECT_EQ(Sys().Env().Get("PATH"), "C:\\windows\\system32;C:\\windows");
}

}  // namespace
}  // namespace kx
