// kestrix-cli extract-dcu: copies one compiled unit out of a compiled
// package file, as "Extract DCU" on the DCP page does.
#include <iostream>

#include "cli/cli.h"
#include "dcp/DCPPage.h"
#include "platform/codepage.h"
#include "platform/strutil.h"

namespace kx::cli {
namespace {

int RunExtractDcu(const Args& args) {
  if (args.positional.size() != 2) throw UsageError{"expected FILE and UNIT"};
  if (!args.flags.empty()) throw UsageError{"unknown option " + args.flags.front()};
  const std::string* out = args.Option("-o");
  if (!out) throw UsageError{"-o OUT is required"};
  std::string file = WindowsPathArg(args.positional[0]);
  std::string unit = args.positional[1];

  TDCPPageContent c = AnalyzeDCP(file);
  const TDCPTreeNode* found = nullptr;
  bool packageSource = false;
  for (const auto& n : c.Roots[0].Children) {
    const std::string& name = n.Entry ? n.Entry->Name : c.Units.back().Name;
    if (!SameText(name, unit)) continue;
    if (n.Entry)
      found = &n;
    else
      packageSource = true;
    break;
  }
  if (!found) {
    if (packageSource)
      throw Exception("Unit " + unit + " is the package source unit of " + file +
                      "; it has no DCU to extract.");
    throw Exception("Unit " + unit + " not found in " + file);
  }
  ExtractDCU(file, *found->Entry, WindowsPathArg(*out));
  std::cout << kDCUExtractedNotice << "\n";
  return 0;
}

}  // namespace

KX_CLI_COMMAND("extract-dcu", "extract-dcu FILE UNIT -o OUT", {"-o"}, RunExtractDcu);

}  // namespace kx::cli
