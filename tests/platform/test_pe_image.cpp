#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>

#include "platform/pe_image.h"
#include "support/pe_builder.h"

namespace kx {
namespace {

using test::BuildPe;
using test::Put16;
using test::Put32;

test::PeSpec SampleSpec() {
  test::PeSpec spec;
  spec.imageBase = 0x10000000;
  spec.exportName = "sample.dll";
  spec.ordinalBase = 5;
  spec.exports = {{.name = "Beta"},
                  {.name = "Alpha"},
                  {.name = "", .ordinal = 20, .noName = true},
                  {.name = "Fwd", .forwarder = "OTHER.Target"}};
  spec.imports = {{.dll = "kernel32.dll", .names = {"ExitProcess", "GetVersion"}},
                  {.dll = "vcl30.dpl", .names = {"Classes.TList.Add@y"}, .ordinals = {7}}};
  spec.resources = {{.type = test::PeResName::Id(10),
                     .name = test::PeResName::Name("PACKAGEINFO"),
                     .data = {1, 2, 3, 4}}};
  return spec;
}

TEST(PeImage, ReadsHeadersSectionsAndDirectoriesOfABuiltImage) {
  test::PeLayout layout;
  const auto bytes = BuildPe(SampleSpec(), &layout);
  PeImage pe(bytes);
  EXPECT_EQ(pe.NtHeadersOffset(), layout.ntHeaders);
  EXPECT_EQ(pe.Machine(), IMAGE_FILE_MACHINE_I386);
  EXPECT_TRUE(pe.IsDll());
  EXPECT_EQ(pe.ImageBase(), 0x10000000u);
  EXPECT_EQ(pe.AddressOfEntryPoint(), layout.entryPoint);
  EXPECT_EQ(pe.HeadersEnd(), layout.sectionTable + 40 * layout.sections.size());
  ASSERT_EQ(pe.Sections().size(), layout.sections.size());
  for (size_t i = 0; i < layout.sections.size(); ++i) {
    EXPECT_EQ(pe.Sections()[i].name, layout.sections[i].name);
    EXPECT_EQ(pe.Sections()[i].virtualAddress, layout.sections[i].rva);
    EXPECT_EQ(pe.Sections()[i].pointerToRawData, layout.sections[i].rawOffset);
  }
  const auto& last = layout.sections.back();
  EXPECT_EQ(pe.SizeOfImage(), (last.rva + last.virtualSize + 0xFFF) & ~0xFFFu);
  EXPECT_EQ(pe.Directory(IMAGE_DIRECTORY_ENTRY_EXPORT).rva, layout.exportDir);
  EXPECT_EQ(pe.Directory(IMAGE_DIRECTORY_ENTRY_IMPORT).rva, layout.importDir);
  EXPECT_EQ(pe.Directory(IMAGE_DIRECTORY_ENTRY_RESOURCE).rva, layout.resourceDir);
  EXPECT_FALSE(pe.Directory(16).Present());
  EXPECT_FALSE(pe.Directory(-1).Present());
}

TEST(PeImage, RvaTranslationFollowsTheSectionTableAndStopsAtRawData) {
  test::PeLayout layout;
  const auto bytes = BuildPe(SampleSpec(), &layout);
  PeImage pe(bytes);
  for (const auto& s : layout.sections) {
    EXPECT_EQ(pe.RvaToOffset(s.rva), s.rawOffset) << s.name;
    EXPECT_EQ(pe.RvaToOffset(s.rva + 3, 4), layout.Offset(s.rva + 3)) << s.name;
    // The last raw byte is readable; a read running past it is not.
    EXPECT_TRUE(pe.RvaToOffset(s.rva + s.rawSize - 1, 1)) << s.name;
    EXPECT_FALSE(pe.RvaToOffset(s.rva + s.rawSize - 1, 2)) << s.name;
  }
  EXPECT_EQ(pe.RvaToOffset(0x3C, 4), 0x3Cu);  // headers map as they lie
  EXPECT_FALSE(pe.RvaToOffset(0xFFFFFFF0u, 0x20));
  EXPECT_EQ(pe.U32(layout.exportDir + 16), 5u);  // ordinal base through the section table
  EXPECT_THROW(pe.U32(0x7FFFFFF0u), EReadError);

  std::vector<uint8_t> mapped(pe.SizeOfImage(), 0);
  std::copy(bytes.begin(), bytes.begin() + 0x400, mapped.begin());
  PeImage view(mapped, PeImage::Layout::Mapped);
  EXPECT_EQ(view.RvaToOffset(0x1234, 4), 0x1234u);
  EXPECT_FALSE(view.RvaToOffset(pe.SizeOfImage() - 2, 4));
}

TEST(PeImage, ListsExportsWithOrdinalsNamesAndForwarders) {
  const auto bytes = BuildPe(SampleSpec());
  PeImage pe(bytes);
  const auto dir = pe.ExportDirectory();
  ASSERT_TRUE(dir);
  EXPECT_EQ(pe.CString(dir->nameRva), "sample.dll");
  EXPECT_EQ(dir->ordinalBase, 5u);
  const auto exports = pe.Exports();
  ASSERT_EQ(exports.size(), 4u);
  std::map<std::string, const PeExport*> byName;
  const PeExport* unnamed = nullptr;
  for (const auto& e : exports) {
    if (e.names.empty()) unnamed = &e;
    for (const auto& n : e.names) byName[n] = &e;
  }
  ASSERT_EQ(byName.size(), 3u);
  ASSERT_NE(unnamed, nullptr);
  EXPECT_EQ(unnamed->ordinal, 20u);
  EXPECT_TRUE(unnamed->forwarder.empty());
  EXPECT_EQ(byName["Fwd"]->forwarder, "OTHER.Target");
  EXPECT_TRUE(byName["Alpha"]->forwarder.empty());
  EXPECT_NE(byName["Alpha"]->rva, byName["Beta"]->rva);
  EXPECT_GE(byName["Alpha"]->ordinal, 5u);
}

TEST(PeImage, FindsExportNamesByHintThenBinarySearch) {
  test::PeLayout layout;
  test::PeSpec spec = SampleSpec();
  for (int i = 0; i < 40; ++i) spec.exports.push_back({.name = "N" + std::to_string(100 + i)});
  auto bytes = BuildPe(spec, &layout);
  const PeImage pe(bytes);
  const auto dir = pe.ExportDirectory();
  ASSERT_TRUE(dir);
  const uint32_t last = dir->numberOfNames - 1;
  // built: the export's position in the builder's export list; -1 when the name is absent.
  // Hints are name table positions, right ones and wrong ones.
  const struct {
    const char* name;
    uint32_t hint;
    int built;
  } cases[] = {
      {"Alpha", 0xFFFFFFFFu, 1},
      {"Alpha", 0, 1},
      {"Alpha", last, 1},
      {"Beta", 1, 0},
      {"N100", 3, 4},
      {"N139", 5, 43},
      {"Fwd", 2, 3},
      {"A", 0, -1},
      {"N1000", 0, -1},
      {"Zeta", 0, -1},
      {"", 0, -1},
      {"alpha", 0, -1},
  };
  for (const auto& c : cases) {
    const auto index = pe.FindExportIndex(*dir, c.name, c.hint);
    if (c.built < 0) {
      EXPECT_EQ(index, std::nullopt) << c.name;
      continue;
    }
    ASSERT_TRUE(index) << c.name << " " << c.hint;
    EXPECT_EQ(*index + dir->ordinalBase, layout.exportOrdinals[c.built]) << c.name;
    EXPECT_EQ(pe.ExportRva(*dir, *index), layout.exportRvas[c.built]) << c.name;
  }
  EXPECT_EQ(pe.ExportRva(*dir, dir->numberOfFunctions), 0u);
  // A name whose ordinal index lies outside the address table is not found.
  const uint32_t ordinals = layout.Offset(dir->addressOfNameOrdinals);
  Put16(bytes, ordinals, 0xFFFF);  // the first name, "Alpha"
  const PeImage damaged(bytes);
  EXPECT_EQ(damaged.FindExportIndex(*dir, "Alpha"), std::nullopt);
  EXPECT_TRUE(damaged.FindExportIndex(*dir, "Beta"));
}

TEST(PeImage, ExportCountsBeyondWhatTheFileHoldsAreRefused) {
  test::PeLayout layout;
  const auto bytes = BuildPe(SampleSpec(), &layout);
  // The image as the loader maps it, grown to 8 MiB of zero fill: room for
  // tables of a million entries that the file itself cannot hold.
  std::vector<uint8_t> mapped(8u << 20);
  std::copy(bytes.begin(), bytes.begin() + 0x400, mapped.begin());
  for (const auto& sec : layout.sections)
    std::copy_n(bytes.begin() + sec.rawOffset, std::min(sec.rawSize, sec.virtualSize),
                mapped.begin() + sec.rva);
  const uint32_t dir = layout.exportDir;
  const struct {
    uint32_t functions, names;
    bool refused;
  } cases[] = {{0x00100000, 0, true}, {4, 0x00100000, true}, {4, 3, false}};
  for (const auto& c : cases) {
    auto b = mapped;
    Put32(b, dir + 20, c.functions);
    Put32(b, dir + 24, c.names);
    Put32(b, dir + 28, 0x00100000);  // address, name and ordinal tables in the zero fill
    Put32(b, dir + 32, 0x00500000);
    Put32(b, dir + 36, 0x00600000);
    const PeImage pe(b, PeImage::Layout::Mapped, PeImage::Accept::Pe32, bytes.size());
    if (c.refused) {
      EXPECT_THROW(pe.ExportDirectory(), EReadError) << c.functions << " " << c.names;
      EXPECT_THROW(pe.Exports(), EReadError);
    } else {
      EXPECT_TRUE(pe.Exports().empty());  // every slot is empty
    }
  }
}

TEST(PeImage, ListsImportsByNameAndOrdinalInDescriptorOrder) {
  const auto bytes = BuildPe(SampleSpec());
  const auto imports = PeImage(bytes).Imports();
  ASSERT_EQ(imports.size(), 2u);
  EXPECT_EQ(imports[0].dll, "kernel32.dll");
  ASSERT_EQ(imports[0].thunks.size(), 2u);
  EXPECT_EQ(imports[0].thunks[1].name, "GetVersion");
  EXPECT_EQ(imports[1].dll, "vcl30.dpl");
  ASSERT_EQ(imports[1].thunks.size(), 2u);
  EXPECT_EQ(imports[1].thunks[0].name, "Classes.TList.Add@y");
  EXPECT_FALSE(imports[1].thunks[0].byOrdinal);
  EXPECT_TRUE(imports[1].thunks[1].byOrdinal);
  EXPECT_EQ(imports[1].thunks[1].ordinal, 7);
}

TEST(PeImage, RejectsFilesThatAreNotPe32ForTheI386) {
  test::PeLayout layout;
  const auto good = BuildPe(SampleSpec(), &layout);
  auto expectBad = [](std::vector<uint8_t> b, const char* why) {
    EXPECT_THROW(PeImage{b}, EBadImageFormat) << why;
  };
  auto b = good;
  Put16(b, layout.optionalHeader, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
  expectBad(b, "PE32+");
  {
    // Readable when asked for: its directories start 16 bytes further.
    PeImage pe64(b, PeImage::Layout::File, PeImage::Accept::Pe32OrPe32Plus);
    EXPECT_TRUE(pe64.IsPe32Plus());
    EXPECT_EQ(pe64.Directory(IMAGE_DIRECTORY_ENTRY_EXPORT).rva,
              test::Get32(b, layout.optionalHeader + 112));
  }
  b = good;
  Put16(b, layout.ntHeaders + 4, 0x8664);
  expectBad(b, "x64 machine");
  b = good;
  b[0] = 'Z';
  expectBad(b, "no MZ");
  b = good;
  Put32(b, 0x3C, static_cast<uint32_t>(good.size()) - 8);
  expectBad(b, "e_lfanew near the end");
  b = good;
  Put32(b, 0x3C, 0xFFFFFFF0u);
  expectBad(b, "e_lfanew huge");
  b = good;
  Put16(b, layout.ntHeaders + 6, 0xFFFF);  // NumberOfSections: table past EOF
  expectBad(b, "section count");
  b = good;
  Put16(b, layout.ntHeaders + 20, 0x10);  // SizeOfOptionalHeader too short
  expectBad(b, "optional header size");
  expectBad(std::vector<uint8_t>(good.begin(), good.begin() + 0x3F), "truncated DOS header");
  expectBad({}, "empty");
}

TEST(PeImage, DirectoriesBeyondNumberOfRvaAndSizesReadAsAbsent) {
  test::PeLayout layout;
  auto b = BuildPe(SampleSpec(), &layout);
  Put32(b, layout.optionalHeader + 92, 2);  // export and import only
  PeImage pe(b);
  EXPECT_TRUE(pe.Directory(IMAGE_DIRECTORY_ENTRY_IMPORT).Present());
  EXPECT_FALSE(pe.Directory(IMAGE_DIRECTORY_ENTRY_RESOURCE).Present());
}

TEST(PeImage, DamagedTablesGiveReadErrorsNotWildReads) {
  test::PeLayout layout;
  const auto good = BuildPe(SampleSpec(), &layout);
  const uint32_t exp = layout.Offset(layout.exportDir);
  const uint32_t imp = layout.Offset(layout.importDir);

  auto b = good;
  Put32(b, exp + 20, 0x40000000u);  // NumberOfFunctions absurd
  EXPECT_THROW(PeImage(b).Exports(), EReadError);
  b = good;
  Put32(b, exp + 32, 0xFFFFFF00u);  // AddressOfNames outside
  EXPECT_THROW(PeImage(b).Exports(), EReadError);
  b = good;
  Put32(b, imp + 12, 0x7FFFFFF0u);  // import module name outside
  EXPECT_THROW(PeImage(b).Imports(), EReadError);

  // A descriptor list whose terminator is overwritten runs into other data
  // and finally off the end: an error, not an endless or wild walk.
  b = good;
  const uint32_t terminator = imp + 2 * 20;
  for (uint32_t i = terminator; i + 20 <= b.size(); i += 20) {
    Put32(b, i + 12, layout.importDir + 12);  // any non-zero name RVA
    Put32(b, i + 16, layout.iat);
    Put32(b, i, 0);
  }
  EXPECT_THROW(PeImage(b).Imports(), EReadError);

  // A name running to the very end of the data without a terminator.
  b = good;
  const uint32_t nameRva = PeImage(good).ExportDirectory()->nameRva;
  std::fill(b.begin() + layout.Offset(nameRva), b.end(), uint8_t{'x'});
  EXPECT_THROW(PeImage(b).CString(nameRva), EReadError);
}

TEST(PeImage, ImportTablesSharingOneThunkListStayBounded) {
  // 5,000 descriptors all pointing at one list of 3,000 thunks: a walk that
  // grew with descriptors x thunks would read 15 million entries. The walk's
  // budget is tied to the image size, so it gives up with an error instead.
  test::PeLayout layout;
  const auto file = BuildPe(test::PeSpec{}, &layout);
  std::vector<uint8_t> img(0x20000, 0);
  std::copy(file.begin(), file.begin() + 0x400, img.begin());
  Put32(img, layout.optionalHeader + 96 + 8, 0x6000);
  Put32(img, layout.optionalHeader + 96 + 12, 20);
  const std::string name = "Function";
  std::copy(name.begin(), name.end(), img.begin() + 0x1002);
  for (uint32_t i = 0; i < 3000; ++i) Put32(img, 0x2000 + 4 * i, 0x1000);
  img[0x5000] = 'a';
  for (uint32_t i = 0; i < 5000; ++i) {
    Put32(img, 0x6000 + 20 * i, 0x2000);
    Put32(img, 0x6000 + 20 * i + 12, 0x5000);
    Put32(img, 0x6000 + 20 * i + 16, 0x2000);
  }
  PeImage pe(img, PeImage::Layout::Mapped);
  EXPECT_THROW(pe.Imports(), EReadError);
  // The same list behind a handful of descriptors is fine.
  Put32(img, 0x6000 + 20 * 4 + 12, 0);
  const auto imports = PeImage(img, PeImage::Layout::Mapped).Imports();
  ASSERT_EQ(imports.size(), 4u);
  EXPECT_EQ(imports[3].thunks.size(), 3000u);
  EXPECT_EQ(imports[3].thunks[2999].name, "Function");
}

// Every prefix of a small image and a bounded set of byte changes: parsing
// and walking the tables either works or throws EReadError.
void WalkAll(const std::vector<uint8_t>& b) {
  try {
    PeImage pe(b);
    for (const auto& e : pe.Exports()) (void)e;
    for (const auto& m : pe.Imports()) (void)m;
    for (const auto& s : pe.Sections()) (void)pe.RvaToOffset(s.virtualAddress, s.sizeOfRawData);
  } catch (const EReadError&) {
  }
}

TEST(PeImage, EveryTruncationParsesOrFailsCleanly) {
  const auto good = BuildPe(SampleSpec());
  for (size_t n = 0; n <= good.size(); ++n)
    WalkAll(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(n)));
}

TEST(PeImage, ByteChangesParseOrFailCleanly) {
  const auto good = BuildPe(SampleSpec());
  const uint8_t patterns[] = {0x00, 0xFF, 0x80, 0x7F};
  for (size_t at = 0; at < good.size(); at += (at < 0x400 ? 1 : 3)) {
    for (uint8_t p : patterns) {
      auto b = good;
      b[at] = p;
      WalkAll(b);
    }
  }
}

}  // namespace
}  // namespace kx
