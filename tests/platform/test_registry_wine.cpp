// Interop with Wine itself: values written by `wine reg add` read back
// through our store, and values our store writes are seen by `wine reg
// query`. Wine is never needed otherwise: the suite first checks once that
// Wine really starts (a 32-bit Wine installs on a kernel that cannot run it,
// and then fails) and skips with the reason when it does not.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/registry_hive.h"
#include "support/test_system.h"

namespace kx {
namespace {
namespace fs = std::filesystem;

using kx::test::Quote;

fs::path MakeTempDir() {
  std::string pattern = (fs::temp_directory_path() / "kx-wine-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

// Runs a Wine command in a prefix, bounded in time, with its output in a
// file (a pipe would stay open as long as wineserver runs). Returns the
// exit status, -1 when it did not exit normally.
int RunIn(const fs::path& prefix, const std::string& command, int seconds,
          std::string* output = nullptr) {
  const fs::path out = prefix / "kx-out.txt";
  const std::string cmd = "WINEPREFIX=" + Quote(prefix.string()) + " WINEDEBUG=-all timeout -k 5 " +
                          std::to_string(seconds) + " " + command + " >" + Quote(out.string()) +
                          " 2>/dev/null </dev/null";
  const int status = std::system(cmd.c_str());
  if (output) {
    std::ifstream in(out, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    *output = ss.str();
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The Wine that runs here: Debian's 64-bit Wine when installed (it runs on
// any 64-bit kernel), else the `wine` on PATH. Probed once per run with a
// fresh prefix that each test then copies.
struct WineSetup {
  std::string wine;
  std::string wineserver;
  fs::path prefix;         // booted once; empty when Wine cannot run
  std::string skipReason;  // why the suite skips
};

bool Executable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

WineSetup ProbeWine() {
  WineSetup w;
  if (Executable("/usr/lib/wine/wine64") && Executable("/usr/lib/wine/wineserver")) {
    w.wine = "/usr/lib/wine/wine64";
    w.wineserver = "/usr/lib/wine/wineserver";
  } else if (std::system("command -v wine >/dev/null 2>&1 && command -v wineserver >/dev/null "
                         "2>&1") == 0) {
    w.wine = "wine";
    w.wineserver = "wineserver";
  } else {
    w.skipReason = "Wine is not installed";
    return w;
  }
  const fs::path prefix = MakeTempDir();
  if (prefix.empty()) {
    w.skipReason = "cannot create a scratch folder";
    return w;
  }
  const int boot = RunIn(prefix, w.wine + " wineboot -i", 240);
  RunIn(prefix, w.wineserver + " -w", 60);
  std::error_code ec;
  if (boot != 0 || !fs::exists(prefix / "user.reg", ec)) {
    w.skipReason = w.wine + " wineboot -i " +
                   (boot < 0 || boot == 124 ? std::string("did not finish in time")
                                            : "failed with status " + std::to_string(boot)) +
                   ": Wine cannot run here";
    fs::remove_all(prefix, ec);
    return w;
  }
  w.prefix = prefix;
  return w;
}

bool probed = false;

const WineSetup& Wine() {
  static const WineSetup setup = ProbeWine();
  probed = true;
  return setup;
}

// Removes the probe's prefix at the end of the run (when a test made one).
class WineEnvironment : public ::testing::Environment {
 public:
  void TearDown() override {
    std::error_code ec;
    if (probed && !Wine().prefix.empty()) fs::remove_all(Wine().prefix, ec);
  }
};
const auto* const kWineEnvironment = ::testing::AddGlobalTestEnvironment(new WineEnvironment);

class WineRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    const WineSetup& wine = Wine();
    if (wine.prefix.empty()) GTEST_SKIP() << wine.skipReason;
    prefix_ = MakeTempDir();
    ASSERT_FALSE(prefix_.empty());
    ASSERT_EQ(
        std::system(("cp -a " + Quote(wine.prefix.string() + "/.") + " " + Quote(prefix_.string()))
                        .c_str()),
        0);
  }
  void TearDown() override {
    if (prefix_.empty()) return;
    Stop();
    std::error_code ec;
    fs::remove_all(prefix_, ec);
  }
  // A `wine ...` command line run with the Wine found by the probe.
  int Shell(const std::string& command, std::string* output = nullptr) {
    std::string line = command;
    if (line.rfind("wine ", 0) == 0) line = Wine().wine + line.substr(4);
    return RunIn(prefix_, line, 120, output);
  }
  // Waits until wineserver has saved the registry and gone.
  void Stop() { RunIn(prefix_, Wine().wineserver + " -w", 60); }
  fs::path prefix_;
};

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
