#pragma once
// Runs kestrix-cli as a separate program, as a user's shell would.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace kx::test {

// What one run of kestrix-cli gave.
struct CliResult {
  int code = -1;  // exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs kestrix-cli as a separate program in the host folder cwd, with the
// environment variables env set (NAME, value) and no input, and collects
// what it printed.
CliResult RunCli(const std::filesystem::path& cwd,
                 const std::vector<std::pair<std::string, std::string>>& env,
                 const std::vector<std::string>& args);

}  // namespace kx::test
