// The standard package tables.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "delphi3/SharedPacks.h"
#include "delphi3/SysPackg.h"
#include "support/test_system.h"

namespace kx {
namespace {

class StandardPackages : public ::testing::Test {
 protected:
  void SetUp() override {
    AddRunTimePackages(run_);
    AddDesignTimePackages(design_);
  }
  bool Is(const std::string& name) const { return IsStandardPackage(run_, design_, name); }
  std::vector<std::string> run_, design_;
};

TEST_F(StandardPackages, TablesHoldThirteenNamesEachInOrder) {
  using Names = std::vector<std::string>;
  EXPECT_EQ(run_, (Names{"dss30.dpl", "ibevnt30.dpl", "inet30.dpl", "inetdb30.dpl", "qrpt30.dpl",
                         "tee30.dpl", "teedb30.dpl", "teeui30.dpl", "vcl30.dpl", "vcldb30.dpl",
                         "vcldbx30.dpl", "vclx30.dpl", "vclsmp30.dpl"}));
  EXPECT_EQ(design_,
            (Names{"dcltee30.dpl", "dcldb30.dpl", "dcldss30.dpl", "dcl31w30.dpl", "dclsmp30.dpl",
                   "dclqrt30.dpl", "dbx30.dpl", "dclocx30.dpl", "dclisp30.dpl", "dclnet30.dpl",
                   "dclstd30.dpl", "dclusr30.dpl", "dclisp20.dpl"}));
  // Appending keeps what the list already holds.
  std::vector<std::string> list = {"first"};
  AddRunTimePackages(list);
  EXPECT_EQ(list.size(), 14u);
  EXPECT_EQ(list[0], "first");
  EXPECT_EQ(list[1], "dss30.dpl");
}

TEST_F(StandardPackages, WholeNamesMatchIgnoringCase) {
  EXPECT_TRUE(Is("Vcl30.dpl"));
  EXPECT_TRUE(Is("VCL30.DPL"));
  EXPECT_TRUE(Is("dclisp20.dpl"));
  EXPECT_TRUE(Is("dclisp30.dpl"));
  EXPECT_TRUE(Is("DBX30.dpl"));
  EXPECT_FALSE(Is("dclusr20.dpl"));
  EXPECT_FALSE(Is("C:\\WINDOWS\\SYSTEM\\vcl30.dpl"));
  EXPECT_FALSE(Is("vcl30.dpl.bak"));
  EXPECT_FALSE(Is("vcl30"));
  EXPECT_FALSE(Is(""));
  // Empty tables (Delphi 3 not installed): nothing is standard.
  EXPECT_FALSE(IsStandardPackage({}, {}, "vcl30.dpl"));
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {
namespace fs = std::filesystem;

// The Shared mark: the same file as a registered name, whichever drive,
// folder or letter case reaches it; a registered name whose file is
// missing matches by its text only.
TEST(SharedPackages, SameFileOrTheTextOfAMissingOne) {
  test::TempPrefix prefix;
  prefix.WriteText("C:\\windows\\system32\\vcl30.dpl", "x");
  prefix.WriteText("C:\\windows\\system32\\other.dpl", "x");
  prefix.WriteText("C:\\Pkgs\\Copy\\vcl30.dpl", "x");  // the same name, another file
  fs::create_hard_link(prefix.Host("C:\\windows\\system32\\vcl30.dpl"),
                       prefix.Host("C:\\Pkgs\\linked.dpl"));
  prefix.System().Drives().Map('F', prefix.Host("C:\\windows\\system32"));
  const TSharedPackages shared({"C:\\windows\\system32\\vcl30.dpl", "C:\\Gone\\old.dpl"});
  const struct {
    const char* path;
    bool shared;
  } cases[] = {
      {"C:\\windows\\system32\\vcl30.dpl", true},
      {"c:\\WINDOWS\\System32\\VCL30.DPL", true},
      {"F:\\vcl30.dpl", true},
      {"C:\\Pkgs\\linked.dpl", true},
      {"C:\\Pkgs\\Copy\\vcl30.dpl", false},
      {"C:\\windows\\system32\\other.dpl", false},
      {"c:\\gone\\OLD.dpl", true},
      {"C:\\Gone\\new.dpl", false},
      {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(shared.Holds(c.path), c.shared) << c.path;
    EXPECT_EQ(IsSharedPackage({"C:\\windows\\system32\\vcl30.dpl", "C:\\Gone\\old.dpl"}, c.path),
              c.shared)
        << c.path;
  }
  const fs::path host = prefix.Host("C:\\windows\\system32\\vcl30.dpl");
  EXPECT_TRUE(shared.Holds("Z:\\anything", &host));
  EXPECT_FALSE(TSharedPackages({}).Holds("C:\\windows\\system32\\vcl30.dpl"));
}

}  // namespace
}  // namespace kx
