// Interop with Wine itself: values written by `wine reg add` read back
// through our store, and values our store writes are seen by `wine reg
// query`. Skipped, with the reason, when Wine cannot run here.
#include <gtest/gtest.h>

#include <string>

#include "platform/registry_hive.h"
#include "support/test_system.h"
#include "support/wine_prefix.h"

namespace kx {
namespace {

using kx::test::Quote;

class WineRegistry : public test::WinePrefixTest {};

TEST_F(WineRegistry, ValuesWrittenByWineReadBack) {
  const std::string key = "HKCU\\Software\\Kestrix";
  ASSERT_EQ(Shell("wine reg add " + Quote(key) + " /v Text /t REG_SZ /d " +
                  Quote("a \"quoted\" \\ text") + " /f"),
            0);
  ASSERT_EQ(Shell("wine reg add " + Quote(key) + " /v Exp /t REG_EXPAND_SZ /d " +
                  Quote("%SystemRoot%\\x") + " /f"),
            0);
  ASSERT_EQ(Shell("wine reg add " + Quote(key) + " /v Multi /t REG_MULTI_SZ /d " +
                  Quote("one\\0two") + " /f"),
            0);
  ASSERT_EQ(Shell("wine reg add " + Quote(key) + " /v Dw /t REG_DWORD /d 42 /f"), 0);
  ASSERT_EQ(Shell("wine reg add " + Quote(key) + " /v Bin /t REG_BINARY /d 00ff10 /f"), 0);
  Stop();

  RegistryAccessor reg(prefix_, RootKey::CurrentUser);
  ASSERT_TRUE(reg.OpenKey("Software\\Kestrix", false));
  EXPECT_EQ(reg.ReadString("Text"), "a \"quoted\" \\ text");
  EXPECT_EQ(reg.ReadString("Exp"), "%SystemRoot%\\x");
  EXPECT_EQ(reg.ReadValue("Exp")->type, REG_EXPAND_SZ);
  const RegValue multi = *reg.ReadValue("Multi");
  EXPECT_EQ(multi.type, REG_MULTI_SZ);
  EXPECT_EQ(multi.data, RegValue::String(u"", std::u16string(u"one\0two\0", 8)).data);
  EXPECT_EQ(*reg.ReadValue("Dw"), RegValue::Dword(u"Dw", 42));
  EXPECT_EQ(reg.ReadValue("Bin")->data, (std::vector<uint8_t>{0x00, 0xff, 0x10}));
}

TEST_F(WineRegistry, ValuesWrittenByUsAreSeenByWine) {
  ASSERT_EQ(Shell("wine reg add 'HKCU\\Software\\Kestrix' /v First /t REG_SZ /d one /f"), 0);
  Stop();
  {
    RegistryAccessor reg(prefix_, RootKey::CurrentUser);
    ASSERT_TRUE(reg.OpenKey("Software\\Kestrix", false));
    reg.WriteString("Ours", "written by us \"quoted\"");
    ASSERT_TRUE(reg.OpenKey("Deeper", true));
    reg.WriteString("Leaf", "x");
  }
  std::string out;
  ASSERT_EQ(Shell("wine reg query 'HKCU\\Software\\Kestrix' /v Ours", &out), 0);
  EXPECT_NE(out.find("REG_SZ"), std::string::npos) << out;
  EXPECT_NE(out.find("written by us \"quoted\""), std::string::npos) << out;
  ASSERT_EQ(Shell("wine reg query 'HKCU\\Software\\Kestrix\\Deeper' /v Leaf", &out), 0);
  EXPECT_NE(out.find("Leaf"), std::string::npos) << out;
  ASSERT_EQ(Shell("wine reg query 'HKCU\\Software\\Kestrix' /v First", &out), 0);
  EXPECT_NE(out.find("one"), std::string::npos) << out;
}

}  // namespace
}  // namespace kx
