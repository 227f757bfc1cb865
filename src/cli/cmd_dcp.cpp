// kestrix-cli dcp: what the DCP page shows for a compiled package file.
#include <iostream>

#include "cli/cli.h"
#include "cli/output.h"
#include "dcp/DCPPage.h"
#include "platform/formats.h"

namespace kx::cli {
namespace {

void PrintNode(const TDCPTreeNode& n, int level) {
  std::cout << std::string(size_t(level) * 2, ' ') << TextCell(n.Text) << "\n";
  for (const auto& c : n.Children) PrintNode(c, level + 1);
}

nlohmann::ordered_json NodeJson(const TDCPTreeNode& n) {
  nlohmann::ordered_json j;
  j["text"] = Out(n.Text);
  j["kind"] = n.Kind;
  j["children"] = nlohmann::json::array();
  for (const auto& c : n.Children) j["children"].push_back(NodeJson(c));
  return j;
}

int RunDcp(const Args& args) {
  if (args.positional.size() != 1) throw UsageError{"expected exactly one FILE"};
  for (const std::string& f : args.flags)
    if (f != "--units" && f != "--json") throw UsageError{"unknown option " + f};
  TDCPPageContent c = AnalyzeDCP(WindowsPathArg(args.positional[0]));
  const bool units = args.Has("--units");

  if (args.Has("--json")) {
    nlohmann::ordered_json j;
    j["file"] = Out(c.FileName);
    if (units) {
      j["units"] = nlohmann::json::array();
      for (size_t i = 0; i < c.Units.size(); ++i) {
        const TMyDCUInfo& u = c.Units[i];
        j["units"].push_back(nlohmann::ordered_json{{"Name", Out(u.Name)},
                                                    {"DCU Offset", u.DCUOffset},
                                                    {"DCU Size", u.DCUSize},
                                                    {"Code Size", u.CodeSize},
                                                    {"Data Size", u.DataSize},
                                                    {"Code Offset", u.CodeOffset},
                                                    {"Data Offset", u.DataOffset},
                                                    {"Package Source", i + 1 == c.Units.size()}});
      }
    } else {
      j["tree"] = nlohmann::json::array();
      for (const auto& r : c.Roots) j["tree"].push_back(NodeJson(r));
    }
    j["status"] = nlohmann::json::array();
    for (const auto& s : c.StatusTexts) j["status"].push_back(Out(s));
    std::cout << j.dump(2) << "\n";
    return 0;
  }

  if (units) {
    std::cout << "Name\tDCU Offset\tDCU Size\tCode Size\tData Size\tCode Offset\tData Offset\n";
    for (const TMyDCUInfo& u : c.Units)
      std::cout << TextCell(u.Name) << "\t" << HexAddress(u.DCUOffset) << "\t" << u.DCUSize << "\t"
                << u.CodeSize << "\t" << u.DataSize << "\t" << HexAddress(u.CodeOffset) << "\t"
                << HexAddress(u.DataOffset) << "\n";
  } else {
    for (const auto& r : c.Roots) PrintNode(r, 0);
  }
  for (const auto& s : c.StatusTexts) std::cout << TextCell(s) << "\n";
  return 0;
}

}  // namespace

KX_CLI_COMMAND("dcp", "dcp FILE [--units] [--json]", {}, RunDcp);

}  // namespace kx::cli
