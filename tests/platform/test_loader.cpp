#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "platform/pe_image.h"
#include "platform/process.h"
#include "platform/strutil.h"
#include "platform/system.h"
#include "support/nls_builder.h"
#include "support/pe_builder.h"
#include "support/test_system.h"

namespace kx {
namespace {

namespace fs = std::filesystem;
using test::BuildPe;
using test::PeSpec;

constexpr const char* kProgramDir = "C:\\Program Files\\Kestrix";

PeSpec Dll(std::vector<test::PeImport> imports = {}, std::vector<test::PeExport> exports = {},
           uint32_t base = 0x10000000) {
  PeSpec spec;
  spec.imageBase = base;
  spec.imports = std::move(imports);
  spec.exports = std::move(exports);
  return spec;
}

class Loader : public ::testing::Test {
 protected:
  void SetUp() override {
    prefix_.System().SetCurrentDirectory("C:\\work");
    prefix_.System().Env().Set("PATH", "C:\\p1;;C:\\p2");
  }
  void Put(const std::string& windowsPath, const PeSpec& spec) { Put(windowsPath, BuildPe(spec)); }
  void Put(const std::string& windowsPath, const std::vector<uint8_t>& bytes) {
    // A fresh file rather than a truncated one: the file system flushes a
    // file that is truncated and rewritten, which makes the loops crawl.
    Remove(windowsPath);
    prefix_.WriteFile(windowsPath, bytes);
  }
  void Remove(const std::string& windowsPath) {
    std::error_code ec;
    fs::remove(prefix_.Host(windowsPath), ec);
  }
  std::vector<std::string> LoadedNames(const Process& p) const {
    std::vector<std::string> names;
    for (const ModuleRecord* r : p.Modules()) names.push_back(r->baseName);
    return names;
  }

  test::TempPrefix prefix_;
};

using Names = std::vector<std::string>;

TEST_F(Loader, BareNameSearchOrderIsProgramCurrentSystemWindowsThenPath) {
  // The 16-bit system folder comes between the system and Windows folders.
  const std::vector<std::string> places = {
      kProgramDir, "C:\\work", "C:\\windows\\system32", "C:\\windows\\system", "C:\\windows",
      "C:\\p1",    "C:\\p2"};
  for (const auto& dir : places) Put(dir + "\\probe.dll", Dll());
  for (const auto& dir : places) {
    Process p;
    const HMODULE h = p.LoadLibrary("probe");
    ASSERT_NE(h, 0u) << dir;
    EXPECT_EQ(p.GetModuleFileName(h), dir + "\\probe.dll");
    Remove(dir + "\\probe.dll");
  }
  Process p;
  EXPECT_EQ(p.LoadLibrary("probe"), 0u);
  EXPECT_EQ(p.LastError(), ERROR_MOD_NOT_FOUND);
}

TEST_F(Loader, PathFoldersAreSearchedInTheirOrder) {
  prefix_.System().Env().Set("PATH", "C:\\p2;C:\\p1");
  Put("C:\\p1\\probe.dll", Dll());
  Put("C:\\p2\\probe.dll", Dll());
  Process p;
  EXPECT_EQ(p.GetModuleFileName(p.LoadLibrary("probe.dll")), "C:\\p2\\probe.dll");
}

TEST_F(Loader, NamesGetDotDllUnlessTheyHaveAnExtensionOrATrailingDot) {
  Put(std::string(kProgramDir) + "\\probe.dll", Dll());
  Put(std::string(kProgramDir) + "\\probe", Dll());
  Put(std::string(kProgramDir) + "\\pack.dpl", Dll());
  Process p;
  const HMODULE dll = p.LoadLibrary("probe");
  const HMODULE bare = p.LoadLibrary("probe.");
  const HMODULE dpl = p.LoadLibrary("pack.dpl");
  EXPECT_EQ(p.Module(dll)->baseName, "probe.dll");
  EXPECT_EQ(p.Module(bare)->baseName, "probe");
  EXPECT_EQ(p.Module(dpl)->baseName, "pack.dpl");
  EXPECT_EQ(p.LoadLibrary("pack"), 0u);  // looks for pack.dll
}

TEST_F(Loader, NamesResolveIgnoringCaseAndKeepTheSpellingOnDisk) {
  Put(std::string(kProgramDir) + "\\PROBE.DLL", Dll());
  Process p;
  const HMODULE h = p.LoadLibrary("Probe");
  ASSERT_NE(h, 0u);
  EXPECT_EQ(p.Module(h)->baseName, "PROBE.DLL");
  EXPECT_EQ(p.GetModuleFileName(h), std::string(kProgramDir) + "\\PROBE.DLL");
  EXPECT_EQ(p.GetModuleHandle("probe.dll"), h);
  EXPECT_EQ(p.GetModuleHandle("PROBE"), h);
  EXPECT_EQ(p.GetModuleHandle(std::string(kProgramDir) + "\\probe.DLL"), h);
  EXPECT_EQ(p.GetModuleHandle("other"), 0u);
}

TEST_F(Loader, ANameWithAPathIsUsedAsItStands) {
  Put(std::string(kProgramDir) + "\\probe.dll", Dll());
  Put("C:\\other\\probe.dll", Dll());
  Put("C:\\work\\sub\\rel.dll", Dll());
  Process p;
  EXPECT_EQ(p.GetModuleFileName(p.LoadLibrary("C:\\other\\probe.dll")), "C:\\other\\probe.dll");
  EXPECT_EQ(p.GetModuleFileName(p.LoadLibrary("sub\\rel")), "C:\\work\\sub\\rel.dll");
  // A path to a missing file is not searched for elsewhere.
  EXPECT_EQ(p.LoadLibrary("C:\\missing\\probe.dll"), 0u);
  EXPECT_EQ(p.LastError(), ERROR_MOD_NOT_FOUND);
}

TEST_F(Loader, AModuleOfTheSameNameAlreadyLoadedIsReused) {
  Put("C:\\libs\\x.dll", Dll());
  Put(std::string(kProgramDir) + "\\x.dll", Dll());
  Process p;
  const HMODULE h = p.LoadLibrary("C:\\libs\\x.dll");
  EXPECT_EQ(p.LoadLibrary("X"), h);
  EXPECT_EQ(p.LoadLibrary("c:\\LIBS\\x.dll"), h);
  EXPECT_EQ(p.Module(h)->refCount, 3);
  EXPECT_EQ(p.Modules().size(), 1u);
  // A second path to the same file counts as the same module too.
  const std::string viaZ = "Z:" + prefix_.Host("C:\\libs\\x.dll").string();
  EXPECT_EQ(p.LoadLibrary(viaZ), h);
}

// An imported module's name is text in the system code page; the file on
// the host carries it in UTF-8. A Shift-JIS name whose second byte is '\'
// still names one file, and case folds in every script.
TEST_F(Loader, ImportedModuleNamesAreReadInTheSystemCodePage) {
  const struct {
    uint16_t page;
    const char* imported;  // the bytes in the image
    const char* onDisk;    // the file's name on the host
  } kNames[] = {
      {1252, "Caf\xE9.dll", "caf\u00E9.dll"},
      {1251, "\xCA\xEE\xEC.dll", "\u043A\u043E\u043C.DLL"},
      {932, "\x95\x5C\x8E\xA6.dll", "\u8868\u793A.dll"},
      {936, "\xD6\xD0\xCE\xC4.dll", "\u4E2D\u6587.dll"},
  };
  for (const auto& n : kNames) {
    SCOPED_TRACE(n.onDisk);
    prefix_.System().SetAnsiCodePage(test::ChartPage(n.page));
    Put(std::string("C:\\p1\\") + n.onDisk, Dll({}, {{.name = "B1"}}, 0x20000000));
    Put("C:\\libs\\a.dll", Dll({{.dll = n.imported, .names = {"B1"}}}));
    Process p;
    ASSERT_NE(p.LoadLibrary("C:\\libs\\a.dll"), 0u) << p.LastError();
    EXPECT_EQ(p.GetModuleFileName(p.GetModuleHandle(std::string(n.onDisk))),
              std::string("C:\\p1\\") + n.onDisk);
    // The import list shows the name decoded.
    const std::vector<uint8_t> bytes = BuildPe(Dll({{.dll = n.imported, .names = {"B1"}}}));
    const PeImage image(bytes);
    EXPECT_TRUE(SameFileName(image.Imports()[0].dll, n.onDisk));
    Remove(std::string("C:\\p1\\") + n.onDisk);
  }
}

TEST_F(Loader, ADllsOwnFolderIsNotSearchedForItsImports) {
  Put("C:\\libs\\a.dll", Dll({{.dll = "b.dll", .names = {"B1"}}}));
  Put("C:\\libs\\b.dll", Dll({}, {{.name = "B1"}}, 0x20000000));
  Process p;
  EXPECT_EQ(p.LoadLibrary("C:\\libs\\a.dll"), 0u);
  EXPECT_EQ(p.LastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_TRUE(p.Modules().empty());
  Put("C:\\p2\\b.dll", Dll({}, {{.name = "B1"}}, 0x20000000));
  const HMODULE a = p.LoadLibrary("C:\\libs\\a.dll");
  ASSERT_NE(a, 0u);
  EXPECT_EQ(p.GetModuleFileName(p.GetModuleHandle("b.dll")), "C:\\p2\\b.dll");
}

TEST_F(Loader, ImagesAreCopiedToThePreferredBaseOrTheNextFreeRange) {
  test::PeLayout layout;
  const auto bytes = BuildPe(Dll({}, {{.name = "F"}}), &layout);
  Put("C:\\work\\a.dll", bytes);
  Put("C:\\work\\b.dll", bytes);
  Put("C:\\work\\c.dll", bytes);
  Process p;
  const HMODULE a = p.LoadLibrary("a");
  ASSERT_EQ(a, 0x10000000u);
  const ModuleRecord* ra = p.Module(a);
  EXPECT_EQ(ra->loadBase, 0x10000000u);
  EXPECT_EQ(ra->sizeOfImage, PeImage(bytes).SizeOfImage());
  EXPECT_EQ(ra->ntHeaders, a + layout.ntHeaders);
  // Sections lie at their RVAs, the headers as in the file.
  for (const auto& s : layout.sections) {
    const auto view = p.View(a + s.rva, s.virtualSize);
    EXPECT_TRUE(std::equal(view.begin(), view.end(), bytes.begin() + s.rawOffset)) << s.name;
  }
  EXPECT_EQ(p.ReadU16(a), 0x5A4Du);

  const HMODULE b = p.LoadLibrary("b");
  const uint32_t next = (0x10000000u + ra->sizeOfImage + 0xFFFF) & ~0xFFFFu;
  EXPECT_EQ(b, next);
  EXPECT_EQ(p.Module(b)->imageBase, 0x10000000u);
  // Not relocated: the optional header still carries the preferred base.
  EXPECT_EQ(p.ReadU32(p.Module(b)->ntHeaders + 0x34), 0x10000000u);
  EXPECT_EQ(p.GetProcAddress(b, "F"), b + layout.exportRvas[0]);

  // The range freed by a is the first free one again.
  ASSERT_TRUE(p.FreeLibrary(a));
  EXPECT_FALSE(p.IsMapped(a, 1));
  EXPECT_EQ(p.LoadLibrary("c"), 0x10000000u);
}

TEST_F(Loader, TheProgramsOwnImageRangeIsNeverGivenToAModule) {
  // At the default base, inside the range, and just above it.
  const struct {
    uint32_t base;
    bool moved;
  } cases[] = {{0x00400000, true}, {0x004F0000, true}, {0x00500000, false}};
  for (const auto& c : cases) {
    PeSpec spec = Dll({}, {{.name = "F"}}, c.base);
    Put("C:\\work\\at.dll", spec);
    Process p;
    const HMODULE h = p.LoadLibrary("at");
    ASSERT_NE(h, 0u) << std::hex << c.base;
    const ModuleRecord* r = p.Module(h);
    EXPECT_EQ(r->imageBase, c.base);
    EXPECT_EQ(h != c.base, c.moved) << std::hex << c.base;
    EXPECT_TRUE(h >= 0x00500000u || h + r->sizeOfImage <= 0x00400000u) << std::hex << h;
  }
}

TEST_F(Loader, ImagesOutsideUserSpaceOrUnalignedAreMovedBelowIt) {
  Put("C:\\work\\high.dll", Dll({}, {}, 0x90000000));
  Put("C:\\work\\odd.dll", Dll({}, {}, 0x10001000));
  Process p;
  const HMODULE high = p.LoadLibrary("high");
  ASSERT_NE(high, 0u);
  EXPECT_LT(high, 0x80000000u);
  EXPECT_EQ(high % 0x10000, 0u);
  EXPECT_EQ(p.LoadLibrary("odd"), 0x10010000u);
}

TEST_F(Loader, FreeLibraryCountsReferencesAndReleasesDependencies) {
  Put("C:\\work\\a.dll", Dll({{.dll = "b.dll", .names = {"B1"}}}, {}, 0x10000000));
  Put("C:\\work\\b.dll", Dll({{.dll = "c.dll", .names = {"C1"}}, {.dll = "C.DLL", .names = {"C2"}}},
                             {{.name = "B1"}}, 0x11000000));
  Put("C:\\work\\c.dll", Dll({}, {{.name = "C1"}, {.name = "C2"}}, 0x12000000));
  Process p;
  const HMODULE a = p.LoadLibrary("a");
  ASSERT_NE(a, 0u);
  EXPECT_EQ(LoadedNames(p), (Names{"a.dll", "b.dll", "c.dll"}));
  const HMODULE b = p.GetModuleHandle("b");
  const HMODULE c = p.GetModuleHandle("c");
  EXPECT_EQ(p.Module(a)->dependencies, std::vector<HMODULE>{b});
  EXPECT_EQ(p.Module(b)->dependencies, std::vector<HMODULE>{c});
  EXPECT_EQ(p.Module(c)->refCount, 1);  // two descriptors, one reference

  EXPECT_EQ(p.LoadLibrary("a"), a);
  EXPECT_EQ(p.LoadLibrary("b"), b);
  EXPECT_TRUE(p.FreeLibrary(a));
  EXPECT_EQ(p.Modules().size(), 3u);  // a still has one reference
  EXPECT_TRUE(p.FreeLibrary(a));
  EXPECT_EQ(LoadedNames(p), (Names{"b.dll", "c.dll"}));
  EXPECT_TRUE(p.FreeLibrary(b));
  EXPECT_TRUE(p.Modules().empty());
  EXPECT_FALSE(p.FreeLibrary(b));
  EXPECT_EQ(p.LastError(), ERROR_INVALID_HANDLE);
  EXPECT_THROW(p.ReadU8(c), EReadError);
}

TEST_F(Loader, AMissingModuleOrProcedureFailsTheLoadAndReleasesEverything) {
  Put("C:\\work\\ok.dll", Dll({}, {{.name = "Fine"}}, 0x20000000));
  Put("C:\\work\\needsmod.dll",
      Dll({{.dll = "ok.dll", .names = {"Fine"}}, {.dll = "nothere.dll", .names = {"X"}}}));
  Put("C:\\work\\needsproc.dll", Dll({{.dll = "ok.dll", .names = {"Fine", "Gone"}}}));
  Put("C:\\work\\deep.dll", Dll({{.dll = "needsproc.dll", .names = {"Any"}}}, {}, 0x30000000));
  Process p;
  EXPECT_EQ(p.LoadLibrary("needsmod"), 0u);
  EXPECT_EQ(p.LastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_TRUE(p.Modules().empty());
  EXPECT_EQ(p.LoadLibrary("needsproc"), 0u);
  EXPECT_EQ(p.LastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_TRUE(p.Modules().empty());
  // A failure further down fails the whole chain with its own reason.
  EXPECT_EQ(p.LoadLibrary("deep"), 0u);
  EXPECT_EQ(p.LastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_TRUE(p.Modules().empty());
  // A module that was loaded before keeps exactly its own reference.
  const HMODULE ok = p.LoadLibrary("ok");
  EXPECT_EQ(p.LoadLibrary("needsproc"), 0u);
  EXPECT_EQ(p.Module(ok)->refCount, 1);
  EXPECT_EQ(p.Modules().size(), 1u);

  EXPECT_EQ(SystemErrorText(ERROR_MOD_NOT_FOUND), "The specified module could not be found.");
  EXPECT_EQ(SystemErrorText(ERROR_PROC_NOT_FOUND), "The specified procedure could not be found.");
  EXPECT_EQ(SystemErrorText(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.");
  EXPECT_EQ(SystemErrorText(ERROR_BAD_EXE_FORMAT, "C:\\x.dll"),
            "C:\\x.dll is not a valid Win32 application.");
  EXPECT_EQ(SystemErrorText(ERROR_BAD_EXE_FORMAT), "%1 is not a valid Win32 application.");
  EXPECT_EQ(SystemErrorText(0xDEAD), "Unknown error 57005.");
}

TEST_F(Loader, ImportsByOrdinalMatchTheExportOrdinals) {
  Put("C:\\work\\lib.dll",
      Dll({}, {{.name = "", .ordinal = 7, .noName = true}, {.name = "Named"}}, 0x20000000));
  Put("C:\\work\\byord.dll", Dll({{.dll = "lib.dll", .ordinals = {7}}}));
  Put("C:\\work\\badord.dll", Dll({{.dll = "lib.dll", .ordinals = {9}}}));
  Process p;
  ASSERT_NE(p.LoadLibrary("byord"), 0u);
  EXPECT_EQ(p.LoadLibrary("badord"), 0u);
  EXPECT_EQ(p.LastError(), ERROR_PROC_NOT_FOUND);
  const HMODULE lib = p.GetModuleHandle("lib");
  EXPECT_NE(p.GetProcAddress(lib, uint16_t{7}), 0u);
  EXPECT_EQ(p.GetProcAddress(lib, uint16_t{9}), 0u);
  EXPECT_EQ(p.GetProcAddress(lib, uint16_t{0}), 0u);
  EXPECT_EQ(p.GetProcAddress(lib, "named"), 0u);  // names are case-sensitive
  EXPECT_EQ(p.LastError(), ERROR_PROC_NOT_FOUND);
}

TEST_F(Loader, ForwardedExportsLoadAndResolveTheirTarget) {
  test::PeLayout targetLayout;
  Put("C:\\work\\target.dll",
      BuildPe(Dll({}, {{.name = "Real"}, {.name = "", .ordinal = 12, .noName = true}}, 0x30000000),
              &targetLayout));
  Put("C:\\work\\fwd.dll", Dll({},
                               {{.name = "ByName", .forwarder = "TARGET.Real"},
                                {.name = "ByOrd", .forwarder = "target.#12"},
                                {.name = "Broken", .forwarder = "target.Absent"},
                                {.name = "Loop", .forwarder = "fwd.Loop"},
                                {.name = "NoDot", .forwarder = "nodot"}},
                               0x20000000));
  Put("C:\\work\\user.dll", Dll({{.dll = "fwd.dll", .names = {"ByName", "ByOrd"}}}));
  Put("C:\\work\\broken.dll", Dll({{.dll = "fwd.dll", .names = {"Broken"}}}));
  Put("C:\\work\\loop.dll", Dll({{.dll = "fwd.dll", .names = {"Loop"}}}));
  Process p;
  const HMODULE user = p.LoadLibrary("user");
  ASSERT_NE(user, 0u);
  EXPECT_EQ(LoadedNames(p), (Names{"user.dll", "fwd.dll", "target.dll"}));
  const HMODULE fwd = p.GetModuleHandle("fwd");
  const HMODULE target = p.GetModuleHandle("target");
  EXPECT_EQ(p.GetProcAddress(fwd, "ByName"), target + targetLayout.exportRvas[0]);
  EXPECT_EQ(p.GetProcAddress(fwd, "ByOrd"), p.GetProcAddress(target, uint16_t{12}));
  EXPECT_EQ(p.GetProcAddress(fwd, "Loop"), 0u);
  EXPECT_EQ(p.GetProcAddress(fwd, "NoDot"), 0u);
  EXPECT_EQ(p.LoadLibrary("broken"), 0u);
  EXPECT_EQ(p.LastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(p.LoadLibrary("loop"), 0u);
  EXPECT_EQ(p.LastError(), ERROR_PROC_NOT_FOUND);
  // The importer holds the forwarded module: it goes with it.
  EXPECT_TRUE(p.FreeLibrary(user));
  EXPECT_TRUE(p.Modules().empty());
}

TEST_F(Loader, CoreSystemLibrariesWithoutFilesAreBuiltIn) {
  Put("C:\\work\\app.dll", Dll({{.dll = "KERNEL32.dll", .names = {"ExitProcess"}},
                                {.dll = "user32.dll", .names = {"MessageBoxA"}, .ordinals = {3}},
                                {.dll = "api-ms-win-crt-runtime-l1-1-0.dll", .names = {"_exit"}}}));
  Process p;
  const HMODULE app = p.LoadLibrary("app");
  ASSERT_NE(app, 0u);
  const HMODULE k32 = p.GetModuleHandle("kernel32");
  ASSERT_NE(k32, 0u);
  const ModuleRecord* rec = p.Module(k32);
  EXPECT_TRUE(rec->builtin);
  EXPECT_EQ(rec->fileName, "C:\\windows\\system32\\kernel32.dll");
  EXPECT_EQ(p.ReadU16(k32), 0x5A4Du);
  EXPECT_EQ(PeImage(rec->image, PeImage::Layout::Mapped).ImageBase(), rec->imageBase);
  // It binds every import made of it but has no export table to answer a
  // direct look-up from: a package entry point is never invented.
  for (const char* proc : {"ExitProcess", "Initialize"}) {
    EXPECT_EQ(p.GetProcAddress(k32, proc), 0u) << proc;
    EXPECT_EQ(p.LastError(), ERROR_PROC_NOT_FOUND) << proc;
  }
  EXPECT_EQ(p.GetProcAddress(k32, uint16_t{23}), 0u);
  EXPECT_FALSE(p.FindResource(k32, ResId::Name("PACKAGEINFO"), ResId::Id(RT_RCDATA)));
  EXPECT_EQ(p.LoadLibrary("kernel32"), k32);
  EXPECT_EQ(p.LoadLibrary("C:\\windows\\system32\\KERNEL32.DLL"), k32);
  EXPECT_TRUE(IsCoreSystemLibrary("WINSPOOL.DRV"));
  EXPECT_FALSE(IsCoreSystemLibrary("vcl30.dpl"));
  EXPECT_TRUE(p.FreeLibrary(k32));
  EXPECT_TRUE(p.FreeLibrary(k32));
  EXPECT_TRUE(p.FreeLibrary(app));
  EXPECT_TRUE(p.Modules().empty());
  // A built-in has no file to map as data; a bare unknown name is not built in.
  EXPECT_EQ(p.LoadLibraryEx("comctl32", LOAD_LIBRARY_AS_DATAFILE), 0u);
  EXPECT_EQ(p.LastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(p.LoadLibrary("notasystemdll"), 0u);
  // A core library present as a file is loaded from it.
  Put("C:\\windows\\system32\\version.dll", Dll({}, {{.name = "GetFileVersionInfoA"}}));
  const HMODULE ver = p.LoadLibrary("version");
  ASSERT_NE(ver, 0u);
  EXPECT_FALSE(p.Module(ver)->builtin);
  EXPECT_EQ(p.GetProcAddress(ver, "VerQueryValueA"), 0u);
}

TEST_F(Loader, DataFileLoadsMapWithoutResolvingAndDoNotSatisfyNormalLoads) {
  PeSpec spec = Dll({{.dll = "nothere.dll", .names = {"X"}}}, {{.name = "F"}});
  spec.resources = {{.type = test::PeResName::Id(RT_RCDATA),
                     .name = test::PeResName::Name("PACKAGEINFO"),
                     .data = {9, 8, 7}}};
  Put("C:\\work\\pkg.dpl", spec);
  Process p;
  const HMODULE data = p.LoadLibraryEx("pkg.dpl", LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(data, 0u);
  EXPECT_TRUE(p.Module(data)->dataFile);
  EXPECT_TRUE(p.Module(data)->dependencies.empty());
  EXPECT_EQ(p.Modules().size(), 1u);
  const auto res = p.FindResource(data, ResId::Name("PACKAGEINFO"), ResId::Id(RT_RCDATA));
  ASSERT_TRUE(res);
  EXPECT_EQ(p.ReadU8(res->address + 2), 7);
  EXPECT_EQ(p.GetModuleHandle("pkg.dpl"), 0u);
  EXPECT_EQ(p.GetProcAddress(data, "F"), 0u);
  EXPECT_EQ(p.LoadLibrary("pkg.dpl"), 0u);  // a normal load resolves the imports
  EXPECT_EQ(p.LastError(), ERROR_MOD_NOT_FOUND);

  Put("C:\\work\\pkg.dpl", Dll({}, {{.name = "F"}}));
  const HMODULE normal = p.LoadLibrary("pkg.dpl");
  ASSERT_NE(normal, 0u);
  EXPECT_NE(normal, data);
  // A data-file load of a module loaded normally shares the loaded one.
  EXPECT_EQ(p.LoadLibraryEx("pkg.dpl", LOAD_LIBRARY_AS_DATAFILE), normal);
  EXPECT_EQ(p.Module(normal)->refCount, 2);
  EXPECT_TRUE(p.FreeLibrary(data));
  EXPECT_EQ(p.Modules().size(), 1u);

  EXPECT_EQ(p.LoadLibraryEx("C:\\work\\none.dpl", LOAD_LIBRARY_AS_DATAFILE), 0u);
  EXPECT_EQ(p.LastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(Loader, FilesThatAreNotPe32ImagesFailWithBadFormat) {
  Put("C:\\work\\text.dll", std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'});
  test::PeLayout layout;
  auto pe64 = BuildPe(Dll(), &layout);
  test::Put16(pe64, layout.optionalHeader, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
  Put("C:\\work\\pe64.dll", pe64);
  auto huge = BuildPe(Dll(), &layout);
  test::Put32(huge, layout.optionalHeader + 56, 0xFFFFF000u);  // SizeOfImage
  Put("C:\\work\\huge.dll", huge);
  Put("C:\\work\\usesbad.dll", Dll({{.dll = "text.dll", .names = {"X"}}}));
  Process p;
  for (const char* name : {"text", "pe64", "huge", "usesbad"}) {
    EXPECT_EQ(p.LoadLibrary(name), 0u) << name;
    EXPECT_EQ(p.LastError(), ERROR_BAD_EXE_FORMAT) << name;
  }
  for (const char* name : {"text", "huge"}) {
    EXPECT_EQ(p.LoadLibraryEx(name, LOAD_LIBRARY_AS_DATAFILE), 0u) << name;
    EXPECT_EQ(p.LastError(), ERROR_BAD_EXE_FORMAT) << name;
  }
  EXPECT_TRUE(p.Modules().empty());
  // A 64-bit image is readable as a data file, never loadable.
  const HMODULE data64 = p.LoadLibraryEx("pe64", LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(data64, 0u);
  EXPECT_TRUE(p.FreeLibrary(data64));
}

TEST_F(Loader, ImportCyclesLoadAndUnloadTogether) {
  Put("C:\\work\\a.dll", Dll({{.dll = "b.dll", .names = {"B"}}}, {{.name = "A"}}, 0x10000000));
  Put("C:\\work\\b.dll", Dll({{.dll = "a.dll", .names = {"A"}}}, {{.name = "B"}}, 0x20000000));
  Put("C:\\work\\self.dll", Dll({{.dll = "SELF.dll", .names = {"S"}}}, {{.name = "S"}}));
  Process p;
  const HMODULE a = p.LoadLibrary("a");
  ASSERT_NE(a, 0u);
  EXPECT_EQ(p.Modules().size(), 2u);
  EXPECT_TRUE(p.FreeLibrary(a));
  EXPECT_TRUE(p.Modules().empty());
  const HMODULE self = p.LoadLibrary("self");
  ASSERT_NE(self, 0u);
  EXPECT_EQ(p.Module(self)->refCount, 1);
  EXPECT_TRUE(p.FreeLibrary(self));
  EXPECT_TRUE(p.Modules().empty());
}

TEST_F(Loader, OverlongImportChainsFailInsteadOfExhaustingTheStack) {
  // d0 imports d1 imports d2 ... d299: deeper than the loader follows.
  for (int i = 0; i < 300; ++i) {
    std::vector<test::PeImport> imports;
    if (i + 1 < 300)
      imports.push_back({.dll = "d" + std::to_string(i + 1) + ".dll", .names = {"F"}});
    Put("C:\\work\\d" + std::to_string(i) + ".dll", Dll(imports, {{.name = "F"}}));
  }
  Process p;
  EXPECT_EQ(p.LoadLibrary("d0"), 0u);
  EXPECT_EQ(p.LastError(), ERROR_STACK_OVERFLOW);
  EXPECT_TRUE(p.Modules().empty());
  const HMODULE d100 = p.LoadLibrary("d100");
  ASSERT_NE(d100, 0u);
  EXPECT_EQ(p.Modules().size(), 200u);
  EXPECT_TRUE(p.FreeLibrary(d100));
  EXPECT_TRUE(p.Modules().empty());
}

TEST_F(Loader, AddressSpaceReadsAreBoundedByTheImage) {
  Put("C:\\work\\a.dll", Dll());
  Process p;
  const HMODULE a = p.LoadLibrary("a");
  const uint32_t size = p.Module(a)->sizeOfImage;
  EXPECT_TRUE(p.IsMapped(a, size));
  EXPECT_FALSE(p.IsMapped(a, size + 1));
  EXPECT_FALSE(p.IsMapped(a - 1, 1));
  EXPECT_EQ(p.View(a + size - 4, 4).size(), 4u);
  EXPECT_THROW(p.View(a + size - 4, 5), EReadError);
  EXPECT_THROW(p.ReadU32(a + size - 2), EReadError);
  EXPECT_THROW(p.ReadU32(0xFFFFFFFEu), EReadError);
  EXPECT_THROW(p.ReadCString(0), EReadError);
  EXPECT_EQ(p.ReadCString(a, 1), "M");
  EXPECT_EQ(p.ReadCString(a, 2), "MZ");
  // Text without a terminator stops at the end of the image (a built-in's
  // stub page runs to its end without a zero byte).
  const HMODULE k32 = p.LoadLibrary("kernel32");
  const uint32_t end = k32 + p.Module(k32)->sizeOfImage;
  EXPECT_EQ(p.ReadCString(end - 3), "\u00C3\u00C3\u00C3");  // C3 C3 C3 in the code page
  EXPECT_THROW(p.ReadCString(end), EReadError);
}

TEST_F(Loader, ModulesWithManyExportsLoadFast) {
  std::vector<test::PeExport> exports;
  std::vector<std::string> names;
  for (int i = 0; i < 20000; ++i) {
    names.push_back("Unit" + std::to_string(i % 97) + ".TClass" + std::to_string(i) + ".Method@" +
                    std::to_string(i));
    exports.push_back({.name = names.back()});
  }
  Put("C:\\work\\big.dpl", Dll({}, exports, 0x20000000));
  Put("C:\\work\\user.dll", Dll({{.dll = "big.dpl", .names = names}}));
  Process p;
  const auto start = std::chrono::steady_clock::now();
  const HMODULE user = p.LoadLibrary("user");
  const HMODULE big = p.GetModuleHandle("big.dpl");
  uint32_t found = 0;
  for (const auto& n : names) found += p.GetProcAddress(big, n) != 0;
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_NE(user, 0u);
  EXPECT_EQ(found, 20000u);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 2000);
}

// Damaged copies of a small image: each load fails cleanly (nothing left
// loaded) or succeeds and can be used and unloaded.
class DamagedImages : public Loader {
 protected:
  void SetUp() override {
    Loader::SetUp();
    PeSpec spec = Dll({{.dll = "kernel32.dll", .names = {"GetVersion"}},
                       {.dll = "helper.dll", .names = {"H"}, .ordinals = {2}}},
                      {{.name = "One"}, {.name = "Two", .forwarder = "helper.H"}});
    spec.resources = {
        {.type = test::PeResName::Id(RT_RCDATA),
         .name = test::PeResName::Name("PACKAGEINFO"),
         .data = {1, 2, 3, 4, 5, 6, 7, 8}},
        {.type = test::PeResName::Name("AVI"), .name = test::PeResName::Id(1), .data = {1}}};
    good_ = BuildPe(spec, &layout_);
    Put("C:\\work\\helper.dll", Dll({}, {{.name = "H"}, {.name = "I"}}, 0x30000000));
  }
  void Check(const std::vector<uint8_t>& bytes, const std::string& what) {
    Put("C:\\work\\victim.dll", bytes);
    Process p;
    const HMODULE h = p.LoadLibrary("C:\\work\\victim.dll");
    if (h == 0) {
      EXPECT_NE(p.LastError(), 0u) << what;
      EXPECT_TRUE(p.Modules().empty()) << what;
    } else {
      (void)p.FindResource(h, ResId::Name("PACKAGEINFO"), ResId::Id(RT_RCDATA));
      (void)p.FindResource(h, ResId::Id(1), ResId::Name("avi"));
      (void)p.GetProcAddress(h, "One");
      (void)p.GetProcAddress(h, "Two");
      (void)p.GetProcAddress(h, uint16_t{1});
      EXPECT_TRUE(p.FreeLibrary(h)) << what;
      EXPECT_TRUE(p.Modules().empty()) << what;
    }
    const HMODULE d = p.LoadLibraryEx("C:\\work\\victim.dll", LOAD_LIBRARY_AS_DATAFILE);
    if (d != 0) {
      (void)p.FindResource(d, ResId::Name("PACKAGEINFO"), ResId::Id(RT_RCDATA));
      EXPECT_TRUE(p.FreeLibrary(d)) << what;
    }
  }
  std::vector<uint8_t> good_;
  test::PeLayout layout_;
};

TEST_F(DamagedImages, TheIntactImageLoads) {
  Put("C:\\work\\victim.dll", good_);
  Process p;
  EXPECT_NE(p.LoadLibrary("victim"), 0u);
}

TEST_F(DamagedImages, EveryTruncationFailsCleanly) {
  for (size_t n = 0; n < good_.size(); ++n) {
    Put("C:\\work\\victim.dll", std::vector<uint8_t>(good_.begin(), good_.begin() + n));
    Process p;
    EXPECT_EQ(p.LoadLibrary("victim"), 0u) << n;
    EXPECT_TRUE(p.Modules().empty()) << n;
  }
}

TEST_F(DamagedImages, ByteChangesFailCleanlyOrLoadUsably) {
  // Every byte of the headers; a sample of the section bytes (tables, names).
  const uint8_t patterns[] = {0x00, 0xFF, 0x80};
  const size_t headersEnd = layout_.sectionTable + 40 * layout_.sections.size();
  for (size_t at = 0; at < good_.size(); at += (at < headersEnd ? 1 : 7)) {
    for (uint8_t v : patterns) {
      if (good_[at] == v) continue;
      auto b = good_;
      b[at] = v;
      Check(b, "offset " + std::to_string(at) + " = " + std::to_string(v));
    }
  }
}

}  // namespace
}  // namespace kx
