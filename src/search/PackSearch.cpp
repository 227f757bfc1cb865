#include "search/PackSearch.h"

#include <cstdlib>

#include "delphi3/SysPackg.h"
#include "deploy/DriveCheck.h"
#include "package/PackMan.h"
#include "platform/files.h"
#include "platform/formats.h"
#include "platform/strutil.h"
#include "platform/system.h"

namespace kx {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A number as the list reads one: an optional sign, digits with at most one
// decimal point, an optional exponent; nothing else (no separators, no blanks).
bool ReadNumber(std::string_view s, double& value) {
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t expDigits = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  if (i != s.size()) return false;
  value = std::strtod(std::string(s).c_str(), nullptr);
  return true;
}

std::string DateCell(FileTime time) { return FormatShortDate(FileTimeToDateValue(time)); }

}  // namespace

std::string FindFilesPanelText(size_t rows) { return "Files: " + std::to_string(rows); }

std::string FindEndStatusText(size_t filesFound) {
  return filesFound == 0 ? "No Files Found." : "Done.";
}

std::string FindTotalSizeText(uint64_t totalSize) {
  return "Total Size: " + FormatByteCount(static_cast<int64_t>(totalSize)) + " bytes";
}

SearchMode PickSearchMode(bool delphiPathChecked, bool systemFolderChecked, bool haveFolder) {
  if (delphiPathChecked) return smProcessPath;
  if (systemFolderChecked) return smSystemFolder;
  return haveFolder ? smFolder : smDriveRoots;
}

TPackSearchRoots PackSearchRoots(SearchMode mode, std::string_view mask, std::string_view folder,
                                 bool stopAtFirst, std::string_view systemDirectory,
                                 std::string_view expandedPath) {
  TPackSearchRoots r;
  switch (mode) {
    case smDriveRoots:
      BuildSearchRoots(std::string(mask), r.Roots, stopAtFirst);
      r.Recurse = true;
      break;
    case smFolder:
      r.Roots.emplace_back(folder);
      r.Recurse = true;
      break;
    case smSystemFolder:
      r.Roots.emplace_back(systemDirectory);
      break;
    case smProcessPath:
      // Empty items stay in the list; the finder skips them.
      if (!expandedPath.empty()) r.Roots = SplitString(expandedPath, ';');
      break;
  }
  return r;
}

std::string MaskForFileType(std::string_view mask, size_t typeIndex) {
  if (typeIndex >= kPackSearchFileTypes.size()) return std::string(mask);
  const std::string name = ExtractFileName(mask);
  const size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? std::string() : name.substr(0, dot);
  const std::string_view pattern = kPackSearchFileTypes[typeIndex].Pattern;
  return stem + std::string(pattern.substr(pattern.rfind('.')));
}

bool IsLoadableFoundFile(std::string_view name) { return SameText(ExtractFileExt(name), ".dpl"); }

TFindRow MakeFindRow(std::string_view fileName, const TFindRowContext& context,
                     const std::filesystem::path* hostPath) {
  TFindRow row;
  size_t filled = 0;
  const auto put = [&row, &filled](std::string cell) { row[filled++] = std::move(cell); };
  const std::string name = ExtractFileName(fileName);
  put(name);
  put(ExtractFilePath(fileName));
  // Errors are dropped: the cells not reached read "N/A".
  try {
    const std::optional<FileInformation> info =
        hostPath ? GetOpenedHostFileInformation(*hostPath) : GetOpenedFileInformation(fileName);
    put(info ? FormatByteCount(static_cast<uint32_t>(info->size)) : kNotAvailable);
    const std::string ext = ExtractFileExt(fileName);
    std::string type = AsciiUpper(ext.empty() ? ext : ext.substr(1));
    if (SameText(ext, ".dpl")) {
      const PackageKindSet kind = GetPackageKind(std::string(fileName));
      type += InSet(kind, pkRunOnly) ? "Run" : InSet(kind, pkDesignOnly) ? "Dsgn" : "Both";
    }
    put(type);
    static const std::vector<std::string> kNone;
    const bool standard = IsStandardPackage(
        context.StdRunTimePackages ? *context.StdRunTimePackages : kNone,
        context.StdDesignTimePackages ? *context.StdDesignTimePackages : kNone, name);
    put(standard ? "Yes" : "No");
    if (!context.SharedFiles && context.SharedPackNames)
      context.SharedFiles = std::make_shared<TSharedPackages>(*context.SharedPackNames);
    put(context.SharedFiles && context.SharedFiles->Holds(fileName, hostPath) ? "Yes" : "No");
    if (info) {
      put(DateCell(info->lastWriteTime));
      put(DateCell(info->creationTime));
      put(DateCell(info->lastAccessTime));
      put(std::to_string(info->numberOfLinks));
    }
  } catch (const std::exception&) {
  }
  while (filled < row.size()) put(kNotAvailable);
  return row;
}

std::vector<std::string> ListSubfolders(std::string_view folder) {
  std::vector<std::string> names;
  if (folder.empty()) return names;
  for (const FindData& entry : FindFiles(IncludeTrailingBackslash(folder) + "*")) {
    if ((entry.info.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) continue;
    if (entry.name == "." || entry.name == "..") continue;
    names.push_back(entry.name);
  }
  return names;
}

void ConfigurePackSearch(TFileFinder& finder, const TPackSearchRoots& roots, std::string_view mask,
                         bool stopAtFirst) {
  finder.Roots = roots.Roots;
  finder.Recurse = roots.Recurse;
  finder.StopAtFirst = stopAtFirst;
  finder.Mask = ExtractFileName(mask);
}

int CompareFindCells(std::string_view a, std::string_view b) {
  double x = 0, y = 0;
  if (ReadNumber(a, x) && ReadNumber(b, y)) return x < y ? -1 : (y < x ? 1 : 0);
  return CompareText(a, b);
}

}  // namespace kx
