#include "support/wine_prefix.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "support/test_system.h"

namespace kx::test {
namespace {
namespace fs = std::filesystem;

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
  if (output) *output = ReadHostText(out);
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

}  // namespace

void WinePrefixTest::SetUp() {
  const WineSetup& wine = Wine();
  if (wine.prefix.empty()) GTEST_SKIP() << wine.skipReason;
  prefix_ = MakeTempDir();
  ASSERT_FALSE(prefix_.empty());
  ASSERT_EQ(
      std::system(
          ("cp -a " + Quote(wine.prefix.string() + "/.") + " " + Quote(prefix_.string())).c_str()),
      0);
}

void WinePrefixTest::TearDown() {
  if (prefix_.empty()) return;
  Stop();
  std::error_code ec;
  fs::remove_all(prefix_, ec);
}

int WinePrefixTest::Shell(const std::string& command, std::string* output) {
  std::string line = command;
  if (line.rfind("wine ", 0) == 0) line = Wine().wine + line.substr(4);
  return RunIn(prefix_, line, 120, output);
}

void WinePrefixTest::Stop() { RunIn(prefix_, Wine().wineserver + " -w", 60); }

}  // namespace kx::test
