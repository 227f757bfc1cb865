// The Delphi 3 registry store over a private prefix: what each operation
// reads and writes, flag encoding, the shared packages, the load-order
// rewrite, and that nothing ever creates the Delphi 3 path.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "delphi3/AdvRegistry.h"
#include "delphi3/D3_Reg.h"
#include "support/test_system.h"

namespace kx {
namespace {
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteText(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

const char kHeader[] =
    "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
    "#arch=win32\n";
const char kD3[] = "[Software\\\\Borland\\\\Delphi\\\\3.0";

class Delphi3RegTest : public ::testing::Test {
 protected:
  fs::path UserReg() const { return prefix_.Root() / "user.reg"; }
  // user.reg with the given sections below the Delphi 3 key: each entry is
  // a subkey name ("" for the key itself) and its value lines.
  void WriteConfig(const std::vector<std::pair<std::string, std::string>>& sections) {
    std::string text = kHeader;
    for (const auto& [sub, values] : sections) {
      text += "\n" + std::string(kD3) + (sub.empty() ? "" : "\\\\" + sub) +
              "] 1796758398\n#time=1d2f5a1c3b4e5f6\n" + values;
    }
    WriteText(UserReg(), text);
  }
  std::vector<std::string> KnownNames() {
    Names names, descriptions;
    ReadKnownPackages(names, descriptions);
    return names;
  }
  test::TempPrefix prefix_;
};

const char kKnownABC[] =
    "\"C:\\\\D3\\\\A.dpl\"=\"Package A\"\n"
    "\"C:\\\\D3\\\\B.dpl\"=\"Package B\"\n"
    "\"C:\\\\D3\\\\C.dpl\"=\"\"\n";

TEST_F(Delphi3RegTest, WithoutTheDelphi3KeyNothingIsReadAndNothingIsCreated) {
  const std::string text = std::string(kHeader) +
                           "\n[Software\\\\Borland\\\\Delphi\\\\2.0\\\\Known Packages] 1\n"
                           "\"C:\\\\x.dpl\"=\"x\"\n";
  WriteText(UserReg(), text);
  EXPECT_FALSE(IsDelphi3Installed());
  Names names = {"keep"}, descriptions = {"keep"};
  ReadKnownPackages(names, descriptions);
  ReadDisabledPackages(names, descriptions);
  EXPECT_EQ(names, Names{"keep"});
  EXPECT_EQ(descriptions, Names{"keep"});
  EXPECT_EQ(ReadAddToPackageName(), "");
  EXPECT_EQ(ReadCompilingOption(kShowPackageDetailsValue), 0);
  // Every write and deletion silently does nothing; no level is created.
  WriteKnownPackage("C:\\x.dpl", "x");
  EXPECT_FALSE(DeleteKnownPackage("C:\\x.dpl"));
  EXPECT_FALSE(DeleteDisabledPackage("C:\\x.dpl"));
  const Names old = {"C:\\x.dpl"}, order = {"C:\\x.dpl"}, desc = {"x"};
  RewriteKnownPackages(&old, &order, &desc);
  WriteAddToPackageName("a.dpk");
  WriteLibrarySearchPath("C:\\lib");
  WritePackageDLLOutputDir("C:\\out");
  WritePackageDCPOutputDir("C:\\dcp");
  WriteCompilingOption(kShowPackageDetailsValue, 1);
  WriteDebuggingOption(kEnableCPUValue, 1);
  EXPECT_EQ(ReadText(UserReg()), text);

  // Each level alone is not enough either.
  for (const char* partial :
       {"[Software] 1\n", "[Software\\\\Borland] 1\n", "[Software\\\\Borland\\\\Delphi] 1\n"}) {
    WriteText(UserReg(), std::string(kHeader) + partial);
    EXPECT_FALSE(IsDelphi3Installed()) << partial;
    WriteKnownPackage("C:\\x.dpl", "x");
    RewriteKnownPackages(&old, &order, &desc);
    EXPECT_EQ(ReadText(UserReg()), std::string(kHeader) + partial);
  }
}

TEST_F(Delphi3RegTest, MissingSubkeysGiveEmptyResultsAndDropWrites) {
  WriteConfig({{"", "\"RootDir\"=\"C:\\\\D3\"\n"}});
  EXPECT_TRUE(IsDelphi3Installed());
  const std::string before = ReadText(UserReg());
  Names names, descriptions;
  ReadKnownPackages(names, descriptions);
  EXPECT_TRUE(names.empty());
  EXPECT_TRUE(descriptions.empty());
  WriteKnownPackage("C:\\x.dpl", "x");
  WriteLibrarySearchPath("C:\\lib");
  WritePackageDLLOutputDir("C:\\out");
  WriteCompilingOption(kShowPackageDetailsValue, 1);
  const Names list = {"C:\\x.dpl"};
  RewriteKnownPackages(&list, &list, &list);
  EXPECT_EQ(ReadText(UserReg()), before);
}

TEST_F(Delphi3RegTest, PackageKeysReadInKeyOrderWithParallelDescriptions) {
  WriteConfig({{kKnownPackagesKey, kKnownABC},
               {kDisabledPackagesKey, "\"C:\\\\D3\\\\B.dpl\"=\"Package B\"\n"}});
  Names names = {"old"}, descriptions;
  ReadKnownPackages(names, descriptions);
  EXPECT_EQ(names, (Names{"C:\\D3\\A.dpl", "C:\\D3\\B.dpl", "C:\\D3\\C.dpl"}));
  EXPECT_EQ(descriptions, (Names{"Package A", "Package B", ""}));
  Names disabled, disabledDesc;
  ReadDisabledPackages(disabled, disabledDesc);
  EXPECT_EQ(disabled, Names{"C:\\D3\\B.dpl"});
  EXPECT_EQ(disabledDesc, Names{"Package B"});

  WriteKnownPackage("C:\\D3\\D.dpl", "Package D");
  EXPECT_EQ(KnownNames().back(), "C:\\D3\\D.dpl");
  EXPECT_TRUE(DeleteKnownPackage("c:\\d3\\a.DPL"));  // names ignore case
  EXPECT_FALSE(DeleteKnownPackage("C:\\D3\\A.dpl"));
  EXPECT_TRUE(DeleteDisabledPackage("C:\\D3\\B.dpl"));
  EXPECT_EQ(KnownNames(), (Names{"C:\\D3\\B.dpl", "C:\\D3\\C.dpl", "C:\\D3\\D.dpl"}));
}

TEST_F(Delphi3RegTest, ANonStringPackageValueIsAnErrorNamingIt) {
  WriteConfig({{kKnownPackagesKey,
                "\"C:\\\\D3\\\\A.dpl\"=\"A\"\n\"C:\\\\D3\\\\Odd.dpl\"=dword:00000001\n"}});
  Names names, descriptions;
  try {
    ReadKnownPackages(names, descriptions);
    FAIL() << "no error";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'C:\\D3\\Odd.dpl'");
  }
}

TEST_F(Delphi3RegTest, TextValuesReadAndWriteUnchanged) {
  WriteConfig({{kAddToPackageKey, "\"AddToPackageName\"=\"C:\\\\D3\\\\Lib\\\\dclusr30.dpk\"\n"},
               {kLibraryKey,
                "\"SearchPath\"=\"$(DELPHI)\\\\Lib;C:\\\\Comp\"\n"
                "\"PackageDLLOutputDir\"=\"C:\\\\Out \"\n"}});
  EXPECT_EQ(ReadAddToPackageName(), "C:\\D3\\Lib\\dclusr30.dpk");
  EXPECT_EQ(ReadLibrarySearchPath(), "$(DELPHI)\\Lib;C:\\Comp");
  EXPECT_EQ(ReadPackageDLLOutputDir(), "C:\\Out ");
  EXPECT_EQ(ReadPackageDCPOutputDir(), "");
  WritePackageDCPOutputDir("C:\\Dcp \"x\"");
  EXPECT_EQ(ReadPackageDCPOutputDir(), "C:\\Dcp \"x\"");
  WriteAddToPackageName("");
  EXPECT_EQ(ReadAddToPackageName(), "");
  WriteLibrarySearchPath("D:\\\u00e9t\u00e9");  // UTF-8 text
  EXPECT_EQ(ReadLibrarySearchPath(), "D:\\\u00e9t\u00e9");
  EXPECT_NE(ReadText(UserReg()).find("\"SearchPath\"=\"D:\\\\\\xe9t\\xe9\""), std::string::npos);
}

TEST_F(Delphi3RegTest, FlagsReadAsIntegersAndWriteAsDecimalText) {
  WriteConfig({{kCompilingKey,
                "\"Empty\"=\"\"\n\"Zero\"=\"0\"\n\"One\"=\"1\"\n\"Two\"=\"2\"\n\"Neg\"=\"-3\"\n"
                "\"Yes\"=\"yes\"\n\"Dw\"=dword:00000001\n\"Spaced\"=\"1 \"\n"},
               {kDebuggingKey, "\"EnableCPU\"=\"1\"\n"}});
  EXPECT_EQ(ReadCompilingOption("Absent"), 0);
  EXPECT_EQ(ReadCompilingOption("Empty"), 0);
  EXPECT_EQ(ReadCompilingOption("Zero"), 0);
  EXPECT_EQ(ReadCompilingOption("One"), 1);
  EXPECT_EQ(ReadCompilingOption("Two"), 2);
  EXPECT_EQ(ReadCompilingOption("Neg"), -3);
  EXPECT_EQ(ReadDebuggingOption(kEnableCPUValue), 1);
  EXPECT_EQ(ReadDebuggingOption("One"), 0);  // the other subkey
  try {
    ReadCompilingOption("Yes");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'yes' is not a valid integer value");
  }
  EXPECT_THROW(ReadCompilingOption("Spaced"), EConvertError);
  EXPECT_THROW(ReadCompilingOption("Dw"), ERegistryException);

  WriteCompilingOption(kShowPackageDetailsValue, 1);
  WriteDebuggingOption(kEnableCPUValue, 0);
  const std::string text = ReadText(UserReg());
  EXPECT_NE(text.find("\"ShowPackageDetails\"=\"1\"\n"), std::string::npos);
  EXPECT_NE(text.find("\"EnableCPU\"=\"0\"\n"), std::string::npos);
  EXPECT_EQ(text.find("dword:00000000"), std::string::npos);
}

TEST(StrToInt, DecimalIntegersOnly) {
  EXPECT_EQ(StrToInt("42"), 42);
  EXPECT_EQ(StrToInt("  -7"), -7);
  EXPECT_EQ(StrToInt("+5"), 5);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
  for (const char* bad :
       {"", " ", "-", "1.0", "0x10", "$10", "2147483648", "99999999999999999999", "1 2", "1e3"})
    EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
}

TEST_F(Delphi3RegTest, SharedPackagesAreTheDplEntriesOfSharedDLLs) {
  WriteText(prefix_.Root() / "system.reg",
            "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n"
            "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\SharedDLLs] 1\n"
            "\"C:\\\\WINDOWS\\\\SYSTEM\\\\VCL30.DPL\"=dword:00000003\n"
            "\"C:\\\\WINDOWS\\\\SYSTEM\\\\VCL30.DLL\"=dword:00000001\n"
            "\"C:\\\\DIR.DPL\\\\README\"=dword:00000001\n"
            "\"C:\\\\D3\\\\dclstd30.dpl\"=dword:00000001\n"
            "\"C:\\\\D3\\\\x.dpl.bak\"=dword:00000001\n");
  Names all;
  ReadSharedDLLNames(all);
  EXPECT_EQ(all.size(), 5u);
  Names shared = {"kept"};
  ReadSharedPackages(shared);  // appends
  EXPECT_EQ(shared, (Names{"kept", "C:\\WINDOWS\\SYSTEM\\VCL30.DPL", "C:\\D3\\dclstd30.dpl"}));
  // Without the key the list is left alone.
  WriteText(prefix_.Root() / "system.reg", "WINE REGISTRY Version 2\n");
  Names none = {"x"};
  ReadSharedDLLNames(none);
  EXPECT_EQ(none, Names{"x"});
}

TEST_F(Delphi3RegTest, RewriteChangesTheLoadOrderAndKeepsDescriptions) {
  WriteConfig({{kKnownPackagesKey, kKnownABC}, {kLibraryKey, "\"SearchPath\"=\"x\"\n"}});
  Names old, descriptions;
  ReadKnownPackages(old, descriptions);
  Names order = {old[1], old[0], old[2]};
  Names orderDesc = {descriptions[1], descriptions[0], descriptions[2]};
  RewriteKnownPackages(&old, &order, &orderDesc);
  Names names, desc;
  ReadKnownPackages(names, desc);
  EXPECT_EQ(names, (Names{"C:\\D3\\B.dpl", "C:\\D3\\A.dpl", "C:\\D3\\C.dpl"}));
  EXPECT_EQ(desc, (Names{"Package B", "Package A", ""}));
  EXPECT_EQ(ReadLibrarySearchPath(), "x");
  // Without both new lists nothing happens.
  RewriteKnownPackages(&old, nullptr, &orderDesc);
  RewriteKnownPackages(&old, &order, nullptr);
  EXPECT_EQ(KnownNames(), names);
}

// An accessor whose batch of changes fails at a chosen step.
class FailingStep : public RegistryAccessor {
 public:
  explicit FailingStep(int failAt) : RegistryAccessor(RootKey::CurrentUser), failAt_(failAt) {}
  int steps = 0;

 protected:
  void BatchStep() override {
    if (steps++ == failAt_) throw ERegistryException("injected");
  }

 private:
  int failAt_;
};

TEST_F(Delphi3RegTest, ARewriteHoldsTheOldOrTheCompleteNewSetWhateverFails) {
  WriteConfig({{kKnownPackagesKey, kKnownABC}, {kLibraryKey, "\"SearchPath\"=\"x\"\n"}});
  const std::string before = ReadText(UserReg());
  Names old, descriptions;
  ReadKnownPackages(old, descriptions);
  const Names order = {old[2], old[0], old[1]};
  const Names orderDesc = {descriptions[2], descriptions[0], descriptions[1]};
  // Three deletions, three writes, then the file itself: a failure at any
  // of them leaves the file as it was.
  for (int failAt = 0; failAt <= 6; ++failAt) {
    SCOPED_TRACE(failAt);
    FailingStep reg(failAt);
    ASSERT_TRUE(OpenDelphi3Key(reg));
    ASSERT_TRUE(reg.OpenKey(kKnownPackagesKey, false));
    EXPECT_THROW(ReplaceKeyValues(reg, old, order, orderDesc), ERegistryException);
    EXPECT_EQ(ReadText(UserReg()), before);
  }
  FailingStep reg(7);
  ASSERT_TRUE(OpenDelphi3Key(reg));
  ASSERT_TRUE(reg.OpenKey(kKnownPackagesKey, false));
  ReplaceKeyValues(reg, old, order, orderDesc);
  EXPECT_EQ(reg.steps, 7);
  Names names, desc;
  ReadKnownPackages(names, desc);
  EXPECT_EQ(names, order);
  EXPECT_EQ(desc, orderDesc);

  // An old name that is no longer in the key: the error, and no change.
  const std::string now = ReadText(UserReg());
  const Names stale = {old[0], "C:\\D3\\Gone.dpl"};
  try {
    RewriteKnownPackages(&stale, &old, &descriptions);
    FAIL() << "no error";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Error removing old known package!");
  }
  EXPECT_EQ(ReadText(UserReg()), now);
}

TEST_F(Delphi3RegTest, NamesTheCodePageCannotHoldSurviveEveryChange) {
  // "C:\D3\<Greek capital omega>mega.dpl" with a description holding it too.
  WriteConfig({{kKnownPackagesKey,
                "\"C:\\\\D3\\\\A.dpl\"=\"Package A\"\n"
                "\"C:\\\\D3\\\\\\x3a9mega.dpl\"=\"\\x3a9 desc\"\n"
                "\"C:\\\\D3\\\\C.dpl\"=\"\"\n"}});
  const std::string omega = "\"C:\\\\D3\\\\\\x3a9mega.dpl\"=\"\\x3a9 desc\"";
  Names old, descriptions;
  ReadKnownPackages(old, descriptions);
  EXPECT_EQ(old[1], "C:\\D3\\\u03A9mega.dpl");
  EXPECT_EQ(descriptions[1], "\u03A9 desc");
  const Names order = {old[1], old[2], old[0]};
  const Names orderDesc = {descriptions[1], descriptions[2], descriptions[0]};
  RewriteKnownPackages(&old, &order, &orderDesc);
  std::string text = ReadText(UserReg());
  EXPECT_NE(text.find(omega), std::string::npos) << text;
  EXPECT_EQ(text.find('?'), std::string::npos) << text;
  EXPECT_EQ(KnownNames(), order);
  // Adding and removing other packages leave it alone; removing it by its
  // enumerated name removes that value and nothing else.
  WriteKnownPackage("C:\\D3\\D.dpl", "d");
  EXPECT_TRUE(DeleteKnownPackage("C:\\D3\\A.dpl"));
  EXPECT_NE(ReadText(UserReg()).find(omega), std::string::npos);
  EXPECT_TRUE(DeleteKnownPackage(old[1]));
  EXPECT_EQ(KnownNames(), (Names{"C:\\D3\\C.dpl", "C:\\D3\\D.dpl"}));
}

TEST_F(Delphi3RegTest, RewriteRecreatesOnlyTheKnownPackagesKey) {
  WriteConfig({{kKnownPackagesKey, kKnownABC}});
  Names old, descriptions;
  ReadKnownPackages(old, descriptions);
  RegistryAccessor reg(RootKey::CurrentUser);
  ASSERT_TRUE(OpenDelphi3Key(reg));
  ASSERT_TRUE(reg.OpenKey(kKnownPackagesKey, false));
  // The whole Delphi 3 key vanishes before the rewrite reopens it: nothing
  // may be created, and the write reports the failure.
  WriteText(UserReg(), std::string(kHeader));
  try {
    ReplaceKeyValues(reg, {}, old, descriptions);
    FAIL() << "no error";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'C:\\D3\\A.dpl'");
  }
  EXPECT_EQ(ReadText(UserReg()), kHeader);
  // Only "Known Packages" itself gone: it is made again and filled.
  // A rewrite through an accessor without a key writes nothing anywhere.
  EXPECT_THROW(ReplaceKeyValues(reg, {}, old, descriptions), ERegistryException);
  EXPECT_EQ(ReadText(UserReg()), kHeader);
  WriteConfig({{kKnownPackagesKey, kKnownABC}});
  ASSERT_TRUE(OpenDelphi3Key(reg));
  ASSERT_TRUE(reg.OpenKey(kKnownPackagesKey, false));
  WriteConfig({{"", "\"RootDir\"=\"C:\\\\D3\"\n"}});
  ReplaceKeyValues(reg, {}, old, descriptions);
  EXPECT_EQ(KnownNames(), old);
}

}  // namespace
}  // namespace kx
