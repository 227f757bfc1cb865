// The static import scanner: module names from the import directory of a
// file on disk, the duplicate rule, and every way a file can fail.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "deploy/StaticEXE.h"
#include "support/pe_builder.h"
#include "support/test_system.h"

namespace kx {
namespace {
namespace fs = std::filesystem;
using test::PeImport;
using test::PeLayout;
using test::PeSpec;
using test::TempPrefix;
using Strings = std::vector<std::string>;

std::vector<uint8_t> Image(const Strings& dlls, PeLayout* layout = nullptr) {
  PeSpec spec;
  spec.dll = false;
  for (const std::string& d : dlls) spec.imports.push_back(PeImport{d, {"Go"}, {}});
  return test::BuildPe(spec, layout);
}

const test::PeSectionLayout& SectionOf(const PeLayout& l, uint32_t rva) {
  for (const auto& s : l.sections)
    if (rva >= s.rva && rva < s.rva + s.virtualSize) return s;
  throw std::out_of_range("no section");
}

TEST(StaticImports, NamesInDescriptorOrderEachOnceAsFirstSpelled) {
  TempPrefix prefix;
  prefix.WriteFile("C:\\app.exe", Image({"vcl30.dpl", "KERNEL32.dll", "VCL30.DPL", "user32.dll"}));
  Strings names{"User32.DLL"};  // held before the scan
  EXPECT_TRUE(ReadStaticImports("C:\\app.exe", names));
  EXPECT_EQ(names, (Strings{"User32.DLL", "vcl30.dpl", "KERNEL32.dll"}));

  // A relative name is taken against the current directory.
  prefix.System().SetCurrentDirectory("C:\\");
  names.clear();
  EXPECT_TRUE(ReadStaticImports("app.exe", names));
  EXPECT_EQ(names.size(), 3u);
}

TEST(StaticImports, FilesThatAreNoImageWithImportsGiveFalse) {
  TempPrefix prefix;
  PeLayout l;
  const std::vector<uint8_t> good = Image({"a.dll", "b.dll"}, &l);
  const auto& idata = SectionOf(l, l.importDir);
  const uint32_t header = l.sectionTable + 40 * static_cast<uint32_t>(&idata - l.sections.data());

  std::vector<uint8_t> mz16(128, 0);
  mz16[0] = 'M', mz16[1] = 'Z', mz16[60] = 64, mz16[64] = 'N', mz16[65] = 'E';
  std::vector<uint8_t> noImports = test::BuildPe(PeSpec{});
  std::vector<uint8_t> zeroVirtualSize = good;
  test::Put32(zeroVirtualSize, header + 8, 0);
  std::vector<uint8_t> outsideSections = good;
  test::Put32(outsideSections, l.optionalHeader + 104, 0x7FFF0000);
  std::vector<uint8_t> ntPastEnd = good;
  test::Put32(ntPastEnd, 60, 0xFFFFFFF0);
  std::vector<uint8_t> namePastEnd = good;
  test::Put32(namePastEnd, l.Offset(l.importDir) + 12, 0xFFFFFF00);
  std::vector<uint8_t> notMz = good;
  notMz[0] = 'Z';

  const std::pair<const char*, std::vector<uint8_t>> files[] = {
      {"16-bit", mz16},
      {"no import directory", noImports},
      {"import directory in a section of VirtualSize 0", zeroVirtualSize},
      {"import directory outside every section", outsideSections},
      {"NT headers past the end", ntPastEnd},
      {"a name past the end", namePastEnd},
      {"no MZ", notMz},
      {"empty", {}},
      {"text", {'h', 'e', 'l', 'l', 'o'}},
  };
  for (const auto& [what, bytes] : files) {
    SCOPED_TRACE(what);
    prefix.WriteFile("C:\\f.exe", bytes);
    Strings names;
    EXPECT_FALSE(ReadStaticImports("C:\\f.exe", names));
  }
  fs::create_directories(prefix.Host("C:\\dir.exe"));
  Strings names;
  EXPECT_FALSE(ReadStaticImports("C:\\dir.exe", names));
  EXPECT_FALSE(ReadStaticImports("C:\\missing.exe", names));
}

TEST(StaticImports, EveryNameUsesTheDeltaOfTheImportDirectorySection) {
  PeLayout l;
  std::vector<uint8_t> image = Image({"a.dll"}, &l);
  const auto& idata = SectionOf(l, l.importDir);
  const uint32_t delta = idata.rva - idata.rawOffset;
  // A name stored in the raw data of another section, named through the
  // import section's delta.
  const auto& other = l.sections.front();
  ASSERT_NE(&other, &idata);
  const uint32_t at = other.rawOffset + 8;
  std::memcpy(image.data() + at, "OTHER.DLL", 10);
  test::Put32(image, l.Offset(l.importDir) + 12, at + delta);
  ASSERT_FALSE(at + delta >= idata.rva && at + delta < idata.rva + idata.virtualSize);
  Strings names;
  EXPECT_TRUE(ScanImportDirectory(image, names));
  EXPECT_EQ(names, Strings{"OTHER.DLL"});
}

TEST(StaticImports, EveryTruncationOfTheFixturesStaysInsideTheBytes) {
  TempPrefix prefix;
  for (const char* name : {"deployapp.exe", "dephelp.dll", "deploypk.dpl", "vcl30.dpl"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> bytes = test::ReadHostFile(fs::path(KX_FIXTURES_DIR) / "bin" / name);
    Strings full;
    ASSERT_TRUE(ScanImportDirectory(bytes, full));
    ASSERT_FALSE(full.empty());
    for (size_t len = 0; len < bytes.size(); ++len) {
      // A heap copy of exactly len bytes, so that the sanitizer sees any overrun.
      const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(len));
      Strings names;
      if (ScanImportDirectory(cut, names)) {
        ASSERT_EQ(names, full) << "length " << len;
      }
      if (len % 97 == 0 || len + 1 == bytes.size()) {
        prefix.WriteFile("C:\\cut.bin", cut);
        Strings fromFile, again;
        const bool expected =
            len >= 2 && cut[0] == 'M' && cut[1] == 'Z' && ScanImportDirectory(cut, again);
        ASSERT_EQ(ReadStaticImports("C:\\cut.bin", fromFile), expected) << "length " << len;
      }
    }
  }
}

// A name must end within 260 bytes and a file may import at most 1,024
// distinct modules: beyond, the file is damaged. 1,000 descriptors naming
// overlapping suffixes of one 400 KB string read no name at all.
TEST(StaticImports, NameLengthAndModuleCountAreBounded) {
  const auto many = [](int n) {
    Strings dlls;
    for (int i = 0; i < n; ++i) dlls.push_back("m" + std::to_string(i) + ".dll");
    return dlls;
  };
  PeLayout l;
  std::vector<uint8_t> overlapping = Image(many(1000), &l);
  const auto& idata = SectionOf(l, l.importDir);
  const uint32_t delta = idata.rva - idata.rawOffset;
  const auto tail = static_cast<uint32_t>(overlapping.size());
  overlapping.resize(tail + 400 * 1024, 'A');
  overlapping.push_back(0);
  for (uint32_t d = 0; d < 1000; ++d)
    test::Put32(overlapping, l.Offset(l.importDir) + 20 * d + 12, tail + d + delta);

  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    bool ok;
    size_t names;
  } cases[] = {
      {"a name of 259 characters", Image({std::string(259, 'n')}), true, 1},
      {"a name of 260 characters", Image({std::string(260, 'n')}), false, 0},
      {"1,024 modules", Image(many(1024)), true, 1024},
      {"1,025 modules", Image(many(1025)), false, 1024},
      {"overlapping 400 KB names", overlapping, false, 0},
  };
  TempPrefix prefix;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Strings direct, fromFile;
    EXPECT_EQ(ScanImportDirectory(c.bytes, direct), c.ok);
    EXPECT_EQ(direct.size(), c.names);
    prefix.WriteFile("C:\\b.exe", c.bytes);
    EXPECT_EQ(ReadStaticImports("C:\\b.exe", fromFile), c.ok);
    EXPECT_EQ(fromFile, direct);
  }
}

// A file cut short and written again while it is scanned: each scan gives
// all its names or false, never a crash (a mapping would raise SIGBUS).
TEST(StaticImports, AFileCutShortDuringTheScanGivesFalse) {
  TempPrefix prefix;
  Strings dlls;
  for (int i = 0; i < 600; ++i) dlls.push_back("module" + std::to_string(i) + ".dll");
  const std::vector<uint8_t> bytes = Image(dlls);
  const fs::path host = prefix.WriteFile("C:\\flux.exe", bytes);
  std::atomic<bool> stop{false};
  std::thread cutter([&] {
    while (!stop) {
      fs::resize_file(host, 512);
      test::WriteBytes(host, bytes);
    }
  });
  int whole = 0;
  for (int i = 0; i < 300; ++i) {
    Strings names;
    if (ReadStaticImports("C:\\flux.exe", names)) {
      EXPECT_EQ(names, dlls);
      ++whole;
    }
  }
  stop = true;
  cutter.join();
  RecordProperty("whole_scans", whole);
}

}  // namespace
}  // namespace kx
