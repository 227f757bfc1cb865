// kestrix-cli info, exports, structure, imports, resources: what the General
// Info, Export, Structure, Import and Resources pages show for a module.
#include <unistd.h>

#include <iostream>

#include "cli/cli.h"
#include "cli/output.h"
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
  // The compiler options the package was built with, when it records them:
  // the switches, and the conditional defines and unit aliases when set.
  const std::optional<TPackageOptions> options = GetPackageOptions(m.Handle);
  const std::string switches = options ? PackageSwitchesText(*options) : std::string();
  const TPackageOptionsText optionText =
      options ? PackageOptionsText(*options) : TPackageOptionsText();
  const std::pair<const char*, const std::string*> optionLines[] = {
      {"Conditionals", &optionText.Conditionals}, {"Unit aliases", &optionText.UnitAliases}};
  std::vector<std::string> requires_ = SortedRequires(m.Requires);
  Output& out = Output::Stdout();
  if (args.Has("--json")) {
    JsonWriter j(out);
    j.BeginObject();
    for (const auto& [k, v] : fields) j.Member(k, v);
    if (options)
      j.Member("switches", switches)
          .Member("conditionals", optionText.Conditionals)
          .Member("unitAliases", optionText.UnitAliases);
    j.Key("Requires").BeginArray();
    for (const auto& r : requires_) j.String(r);
    j.EndArray().Key("Contains").BeginArray();
    for (const auto& u : m.Contains)
      j.BeginObject()
          .Member("Name", u.name)
          .Member("Flags", Join(UnitFlagCaptions(u.flags), ", "))
          .EndObject();
    j.EndArray().EndObject();
    out.Raw("\n");
    return 0;
  }
  for (const auto& [k, v] : fields) out.Raw(k).Raw("\t").Text(v).Raw("\n");
  if (options) out.Raw("Switches\t").Text(switches).Raw("\n");
  for (const auto& [name, value] : optionLines)
    if (!value->empty()) out.Raw(name).Raw("\t").Text(*value).Raw("\n");
  for (const auto& r : requires_) out.Raw("Requires\t").Text(r).Raw("\n");
  for (const auto& u : m.Contains)
    out.Raw("Contains\t")
        .Text(u.name)
        .Raw("\t")
        .Text(Join(UnitFlagCaptions(u.flags), ", "))
        .Raw("\n");
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
  Output& out = Output::Stdout();
  if (args.Has("--json")) {
    JsonWriter j(out);
    j.BeginObject().Key("exports").BeginArray();
    for (const auto& row : r.rows)
      j.BeginObject()
          .Member("Address", HexAddress(row.address))
          .Key("Ordinal")
          .Number(row.ordinal)
          .Member("Name", row.name)
          .EndObject();
    j.EndArray().Key("status").BeginArray();
    for (const auto& s : r.statusPanels) j.String(s);
    j.EndArray().EndObject();
    out.Raw("\n");
    return 0;
  }
  out.Raw("Address\tOrdinal\tName\n");
  for (const auto& row : r.rows)
    out.Raw(HexAddress(row.address)).Raw("\t").Num(row.ordinal).Raw("\t").Text(row.name).Raw("\n");
  for (const auto& s : r.statusPanels) out.Text(s).Raw("\n");
  return 0;
}

void PrintNode(Output& out, const StructureNode& n, int level) {
  out.Spaces(size_t(level) * 2).Text(n.caption).Raw("\n");
  for (const auto& c : n.children) PrintNode(out, c, level + 1);
}

void NodeJson(JsonWriter& j, const StructureNode& n) {
  j.BeginObject().Member("caption", n.caption).Key("state").Number(n.stateIndex);
  if (auto rows = ElementInfoRows(n)) {
    j.Key("info").BeginObject();
    for (const auto& [k, v] : *rows) j.Member(k, v);
    j.Member("Signature", n.info->Signature).EndObject();
  }
  j.Key("children").BeginArray();
  for (const auto& c : n.children) NodeJson(j, c);
  j.EndArray().EndObject();
}

int RunStructure(const Args& args) {
  CheckArgs(args, {"--json", "--as-data"});
  TPackageModuleInfo m;
  LoadModule(m, args);
  TerminalMeter meter;
  meter.Show();
  meter.SetLabel("Building DPL Structure...");
  const bool json = args.Has("--json");
  StructureResult r = BuildStructure(m, meter, json ? LeafInfo::Attach : LeafInfo::Skip);
  meter.Hide();
  // Without a structure (not a .dpl module) the status bar keeps its
  // initial texts.
  std::array<std::string, 2> status =
      r.built ? r.statusPanels : std::array<std::string, 2>{"Units:", "Classes:"};
  Output& out = Output::Stdout();
  if (json) {
    JsonWriter j(out);
    j.BeginObject().Key("tree");
    if (r.built)
      NodeJson(j, r.root);
    else
      j.Null();
    j.Key("status").BeginArray().String(status[0]).String(status[1]).EndArray().EndObject();
    out.Raw("\n");
    return 0;
  }
  if (r.built) PrintNode(out, r.root, 0);
  out.Text(status[0]).Raw("\n").Text(status[1]).Raw("\n");
  return 0;
}

int RunImports(const Args& args) {
  CheckArgs(args, {"--json", "--as-data"});
  TPackageModuleInfo m;
  LoadModule(m, args);
  ImportListResult r = FillImportList(m);
  if (r.damaged) std::cerr << "warning: the import table is damaged; the rows read are shown\n";
  Output& out = Output::Stdout();
  if (args.Has("--json")) {
    JsonWriter j(out);
    j.BeginObject().Key("imports").BeginArray();
    for (const auto& row : r.rows)
      j.BeginObject()
          .Member("Handle", row.handleText)
          .Member("Type", row.type)
          .Member("Name", row.name)
          .EndObject();
    j.EndArray().Key("status").BeginArray();
    j.String(r.statusPanels[0]).String(r.statusPanels[1]).EndArray().EndObject();
    out.Raw("\n");
    return 0;
  }
  out.Raw("Handle\tType\tName\n");
  for (const auto& row : r.rows)
    out.Text(row.handleText).Raw("\t").Text(row.type).Raw("\t").Text(row.name).Raw("\n");
  out.Text(r.statusPanels[0]).Raw("\n").Text(r.statusPanels[1]).Raw("\n");
  return 0;
}

void PrintResource(Output& out, const ResourceNode& n, int level) {
  out.Spaces(size_t(level) * 2).Text(n.caption).Raw("\n");
  for (const auto& c : n.children) PrintResource(out, c, level + 1);
}

void ResourceJson(JsonWriter& j, const ResourceNode& n) {
  j.BeginObject().Member("caption", n.caption).Key("children").BeginArray();
  for (const auto& c : n.children) ResourceJson(j, c);
  j.EndArray().EndObject();
}

int RunResources(const Args& args) {
  CheckArgs(args, {"--json", "--as-data"});
  TPackageModuleInfo m;
  LoadModule(m, args);
  m.ReadResources();
  ResourceTree tree = ShowResourceTree(m.ResourceLines);
  Output& out = Output::Stdout();
  if (args.Has("--json")) {
    JsonWriter j(out);
    j.BeginObject().Key("tree").BeginArray();
    for (const auto& n : tree.topLevel) ResourceJson(j, n);
    j.EndArray().Key("lines").BeginArray();
    for (const auto& l : m.ResourceLines)
      j.BeginObject().Member("text", l.text).Key("depth").Number(l.depth).EndObject();
    j.EndArray().Member("status", tree.status).EndObject();
    out.Raw("\n");
    return 0;
  }
  for (const auto& n : tree.topLevel) PrintResource(out, n, 0);
  out.Text(tree.status).Raw("\n");
  return 0;
}

}  // namespace

KX_CLI_COMMAND("info", "info FILE [--json]", {}, RunInfo);
KX_CLI_COMMAND("exports", "exports FILE [--as-data] [--json]", {}, RunExports);
KX_CLI_COMMAND("structure", "structure FILE [--as-data] [--json]", {}, RunStructure);
KX_CLI_COMMAND("imports", "imports FILE [--as-data] [--json]", {}, RunImports);
KX_CLI_COMMAND("resources", "resources FILE [--as-data] [--json]", {}, RunResources);

}  // namespace kx::cli
