// The logical drive list, the ready-drive probe and the search roots built
// from a file mask.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "deploy/DriveCheck.h"
#include "support/test_system.h"

namespace kx {
namespace {
namespace fs = std::filesystem;
using test::TempPrefix;
using Strings = std::vector<std::string>;

// Drives A: (ready), C: (the prefix's), D: (ready), E: (its folder is gone)
// and Z: (the host root).
struct Drives {
  TempPrefix prefix;
  Drives() {
    for (const char* d : {"drive_a", "drive_d"}) fs::create_directory(prefix.Root() / d);
    prefix.System().Drives().Map('d', prefix.Root() / "drive_d");
    prefix.System().Drives().Map('A', prefix.Root() / "drive_a");
    prefix.System().Drives().Map('E', prefix.Root() / "drive_e");
    prefix.System().SetCurrentDirectory("C:\\apps");
  }
};

TEST(DriveCheck, DriveListIsAlphabeticalFloppiesAndTheHostRootAreNeverProbed) {
  Drives drives;
  Strings list{"keep"};
  GetLogicalDriveList(list);
  EXPECT_EQ(list, (Strings{"keep", "A:\\", "C:\\", "D:\\", "E:\\", "Z:\\"}));
  EXPECT_TRUE(DriveReady("A:\\"));
  EXPECT_FALSE(DriveReady("E:\\"));
  EXPECT_FALSE(DriveReady("Q:\\"));

  Strings roots{"d:\\"};  // already listed, in other letters
  AddReadyDrives(roots);
  EXPECT_EQ(roots, (Strings{"d:\\", "C:\\"}));
  EXPECT_TRUE(DriveMapsHostRoot("Z:\\"));
  EXPECT_FALSE(DriveMapsHostRoot("C:\\"));
}

TEST(DriveCheck, SearchRootsFollowTheMaskFolderAndStopAtFirst) {
  Drives drives;
  struct Case {
    const char* mask;
    bool stopAtFirst;
    const char* currentDir;
    Strings roots;
  };
  const Case cases[] = {
      {"vcl30.dpl", true, "C:\\apps", {"C:\\apps\\", "C:\\", "D:\\"}},
      {"vcl30.dpl", false, "C:\\apps", {"C:\\", "D:\\"}},
      {"C:\\DELPHI3\\BIN\\*.dpl", true, "D:\\", {"C:\\DELPHI3\\BIN\\", "C:\\", "D:\\"}},
      {"C:\\DELPHI3\\BIN\\*.dpl", false, "D:\\", {"C:\\", "D:\\"}},
      // The current folder is a drive root: listed twice, D:\ once.
      {"x.dll", true, "D:\\", {"D:\\", "D:\\", "C:\\"}},
      {"d:x.dll", true, "C:\\", {"d:\\", "d:\\", "C:\\"}},
      {"\\\\srv\\share\\dir\\x.dpl",
       true,
       "C:\\",
       {"\\\\srv\\share\\dir\\", "\\\\srv\\share\\", "C:\\", "D:\\"}},
      {"\\x.dpl", true, "C:\\", {"", "C:\\", "D:\\"}},
      // The drive of the host root is never searched as a whole: the
      // current folder's tree stands for it, listed once.
      {"x.dll", true, "Z:\\tmp", {"Z:\\tmp\\", "C:\\", "D:\\"}},
      {"x.dll", false, "Z:\\home\\u", {"Z:\\home\\u\\", "C:\\", "D:\\"}},
      {"Z:\\opt\\*.dpl", false, "C:\\", {"Z:\\opt\\", "C:\\", "D:\\"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mask);
    drives.prefix.System().SetCurrentDirectory(c.currentDir);
    Strings roots;
    BuildSearchRoots(c.mask, roots, c.stopAtFirst);
    EXPECT_EQ(roots, c.roots);
  }
}

}  // namespace
}  // namespace kx
