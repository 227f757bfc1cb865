#pragma once
// The help of both programs: `--help`, `--version`, `kestrix-cli help
// COMMAND` (or `COMMAND --help`) and the two manual pages. The pages are
// generated from the same entries at build time (`--man`), so they say
// what the programs say. Plain C++: the window's `--help` and `--version`
// answer before Qt starts, without a display.
#include <string>
#include <string_view>
#include <vector>

namespace kx::help {

enum class Program { Window, Cli };

// One argument or option and what it does.
struct Item {
  std::string name;  // "-o OUT", "FILE", "known add FILE"
  std::string text;
};

// The help of one command (or of the window program).
struct CommandHelp {
  std::string name;                   // "deploy"
  std::vector<std::string> synopsis;  // forms after the program name
  std::string summary;                // one line for the command list
  std::string description;            // paragraphs separated by "\n\n"
  std::vector<Item> options;          // arguments and options, in usage order
  std::vector<Item> exitCodes;        // "0", what it means
  std::string example;                // one command line
};

// The kestrix-cli commands, one entry each, by name.
const std::vector<CommandHelp>& CliCommands();
const CommandHelp* FindCliCommand(std::string_view name);

// "kestrix-cli 0.7.1" and a line end.
std::string VersionText(Program program);
// What `--help` prints.
std::string UsageText(Program program);
// What `kestrix-cli help COMMAND` prints.
std::string CommandText(const CommandHelp& command);
// The manual page in man(7) format.
std::string ManPage(Program program);

// Answers --version, --help (-h), the hidden --man and, for kestrix-cli,
// `help [COMMAND]`: prints and returns the exit code; -1 when argv asks for
// none of them. kestrix-cli looks at its first argument only (a command's
// own --help is the dispatcher's), the window at every argument.
int RunInfoOption(Program program, int argc, char** argv);
// `kestrix-cli COMMAND --help`: 0 after printing, 2 without an entry.
int PrintCommandHelp(std::string_view name);

// The window's own arguments, those Qt left: at most one FILE, no option.
// Returns -1 with file set (or empty), else prints why on stderr and
// returns the exit code 2.
int ParseWindowArgs(int argc, char** argv, std::string& file);

}  // namespace kx::help
