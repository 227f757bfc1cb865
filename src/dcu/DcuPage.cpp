#include "dcu/DcuPage.h"

#include "dcu/DcuFile.h"
#include "dcu/DcuInterface.h"
#include "platform/files.h"
#include "platform/formats.h"
#include "platform/strutil.h"

namespace kx {

bool IsDcuFileName(std::string_view fileName) {
  return fileName.size() >= 4 && SameText(fileName.substr(fileName.size() - 4), ".dcu");
}

TDCPPageContent AnalyzeDcuFile(std::string_view fileName) {
  auto bytes = ReadFileBytes(fileName);
  if (!bytes) throw EFOpenError("Cannot open file " + std::string(fileName));
  TMyDCUInfo entry;
  std::string base(fileName.substr(fileName.find_last_of("\\/:") + 1));
  entry.Name = base.substr(0, base.size() - (IsDcuFileName(base) ? 4 : 0));
  // The unit's own spelling when it decodes; a damaged unit still shows, its
  // pane saying what is wrong.
  try {
    entry.Name = MakeDcuInterface(DecodeDcu(*bytes, fileName)).Unit;
  } catch (const Exception&) {
  }
  entry.DCUSize = int32_t(std::min<size_t>(bytes->size(), INT32_MAX));
  TDCPPageContent c = MakeDCPPageContent(std::string(fileName), {}, {}, {});
  c.Roots[0].Children.push_back({nkUnit, entry.Name, entry, {}});
  c.Units = {entry};
  c.StatusTexts[0] = std::string(kDCPStatusCaptions[0]) + " 1";
  return c;
}

std::array<std::string, 6> DcuFileInfoData(const TMyDCUInfo& entry) {
  return {"", std::to_string(entry.DCUSize) + " bytes", "", "", "", ""};
}

std::string InterfacePaneText(std::string_view fileName, bool standaloneUnit,
                              const TDCPTreeNode* node, bool* isInterface) {
  if (isInterface) *isInterface = false;
  if (!node || node->Kind != nkUnit) return "";
  if (!node->Entry) return std::string(kNoCompiledUnitText);
  try {
    std::string text;
    if (standaloneUnit) {
      text = DcuInterfaceText(MakeDcuInterface(DecodeDcuFile(fileName)));
    } else {
      TDCPStream s = TDCPStream::OpenFile(fileName);
      text = DcuInterfaceText(MakeDcuInterface(DecodeDcpUnit(s, *node->Entry)));
    }
    if (isInterface) *isInterface = true;
    return text;
  } catch (const Exception& e) {
    return e.what();
  }
}

FileDialogSpec DCPPageOpenDialog() {
  FileDialogSpec d = DCPOpenDialog();
  d.filter += "|Compiled Unit (*.DCU)|*.DCU";
  return d;
}

FileDialogSpec InterfaceSaveDialog(std::string_view unitName) {
  return UnitSaveDialog("Save Interface\u2026", "Pascal Source (*.PAS)|*.PAS", "pas",
                        std::string(unitName) + ".pas");
}

std::string InterfaceFileText(std::string_view paneText) {
  std::string out;
  out.reserve(paneText.size() + paneText.size() / 16);
  for (size_t i = 0; i < paneText.size(); ++i) {
    const char c = paneText[i];
    if (c == '\n' && (i == 0 || paneText[i - 1] != '\r')) out += '\r';
    out += c;
  }
  return out;
}

}  // namespace kx
