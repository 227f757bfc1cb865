#include "dcp/DCPPage.h"

#include <utility>

#include "platform/files.h"
#include "platform/formats.h"
#include "platform/strutil.h"
#include "source/Version.h"

namespace kx {

TDCPPageContent MakeDCPPageContent(std::string fileName, TDCUInfoList units,
                                   std::vector<std::string> requiresNames,
                                   std::vector<std::string> resources) {
  TDCPPageContent c;
  c.FileName = std::move(fileName);

  TDCPTreeNode unitsRoot{nkUnitsRoot, "Units", std::nullopt, {}};
  for (size_t i = 0; i < units.size(); ++i) {
    TDCPTreeNode n{nkUnit, units[i].Name, std::nullopt, {}};
    if (i + 1 == units.size())
      n.Text += kPackageSourceSuffix;
    else
      n.Entry = units[i];
    unitsRoot.Children.push_back(std::move(n));
  }
  TDCPTreeNode requiresRoot{nkRequiresRoot, "Required Packages", std::nullopt, {}};
  for (const auto& r : requiresNames)
    requiresRoot.Children.push_back({nkRequiredPackage, r + ".dpl", std::nullopt, {}});
  TDCPTreeNode resourcesRoot{nkResourcesRoot, "Resources", std::nullopt, {}};
  for (const auto& r : resources)
    resourcesRoot.Children.push_back({nkResource, r, std::nullopt, {}});

  c.Roots.push_back(std::move(unitsRoot));
  c.Roots.push_back(std::move(requiresRoot));
  c.Roots.push_back(std::move(resourcesRoot));
  c.StatusTexts = {std::string(kDCPStatusCaptions[0]) + " " + std::to_string(units.size()),
                   std::string(kDCPStatusCaptions[1]) + " " + std::to_string(requiresNames.size()),
                   std::string(kDCPStatusCaptions[2]) + " " + std::to_string(resources.size())};
  c.Units = std::move(units);
  c.Requires = std::move(requiresNames);
  c.Resources = std::move(resources);
  return c;
}

TDCPPageContent AnalyzeDCP(std::string_view fileName) {
  TDCPStream s = TDCPStream::OpenFile(fileName);
  TDCPHeader header;
  TDCUInfoList units;
  std::vector<std::string> resources, requiresNames;
  ReadDCPContents(s, FileBaseName(fileName), header, units, resources, requiresNames);
  return MakeDCPPageContent(std::string(fileName), std::move(units), std::move(requiresNames),
                            std::move(resources));
}

std::array<std::string, 6> DCUInfoData(const TMyDCUInfo* e) {
  if (!e) return {"-", "-", "-", "-", "-", "-"};
  return {HexAddress(e->DCUOffset),
          std::to_string(e->DCUSize) + " bytes",
          std::to_string(e->CodeSize) + " bytes",
          std::to_string(e->DataSize) + " bytes",
          HexAddress(e->CodeOffset),
          HexAddress(e->DataOffset)};
}

bool DCPButtonsEnabled(const TDCPTreeNode* node) {
  return node && node->Kind == nkUnit && node->Entry.has_value();
}

TDCPMenuState DCPMenuState(const TDCPTreeNode* selected) {
  TDCPMenuState m;
  if (!selected) return m;
  m.ExtractDCU = selected->Kind == nkUnit;
  m.CopyInfoString = selected->Kind >= 3 && selected->Kind <= 8;
  return m;
}

std::string CopyInfoString(const TDCPTreeNode& node) { return node.Text; }

bool EnterRunsExtract(const TDCPTreeNode* node, int keyCode) {
  return keyCode == 13 && DCPButtonsEnabled(node);
}

std::string LocateFileQuestion(std::string_view expectedPath) {
  return "File " + std::string(expectedPath) + " not found. Would you like to locate it?";
}

FileDialogSpec DCPOpenDialog(std::string_view fileName) {
  FileDialogSpec d;
  d.title = "Select Source DCP...";
  d.filter = "Compiled Package (*.DCP)|*.DCP";
  d.defaultExt = "dcp";
  d.fileName = std::string(fileName);
  return d;
}

FileDialogSpec UnitSaveDialog(std::string title, std::string filter, std::string defaultExt,
                              std::string fileName) {
  FileDialogSpec d;
  d.title = std::move(title);
  d.filter = std::move(filter);
  d.defaultExt = std::move(defaultExt);
  d.fileName = std::move(fileName);
  d.overwritePrompt = true;
  return d;
}

FileDialogSpec DCUSaveDialog(std::string_view unitName) {
  return UnitSaveDialog("Save DCU File...", "Compiled Unit (*.DCU)|*.DCU", "dcu",
                        std::string(unitName) + ".dcu");
}

FileDialogSpec ReportSaveDialog(std::string_view unitName) {
  return UnitSaveDialog("Save Report File...", "ASCII Text File (*.txt)|*.txt", "txt",
                        std::string(unitName) + ".TXT");
}

std::optional<std::string> ExpectedDCPFileName(std::string_view moduleFileName) {
  if (!SameText(ExtractFileExt(moduleFileName), ".dpl")) return std::nullopt;
  return ExtractFilePath(moduleFileName) + FileBaseName(moduleFileName) + ".dcp";
}

std::string DCUReportSourceName(std::string_view unitName, std::string_view moduleFileName) {
  return std::string(unitName) + ".DCU" + " (" + FileBaseName(moduleFileName) + ".DCP" + ")";
}

std::string BuildDCUReport(const TMyDCUInfo& e, std::string_view header) {
  std::string t(header);
  t += "\r\n";
  t += "DCU Offset in DCP: " + HexAddress(e.DCUOffset) + "\r\n";
  t += "DCU Size         : " + std::to_string(e.DCUSize) + " bytes\r\n";
  t += "Code Size        : " + std::to_string(e.CodeSize) + " bytes\r\n";
  t += "Data Size        : " + std::to_string(e.DataSize) + " bytes\r\n";
  t += "Code size in DPL : " + HexAddress(e.CodeOffset) + "\r\n";
  t += "Data size in DPL : " + HexAddress(e.DataOffset);
  return t;
}

std::string ReadDCUBytes(TDCPStream& s, const TMyDCUInfo& info) {
  // The range is checked against the file before anything is allocated: a
  // few hundred bytes may claim a unit of nearly 2 GiB.
  if (info.DCUSize < 0 || info.DCUOffset > s.Size() ||
      uint64_t(info.DCUSize) > s.Size() - info.DCUOffset)
    s.Damaged();
  std::string bytes(size_t(info.DCUSize), '\0');
  s.Seek(info.DCUOffset);
  s.ReadBuffer(bytes.data(), bytes.size());
  return bytes;
}

void ExtractDCU(std::string_view dcpFileName, const TMyDCUInfo& info,
                std::string_view targetFileName) {
  std::string bytes;
  {
    TDCPStream s = TDCPStream::OpenFile(dcpFileName);
    bytes = ReadDCUBytes(s, info);
  }
  WriteFileBytes(targetFileName, bytes);
}

}  // namespace kx
