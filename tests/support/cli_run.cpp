#include "support/cli_run.h"

#include <stdlib.h>
#include <sys/wait.h>

#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "support/test_system.h"

namespace kx::test {
namespace fs = std::filesystem;

CliResult RunCli(const fs::path& cwd, const std::vector<std::pair<std::string, std::string>>& env,
                 const std::vector<std::string>& args) {
  // The output files live in a private folder per run, outside the test's
  // prefix, so that parallel test programs never share them.
  std::string pattern = (fs::temp_directory_path() / "kx-cli-run-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make " + pattern);
  const fs::path dir = pattern, out = dir / "out", err = dir / "err";
  std::string cmd = "cd " + Quote(cwd.string()) + " && env";
  for (const auto& [name, value] : env) cmd += " " + name + "=" + Quote(value);
  cmd += " " + Quote(KX_CLI_PATH);
  for (const std::string& a : args) cmd += " " + Quote(a);
  cmd += " >" + Quote(out.string()) + " 2>" + Quote(err.string()) + " </dev/null";
  const int status = std::system(cmd.c_str());
  CliResult r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = ReadHostText(out);
  r.err = ReadHostText(err);
  std::error_code ec;
  fs::remove_all(dir, ec);
  return r;
}

}  // namespace kx::test
