#include "source/DPKSource.h"

#include <cstdio>

#include "dcp/DCPPage.h"
#include "package/PackMan.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/strutil.h"
#include "platform/system.h"
#include "source/Version.h"

namespace kx {
namespace {

// The directive block: each directive, the compiler switch that sets it and
// the value of the fixed block.
struct Directive {
  const char* name;
  char letter;  // $A..$Z
  const char* fixed;
};
constexpr Directive kDirectives[20] = {
    {"ALIGN", 'A', "ON"},          {"ASSERTIONS", 'C', "OFF"},    {"BOOLEVAL", 'B', "OFF"},
    {"DEBUGINFO", 'D', "OFF"},     {"EXTENDEDSYNTAX", 'X', "ON"}, {"IMPORTEDDATA", 'G', "ON"},
    {"IOCHECKS", 'I', "OFF"},      {"LOCALSYMBOLS", 'L', "OFF"},  {"LONGSTRINGS", 'H', "ON"},
    {"OPENSTRINGS", 'P', "ON"},    {"OPTIMIZATION", 'O', "ON"},   {"OVERFLOWCHECKS", 'Q', "OFF"},
    {"RANGECHECKS", 'R', "OFF"},   {"REFERENCEINFO", 'Y', "OFF"}, {"SAFEDIVIDE", 'U', "OFF"},
    {"STACKFRAMES", 'W', "OFF"},   {"TYPEDADDRESS", 'T', "OFF"},  {"VARSTRINGCHECKS", 'V', "ON"},
    {"WRITEABLECONST", 'J', "ON"}, {"MINENUMSIZE", 'Z', "1"},
};

void Line(std::string& t, std::string_view s) {
  t += s;
  t += "\r\n";
}

// The fixed block, or with switches the package's own value on every line:
// ON/OFF from the switch, the minimum enum size as its number.
void DirectivesAndImageBase(std::string& t, uint32_t imageBase, const TSwitches* switches) {
  for (const Directive& d : kDirectives) {
    std::string value = d.fixed;
    if (switches) {
      const uint8_t v = (*switches)[static_cast<size_t>(d.letter - 'A')];
      value = d.letter == 'Z' ? std::to_string(v) : v ? "ON" : "OFF";
    }
    Line(t, std::string("{$") + d.name + " " + value + "}");
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "{$IMAGEBASE $%08X}", imageBase);
  Line(t, buf);
  Line(t, "");
}

// An empty line, the clause keyword, then " name," ... " name;".
void Clause(std::string& t, std::string_view keyword, const std::vector<std::string>& names) {
  if (names.empty()) return;
  Line(t, "");
  Line(t, keyword);
  for (size_t i = 0; i < names.size(); ++i)
    Line(t, " " + names[i] + (i + 1 < names.size() ? "," : ";"));
}

void Ending(std::string& t) {
  Line(t, "");
  Line(t, "end.");
}

std::string DoubleQuotes(std::string_view s) {
  std::string out;
  for (char c : s) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

}  // namespace

TGeneralInfoChoices GeneralInfoChoicesFromFlags(uint32_t flags) {
  const TFlagChoices choices = ChoicesFromFlags(flags);
  TGeneralInfoChoices c;
  c.Usage = choices.usage;
  c.Build = choices.build;
  return c;
}

TDPKModuleData DPKModuleDataFrom(const TPackageModuleInfo& m) {
  TDPKModuleData d;
  d.FileName = m.FileName;
  // A package keeps its preferred base in the source even when it was
  // relocated in this process (the program image occupies $00400000, the
  // compiler's default base).
  d.ImageBase = m.ImageBase;
  if (d.ImageBase == 0 && m.Loaded())
    if (const ModuleRecord* rec = Sys().Proc().Module(m.Handle)) d.ImageBase = rec->imageBase;
  d.Description = m.Loaded() ? m.GetDescription() : std::string();
  d.Requires = m.Requires;
  d.SourceUnits = m.SourceUnits;
  return d;
}

std::string DPKTextFromModule(const TDPKModuleData& m, const TGeneralInfoChoices& c,
                              std::string_view header) {
  std::string t(header);
  Line(t, "package " + FileBaseName(m.FileName) + ";");
  Line(t, "");
  DirectivesAndImageBase(t, m.ImageBase, m.OwnSwitches ? &*m.OwnSwitches : nullptr);
  // The placeholder of a module without a DESCRIPTION resource is no
  // description of the package.
  if (!m.Description.empty() && m.Description != kNoDescription)
    Line(t, "{$DESCRIPTION '" + DoubleQuotes(m.Description) + "' }");
  if (c.Usage == ucDesignTime) Line(t, "{$DESIGNONLY}");
  if (c.Usage == ucRunTime) Line(t, "{$RUNONLY}");
  Line(t, c.Build == bcAlways ? "{$IMPLICITBUILD ON}" : "{$IMPLICITBUILD OFF}");
  Clause(t, "requires", m.Requires);
  Clause(t, "contains", m.SourceUnits);
  Ending(t);
  return t;
}

void BuildDPKFromDPL(const TDPKModuleData& module, const TGeneralInfoChoices& choices,
                     std::string& text) {
  text = DPKTextFromModule(module, choices, MakeSourceHeader(module.FileName));
}

void BuildDPKFromDPL(const TPackageModuleInfo& module, const TGeneralInfoChoices& choices,
                     std::string& text) {
  BuildDPKFromDPL(DPKModuleDataFrom(module), choices, text);
}

TDPKCompiledData DPKCompiledDataFrom(std::string_view dcpFileName) {
  TDPKCompiledData d;
  d.DCPFileName = std::string(dcpFileName);
  TDCPHeader header;
  ReadDCPForDPK(dcpFileName, header, d.Contains, d.Resources, d.Requires);
  d.ImageBase = header.DCPImageBase();
  d.NeverBuild = header.NeverBuild();
  return d;
}

std::string DPKTextFromCompiled(const TDPKCompiledData& d, std::string_view packageName,
                                std::string_view header) {
  std::string t(header);
  Line(t, "package " + std::string(packageName) + ";");
  Line(t, "");
  for (const auto& r : d.Resources) Line(t, "{$R " + r + "}");
  DirectivesAndImageBase(t, d.ImageBase, nullptr);
  Line(t, d.NeverBuild == 0 ? "{$IMPLICITBUILD ON}" : "{$IMPLICITBUILD OFF}");
  Clause(t, "requires", d.Requires);
  Clause(t, "contains", d.Contains);
  Ending(t);
  return t;
}

void BuildDPKFromDCP(std::string_view dcpFileName, std::string_view dpkFileName,
                     std::string& text) {
  TDPKCompiledData d = DPKCompiledDataFrom(dcpFileName);
  text = DPKTextFromCompiled(d, FileBaseName(dpkFileName), MakeSourceHeader(dcpFileName));
}

std::string MakeDCUReport(const TMyDCUInfo& info, std::string_view moduleFileName) {
  return BuildDCUReport(info, MakeSourceHeader(DCUReportSourceName(info.Name, moduleFileName)));
}

FileDialogSpec DPKSaveDialog(std::string_view fileName) {
  FileDialogSpec d;
  d.title = "Save Package Source File...";
  d.filter = "Package Source (*.DPK)|*.DPK";
  d.defaultExt = "dpk";
  d.fileName = std::string(fileName);
  d.overwritePrompt = true;
  return d;
}

FileDialogSpec DPKOpenDialog() {
  FileDialogSpec d;
  d.filter = "Package Source (*.DPK)|*.dpk";
  d.fileName = "*.dpk";
  return d;
}

std::string ExpectedDPKFileName(std::string_view moduleFileName) {
  if (!SameText(ExtractFileExt(moduleFileName), ".dpl")) return std::string();
  return FileBaseName(moduleFileName) + ".dpk";
}

std::vector<std::string> SplitSourceLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

std::vector<std::string> LoadSourceLines(std::string_view windowsFileName) {
  auto bytes = ReadFileBytes(windowsFileName);
  if (!bytes) throw EFOpenError("Cannot open file " + std::string(windowsFileName));
  // A source file is in the system code page.
  return SplitSourceLines(
      AnsiToUtf8(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size())));
}

}  // namespace kx
