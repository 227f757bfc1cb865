// kestrix-cli explains itself: --version, and for every command the
// dispatcher knows, `help COMMAND` and `COMMAND --help` name each option of
// the command's usage line, its exit codes and an example.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "support/cli_run.h"

namespace kx {
namespace {

test::CliResult Cli(const std::vector<std::string>& args) {
  return test::RunCli(std::filesystem::temp_directory_path(), {}, args);
}

TEST(CliHelp, VersionAndUnknownHelp) {
  const test::CliResult version = Cli({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_TRUE(std::regex_match(version.out, std::regex("kestrix-cli [0-9]+\\.[0-9]+\\.[0-9]+\n")))
      << version.out;
  EXPECT_EQ(Cli({"help", "no-such-command"}).code, 2);
}

TEST(CliHelp, EveryCommandExplainsEveryOptionOfItsUsage) {
  // Without arguments the dispatcher lists each command's usage line.
  const test::CliResult usage = Cli({});
  ASSERT_EQ(usage.code, 2);
  std::istringstream lines(usage.err);
  std::string line;
  int commands = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("  ", 0) != 0) continue;
    std::istringstream words(line);
    std::string name, word;
    words >> name;
    SCOPED_TRACE(name);
    ++commands;
    const test::CliResult help = Cli({"help", name});
    ASSERT_EQ(help.code, 0) << help.err;
    EXPECT_EQ(Cli({name, "--help"}).out, help.out);
    while (words >> word) {
      const size_t start = word.find_first_not_of("[|");
      const size_t end = word.find_last_not_of("]|");
      if (start == std::string::npos || word[start] != '-') continue;
      const std::string option = word.substr(start, end - start + 1);
      EXPECT_NE(help.out.find("  " + option + " "), std::string::npos) << option;
    }
    EXPECT_NE(help.out.find("\nExit codes:\n  0  "), std::string::npos);
    EXPECT_NE(help.out.find("\nExample:\n  kestrix-cli " + name + " "), std::string::npos);
  }
  EXPECT_GE(commands, 12);
}

}  // namespace
}  // namespace kx
