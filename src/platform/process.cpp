// The emulated module loader and the address space of the process.
//
// Loading follows the system loader step by step but never runs code: the
// file is found along the search order, its headers and sections are read
// into reserved memory of SizeOfImage at a free address (pages nobody writes
// cost nothing), and every import is looked up in the exporting module's
// export table the way the system loader looks it up. Base relocations are not
// applied, so a module that lands away from its preferred base keeps the
// optional header exactly as in the file.
#include "platform/process.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <unordered_map>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/host_file.h"
#include "platform/pe_image.h"
#include "platform/strutil.h"
#include "platform/system.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kAllocationGranularity = 0x10000;
constexpr uint32_t kPageSize = 0x1000;
constexpr uint64_t kLowestAddress = 0x00010000;
constexpr uint64_t kUserSpaceEnd = 0x7FFF0000;  // end of a 32-bit process's user space
// The program's own image, where a Windows program's executable lies.
constexpr uint64_t kProgramImageBase = 0x00400000;
constexpr uint64_t kProgramImageEnd = 0x00500000;
// A larger SizeOfImage is taken for a damaged header, not a real module.
constexpr uint32_t kMaxImageSize = 256u << 20;
// Nesting of imports (and forwarders) the loader follows before giving up.
constexpr int kMaxLoadDepth = 256;
constexpr int kMaxForwarderHops = 32;

uint64_t AlignUp(uint64_t v, uint64_t a) { return (v + a - 1) / a * a; }

std::string Hex8(uint32_t v) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s(8, '0');
  for (int i = 7; i >= 0; --i, v >>= 4) s[static_cast<size_t>(i)] = kDigits[v & 0xF];
  return s;
}

// The core system libraries and the bases they prefer (as on a 32-bit
// Windows system; only used to place the built-in images).
struct CoreLibrary {
  const char* name;
  uint32_t base;
};
constexpr CoreLibrary kCoreLibraries[] = {
    {"ntdll.dll", 0x7C900000},     {"kernel32.dll", 0x7C800000}, {"user32.dll", 0x7E410000},
    {"gdi32.dll", 0x77F10000},     {"advapi32.dll", 0x77DD0000}, {"ole32.dll", 0x774E0000},
    {"oleaut32.dll", 0x77120000},  {"comctl32.dll", 0x5D090000}, {"comdlg32.dll", 0x763B0000},
    {"shell32.dll", 0x7C9C0000},   {"version.dll", 0x77C00000},  {"winmm.dll", 0x76B40000},
    {"wsock32.dll", 0x71AD0000},   {"ws2_32.dll", 0x71AB0000},   {"msvcrt.dll", 0x77C10000},
    {"shlwapi.dll", 0x77F60000},   {"rpcrt4.dll", 0x77E70000},   {"imm32.dll", 0x76390000},
    {"mpr.dll", 0x71B20000},       {"lz32.dll", 0x71D40000},     {"winspool.drv", 0x73000000},
    {"olepro32.dll", 0x5EDD0000},  {"oledlg.dll", 0x7DF30000},   {"olecli32.dll", 0x7DF00000},
    {"olesvr32.dll", 0x7DEE0000},  {"crtdll.dll", 0x73D90000},   {"msvfw32.dll", 0x75A70000},
    {"avifil32.dll", 0x73B50000},  {"msacm32.dll", 0x77BE0000},  {"mapi32.dll", 0x73A90000},
    {"tapi32.dll", 0x76EB0000},    {"rasapi32.dll", 0x76EE0000}, {"netapi32.dll", 0x5B860000},
    {"secur32.dll", 0x77FE0000},   {"setupapi.dll", 0x77920000}, {"psapi.dll", 0x76BF0000},
    {"imagehlp.dll", 0x76C90000},  {"dbghelp.dll", 0x59A60000},  {"crypt32.dll", 0x77A80000},
    {"wintrust.dll", 0x76C30000},  {"userenv.dll", 0x769C0000},  {"urlmon.dll", 0x78130000},
    {"wininet.dll", 0x3D930000},   {"iphlpapi.dll", 0x76D60000}, {"mswsock.dll", 0x71A50000},
    {"ddraw.dll", 0x73760000},     {"dsound.dll", 0x73F10000},   {"dinput.dll", 0x7C040000},
    {"opengl32.dll", 0x5ED00000},  {"glu32.dll", 0x68B20000},    {"msimg32.dll", 0x76380000},
    {"riched20.dll", 0x74E30000},  {"riched32.dll", 0x74D90000}, {"usp10.dll", 0x74D00000},
    {"uxtheme.dll", 0x5AD70000},   {"oleacc.dll", 0x74C80000},   {"shfolder.dll", 0x76780000},
    {"kernelbase.dll", 0x7B000000}};

const CoreLibrary* FindCoreLibrary(std::string_view fileName) {
  for (const CoreLibrary& lib : kCoreLibraries)
    if (SameText(fileName, lib.name)) return &lib;
  return nullptr;
}

bool IsApiSetName(std::string_view fileName) {
  const std::string lower = AsciiLower(fileName);
  return lower.rfind("api-ms-win-", 0) == 0 || lower.rfind("ext-ms-", 0) == 0;
}

// A small mapped image for a built-in library: headers that parse as a PE32
// DLL and one page of "ret" instructions that every exported name points into.
constexpr uint32_t kBuiltinImageSize = 0x2000;
constexpr uint32_t kBuiltinStubs = 0x1000;

void PutLe16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> BuiltinHeaders(uint32_t imageBase) {
  std::vector<uint8_t> img(kBuiltinImageSize, 0);
  img[0] = 'M';
  img[1] = 'Z';
  const uint32_t nt = 0x40;
  PutLe32(img, 0x3C, nt);
  std::memcpy(img.data() + nt, "PE\0\0", 4);
  PutLe16(img, nt + 4, IMAGE_FILE_MACHINE_I386);
  PutLe16(img, nt + 6, 1);        // one section
  PutLe16(img, nt + 20, 0xE0);    // SizeOfOptionalHeader
  PutLe16(img, nt + 22, 0x2102);  // executable, 32-bit, DLL
  const uint32_t opt = nt + kNtOptionalHeader;
  PutLe16(img, opt, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
  PutLe32(img, opt + 28, imageBase);
  PutLe32(img, opt + 32, kPageSize);  // SectionAlignment
  PutLe32(img, opt + 36, 0x200);      // FileAlignment
  PutLe16(img, opt + 40, 4);          // OS version 4.0
  PutLe16(img, opt + 48, 4);          // subsystem version 4.0
  PutLe32(img, opt + 56, kBuiltinImageSize);
  PutLe32(img, opt + 60, 0x400);  // SizeOfHeaders
  PutLe16(img, opt + 68, 2);      // Windows GUI
  PutLe32(img, opt + 92, IMAGE_NUMBEROF_DIRECTORY_ENTRIES);
  const uint32_t sec = opt + 0xE0;
  std::memcpy(img.data() + sec, ".text", 5);
  PutLe32(img, sec + 8, kBuiltinStubs);   // VirtualSize
  PutLe32(img, sec + 12, kBuiltinStubs);  // VirtualAddress
  PutLe32(img, sec + 16, kBuiltinStubs);  // SizeOfRawData
  PutLe32(img, sec + 20, 0x400);          // PointerToRawData
  PutLe32(img, sec + 36, 0x60000020);     // code, execute, read
  std::fill(img.begin() + kBuiltinStubs, img.end(), uint8_t{0xC3});
  return img;
}

// Each name of a built-in library gets its own stub address (FNV-1a).
uint32_t BuiltinStubOffset(std::string_view name) {
  uint32_t h = 2166136261u;
  for (unsigned char c : name) h = (h ^ c) * 16777619u;
  return kBuiltinStubs + (h % kBuiltinStubs);
}

// The name as the loader looks it up: ".dll" added when there is no
// extension; a trailing "." means "no extension" and is dropped.
std::string WithDefaultExtension(std::string_view name) {
  std::string n(name);
  const std::string ext = ExtractFileExt(n);
  if (ext.empty()) return n + ".dll";
  if (ext == ".") n.pop_back();
  return n;
}

bool HasPath(std::string_view name) { return name.find_first_of("\\/:") != std::string_view::npos; }

// The first bytes of the file up to the end of its section table (at least
// a page), enough to parse the headers.
std::vector<uint8_t> ReadHeaderBytes(const HostFile& file) {
  uint64_t want = std::min<uint64_t>(file.Size(), kPageSize);
  std::vector<uint8_t> head(static_cast<size_t>(want));
  if (!file.ReadAt(0, head)) throw EBadImageFormat("the headers cannot be read");
  // e_lfanew, SizeOfOptionalHeader and NumberOfSections give the end of the
  // section table; a table that ends past the file is reported by PeImage.
  if (head.size() >= 0x40) {
    const uint64_t nt = ReadLe32(head, 0x3C);
    if (nt + kNtOptionalHeader <= head.size()) {
      const uint64_t sections = ReadLe16(head, nt + kNtFileHeader + 2);
      const uint64_t optional = ReadLe16(head, nt + kNtFileHeader + 16);
      const uint64_t end = nt + kNtOptionalHeader + optional + kSectionHeaderSize * sections;
      if (end > head.size() && end <= file.Size()) {
        head.resize(static_cast<size_t>(end));
        if (!file.ReadAt(0, head)) throw EBadImageFormat("the headers cannot be read");
      }
    }
  }
  return head;
}

}  // namespace

bool IsCoreSystemLibrary(std::string_view fileName) {
  return FindCoreLibrary(fileName) != nullptr || IsApiSetName(fileName);
}

std::string SystemErrorText(uint32_t code, std::string_view insert) {
  std::string text;
  switch (code) {
    case 0:
      text = "The operation completed successfully.";
      break;
    case 1:
      text = "Incorrect function.";
      break;
    case 2:
      text = "The system cannot find the file specified.";
      break;
    case 3:
      text = "The system cannot find the path specified.";
      break;
    case 4:
      text = "The system cannot open the file.";
      break;
    case 5:
      text = "Access is denied.";
      break;
    case 6:
      text = "The handle is invalid.";
      break;
    case 8:
      text = "Not enough storage is available to process this command.";
      break;
    case 11:
      text = "An attempt was made to load a program with an incorrect format.";
      break;
    case 13:
      text = "The data is invalid.";
      break;
    case 15:
      text = "The system cannot find the drive specified.";
      break;
    case 21:
      text = "The device is not ready.";
      break;
    case 32:
      text = "The process cannot access the file because it is being used by another process.";
      break;
    case 87:
      text = "The parameter is incorrect.";
      break;
    case 123:
      text = "The filename, directory name, or volume label syntax is incorrect.";
      break;
    case 126:
      text = "The specified module could not be found.";
      break;
    case 127:
      text = "The specified procedure could not be found.";
      break;
    case 182:
      text = "The operating system cannot run %1.";
      break;
    case 183:
      text = "Cannot create a file when that file already exists.";
      break;
    case 193:
      text = "%1 is not a valid Win32 application.";
      break;
    case 998:
      text = "Invalid access to memory location.";
      break;
    case 1001:
      text = "Recursion too deep; the stack overflowed.";
      break;
    case 1114:
      text = "A dynamic link library (DLL) initialization routine failed.";
      break;
    case 1157:
      text = "One of the library files needed to run this application cannot be found.";
      break;
    default:
      // FormatMessage has no text for the code; say which code it was.
      return "Unknown error " + std::to_string(code) + ".";
  }
  if (!insert.empty()) {
    const size_t at = text.find("%1");
    if (at != std::string::npos) text.replace(at, 2, insert);
  }
  return text;
}

// ---------------------------------------------------------------------------

namespace {

struct Entry {
  ModuleRecord rec;
  std::optional<PeImage> pe;  // over rec.image (mapped layout); none for damaged built-ins
  fs::path hostPath;          // resolved host file, to notice one file under two names
  bool loading = false;       // its imports are being resolved right now
  // The export directory, read at the first look-up; none when absent or
  // damaged (a damaged export table exports nothing).
  bool exportDirRead = false;
  std::optional<PeExportDirectory> exportDir;
};

// A reference obtained during a load. A module that is itself still being
// loaded further up the chain (an import cycle) is used without taking a
// reference, so that a cycle never keeps its modules alive.
struct Acquired {
  HMODULE handle = 0;
  bool counted = false;
};

struct Resolved {
  uint32_t address = 0;
  uint32_t error = 0;
};

}  // namespace

struct Process::Impl {
  std::map<uint32_t, std::unique_ptr<Entry>> byBase;
  std::vector<HMODULE> order;

  Entry* Find(HMODULE h) const {
    auto it = byBase.find(h);
    return it == byBase.end() ? nullptr : it->second.get();
  }

  // The module whose mapped range holds address.
  Entry* Containing(uint32_t address) const {
    auto it = byBase.upper_bound(address);
    if (it == byBase.begin()) return nullptr;
    --it;
    Entry* e = it->second.get();
    return static_cast<uint64_t>(address) <
                   static_cast<uint64_t>(e->rec.loadBase) + e->rec.image.size()
               ? e
               : nullptr;
  }

  // A loaded module (not a data file) by loader name: base name for a bare
  // name, full path for a name with a path.
  Entry* FindLoaded(const std::string& name) const {
    if (name.empty()) return nullptr;
    if (HasPath(name)) {
      std::string full;
      try {
        full = Sys().ExpandFileName(name);
      } catch (const Exception&) {
        return nullptr;
      }
      // On a host that tells letter case apart, two files may share a name
      // ignoring case: the one loaded must be the file the name resolves to.
      std::optional<fs::path> host;
      for (HMODULE h : order) {
        Entry* e = Find(h);
        if (e->rec.dataFile || !SameText(e->rec.fileName, full)) continue;
        if (!host) {
          std::error_code ec;
          host = Sys().ToHost(full).value_or(fs::path());
          if (!host->empty()) {
            fs::path canon = fs::weakly_canonical(*host, ec);
            if (!ec) host = std::move(canon);
          }
        }
        if (host->empty() || e->hostPath.empty() || e->hostPath == *host) return e;
      }
      return nullptr;
    }
    for (HMODULE h : order) {
      Entry* e = Find(h);
      if (!e->rec.dataFile && SameText(e->rec.baseName, name)) return e;
    }
    return nullptr;
  }

  Entry* FindByHostPath(const fs::path& host) const {
    if (host.empty()) return nullptr;
    for (HMODULE h : order) {
      Entry* e = Find(h);
      if (!e->rec.dataFile && e->hostPath == host) return e;
    }
    return nullptr;
  }

  // The first free range of size bytes at or above start (64 KiB aligned),
  // below the end of user space. The program's own image is never free.
  std::optional<uint32_t> FreeRange(uint64_t start, uint64_t size) const {
    uint64_t cand = AlignUp(std::max(start, kLowestAddress), kAllocationGranularity);
    for (const auto& [base, e] : byBase) {
      const uint64_t end = static_cast<uint64_t>(base) + AlignUp(e->rec.image.size(), kPageSize);
      if (end <= cand) continue;
      if (base >= cand + size) break;
      cand = AlignUp(end, kAllocationGranularity);
    }
    if (cand < kProgramImageEnd && cand + size > kProgramImageBase)
      return FreeRange(kProgramImageEnd, size);
    if (cand + size > kUserSpaceEnd) return std::nullopt;
    return static_cast<uint32_t>(cand);
  }

  // The preferred base when that range is free, else the next free range
  // above it, else the first free range from the bottom.
  std::optional<uint32_t> PlaceImage(uint32_t preferred, uint32_t size) const {
    const uint64_t span = AlignUp(size, kPageSize);
    if (auto at = FreeRange(preferred, span)) return at;
    return FreeRange(kLowestAddress, span);
  }

  Entry& Insert(std::unique_ptr<Entry> e) {
    Entry& ref = *e;
    order.push_back(e->rec.handle);
    byBase.emplace(e->rec.handle, std::move(e));
    return ref;
  }

  void Erase(HMODULE h) {
    byBase.erase(h);
    order.erase(std::remove(order.begin(), order.end(), h), order.end());
  }

  // Drops one reference; modules that reach zero release theirs in turn.
  void Release(HMODULE h) {
    std::vector<HMODULE> work{h};
    while (!work.empty()) {
      const HMODULE cur = work.back();
      work.pop_back();
      Entry* e = Find(cur);
      if (e == nullptr) continue;
      if (--e->rec.refCount > 0) continue;
      std::vector<HMODULE> deps = std::move(e->rec.dependencies);
      Erase(cur);
      work.insert(work.end(), deps.rbegin(), deps.rend());
    }
  }

  // Keeps one reference of the importer on dep.
  void AddDependency(Entry& importer, const Acquired& dep) {
    if (!dep.counted || dep.handle == importer.rec.handle) {
      if (dep.counted) Release(dep.handle);
      return;
    }
    auto& deps = importer.rec.dependencies;
    if (std::find(deps.begin(), deps.end(), dep.handle) != deps.end()) {
      Release(dep.handle);
    } else {
      deps.push_back(dep.handle);
    }
  }

  const PeExportDirectory* ExportDirectory(Entry& e) {
    if (!e.exportDirRead) {
      e.exportDirRead = true;
      try {
        if (e.pe) e.exportDir = e.pe->ExportDirectory();
      } catch (const EReadError&) {
        e.exportDir.reset();
      }
    }
    return e.exportDir ? &*e.exportDir : nullptr;
  }

  std::vector<std::string> SearchFolders() const {
    const WinSystem& sys = Sys();
    std::vector<std::string> dirs;
    const std::string programDir = ExtractFilePath(sys.ProgramFileName());
    if (!programDir.empty()) dirs.push_back(programDir);
    dirs.push_back(sys.CurrentDirectory());
    dirs.push_back(sys.SystemDirectory());
    // The 16-bit system folder, which NT and Wine search between the two.
    const std::string system16 = IncludeTrailingBackslash(sys.WindowsDirectory()) + "system";
    if (!SameText(system16, sys.SystemDirectory()) && DirectoryExists(system16))
      dirs.push_back(system16);
    dirs.push_back(sys.WindowsDirectory());
    if (auto path = sys.Env().Get("PATH")) {
      for (std::string& d : SplitString(*path, ';'))
        if (!d.empty()) dirs.push_back(std::move(d));
    }
    return dirs;
  }

  // The full Windows file name the loader would open, or empty.
  std::string LocateFile(const std::string& name) const {
    if (HasPath(name)) {
      try {
        std::string full = Sys().ExpandFileName(name);
        return FileExists(full) ? full : std::string();
      } catch (const Exception&) {
        return {};
      }
    }
    for (const std::string& dir : SearchFolders()) {
      try {
        std::string cand = Sys().ExpandFileName(IncludeTrailingBackslash(dir) + name);
        if (FileExists(cand)) return cand;
      } catch (const Exception&) {
        // A folder that cannot be expanded is skipped, as the system does.
      }
    }
    return {};
  }

  Acquired Reference(Entry& e) {
    if (e.loading) return {e.rec.handle, false};
    ++e.rec.refCount;
    return {e.rec.handle, true};
  }

  Acquired LoadBuiltin(const std::string& fileName, uint32_t& error) {
    const CoreLibrary* lib = FindCoreLibrary(fileName);
    const std::string canonical = lib ? std::string(lib->name) : AsciiLower(fileName);
    const uint32_t preferred = lib ? lib->base : 0x70000000;
    const auto at = PlaceImage(preferred, kBuiltinImageSize);
    if (!at) {
      error = ERROR_NOT_ENOUGH_MEMORY;
      return {};
    }
    auto e = std::make_unique<Entry>();
    e->rec.handle = e->rec.loadBase = *at;
    e->rec.imageBase = preferred;
    e->rec.sizeOfImage = kBuiltinImageSize;
    e->rec.fileSize = kBuiltinImageSize;
    e->rec.ntHeaders = *at + 0x40;
    e->rec.fileName = IncludeTrailingBackslash(Sys().SystemDirectory()) + canonical;
    e->rec.baseName = canonical;
    e->rec.builtin = true;
    e->rec.refCount = 1;
    const std::vector<uint8_t> bytes = BuiltinHeaders(preferred);
    e->rec.image = ImageMemory(bytes.size());
    std::memcpy(e->rec.image.data(), bytes.data(), bytes.size());
    e->pe.emplace(std::span<const uint8_t>(e->rec.image), PeImage::Layout::Mapped);
    return {Insert(std::move(e)).rec.handle, true};
  }

  // Reads headers and sections to their RVAs in fresh image memory; the
  // rest of the image stays untouched zero pages. Throws EBadImageFormat for
  // an image whose parts do not fit or cannot be read.
  static ImageMemory MapSections(const PeImage& headers, const HostFile& file) {
    const uint32_t size = headers.SizeOfImage();
    if (size == 0 || size > kMaxImageSize) throw EBadImageFormat("SizeOfImage out of range");
    if (headers.HeadersEnd() > size) throw EBadImageFormat("headers larger than the image");
    ImageMemory image(size);
    const uint64_t headerBytes = std::min<uint64_t>(
        {std::max(headers.SizeOfHeaders(), headers.HeadersEnd()), file.Size(), size});
    if (!file.ReadAt(0, image.Writable(0, headerBytes)))
      throw EBadImageFormat("the headers cannot be read");
    for (const PeSection& s : headers.Sections()) {
      // The whole raw extent must be in the file, as the system checks when
      // it creates the image section; the copy stops at the virtual size.
      if (s.sizeOfRawData != 0 &&
          static_cast<uint64_t>(s.pointerToRawData) + s.sizeOfRawData > file.Size())
        throw EBadImageFormat("section data past the end of the file");
      uint64_t n = s.sizeOfRawData;
      if (s.virtualSize != 0) n = std::min<uint64_t>(n, s.virtualSize);
      if (n == 0) continue;
      if (s.virtualAddress < headers.HeadersEnd())
        throw EBadImageFormat("section overlapping the headers");
      if (static_cast<uint64_t>(s.virtualAddress) + n > size)
        throw EBadImageFormat("section outside the image");
      if (!file.ReadAt(s.pointerToRawData, image.Writable(s.virtualAddress, n)))
        throw EBadImageFormat("section data cannot be read");
    }
    return image;
  }

  Acquired MapFile(const std::string& fullName, bool dataFile, uint32_t& error) {
    const auto host = Sys().ToHost(fullName);
    std::optional<HostFile> file;
    if (host) file.emplace(*host);
    if (!file || !file->IsOpen()) {
      error = ERROR_ACCESS_DENIED;
      return {};
    }
    auto e = std::make_unique<Entry>();
    uint32_t preferred = 0;
    // A data file may be any PE image (a 64-bit one included): only its
    // tables are read. A module that is loaded must be a PE32 image.
    const auto accept = dataFile ? PeImage::Accept::Pe32OrPe32Plus : PeImage::Accept::Pe32;
    try {
      const std::vector<uint8_t> head = ReadHeaderBytes(*file);
      PeImage headers(head, PeImage::Layout::File, accept, file->Size());
      e->rec.image = MapSections(headers, *file);
      preferred = headers.ImageBase();
      e->rec.ntHeaders = headers.NtHeadersOffset();
      e->pe.emplace(std::span<const uint8_t>(e->rec.image), PeImage::Layout::Mapped, accept,
                    file->Size());
    } catch (const EReadError&) {
      error = ERROR_BAD_EXE_FORMAT;
      return {};
    } catch (const std::bad_alloc&) {
      error = ERROR_NOT_ENOUGH_MEMORY;
      return {};
    }
    e->rec.fileSize = file->Size();
    file.reset();
    const auto at = PlaceImage(preferred, static_cast<uint32_t>(e->rec.image.size()));
    if (!at) {
      error = ERROR_NOT_ENOUGH_MEMORY;
      return {};
    }
    e->rec.handle = e->rec.loadBase = *at;
    e->rec.imageBase = preferred;
    e->rec.sizeOfImage = static_cast<uint32_t>(e->rec.image.size());
    e->rec.ntHeaders += *at;
    // The file name part as it is spelled on disk.
    std::string onDisk = ExtractFileName(fullName);
    if (auto found = FindFirstFile(fullName)) onDisk = found->name;
    e->rec.fileName = ExtractFilePath(fullName) + onDisk;
    e->rec.baseName = onDisk;
    e->rec.dataFile = dataFile;
    e->rec.refCount = 1;
    std::error_code ec;
    e->hostPath = fs::weakly_canonical(*host, ec);
    if (ec) e->hostPath = *host;
    return {Insert(std::move(e)).rec.handle, true};
  }

  // Resolves an export of e by name (when name is set; hint is the import's
  // name table index to try first) or ordinal; forwarded exports load their
  // target module, whose reference holder keeps.
  Resolved ResolveExport(Entry& e, const std::string_view* name, uint32_t ordinal, Entry& holder,
                         int depth, int hops, uint32_t hint = 0xFFFFFFFFu) {
    if (e.rec.builtin) {
      return {e.rec.loadBase + BuiltinStubOffset(name ? *name : "#" + std::to_string(ordinal)), 0};
    }
    if (e.rec.dataFile || !e.pe) return {0, ERROR_PROC_NOT_FOUND};
    const PeExportDirectory* dir = ExportDirectory(e);
    if (dir == nullptr) return {0, ERROR_PROC_NOT_FOUND};
    uint32_t rva = 0;
    std::string fwd;
    try {
      std::optional<uint32_t> index;
      if (name)
        index = e.pe->FindExportIndex(*dir, *name, hint);
      else if (ordinal >= dir->ordinalBase)
        index = ordinal - dir->ordinalBase;
      if (!index) return {0, ERROR_PROC_NOT_FOUND};
      rva = e.pe->ExportRva(*dir, *index);
      if (rva != 0 && PeImage::IsForwarderRva(*dir, rva)) fwd = std::string(e.pe->CStringView(rva));
    } catch (const EReadError&) {
      // A damaged entry exports nothing.
      return {0, ERROR_PROC_NOT_FOUND};
    }
    if (rva == 0) return {0, ERROR_PROC_NOT_FOUND};
    if (fwd.empty()) {
      if (rva >= e.rec.image.size()) return {0, ERROR_PROC_NOT_FOUND};
      return {e.rec.loadBase + rva, 0};
    }
    // "MODULE.Name" or "MODULE.#12": the module part ends at the first dot.
    // The name part is matched as its bytes stand, like every imported name.
    if (hops >= kMaxForwarderHops) return {0, ERROR_PROC_NOT_FOUND};
    const size_t dot = fwd.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == fwd.size())
      return {0, ERROR_PROC_NOT_FOUND};
    uint32_t error = 0;
    const Acquired target = Acquire(AnsiToUtf8(fwd.substr(0, dot)), false, depth + 1, error);
    if (target.handle == 0) return {0, error};
    AddDependency(holder, target);
    Entry* t = Find(target.handle);
    if (t == nullptr) return {0, ERROR_MOD_NOT_FOUND};
    const std::string_view proc = std::string_view(fwd).substr(dot + 1);
    if (proc.size() > 1 && proc[0] == '#' &&
        proc.find_first_not_of("0123456789", 1) == std::string::npos) {
      uint32_t ord = 0;
      for (size_t i = 1; i < proc.size() && ord <= 0xFFFF; ++i) ord = ord * 10 + (proc[i] - '0');
      if (ord > 0xFFFF) return {0, ERROR_PROC_NOT_FOUND};
      return ResolveExport(*t, nullptr, ord, holder, depth, hops + 1);
    }
    return ResolveExport(*t, &proc, 0, holder, depth, hops + 1);
  }

  // Checks every import of a freshly mapped module, walking the descriptors
  // and thunks in place; error on the first miss. The walk ends at the first
  // descriptor without a name or without an address table, as the system's.
  uint32_t ResolveImports(Entry& e, int depth) {
    const PeImage& pe = *e.pe;
    const PeDataDirectory d = pe.Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    if (!d.Present()) return 0;
    // Each descriptor and thunk read has bytes of its own in the image, so
    // the walk ends within the image's size in steps.
    try {
      for (uint64_t at = d.rva;; at += 20) {
        if (at > 0xFFFFFFFFull - 20) return ERROR_BAD_EXE_FORMAT;
        const auto raw = pe.Bytes(static_cast<uint32_t>(at), 20);
        const uint32_t originalFirstThunk = ReadLe32(raw, 0);
        const uint32_t nameRva = ReadLe32(raw, 12);
        const uint32_t firstThunk = ReadLe32(raw, 16);
        if (nameRva == 0 || firstThunk == 0) break;
        uint32_t error = 0;
        const Acquired dep = Acquire(AnsiToUtf8(pe.CStringView(nameRva)), false, depth + 1, error);
        if (dep.handle == 0) return error;
        AddDependency(e, dep);
        Entry* exporter = Find(dep.handle);
        if (exporter == nullptr) return ERROR_MOD_NOT_FOUND;
        const uint32_t thunks = originalFirstThunk != 0 ? originalFirstThunk : firstThunk;
        for (uint64_t t = thunks;; t += 4) {
          if (t > 0xFFFFFFFFull - 4) return ERROR_BAD_EXE_FORMAT;
          const uint32_t value = pe.U32(static_cast<uint32_t>(t));
          if (value == 0) break;
          Resolved r;
          if (value & 0x80000000u) {
            r = ResolveExport(*exporter, nullptr, value & 0xFFFF, e, depth, 0);
          } else {
            if (value > 0xFFFFFFFFu - 2) return ERROR_BAD_EXE_FORMAT;
            const uint16_t hint = pe.U16(value);
            const std::string_view name = pe.CStringView(value + 2);
            r = ResolveExport(*exporter, &name, 0, e, depth, 0, hint);
          }
          if (r.address == 0) return r.error != 0 ? r.error : ERROR_PROC_NOT_FOUND;
        }
      }
    } catch (const EReadError&) {
      return ERROR_BAD_EXE_FORMAT;
    }
    return 0;
  }

  // Loads (or references) a module by loader name. On failure the handle is
  // 0, error says why and nothing loaded for it stays loaded.
  Acquired Acquire(std::string_view requested, bool dataFile, int depth, uint32_t& error) {
    if (depth > kMaxLoadDepth) {
      error = ERROR_STACK_OVERFLOW;
      return {};
    }
    if (requested.empty()) {
      error = ERROR_MOD_NOT_FOUND;
      return {};
    }
    const std::string name = WithDefaultExtension(requested);
    // A data-file load of a module already loaded normally shares it.
    if (Entry* e = FindLoaded(name)) return Reference(*e);

    const std::string full = LocateFile(name);
    const std::string fileName = ExtractFileName(name);
    const bool core = IsCoreSystemLibrary(fileName) &&
                      (!HasPath(name) || SameText(ExcludeSlash(ExtractFilePath(SafeExpand(name))),
                                                  Sys().SystemDirectory()));
    if (full.empty()) {
      // NT reports a module that is not found as 126, with or without a
      // path; a data-file load opens the file itself and gets 2.
      if (dataFile) {
        error = ERROR_FILE_NOT_FOUND;
        return {};
      }
      if (core) return LoadBuiltin(fileName, error);
      error = ERROR_MOD_NOT_FOUND;
      return {};
    }
    if (!dataFile) {
      if (auto host = Sys().ToHost(full)) {
        std::error_code ec;
        fs::path canon = fs::weakly_canonical(*host, ec);
        if (Entry* e = FindByHostPath(ec ? *host : canon)) return Reference(*e);
      }
    }
    Acquired mapped = MapFile(full, dataFile, error);
    if (mapped.handle == 0 || dataFile) {
      // A core library's file that cannot be mapped (a placeholder of an
      // emulation layer, say) is replaced by the built-in one.
      if (mapped.handle == 0 && core && !dataFile) return LoadBuiltin(fileName, error);
      return mapped;
    }
    Entry& e = *Find(mapped.handle);
    e.loading = true;
    const uint32_t failed = ResolveImports(e, depth);
    e.loading = false;
    if (failed != 0) {
      Release(mapped.handle);
      if (core) return LoadBuiltin(fileName, error);
      error = failed;
      return {};
    }
    return mapped;
  }

  static std::string SafeExpand(const std::string& name) {
    try {
      return Sys().ExpandFileName(name);
    } catch (const Exception&) {
      return name;
    }
  }

  static std::string ExcludeSlash(std::string dir) {
    if (dir.size() > 1 && dir.back() == '\\') dir.pop_back();
    return dir;
  }
};

// ---------------------------------------------------------------------------

Process::Process() : impl_(std::make_unique<Impl>()) {}
Process::~Process() = default;

HMODULE Process::LoadLibrary(std::string_view name) { return LoadLibraryEx(name, 0); }

HMODULE Process::LoadLibraryEx(std::string_view name, uint32_t flags) {
  uint32_t error = 0;
  const Acquired a = impl_->Acquire(name, (flags & LOAD_LIBRARY_AS_DATAFILE) != 0, 0, error);
  if (a.handle == 0) {
    lastError_ = error != 0 ? error : ERROR_MOD_NOT_FOUND;
    return 0;
  }
  return a.handle;
}

bool Process::FreeLibrary(HMODULE module) {
  if (impl_->Find(module) == nullptr) {
    lastError_ = ERROR_INVALID_HANDLE;
    return false;
  }
  impl_->Release(module);
  return true;
}

uint32_t Process::GetProcAddress(HMODULE module, std::string_view name) {
  Entry* e = impl_->Find(module);
  if (e == nullptr) {
    lastError_ = ERROR_MOD_NOT_FOUND;
    return 0;
  }
  if (e->rec.builtin) {
    lastError_ = ERROR_PROC_NOT_FOUND;
    return 0;
  }
  const Resolved r = impl_->ResolveExport(*e, &name, 0, *e, 0, 0);
  if (r.address == 0) lastError_ = r.error != 0 ? r.error : ERROR_PROC_NOT_FOUND;
  return r.address;
}

uint32_t Process::GetProcAddress(HMODULE module, uint16_t ordinal) {
  Entry* e = impl_->Find(module);
  if (e == nullptr) {
    lastError_ = ERROR_MOD_NOT_FOUND;
    return 0;
  }
  if (e->rec.builtin) {
    lastError_ = ERROR_PROC_NOT_FOUND;
    return 0;
  }
  const Resolved r = impl_->ResolveExport(*e, nullptr, ordinal, *e, 0, 0);
  if (r.address == 0) lastError_ = r.error != 0 ? r.error : ERROR_PROC_NOT_FOUND;
  return r.address;
}

HMODULE Process::GetModuleHandle(std::string_view name) const {
  if (name.empty()) return 0;
  Entry* e = impl_->FindLoaded(WithDefaultExtension(name));
  return e ? e->rec.handle : 0;
}

std::string Process::GetModuleFileName(HMODULE module) const {
  // Data-file mappings answer too: the record keeps the file they came from.
  Entry* e = impl_->Find(module);
  return e ? e->rec.fileName : std::string();
}

const ModuleRecord* Process::Module(HMODULE module) const {
  Entry* e = impl_->Find(module);
  return e ? &e->rec : nullptr;
}

std::vector<const ModuleRecord*> Process::Modules() const {
  std::vector<const ModuleRecord*> out;
  out.reserve(impl_->order.size());
  for (HMODULE h : impl_->order) out.push_back(&impl_->Find(h)->rec);
  return out;
}

bool Process::IsMapped(uint32_t address, uint32_t size) const {
  Entry* e = impl_->Containing(address);
  if (e == nullptr) return false;
  return static_cast<uint64_t>(address) + size <=
         static_cast<uint64_t>(e->rec.loadBase) + e->rec.image.size();
}

std::span<const uint8_t> Process::View(uint32_t address, uint32_t size) const {
  Entry* e = impl_->Containing(address);
  if (e == nullptr || static_cast<uint64_t>(address) + size >
                          static_cast<uint64_t>(e->rec.loadBase) + e->rec.image.size())
    throw EReadError("Read of " + std::to_string(size) + " bytes at address $" + Hex8(address) +
                     " outside the loaded modules");
  return std::span<const uint8_t>(e->rec.image).subspan(address - e->rec.loadBase, size);
}

uint8_t Process::ReadU8(uint32_t address) const { return View(address, 1)[0]; }

uint16_t Process::ReadU16(uint32_t address) const { return ReadLe16(View(address, 2), 0); }

uint32_t Process::ReadU32(uint32_t address) const { return ReadLe32(View(address, 4), 0); }

std::string Process::ReadCString(uint32_t address, size_t maxLength) const {
  const Entry* e = impl_->Containing(address);
  if (e == nullptr)
    throw EReadError("Read at address $" + Hex8(address) + " outside the loaded modules");
  const size_t offset = address - e->rec.loadBase;
  const size_t limit = std::min(e->rec.image.size() - offset, maxLength);
  const uint8_t* start = e->rec.image.data() + offset;
  const void* zero = std::memchr(start, 0, limit);
  const size_t n = zero ? static_cast<const uint8_t*>(zero) - start : limit;
  return AnsiToUtf8(std::string_view(reinterpret_cast<const char*>(start), n));
}

}  // namespace kx
