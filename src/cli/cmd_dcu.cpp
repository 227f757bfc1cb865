// kestrix-cli dcu: the interface of a compiled unit, on its own or inside a
// compiled package file.
#include <iostream>

#include "cli/cli.h"
#include "dcp/DCPPage.h"
#include "dcu/DcuFile.h"
#include "dcu/DcuInterface.h"
#include "platform/codepage.h"
#include "platform/strutil.h"

namespace kx::cli {
namespace {

nlohmann::ordered_json ParamsJson(const std::vector<DcuParamItem>& ps) {
  nlohmann::ordered_json a = nlohmann::json::array();
  for (const DcuParamItem& p : ps)
    a.push_back({{"name", Out(p.Name)}, {"kind", p.Kind}, {"type", Out(p.Type)}});
  return a;
}

nlohmann::ordered_json ItemJson(const DcuItem& d) {
  nlohmann::ordered_json j;
  j["kind"] = d.Kind;
  j["name"] = Out(d.Name);
  j["visibility"] = d.Visibility;
  j["type"] = Out(d.Type);
  j["value"] = Out(d.Value);
  j["parameters"] = ParamsJson(d.Parameters);
  j["members"] = nlohmann::json::array();
  for (const DcuItem& m : d.Members) j["members"].push_back(ItemJson(m));
  return j;
}

nlohmann::ordered_json InterfaceJson(const DcuInterface& i) {
  nlohmann::ordered_json j;
  j["unit"] = Out(i.Unit);
  nlohmann::ordered_json uses;
  uses["interface"] = nlohmann::json::array();
  for (const auto& n : i.InterfaceUses) uses["interface"].push_back(Out(n));
  uses["implementation"] = nlohmann::json::array();
  for (const auto& n : i.ImplementationUses) uses["implementation"].push_back(Out(n));
  j["uses"] = uses;
  j["declarations"] = nlohmann::json::array();
  for (const DcuItem& d : i.Declarations) j["declarations"].push_back(ItemJson(d));
  return j;
}

// A compiled package file by its extension; anything else is read as a unit.
bool IsPackageFile(const std::string& file) {
  return file.size() >= 4 && SameText(file.substr(file.size() - 4), ".dcp");
}

int RunDcu(const Args& args) {
  if (args.positional.empty() || args.positional.size() > 2)
    throw UsageError{"expected FILE and at most one UNIT"};
  for (const std::string& f : args.flags)
    if (f != "--json") throw UsageError{"unknown option " + f};
  const bool json = args.Has("--json");
  const std::string file = WindowsPathArg(args.positional[0]);

  if (!IsPackageFile(file)) {
    if (args.positional.size() == 2) throw UsageError{"UNIT is only for a compiled package file"};
    const DcuInterface i = MakeDcuInterface(DecodeDcuFile(file));
    if (json)
      std::cout << InterfaceJson(i).dump(2) << "\n";
    else
      std::cout << Out(DcuInterfaceText(i));
    return 0;
  }

  TDCPPageContent c = AnalyzeDCP(file);
  std::vector<const TMyDCUInfo*> units;
  for (size_t k = 0; k + 1 < c.Units.size(); ++k) units.push_back(&c.Units[k]);
  if (args.positional.size() == 2) {
    const std::string& name = args.positional[1];
    const TMyDCUInfo* found = nullptr;
    for (const TMyDCUInfo* u : units)
      if (SameText(u->Name, name)) found = u;
    if (!found) {
      if (!c.Units.empty() && SameText(c.Units.back().Name, name))
        throw Exception(std::string(kNoCompiledUnitText));
      std::cerr << Out("Unit " + name + " not found in " + file) << "\n";
      return 2;
    }
    units = {found};
  }

  TDCPStream s = TDCPStream::OpenFile(file);
  int status = 0;
  nlohmann::ordered_json all = nlohmann::json::array();
  bool first = true;
  for (const TMyDCUInfo* u : units) {
    try {
      const DcuInterface i = MakeDcuInterface(DecodeDcpUnit(s, *u));
      if (json) {
        all.push_back(InterfaceJson(i));
      } else {
        std::cout << (first ? "" : "\n") << Out(DcuInterfaceText(i));
        first = false;
      }
    } catch (const Exception& e) {
      std::cout.flush();
      std::cerr << Out(e.what()) << "\n";
      status = 1;
    }
  }
  if (json)
    std::cout << (args.positional.size() == 2 && !all.empty() ? all[0] : all).dump(2) << "\n";
  return status;
}

}  // namespace

KX_CLI_COMMAND("dcu", "dcu FILE [UNIT] [--json]", {}, RunDcu);

}  // namespace kx::cli
