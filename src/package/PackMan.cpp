#include "package/PackMan.h"

#include <map>
#include <set>

#include "package/ImageReader.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/pe_image.h"
#include "platform/strutil.h"
#include "platform/system.h"

namespace kx {

namespace {

constexpr char kNoDescription[] = "{no description}";

std::string Fmt1(const char* pattern, std::string_view a) {
  std::string out;
  for (const char* p = pattern; *p; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      out += a;
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

// Replaces the %s placeholders in order.
std::string Fmt(std::string_view pattern, std::initializer_list<std::string_view> args) {
  std::string out;
  auto it = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's' && it != args.end()) {
      out += *it++;
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

// Base name of a module's file without folder and extension ("vcl30").
std::string PackageBaseName(std::string_view fileName) {
  std::string name = ExtractFileName(fileName);
  std::string ext = ExtractFileExt(name);
  return name.substr(0, name.size() - ext.size());
}

class InfoReader {
 public:
  InfoReader(std::span<const uint8_t> data, std::string_view packageName)
      : data_(data), packageName_(packageName) {}
  uint8_t U8() {
    Need(1);
    return data_[pos_++];
  }
  int32_t I32() {
    Need(4);
    uint32_t v = uint32_t(data_[pos_]) | uint32_t(data_[pos_ + 1]) << 8 |
                 uint32_t(data_[pos_ + 2]) << 16 | uint32_t(data_[pos_ + 3]) << 24;
    pos_ += 4;
    return static_cast<int32_t>(v);
  }
  std::string CString() {
    size_t start = pos_;
    while (true) {
      Need(1);
      if (data_[pos_] == 0) break;
      ++pos_;
    }
    std::string_view s(reinterpret_cast<const char*>(data_.data()) + start, pos_ - start);
    ++pos_;
    return AnsiToUtf8(s);
  }

 private:
  void Need(size_t n) {
    if (data_.size() - pos_ < n)
      throw ELoadPackage(Fmt1("Cannot access package information for package '%s'", packageName_));
  }
  std::span<const uint8_t> data_;
  std::string packageName_;
  size_t pos_ = 0;
};

uint32_t FlagWord(std::span<const uint8_t> data) {
  if (data.size() < 4) throw ELoadPackage("PackMan: Could not load package module!");
  return uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
         uint32_t(data[3]) << 24;
}

bool IsPackageLibrary(uint32_t flags) { return (flags & pfModuleTypeMask) == pfPackageModule; }

// PACKAGEINFO of a loaded module, or nullopt when it has none or it is damaged.
std::optional<PackageInfo> TryPackageInfo(HMODULE module) {
  auto data = GetPackageInfoData(module);
  if (!data) return std::nullopt;
  try {
    return ParsePackageInfo(*data, {});
  } catch (const Exception&) {
    return std::nullopt;
  }
}

// Units that a package registers for the duplicate check: every contained
// unit except package units and weak units, which may appear in several
// packages, and SysInit, which the compiler links into every module with
// unit flags 0.
bool CountsForDuplicates(const ContainedUnit& u) {
  return (u.rawFlags & 0x06) == 0 && !SameText(u.name, "SysInit");
}

struct DuplicateCheck {
  std::set<HMODULE> checked;
  std::map<std::string, std::string> registered;  // upper-case unit -> package name

  void Register(HMODULE module, const PackageInfo& info) {
    std::string pkg = PackageBaseName(Sys().Proc().GetModuleFileName(module));
    for (const auto& u : info.containedUnits)
      if (CountsForDuplicates(u)) registered.emplace(AsciiUpper(u.name), pkg);
  }

  // Required packages first, then the module's own units; each module once.
  // Returns the clash message, or empty.
  std::string Check(HMODULE module, const std::vector<const ModuleRecord*>& modules, int depth) {
    if (!checked.insert(module).second || depth > 64) return {};
    auto info = TryPackageInfo(module);
    if (!info || !IsPackageLibrary(info->flags)) return {};
    for (const auto& req : info->requiredPackages) {
      for (const ModuleRecord* rec : modules) {
        if (rec->dataFile || rec->builtin) continue;
        if (!SameText(PackageBaseName(rec->fileName), req)) continue;
        std::string clash = Check(rec->handle, modules, depth + 1);
        if (!clash.empty()) return clash;
        break;
      }
    }
    std::string self = PackageBaseName(Sys().Proc().GetModuleFileName(module));
    for (const auto& u : info->containedUnits) {
      if (!CountsForDuplicates(u)) continue;
      auto it = registered.find(AsciiUpper(u.name));
      if (it != registered.end())
        return Fmt(
            "Cannot load package '%s.'  It contains unit '%s,';which is also contained in "
            "package '%s'",
            {self, u.name, it->second});
    }
    Register(module, *info);
    return {};
  }
};

}  // namespace

// ---------------------------------------------------------------------------

PackageKindSet PackageKindFromFlags(uint32_t flags) {
  PackageKindSet s = 1u << pkHasInfo;
  if (flags & pfDesignOnly) s |= 1u << pkDesignOnly;
  if (flags & pfRunOnly) s |= 1u << pkRunOnly;
  if (flags & pfNeverBuild)
    s |= 1u << pkNeverBuild;
  else
    s |= 1u << pkImplicitBuild;
  if ((flags & pfModuleTypeMask) == 0) s |= 1u << pkExeModule;
  if (flags & pfLibraryModule) s |= 1u << pkLibraryModule;
  if (flags & pfPackageModule) s |= 1u << pkPackageModule;
  return s;
}

ModuleKind ModuleKindFromFileName(std::string_view fileName) {
  std::string ext = ExtractFileExt(fileName);
  if (SameText(ext, ".DPL")) return mkDPL;
  if (SameText(ext, ".BPL")) return mkBPL;
  return mkDLL;
}

const char* DefaultExtensionOf(ModuleKind kind) {
  switch (kind) {
    case mkDPL:
      return ".DPL";
    case mkBPL:
      return ".BPL";
    default:
      return ".DLL";
  }
}

PackageInfo ParsePackageInfo(std::span<const uint8_t> data, std::string_view packageName) {
  InfoReader r(data, packageName);
  PackageInfo info;
  info.flags = static_cast<uint32_t>(r.I32());
  int32_t requireCount = r.I32();
  for (int32_t i = 0; i < requireCount; ++i) {
    r.U8();  // hash
    info.requiredPackages.push_back(r.CString());
  }
  int32_t containCount = r.I32();
  for (int32_t i = 0; i < containCount; ++i) {
    ContainedUnit u;
    u.rawFlags = r.U8();
    u.flags = UnitFlagSetFromByte(u.rawFlags);
    r.U8();  // hash
    u.name = r.CString();
    info.containedUnits.push_back(std::move(u));
  }
  return info;
}

// ---------------------------------------------------------------------------
// Free functions.

std::optional<TPackageOptions> ParsePackageOptions(std::span<const uint8_t> data) {
  constexpr size_t kImageBase = 36;
  constexpr size_t kStrings = 40;  // the conditional defines' length byte
  if (data.size() < kStrings + 3) return std::nullopt;
  TPackageOptions o;
  for (size_t i = 0; i < o.Switches.size(); ++i) {
    const uint8_t v = data[1 + i];
    const bool last = i + 1 == o.Switches.size();  // $Z: the minimum enum size
    if (last ? (v != 1 && v != 2 && v != 4) : v > 1) return std::nullopt;
    o.Switches[i] = v;
  }
  o.ImageBase = ReadLe32(data, kImageBase);
  std::span<const uint8_t> rest = data.subspan(kStrings);
  for (std::string* text : {&o.Conditionals, &o.UnitAliases, &o.Description}) {
    if (rest.empty() || rest.size() - 1 < rest[0]) return std::nullopt;
    const std::span<const uint8_t> chars = rest.subspan(1, rest[0]);
    text->assign(chars.begin(), chars.end());
    rest = rest.subspan(1 + chars.size());
  }
  return o;
}

TPackageOptionsText PackageOptionsText(const TPackageOptions& options) {
  // The strings are 8-bit text in the system code page.
  return {AnsiToUtf8(options.Conditionals), AnsiToUtf8(options.UnitAliases),
          AnsiToUtf8(options.Description)};
}

std::string PackageSwitchesText(const TPackageOptions& options) {
  std::string text;
  for (size_t i = 0; i < options.Switches.size(); ++i) {
    if (i) text += ' ';
    text += static_cast<char>('A' + i);
    if (i + 1 == options.Switches.size())
      text += std::to_string(options.Switches[i]);
    else
      text += options.Switches[i] ? '+' : '-';
  }
  return text;
}

std::optional<TPackageOptions> GetPackageOptions(HMODULE module) {
  if (module == 0) return std::nullopt;
  const Process& proc = Sys().Proc();
  auto res = proc.FindResource(module, ResId::Name("PACKAGEOPTIONS"), ResId::Id(RT_RCDATA));
  if (!res) return std::nullopt;
  try {
    return ParsePackageOptions(proc.View(res->address, res->size));
  } catch (const EReadError&) {
    return std::nullopt;
  }
}

std::optional<std::u16string> ReadPackageDescription(HMODULE module) {
  if (module == 0) return std::nullopt;
  const Process& proc = Sys().Proc();
  if (auto res = proc.FindResource(module, ResId::Name("DESCRIPTION"), ResId::Id(RT_RCDATA))) {
    try {
      return Utf16LeText(proc.View(res->address, res->size));
    } catch (const EReadError&) {
      // A DESCRIPTION that cannot be loaded counts as none.
    }
  }
  // Packages of the earliest compiler builds carry their description only
  // in PACKAGEOPTIONS; an empty one there is no description.
  if (auto options = GetPackageOptions(module)) {
    const std::string description = PackageOptionsText(*options).Description;
    if (!description.empty()) return Utf8ToUtf16(description);
  }
  return std::nullopt;
}

std::string GetPackageDescription(HMODULE module) {
  const std::optional<std::u16string> text = ReadPackageDescription(module);
  return text ? Utf16ToUtf8(*text) : std::string(kNoDescription);
}

std::optional<std::span<const uint8_t>> GetPackageInfoData(HMODULE module) {
  if (module == 0) return std::nullopt;
  const Process& proc = Sys().Proc();
  auto res = proc.FindResource(module, ResId::Name("PACKAGEINFO"), ResId::Id(RT_RCDATA));
  if (!res) return std::nullopt;
  try {
    return proc.View(res->address, res->size);
  } catch (const EReadError&) {
    return std::nullopt;
  }
}

bool HasPackageInfo(HMODULE module) {
  if (module == 0) return false;
  return Sys()
      .Proc()
      .FindResource(module, ResId::Name("PACKAGEINFO"), ResId::Id(RT_RCDATA))
      .has_value();
}

PackageKindSet GetModulePackageKind(HMODULE module) {
  auto data = GetPackageInfoData(module);
  if (!data || data->size() < 4) throw ELoadPackage("PackMan: Could not load package module!");
  return PackageKindFromFlags(FlagWord(*data));
}

PackageKindSet GetPackageKind(const std::string& fileName) {
  Process& proc = Sys().Proc();
  HMODULE h = proc.LoadLibraryEx(fileName, LOAD_LIBRARY_AS_DATAFILE);
  if (h == 0) throw ELoadPackage("PackMan: Could not load " + fileName + " package module!");
  PackageKindSet result = 0;
  try {
    result = GetModulePackageKind(h);
  } catch (...) {
    proc.FreeLibrary(h);
    throw;
  }
  proc.FreeLibrary(h);
  return result;
}

HMODULE LoadPackage(const std::string& fileName) {
  Process& proc = Sys().Proc();
  std::set<HMODULE> before;
  for (const ModuleRecord* rec : proc.Modules())
    if (!rec->dataFile) before.insert(rec->handle);

  HMODULE h = proc.LoadLibrary(fileName);
  int32_t signedHandle = static_cast<int32_t>(h);
  if (signedHandle >= 0 && signedHandle <= 32)
    throw ELoadPackage(
        Fmt("Can't load package %s.\r\n%s", {fileName, SystemErrorText(proc.LastError())}));

  try {
    // Units of the package libraries that were in the process before this
    // load count as registered; the modules loaded with this one are
    // checked, required packages first.
    std::vector<const ModuleRecord*> modules = proc.Modules();
    DuplicateCheck dup;
    for (const ModuleRecord* rec : modules) {
      if (rec->handle == h || !before.count(rec->handle) || rec->dataFile || rec->builtin) continue;
      dup.checked.insert(rec->handle);
      auto info = TryPackageInfo(rec->handle);
      if (info && IsPackageLibrary(info->flags)) dup.Register(rec->handle, *info);
    }
    if (!before.count(h)) {
      std::string clash = dup.Check(h, modules, 0);
      if (!clash.empty()) throw ELoadPackage(clash);
    }
    // "Initialize" must exist; it is looked up, never called.
    if (proc.GetProcAddress(h, "Initialize") == 0)
      throw ELoadPackage(Fmt1("Invalid package file '%s'", proc.GetModuleFileName(h)));
  } catch (...) {
    proc.FreeLibrary(h);
    throw;
  }
  return h;
}

void UnloadPackage(HMODULE module) {
  Process& proc = Sys().Proc();
  // "Finalize" is looked up, never called. The library is released either
  // way so that a module without it cannot stay loaded for good.
  bool hasFinalize = proc.GetProcAddress(module, "Finalize") != 0;
  proc.FreeLibrary(module);
  if (!hasFinalize) throw ELoadPackage("Invalid package handle");
}

// ---------------------------------------------------------------------------
// TPackageModuleInfo

TPackageModuleInfo::TPackageModuleInfo() = default;

TPackageModuleInfo::~TPackageModuleInfo() {
  try {
    Clear();
  } catch (const Exception&) {
    // Shutting down: the module has been released; nothing to report to.
  }
}

void TPackageModuleInfo::Clear() {
  HMODULE h = Handle;
  bool dataFile = dataFile_;
  FileSize = 0;
  Handle = 0;
  FileName.clear();
  ZeroImageTables();
  ResourceRoot = 0;
  dataFile_ = false;
  if (h == 0) return;
  if (dataFile)
    Sys().Proc().FreeLibrary(h);
  else
    UnloadPackage(h);
}

// Size, date and kind of FileName, then the lists emptied for the module's
// package information.
void TPackageModuleInfo::ReadFileFactsAndEmptyLists() {
  auto found = FindFirstFile(Sys().ExpandFileName(FileName));
  FileSize = found ? static_cast<int32_t>(found->info.size) : -1;
  FileDate = FileDateTime(FileName).value_or(0.0);
  Kind = ModuleKindFromFileName(FileName);
  ResourceLines.clear();
  SourceUnits.clear();
  Contains.clear();
  StructureUnits.clear();
  Requires.clear();
}

void TPackageModuleInfo::Load(const std::string& fileName) {
  Clear();
  FileName = fileName;
  HMODULE h = LoadPackage(fileName);
  if (h == 0) throw ELoadPackage("Error loading package: handle is nil");
  Handle = h;
  FileName = Sys().Proc().GetModuleFileName(h).substr(0, 260);
  ReadFileFactsAndEmptyLists();
  ReadPackageInfo();
}

void TPackageModuleInfo::LoadAsData(const std::string& fileName) {
  Clear();
  FileName = fileName;
  Process& proc = Sys().Proc();
  HMODULE h = proc.LoadLibraryEx(fileName, LOAD_LIBRARY_AS_DATAFILE);
  if (h == 0) throw ELoadPackage("PackMan: Could not load " + fileName + " package module!");
  Handle = h;
  dataFile_ = true;
  std::string full = proc.GetModuleFileName(h);
  if (!full.empty()) FileName = full.substr(0, 260);
  ReadFileFactsAndEmptyLists();
  Flags = 0;
  // Package information is optional here: any PE32 file may be inspected.
  if (HasPackageInfo(h)) {
    try {
      ReadPackageInfo();
    } catch (const ELoadPackage&) {
      SourceUnits.clear();
      Contains.clear();
      StructureUnits.clear();
      Requires.clear();
    }
  }
}

void TPackageModuleInfo::ReadPackageInfo() {
  std::string name = ExtractFileName(FileName);
  auto data = GetPackageInfoData(Handle);
  if (!data) throw ELoadPackage(Fmt1("Cannot access package information for package '%s'", name));
  PackageInfo info = ParsePackageInfo(*data, name);
  Flags = info.flags;
  Requires = std::move(info.requiredPackages);
  Contains = std::move(info.containedUnits);
  for (const auto& u : Contains)
    if (!InSet(u.flags, ufMainUnit) && !InSet(u.flags, ufWeakUnit) && !SameText(u.name, "SysInit"))
      StructureUnits.push_back(u.name);
  for (const auto& u : Contains)
    if (!InSet(u.flags, ufMainUnit) && !SameText(u.name, "SysInit")) SourceUnits.push_back(u.name);
}

std::string TPackageModuleInfo::GetDescription() const { return GetPackageDescription(Handle); }

void TPackageModuleInfo::ZeroImageTables() {
  ImageBase = 0;
  LoadBase = 0;
  ModuleEntry = nullptr;
  NameCount = 0;
  OrdinalBase = 0;
  FunctionTable = 0;
  NameTable = 0;
  OrdinalTable = 0;
  ImportTable = 0;
}

void TPackageModuleInfo::ReadExportTables() {
  ZeroImageTables();
  if (Handle == 0 || !FileExists(FileName)) return;
  const Process& proc = Sys().Proc();
  const ModuleRecord* rec = nullptr;
  for (const ModuleRecord* r : proc.Modules()) {
    if (SameText(r->fileName, FileName) && r->handle == Handle) {
      rec = r;
      break;
    }
  }
  if (!rec) {
    for (const ModuleRecord* r : proc.Modules())
      if (SameText(r->fileName, FileName)) {
        rec = r;
        break;
      }
  }
  if (!rec) return;
  ModuleEntry = rec;
  LoadBase = rec->loadBase;
  // Every read lies inside this module's own image: a directory RVA that
  // points past its end must not read a neighbouring module.
  const ImageReader img(proc, rec);
  const uint32_t nt = rec->ntHeaders;
  // The data directories follow the optional header's fixed part, which a
  // PE32+ image (readable as a data file) has 16 bytes longer.
  uint32_t dirs = nt + 0x78;
  try {
    if (img.U16(nt + 0x18) == 0x020B) dirs = nt + 0x88;
    // The preferred base; its low half for a PE32+ image.
    ImageBase = img.U32(dirs == nt + 0x78 ? nt + 0x34 : nt + 0x30);
    uint32_t exportRva = img.U32(dirs);
    if (LoadBase != 0 && exportRva != 0) {
      uint64_t e = uint64_t(LoadBase) + exportRva;
      if (e > UINT32_MAX) throw EReadError("export directory outside the address space");
      const uint32_t at = static_cast<uint32_t>(e);
      // Read all fields before storing any, so that a damaged directory
      // leaves the export fields at zero.
      uint32_t names = img.U32(at + 0x18);
      uint32_t base = img.U32(at + 0x10);
      uint32_t functions = img.U32(at + 0x1C);
      uint32_t nameTable = img.U32(at + 0x20);
      uint32_t ordinals = img.U32(at + 0x24);
      NameCount = static_cast<int32_t>(names);
      OrdinalBase = base;
      FunctionTable = LoadBase + functions;
      NameTable = LoadBase + nameTable;
      OrdinalTable = LoadBase + ordinals;
    }
  } catch (const EReadError&) {
    // Headers or export directory outside the image: the export fields stay
    // as read so far.
  }
  // The import directory is located on its own, so that a damaged export
  // directory does not hide the imports.
  try {
    uint32_t importRva = img.U32(dirs + 8);
    ImportTable = importRva ? LoadBase + importRva : 0;
  } catch (const EReadError&) {
  }
}

}  // namespace kx
