// kestrix-cli info, exports, structure, imports, resources: what the General
// Info, Export, Structure, Import and Resources pages show for a module.
#include <unistd.h>

#include <iostream>

#include "cli/cli.h"
#include "package/GeneralInfo.h"
#include "package/PackMan.h"
#include "package/PackPages.h"
#include "platform/formats.h"

namespace kx::cli {
namespace {

// The progress window drawn on stderr when it is a terminal.
class TerminalMeter : public ProgressMeter {
 public:
  TerminalMeter() : active_(isatty(2) != 0) {}
  void SetLabel(const std::string& text) override {
    label_ = text;
    Draw();
  }
  void SetTotal(int total) override { total_ = total; }
  void SetCompleted(int completed) override {
    completed_ = completed;
    Draw();
  }
  void Show() override { shown_ = true; }
  void Hide() override {
    if (active_ && shown_) std::cerr << "\r\033[K" << std::flush;
    shown_ = false;
  }

 private:
  void Draw() {
    if (!active_ || !shown_) return;
    std::cerr << "\r\033[K" << Out(label_);
    if (total_ > 0) std::cerr << " " << (completed_ * 100LL / total_) << "%";
    std::cerr << std::flush;
  }
  bool active_;
  bool shown_ = false;
  std::string label_;
  int total_ = 0;
  int completed_ = 0;
};

// JSON text values are UTF-8.
std::string U(const std::string& cp1252) { return Out(cp1252); }

void CheckArgs(const Args& args, std::initializer_list<const char*> allowed) {
  if (args.positional.size() != 1) throw UsageError{"expected exactly one FILE"};
  for (const std::string& f : args.flags) {
    bool ok = false;
    for (const char* a : allowed) ok = ok || f == a;
    if (!ok) throw UsageError{"unknown option " + f};
  }
}

// Loads FILE as the load flow does: as a package, then the table addresses.
// With --as-data the file is only mapped as data.
void LoadModule(TPackageModuleInfo& m, const Args& args) {
  std::string file = WindowsPathArg(args.positional[0]);
  if (args.Has("--as-data"))
    m.LoadAsData(file);
  else
    m.Load(file);
  m.ReadExportTables();
}

std::string Join(const std::vector<std::string>& items, const char* sep) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) out += (i ? sep : "") + items[i];
  return out;
}

// ---------------------------------------------------------------------------

int RunInfo(const Args& args) {
  CheckArgs(args, {"--json"});
  TPackageModuleInfo m;
  m.Load(WindowsPathArg(args.positional[0]));
  std::vector<std::pair<std::string, std::string>> fields = {
      {"File", m.FileName},
      {"Description", m.GetDescription()},
      {"Usage", PackageUsageText(m.Flags)},
      {"Build", PackageBuildText(m.Flags)},
      {"Module Type", PEModuleTypeText(m.Flags)},
      {"Flags", HexAddress(m.Flags)},
      {"File Size", FormatByteCount(m.FileSize) + " bytes"},
      {"File Date", FormatShortDate(m.FileDate)},
      {"File Time", FormatLongTime(m.FileDate)},
  };
  std::vector<std::string> requires_ = SortedRequires(m.Requires);
  if (args.Has("--json")) {
    nlohmann::ordered_json j;
    for (const auto& [k, v] : fields) j[k] = U(v);
    j["Requires"] = nlohmann::json::array();
    for (const auto& r : requires_) j["Requires"].push_back(U(r));
    j["Contains"] = nlohmann::json::array();
    for (const auto& u : m.Contains)
      j["Contains"].push_back(nlohmann::ordered_json{
          {"Name", U(u.name)}, {"Flags", Join(UnitFlagCaptions(u.flags), ", ")}});
    std::cout << j.dump(2) << "\n";
    return 0;
  }
  for (const auto& [k, v] : fields) std::cout << k << "\t" << Out(v) << "\n";
  for (const auto& r : requires_) std::cout << "Requires\t" << Out(r) << "\n";
  for (const auto& u : m.Contains)
    std::cout << "Contains\t" << Out(u.name) << "\t" << Join(UnitFlagCaptions(u.flags), ", ")
              << "\n";
  return 0;
}

int RunExports(const Args& args) {
  CheckArgs(args, {"--json", "--as-data"});
  TPackageModuleInfo m;
  LoadModule(m, args);
  TerminalMeter meter;
  meter.Show();
  meter.SetLabel("Retrieving Export Data...");
  ExportListResult r = FillExportList(m, meter);
  meter.Hide();
  if (r.damaged) std::cerr << "warning: the export table is damaged; the rows read are shown\n";
  if (args.Has("--json")) {
    nlohmann::ordered_json j;
    j["exports"] = nlohmann::json::array();
    for (const auto& row : r.rows)
      j["exports"].push_back(nlohmann::ordered_json{
          {"Address", HexAddress(row.address)}, {"Ordinal", row.ordinal}, {"Name", U(row.name)}});
    j["status"] = nlohmann::json::array();
    for (const auto& s : r.statusPanels) j["status"].push_back(U(s));
    std::cout << j.dump(2) << "\n";
    return 0;
  }
  std::cout << "Address\tOrdinal\tName\n";
  for (const auto& row : r.rows)
    std::cout << HexAddress(row.address) << "\t" << row.ordinal << "\t" << Out(row.name) << "\n";
  for (const auto& s : r.statusPanels) std::cout << Out(s) << "\n";
  return 0;
}

void PrintNode(const StructureNode& n, int level) {
  std::cout << std::string(size_t(level) * 2, ' ') << Out(n.caption) << "\n";
  for (const auto& c : n.children) PrintNode(c, level + 1);
}

nlohmann::ordered_json NodeJson(const StructureNode& n) {
  nlohmann::ordered_json j;
  j["caption"] = U(n.caption);
  j["state"] = n.stateIndex;
  if (auto rows = ElementInfoRows(n)) {
    nlohmann::ordered_json info;
    for (const auto& [k, v] : *rows) info[k] = U(v);
    info["Signature"] = U(n.info->Signature);
    j["info"] = info;
  }
  j["children"] = nlohmann::json::array();
  for (const auto& c : n.children) j["children"].push_back(NodeJson(c));
  return j;
}

int RunStructure(const Args& args) {
  CheckArgs(args, {"--json", "--as-data"});
  TPackageModuleInfo m;
  LoadModule(m, args);
  TerminalMeter meter;
  meter.Show();
  meter.SetLabel("Building DPL Structure...");
  StructureResult r = BuildStructure(m, meter);
  meter.Hide();
  // Without a structure (not a .dpl module) the status bar keeps its
  // initial texts.
  std::array<std::string, 2> status =
      r.built ? r.statusPanels : std::array<std::string, 2>{"Units:", "Classes:"};
  if (args.Has("--json")) {
    nlohmann::ordered_json j;
    j["tree"] = r.built ? NodeJson(r.root) : nlohmann::ordered_json(nullptr);
    j["status"] = nlohmann::json::array({U(status[0]), U(status[1])});
    std::cout << j.dump(2) << "\n";
    return 0;
  }
  if (r.built) PrintNode(r.root, 0);
  std::cout << Out(status[0]) << "\n" << Out(status[1]) << "\n";
  return 0;
}

int RunImports(const Args& args) {
  CheckArgs(args, {"--json", "--as-data"});
  TPackageModuleInfo m;
  LoadModule(m, args);
  ImportListResult r = FillImportList(m);
  if (r.damaged) std::cerr << "warning: the import table is damaged; the rows read are shown\n";
  if (args.Has("--json")) {
    nlohmann::ordered_json j;
    j["imports"] = nlohmann::json::array();
    for (const auto& row : r.rows)
      j["imports"].push_back(nlohmann::ordered_json{
          {"Handle", row.handleText}, {"Type", row.type}, {"Name", U(row.name)}});
    j["status"] = nlohmann::json::array({U(r.statusPanels[0]), U(r.statusPanels[1])});
    std::cout << j.dump(2) << "\n";
    return 0;
  }
  std::cout << "Handle\tType\tName\n";
  for (const auto& row : r.rows)
    std::cout << row.handleText << "\t" << row.type << "\t" << Out(row.name) << "\n";
  std::cout << Out(r.statusPanels[0]) << "\n" << Out(r.statusPanels[1]) << "\n";
  return 0;
}

void PrintResource(const ResourceNode& n, int level) {
  std::cout << std::string(size_t(level) * 2, ' ') << Out(n.caption) << "\n";
  for (const auto& c : n.children) PrintResource(c, level + 1);
}

nlohmann::ordered_json ResourceJson(const ResourceNode& n) {
  nlohmann::ordered_json j;
  j["caption"] = U(n.caption);
  j["children"] = nlohmann::json::array();
  for (const auto& c : n.children) j["children"].push_back(ResourceJson(c));
  return j;
}

int RunResources(const Args& args) {
  CheckArgs(args, {"--json", "--as-data"});
  TPackageModuleInfo m;
  LoadModule(m, args);
  m.ReadResources();
  ResourceTree tree = ShowResourceTree(m.ResourceLines);
  if (args.Has("--json")) {
    nlohmann::ordered_json j;
    j["tree"] = nlohmann::json::array();
    for (const auto& n : tree.topLevel) j["tree"].push_back(ResourceJson(n));
    j["lines"] = nlohmann::json::array();
    for (const auto& l : m.ResourceLines)
      j["lines"].push_back(nlohmann::ordered_json{{"text", U(l.text)}, {"depth", l.depth}});
    j["status"] = U(tree.status);
    std::cout << j.dump(2) << "\n";
    return 0;
  }
  for (const auto& n : tree.topLevel) PrintResource(n, 0);
  std::cout << Out(tree.status) << "\n";
  return 0;
}

}  // namespace

KX_CLI_COMMAND("info", "info FILE [--json]", {}, RunInfo);
KX_CLI_COMMAND("exports", "exports FILE [--as-data] [--json]", {}, RunExports);
KX_CLI_COMMAND("structure", "structure FILE [--as-data] [--json]", {}, RunStructure);
KX_CLI_COMMAND("imports", "imports FILE [--as-data] [--json]", {}, RunImports);
KX_CLI_COMMAND("resources", "resources FILE [--as-data] [--json]", {}, RunResources);

}  // namespace kx::cli
