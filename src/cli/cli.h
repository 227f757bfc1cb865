#pragma once
// kestrix-cli: one file per command; each registers itself with
// KX_CLI_COMMAND. Errors go to stderr with the tool's own message text; exit
// code 0 ok, 1 the operation failed, 2 bad usage.
#include <functional>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "delphi3/SearchPath.h"

namespace kx::cli {

struct Args {
  std::vector<std::string> positional;                       // after the command name
  std::vector<std::string> flags;                            // "--json", "--units", ...
  std::vector<std::pair<std::string, std::string>> options;  // "-o" OUT
  bool Has(const std::string& flag) const;
  const std::string* Option(const std::string& name) const;
};

// Thrown for bad usage: printed with the command's usage line, exit 2.
struct UsageError {
  std::string message;
};

struct Command {
  std::string name;
  std::string usage;                          // "info FILE [--json]"
  std::vector<std::string> optionsWithValue;  // e.g. {"-o"}
  std::function<int(const Args&)> run;
};

bool RegisterCommand(Command c);

// Text for the terminal and pipes: core text is UTF-8 already; a malformed
// byte becomes U+FFFD.
std::string Out(const std::string& text);
// JSON string value from core text.
nlohmann::json J(const std::string& text);
void PrintJson(const nlohmann::json& j);

// What the window's start-up leaves (Delphi 3 detected, PATH extended with
// the library search path), done once before any command runs.
const TStartupPaths& Startup();

// A FILE argument (host or Windows path) as a full Windows path.
std::string WindowsPathArg(const std::string& arg);

}  // namespace kx::cli

#define KX_CLI_CONCAT2(a, b) a##b
#define KX_CLI_CONCAT(a, b) KX_CLI_CONCAT2(a, b)
#define KX_CLI_COMMAND(...)                                \
  static const bool KX_CLI_CONCAT(kx_cli_reg_, __LINE__) = \
      ::kx::cli::RegisterCommand(::kx::cli::Command{__VA_ARGS__})
