// Damaged modules: every read stays inside the image, a damaged directory
// ends its walk with what was read, and a damaged file gives an exception
// with a message or a clean result, never a crash or a hang.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "package/PackPages.h"
#include "package_test_util.h"
#include "platform/process.h"
#include "platform/system.h"

namespace kx {
namespace {

using test::PackageSpec;
using test::PeExport;
using test::PeImport;
using test::PeLayout;
using test::PeResName;
using test::PeSpec;
using test::Put16;
using test::Put32;
using test::TempPrefix;

// Everything the pages read from a loaded module.
void WalkEverything(TPackageModuleInfo& m) {
  m.ReadExportTables();
  NullMeter meter;
  PackageNames names = ShowNames(m, meter);
  m.ReadResources();
  ResourceTree tree = ShowResourceTree(m.ResourceLines);
  EXPECT_EQ(tree.status, "Resource Directories: " + std::to_string(m.ResourceLines.size()));
  m.GetDescription();
}

// Feeds one file to Load, GetPackageKind and the data-file load. Returns
// false when something other than a kx::Exception with a message escaped.
bool Exercise(const std::string& path) {
  try {
    TPackageModuleInfo m;
    try {
      m.Load(path);
      WalkEverything(m);
    } catch (const Exception& e) {
      if (std::string(e.what()).empty()) return false;
    }
    try {
      m.Clear();
    } catch (const Exception& e) {
      if (std::string(e.what()).empty()) return false;
    }
    try {
      GetPackageKind(path);
    } catch (const Exception& e) {
      if (std::string(e.what()).empty()) return false;
    }
    try {
      m.LoadAsData(path);
      WalkEverything(m);
      m.Clear();
    } catch (const Exception& e) {
      if (std::string(e.what()).empty()) return false;
    }
  } catch (const std::exception& e) {
    ADD_FAILURE() << path << ": " << e.what();
    return false;
  }
  return true;
}

// Thousands of short-lived files: the prefix goes to memory (/dev/shm)
// when it can, for the lifetime of the construction of the prefix only.
class TempDirInMemory {
 public:
  TempDirInMemory() {
    if (const char* old = std::getenv("TMPDIR")) saved_ = old;
    std::error_code ec;
    if (std::filesystem::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0)
      setenv("TMPDIR", "/dev/shm", 1);
  }
  void Restore() {
    if (saved_)
      setenv("TMPDIR", saved_->c_str(), 1);
    else
      unsetenv("TMPDIR");
  }

 private:
  std::optional<std::string> saved_;
};

class BadInputTest : public ::testing::Test {
 protected:
  BadInputTest() { tmp.Restore(); }
  TempDirInMemory tmp;
  // A package with exports, imports of a required package and resources.
  std::vector<uint8_t> Package(PeLayout* layout) {
    prefix.WriteFile("C:\\windows\\system32\\req.dpl",
                     test::BuildPe(PackageSpec(0x40000004, {}, {{0, "ReqUnit"}}, {},
                                               {PeExport{"ReqUnit.Go@1"}})));
    PeSpec s = PackageSpec(0x40000000, {"req"}, {{0, "Classes"}, {0x1C, "SysInit"}}, "Desc",
                           {PeExport{"Classes..TList@1"}, PeExport{"Classes.TList@2"},
                            PeExport{"Classes.TList.Add@3"}, PeExport{"Classes.Foo@4"}});
    s.imports.push_back(PeImport{"req.dpl", {"ReqUnit.Go@1"}, {}});
    s.imports.push_back(PeImport{"kernel32.dll", {"GetVersion"}, {}});
    s.resources.push_back({PeResName::Name("AVI"), PeResName::Id(1), 0x409, {1, 2, 3}});
    return test::BuildPe(s, layout);
  }
  // Damaged export names would make the loader refuse the module (it looks
  // up "Initialize" by name), so those images are mapped as data files.
  TPackageModuleInfo& Open(const std::vector<uint8_t>& image, bool asData = false) {
    prefix.WriteFile("C:\\p\\bad.dpl", image);
    if (asData)
      m.LoadAsData("C:\\p\\bad.dpl");
    else
      m.Load("C:\\p\\bad.dpl");
    m.ReadExportTables();
    return m;
  }
  TempPrefix prefix;
  TPackageModuleInfo m;
};

TEST_F(BadInputTest, NameCountLargerThanTheTableEndsWithTheRowsRead) {
  PeLayout layout;
  auto image = Package(&layout);
  Put32(image, layout.Offset(layout.exportDir) + 0x18, 0x7FFFFFFF);
  Open(image, true);
  EXPECT_EQ(m.NameCount, 0x7FFFFFFF);
  NullMeter meter;
  ExportListResult r = FillExportList(m, meter);
  EXPECT_TRUE(r.damaged);
  // The six real names come first; whatever follows the table inside the
  // image may be read as names until a read leaves the image.
  ASSERT_GE(r.rows.size(), 6u);
  EXPECT_EQ(r.rows[0].name, "Classes..TList@1");
  EXPECT_EQ(r.statusPanels[0], "Exported Functions: 2147483647");
  // The structure is built over the same rows.
  StructureResult s = BuildStructure(m, meter);
  EXPECT_EQ(s.classCount, 1);
}

TEST_F(BadInputTest, NameRvaOutsideTheImage) {
  PeLayout layout;
  auto image = Package(&layout);
  uint32_t nameTableRva = test::Get32(image, layout.Offset(layout.exportDir) + 0x20);
  Put32(image, layout.Offset(nameTableRva) + 4 * 2, 0x7FFFFFF0);  // third name
  Open(image, true);
  bool damaged = false;
  auto rows = ReadExportRows(m, &damaged);
  EXPECT_TRUE(damaged);
  EXPECT_EQ(rows.size(), 2u);
}

TEST_F(BadInputTest, ExportDirectoryOutsideTheImageLeavesNoExports) {
  PeLayout layout;
  auto image = Package(&layout);
  Put32(image, layout.optionalHeader + 96, 0x00F00000);  // data directory 0 RVA
  prefix.WriteFile("C:\\p\\bad.dpl", image);
  TPackageModuleInfo mod;
  try {
    mod.Load("C:\\p\\bad.dpl");
  } catch (const Exception&) {
    return;  // the loader may refuse the image: also a clean outcome
  }
  mod.ReadExportTables();
  EXPECT_EQ(mod.NameCount, 0);
  NullMeter meter;
  EXPECT_TRUE(FillExportList(mod, meter).rows.empty());
}

TEST_F(BadInputTest, ExportDirectoryOutsideTheImageStillShowsTheImports) {
  PeLayout layout;
  auto image = Package(&layout);
  Put32(image, layout.optionalHeader + 96, 0x00F00000);  // data directory 0 RVA
  Open(image, true);
  EXPECT_EQ(m.NameCount, 0);
  EXPECT_EQ(m.NameTable, 0u);
  EXPECT_EQ(m.ImportTable, m.LoadBase + layout.importDir);
  ImportListResult r = FillImportList(m);
  EXPECT_FALSE(r.damaged);
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.rows[0].name, "req.dpl");
  EXPECT_EQ(r.rows[1].name, "kernel32.dll");
}

TEST_F(BadInputTest, ImportDescriptorsRunningPastTheImage) {
  PeLayout layout;
  auto image = Package(&layout);
  // The import directory now starts at the image's last dword: the first
  // descriptor runs past the end.
  prefix.WriteFile("C:\\p\\bad.dpl", image);
  m.Load("C:\\p\\bad.dpl");
  m.ReadExportTables();
  ASSERT_NE(m.ImportTable, 0u);
  m.ImportTable = m.LoadBase + m.ModuleEntry->sizeOfImage - 4;
  ImportListResult r = FillImportList(m);
  EXPECT_TRUE(r.damaged);
  EXPECT_TRUE(r.rows.empty());
  EXPECT_EQ(r.statusPanels[0], "Modules Imported: 0");
}

TEST_F(BadInputTest, ResourceDirectoryPointingBackIntoItself) {
  PeLayout layout;
  auto image = Package(&layout);
  uint32_t root = layout.Offset(layout.resourceDir);
  // The root's first entry (AVI) now points at the root as its subdirectory.
  Put32(image, root + 16 + 4, 0x80000000);
  Open(image);
  m.ReadResources();
  ASSERT_FALSE(m.ResourceLines.empty());
  EXPECT_EQ(m.ResourceLines[0].text, "AVI");
  EXPECT_LT(m.ResourceLines.size(), 10u);
  EXPECT_NO_THROW(ShowResourceTree(m.ResourceLines));
}

TEST_F(BadInputTest, TwoEntriesSharingASubdirectoryAreBothListed) {
  PeLayout layout;
  auto image = Package(&layout);
  uint32_t root = layout.Offset(layout.resourceDir);
  // The root's second entry (RCDATA) shares the first one's (AVI) subtree.
  Put32(image, root + 16 + 8 + 4, test::Get32(image, root + 16 + 4));
  Open(image, true);
  m.ReadResources();
  ASSERT_EQ(m.ResourceLines.size(), 8u);
  EXPECT_EQ(m.ResourceLines[0].text, "AVI");
  EXPECT_EQ(m.ResourceLines[4].text, "RCDATA");
  for (size_t i = 1; i < 4; ++i) {
    EXPECT_EQ(m.ResourceLines[4 + i].text, m.ResourceLines[i].text) << i;
    EXPECT_EQ(m.ResourceLines[4 + i].depth, m.ResourceLines[i].depth) << i;
  }
}

TEST_F(BadInputTest, ResourceEntryCountRunningPastTheImage) {
  PeLayout layout;
  auto image = Package(&layout);
  uint32_t root = layout.Offset(layout.resourceDir);
  Put16(image, root + 14, 0xFFFF);  // id entries
  Open(image);
  m.ReadResources();
  // The real entries are read, then the walk stops at the image's end or
  // at the line limit.
  ASSERT_GE(m.ResourceLines.size(), 4u);
  EXPECT_EQ(m.ResourceLines[0].text, "AVI");
  EXPECT_LE(m.ResourceLines.size(), m.ModuleEntry->sizeOfImage / 8 + 16);
}

TEST_F(BadInputTest, OverlappingResourceDirectoriesStopAtTheLineLimit) {
  PeLayout layout;
  auto image = Package(&layout);
  uint32_t root = layout.Offset(layout.resourceDir);
  // Every entry of the root points to the root again through a different
  // path: offset 0 is caught as a revisit, so point to 16-byte steps
  // inside the directory area instead.
  Put16(image, root + 12, 0);
  Put16(image, root + 14, 0x2000);
  for (uint32_t i = 0; i < 64; ++i) {
    if (root + 16 + 8 * i + 8 > image.size()) break;
    Put32(image, root + 16 + 8 * i, 1);
    Put32(image, root + 16 + 8 * i + 4, 0x80000000 | (8 * (i + 1)));
  }
  prefix.WriteFile("C:\\p\\bad.dpl", image);
  try {
    m.Load("C:\\p\\bad.dpl");
  } catch (const Exception&) {
    return;  // PACKAGEINFO no longer found: a clean failure
  }
  m.ReadResources();
  EXPECT_LE(m.ResourceLines.size(), m.ModuleEntry->sizeOfImage / 8 + 16);
}

// Writes bytes under a fresh name, runs Exercise on it and removes it again:
// rewriting one file in place makes the file system flush it to disk every
// time, which costs far more than the checks themselves.
bool ExerciseBytes(TempPrefix& prefix, const std::string& name, const std::vector<uint8_t>& bytes) {
  static int serial = 0;
  std::string target = "C:\\cut\\" + std::to_string(++serial) + "_" +
                       std::filesystem::path(name).filename().string();
  std::filesystem::path host = prefix.WriteFile(target, bytes);
  bool ok = Exercise(target);
  std::filesystem::remove(host);
  return ok;
}

// Every truncation of the synthetic package, and a bounded set of byte
// flips in its headers and directories.
TEST_F(BadInputTest, TruncationsAndFlipsOfASyntheticPackage) {
  PeLayout layout;
  auto image = Package(&layout);
  for (size_t len = 0; len < image.size(); ++len)
    ASSERT_TRUE(
        ExerciseBytes(prefix, "cut.dpl", std::vector<uint8_t>(image.begin(), image.begin() + len)))
        << "length " << len;
  std::vector<uint32_t> offsets;
  for (uint32_t o = layout.ntHeaders; o < layout.sectionTable + 40 * layout.sections.size(); ++o)
    offsets.push_back(o);
  for (auto [rva, size] : {std::pair{layout.exportDir, layout.exportDirSize},
                           std::pair{layout.importDir, layout.importDirSize},
                           std::pair{layout.resourceDir, layout.resourceDirSize}})
    for (uint32_t k = 0; k < size; k += 3) offsets.push_back(layout.Offset(rva) + k);
  for (uint32_t o : offsets) {
    for (uint8_t mask : {uint8_t(0xFF), uint8_t(0x80)}) {
      auto flipped = image;
      flipped[o] ^= mask;
      ASSERT_TRUE(ExerciseBytes(prefix, "flip.dpl", flipped)) << "offset " << o;
    }
  }
  // Nothing stays loaded after all that.
  for (const ModuleRecord* r : Sys().Proc().Modules())
    EXPECT_EQ(r->baseName.find("_"), std::string::npos) << r->baseName;
}

// File offsets worth damaging in a PE32 file: every third byte of its
// headers and section table, and every seventh byte of its export, import
// and resource directories (found by reading the headers directly).
std::vector<uint32_t> DamageOffsets(const std::vector<uint8_t>& f) {
  std::vector<uint32_t> out = {0x3C, 0x3D};
  uint32_t nt = test::Get32(f, 0x3C);
  uint32_t sections = test::Get16(f, nt + 6);
  uint32_t optSize = test::Get16(f, nt + 20);
  uint32_t table = nt + 24 + optSize;
  for (uint32_t o = nt; o < table + 40 * sections && o < f.size(); o += 3) out.push_back(o);
  auto fileOffset = [&](uint32_t rva) -> int64_t {
    for (uint32_t i = 0; i < sections; ++i) {
      uint32_t h = table + 40 * i;
      uint32_t va = test::Get32(f, h + 12), raw = test::Get32(f, h + 16),
               ptr = test::Get32(f, h + 20);
      if (rva >= va && rva < va + raw) return int64_t(ptr) + (rva - va);
    }
    return -1;
  };
  for (int d = 0; d < 3; ++d) {
    uint32_t rva = test::Get32(f, nt + 24 + 96 + 8 * d);
    uint32_t size = test::Get32(f, nt + 24 + 96 + 8 * d + 4);
    int64_t at = fileOffset(rva);
    if (rva == 0 || at < 0) continue;
    for (uint32_t k = 0; k < size && uint64_t(at) + k < f.size(); k += 7)
      out.push_back(uint32_t(at + k));
  }
  return out;
}

// The MinGW fixtures of both sets ("real/..." for the second), one test per
// module (so that ctest runs them in parallel): every truncation, then byte
// flips in headers and directories.
std::vector<std::string> FixtureNames() {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code ec;
  const fs::path bin = fs::path(KX_FIXTURES_DIR) / "bin";
  for (const auto& e : fs::recursive_directory_iterator(bin, ec))
    if (e.is_regular_file()) names.push_back(e.path().lexically_relative(bin).generic_string());
  std::sort(names.begin(), names.end());
  return names;
}

class FixtureDamage : public BadInputTest, public ::testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    fs::path bin = fs::path(KX_FIXTURES_DIR) / "bin";
    // The packages the others require, intact, in the system folder.
    for (const char* req : {"vcl30.dpl", "vclx30.dpl", "kxutil.dll"})
      if (fs::exists(bin / req))
        prefix.WriteFile(std::string("C:\\windows\\system32\\") + req,
                         test::ReadHostFile(bin / req));
    bytes = test::ReadHostFile(bin / GetParam());
  }
  std::vector<uint8_t> bytes;
};

TEST_P(FixtureDamage, EveryTruncation) {
  ASSERT_FALSE(bytes.empty());
  for (size_t len = 0; len <= bytes.size(); ++len)
    ASSERT_TRUE(
        ExerciseBytes(prefix, GetParam(), std::vector<uint8_t>(bytes.begin(), bytes.begin() + len)))
        << "length " << len;
}

TEST_P(FixtureDamage, ByteFlipsInHeadersAndDirectories) {
  std::vector<uint32_t> offsets = DamageOffsets(bytes);
  EXPECT_GT(offsets.size(), 100u);
  for (uint32_t o : offsets) {
    auto flipped = bytes;
    flipped[o] ^= 0xFF;
    ASSERT_TRUE(ExerciseBytes(prefix, GetParam(), flipped)) << "offset " << o;
  }
}

INSTANTIATE_TEST_SUITE_P(MinGW, FixtureDamage, ::testing::ValuesIn(FixtureNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string n = info.param;
                           for (char& c : n)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FixtureDamage);

}  // namespace
}  // namespace kx
