// kestrix-cli dpk: the package source of a package library ("Extract from
// DPL") or of a compiled package file ("Extract from DCP"), byte for byte as
// the DPK page writes it.
#include <iostream>

#include "cli/cli.h"
#include "package/PackMan.h"
#include "platform/files.h"
#include "platform/strutil.h"
#include "source/DPKSource.h"

namespace kx::cli {
namespace {

int RunDpk(const Args& args) {
  if (args.positional.size() != 1) throw UsageError{"expected exactly one FILE"};
  if (!args.flags.empty()) throw UsageError{"unknown option " + args.flags.front()};
  std::string file = WindowsPathArg(args.positional[0]);
  const std::string* outArg = args.Option("-o");
  std::string out = outArg ? WindowsPathArg(*outArg) : std::string();

  std::string text;
  if (SameText(ExtractFileExt(file), ".dcp")) {
    // The package is named after the source file chosen to save it in, or
    // after the compiled package file when the text goes to stdout.
    BuildDPKFromDCP(file, outArg ? out : file, text);
  } else {
    // The load flow, then the choices the General Info page makes from the
    // package flags.
    TPackageModuleInfo module;
    module.Load(file);
    module.ReadExportTables();
    BuildDPKFromDPL(module, GeneralInfoChoicesFromFlags(module.Flags), text);
  }
  // The text is the file's, in the system code page, also on stdout.
  if (outArg) {
    WriteAnsiTextFile(out, text);
  } else {
    text = AnsiFileText(file, text);
    std::cout.write(text.data(), std::streamsize(text.size()));
    std::cout.flush();
  }
  return 0;
}

}  // namespace

KX_CLI_COMMAND("dpk", "dpk FILE [-o OUT]", {"-o"}, RunDpk);

}  // namespace kx::cli
