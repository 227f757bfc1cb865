#include <algorithm>
#include <iostream>
#include <map>

#include "cli/cli.h"
#include "cli/help.h"
#include "cli/output.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/system.h"

namespace kx::cli {
namespace {

std::map<std::string, Command>& Registry() {
  static std::map<std::string, Command> commands;
  return commands;
}

void PrintUsage(std::ostream& os) {
  os << "usage: kestrix-cli COMMAND ...\ncommands:\n";
  for (const auto& [name, c] : Registry()) os << "  " << c.usage << "\n";
}

}  // namespace

bool Args::Has(const std::string& flag) const {
  return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

const std::string* Args::Option(const std::string& name) const {
  for (const auto& [k, v] : options)
    if (k == name) return &v;
  return nullptr;
}

const TStartupPaths& Startup() {
  static const TStartupPaths paths = StartupSearchPath();
  return paths;
}

bool RegisterCommand(Command c) {
  std::string name = c.name;
  Registry()[name] = std::move(c);
  return true;
}

std::string Out(const std::string& text) {
  return IsValidUtf8(text) ? text : Utf16ToUtf8(Utf8ToUtf16(text));
}

nlohmann::json J(const std::string& text) { return nlohmann::json(Out(text)); }

void PrintJson(const nlohmann::json& j) { std::cout << j.dump(2) << "\n"; }

std::string WindowsPathArg(const std::string& arg) {
  return Sys().UserPathToWindows(arg);
}

}  // namespace kx::cli

int main(int argc, char** argv) {
  using namespace kx::cli;
  if (argc < 2) {
    PrintUsage(std::cerr);
    return 2;
  }
  // --version, --help, help [COMMAND] and the manual page.
  if (const int code = kx::help::RunInfoOption(kx::help::Program::Cli, argc, argv); code >= 0)
    return code;
  std::string name = argv[1];
  auto it = Registry().find(name);
  if (it == Registry().end()) {
    std::cerr << "kestrix-cli: unknown command '" << name << "'\n";
    PrintUsage(std::cerr);
    return 2;
  }
  const Command& cmd = it->second;
  Args args;
  // Arguments are UTF-8, taken once here; a malformed byte becomes U+FFFD.
  for (int i = 2; i < argc; ++i) {
    std::string a = Out(argv[i]);
    if (std::find(cmd.optionsWithValue.begin(), cmd.optionsWithValue.end(), a) !=
        cmd.optionsWithValue.end()) {
      if (i + 1 >= argc) {
        std::cerr << "kestrix-cli: " << a << " needs a value\nusage: kestrix-cli " << cmd.usage
                  << "\n";
        return 2;
      }
      args.options.emplace_back(a, Out(argv[++i]));
    } else if (a == "--help" || a == "-h") {
      return kx::help::PrintCommandHelp(name);
    } else if (a.size() > 1 && a[0] == '-') {
      args.flags.push_back(a);
    } else {
      args.positional.push_back(a);
    }
  }
  // What a command printed before it failed is written before its error.
  struct FlushAtEnd {
    ~FlushAtEnd() { Output::Stdout().Flush(); }
  };
  try {
    FlushAtEnd flush;
    Startup();  // every command sees the PATH the window has
    return cmd.run(args);
  } catch (const UsageError& e) {
    std::cerr << "kestrix-cli: " << e.message << "\nusage: kestrix-cli " << cmd.usage << "\n";
    return 2;
  } catch (const kx::Exception& e) {
    std::cerr << Out(e.what()) << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
}
