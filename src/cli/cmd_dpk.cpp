// kestrix-cli dpk: the package source of a package library ("Extract from
// DPL") or of a compiled package file ("Extract from DCP"), byte for byte as
// the DPK page writes it; with --own-switches the directive block of a
// package library carries the compiler switches it was built with.
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
  for (const std::string& f : args.flags)
    if (f != "--own-switches") throw UsageError{"unknown option " + f};
  const bool ownSwitches = args.Has("--own-switches");
  std::string file = WindowsPathArg(args.positional[0]);
  const std::string* outArg = args.Option("-o");
  std::string out = outArg ? WindowsPathArg(*outArg) : std::string();

  std::string text;
  if (SameText(ExtractFileExt(file), ".dcp")) {
    // A compiled package file records no compiler switches.
    if (ownSwitches) throw UsageError{"--own-switches needs a package library"};
    // The package is named after the source file chosen to save it in, or
    // after the compiled package file when the text goes to stdout.
    BuildDPKFromDCP(file, outArg ? out : file, text);
  } else {
    // The load flow, then the choices the General Info page makes from the
    // package flags.
    TPackageModuleInfo module;
    module.Load(file);
    module.ReadExportTables();
    TDPKModuleData data = DPKModuleDataFrom(module);
    if (ownSwitches) {
      if (const std::optional<TPackageOptions> options = GetPackageOptions(module.Handle))
        data.OwnSwitches = options->Switches;
      else
        std::cerr << args.positional[0]
                  << " has no compiler options; the fixed directives were written.\n";
    }
    BuildDPKFromDPL(data, GeneralInfoChoicesFromFlags(module.Flags), text);
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

KX_CLI_COMMAND("dpk", "dpk FILE [-o OUT] [--own-switches]", {"-o"}, RunDpk);

}  // namespace kx::cli
