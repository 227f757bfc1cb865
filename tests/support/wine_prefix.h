#pragma once
// Tests against Wine itself. Wine is never needed otherwise: the first such
// test checks once per run that Wine really starts (a 32-bit Wine installs
// on a kernel that cannot run it, and then fails) and every test skips with
// the reason when it does not. Debian's 64-bit Wine is preferred when
// installed, as it runs on any 64-bit kernel.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace kx::test {

class WinePrefixTest : public ::testing::Test {
 protected:
  // A fresh copy of the prefix booted by the probe; skips when Wine cannot run.
  void SetUp() override;
  void TearDown() override;
  // Runs a command line in the prefix, bounded in time; a leading "wine "
  // becomes the Wine the probe found. Output goes to a file (a pipe would
  // stay open as long as wineserver runs). The exit status, -1 when the
  // command did not exit normally.
  int Shell(const std::string& command, std::string* output = nullptr);
  // Waits until wineserver has saved the registry and gone.
  void Stop();

  std::filesystem::path prefix_;
};

}  // namespace kx::test
