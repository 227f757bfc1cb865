#include <gtest/gtest.h>

#include <filesystem>

#include "platform/process.h"
#include "support/pe_builder.h"
#include "support/test_system.h"

namespace kx {
namespace {

using test::PeResName;

std::vector<uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

class Resources : public ::testing::Test {
 protected:
  // Loads an image as a data file and returns its handle.
  HMODULE Load(const std::vector<uint8_t>& image) {
    std::error_code ec;
    std::filesystem::remove(prefix_.Host("C:\\res.dll"), ec);  // fresh file: no flush on rewrite
    prefix_.WriteFile("C:\\res.dll", image);
    const HMODULE h = proc_.LoadLibraryEx("C:\\res.dll", LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_NE(h, 0u);
    return h;
  }
  // The bytes of a found resource, or "<none>".
  std::string Find(HMODULE h, const ResId& name, const ResId& type) {
    const auto r = proc_.FindResource(h, name, type);
    if (!r) return "<none>";
    const auto v = proc_.View(r->address, r->size);
    return std::string(v.begin(), v.end());
  }

  test::TempPrefix prefix_;
  Process proc_;
};

test::PeSpec SampleSpec() {
  test::PeSpec spec;
  spec.resources = {
      {.type = PeResName::Id(RT_RCDATA),
       .name = PeResName::Name("PACKAGEINFO"),
       .data = Bytes("info")},
      {.type = PeResName::Id(RT_RCDATA),
       .name = PeResName::Name("DESCRIPTION"),
       .lang = 0x409,
       .data = Bytes("english")},
      {.type = PeResName::Id(RT_RCDATA),
       .name = PeResName::Name("DESCRIPTION"),
       .lang = 0x407,
       .data = Bytes("german")},
      {.type = PeResName::Id(RT_RCDATA), .name = PeResName::Id(123), .data = Bytes("by id")},
      {.type = PeResName::Id(2), .name = PeResName::Id(123), .data = Bytes("bitmap")},
      {.type = PeResName::Name("AVI"), .name = PeResName::Name("Clip"), .data = Bytes("movie")},
      {.type = PeResName::Id(RT_RCDATA),
       .name = PeResName::Name("Caf\xC3\xA9"),
       .data = Bytes("accent")},
  };
  return spec;
}

TEST_F(Resources, FindsByTypeAndNameAsIdsOrStrings) {
  const HMODULE h = Load(test::BuildPe(SampleSpec()));
  EXPECT_EQ(Find(h, ResId::Name("PACKAGEINFO"), ResId::Id(RT_RCDATA)), "info");
  EXPECT_EQ(Find(h, ResId::Id(123), ResId::Id(RT_RCDATA)), "by id");
  EXPECT_EQ(Find(h, ResId::Id(123), ResId::Id(2)), "bitmap");
  EXPECT_EQ(Find(h, ResId::Name("#123"), ResId::Name("#10")), "by id");
  EXPECT_EQ(Find(h, ResId::Name("Clip"), ResId::Name("AVI")), "movie");
  // Ids and names never match each other.
  EXPECT_EQ(Find(h, ResId::Name("123"), ResId::Id(RT_RCDATA)), "<none>");
  EXPECT_EQ(Find(h, ResId::Id(124), ResId::Id(RT_RCDATA)), "<none>");
  EXPECT_EQ(Find(h, ResId::Name("PACKAGEINFO"), ResId::Id(2)), "<none>");
  EXPECT_EQ(Find(h, ResId::Name("PACKAGEINFO"), ResId::Name("RCDATA")), "<none>");
  EXPECT_EQ(Find(h, ResId::Name("PACKAGEINF"), ResId::Id(RT_RCDATA)), "<none>");
}

TEST_F(Resources, NamesCompareIgnoringCaseAsWindowsUpperCasesThem) {
  const HMODULE h = Load(test::BuildPe(SampleSpec()));
  EXPECT_EQ(Find(h, ResId::Name("packageinfo"), ResId::Id(RT_RCDATA)), "info");
  EXPECT_EQ(Find(h, ResId::Name("clip"), ResId::Name("avi")), "movie");
  EXPECT_EQ(Find(h, ResId::Name("CLIP"), ResId::Name("Avi")), "movie");
  // Letters beyond ASCII fold too (e-acute, E-acute).
  EXPECT_EQ(Find(h, ResId::Name("CAF\u00C9"), ResId::Id(RT_RCDATA)), "accent");
  EXPECT_EQ(Find(h, ResId::Name("caf\u00E9"), ResId::Id(RT_RCDATA)), "accent");
  EXPECT_EQ(Find(h, ResId::Name("cafe"), ResId::Id(RT_RCDATA)), "<none>");
}

TEST_F(Resources, TheFirstLanguageEntryIsTaken) {
  const HMODULE h = Load(test::BuildPe(SampleSpec()));
  // Languages are stored in ascending order: 0x407 before 0x409.
  EXPECT_EQ(Find(h, ResId::Name("DESCRIPTION"), ResId::Id(RT_RCDATA)), "german");
}

TEST_F(Resources, NumberSignNamesAreIds) {
  EXPECT_TRUE(ResId::Name("#123").isId);
  EXPECT_EQ(ResId::Name("#123").id, 123);
  EXPECT_EQ(ResId::Name("#0065535").id, 65535);
  EXPECT_FALSE(ResId::Name("#65536").isId);
  EXPECT_FALSE(ResId::Name("#12a").isId);
  EXPECT_FALSE(ResId::Name("#").isId);
  EXPECT_FALSE(ResId::Name("123").isId);
  EXPECT_EQ(ResId::Name("PACKAGEINFO").name, "PACKAGEINFO");
}

TEST_F(Resources, ModulesWithoutResourcesOrUnknownHandlesFindNothing) {
  const HMODULE h = Load(test::BuildPe(test::PeSpec{}));
  EXPECT_EQ(Find(h, ResId::Name("PACKAGEINFO"), ResId::Id(RT_RCDATA)), "<none>");
  EXPECT_FALSE(proc_.FindResource(0x12340000, ResId::Id(1), ResId::Id(1)));
}

TEST_F(Resources, NormallyLoadedModulesFindTheirResourcesAtTheirLoadAddress) {
  test::PeSpec spec = SampleSpec();
  spec.imageBase = 0x10000000;
  prefix_.WriteFile("C:\\a.dll", test::BuildPe(spec));
  prefix_.WriteFile("C:\\b.dll", test::BuildPe(spec));
  const HMODULE a = proc_.LoadLibrary("C:\\a.dll");
  const HMODULE b = proc_.LoadLibrary("C:\\b.dll");
  ASSERT_NE(b, a);
  const auto ra = proc_.FindResource(a, ResId::Name("PACKAGEINFO"), ResId::Id(RT_RCDATA));
  const auto rb = proc_.FindResource(b, ResId::Name("PACKAGEINFO"), ResId::Id(RT_RCDATA));
  ASSERT_TRUE(ra && rb);
  EXPECT_EQ(rb->address - b, ra->address - a);
  EXPECT_EQ(Find(b, ResId::Name("PACKAGEINFO"), ResId::Id(RT_RCDATA)), "info");
}

// Damaged resource directories: each look-up answers (found or not) and
// never loops or reads outside the image.
class DamagedResources : public Resources {
 protected:
  void SetUp() override {
    test::PeSpec spec;
    spec.resources = {{.type = PeResName::Id(RT_RCDATA),
                       .name = PeResName::Name("PACKAGEINFO"),
                       .data = Bytes("info")}};
    good_ = test::BuildPe(spec, &layout_);
    root_ = layout_.Offset(layout_.resourceDir);
  }
  std::string FindInfo(const std::vector<uint8_t>& image) {
    return Find(Load(image), ResId::Name("PACKAGEINFO"), ResId::Id(RT_RCDATA));
  }
  std::vector<uint8_t> good_;
  test::PeLayout layout_;
  uint32_t root_ = 0;
};

TEST_F(DamagedResources, DirectoryLoopsEndTheLookUp) {
  // The type entry's subdirectory is the root itself: the name level then
  // sees the type entries, whose ids are not names.
  auto b = good_;
  test::Put32(b, root_ + 16 + 4, 0x80000000u);
  EXPECT_EQ(FindInfo(b), "<none>");
  // The language level points back at a directory: not a data entry.
  b = good_;
  const uint32_t nameDir = test::Get32(good_, root_ + 20) & 0x7FFFFFFF;
  const uint32_t langDir = test::Get32(good_, root_ + nameDir + 20) & 0x7FFFFFFF;
  test::Put32(b, root_ + langDir + 20, 0x80000000u);
  EXPECT_EQ(FindInfo(b), "<none>");
}

TEST_F(DamagedResources, OffsetsAndCountsOutsideTheImageFindNothing) {
  const uint32_t nameDir = test::Get32(good_, root_ + 20) & 0x7FFFFFFF;
  const uint32_t langDir = test::Get32(good_, root_ + nameDir + 20) & 0x7FFFFFFF;
  const uint32_t dataEntry = test::Get32(good_, root_ + langDir + 20);
  const uint32_t nameString = test::Get32(good_, root_ + nameDir + 16) & 0x7FFFFFFF;
  auto expectNone = [&](uint32_t at, uint32_t value, const char* what) {
    auto b = good_;
    test::Put32(b, at, value);
    EXPECT_EQ(FindInfo(b), "<none>") << what;
  };
  expectNone(root_ + 12, 0xFFFFFFFFu, "absurd entry counts at the root");
  expectNone(root_ + 20, 0xFFFFFFF0u, "name directory far outside");
  expectNone(root_ + nameDir + 16, 0xFFFFFFF0u, "name string far outside");
  expectNone(root_ + nameDir + 12, 0x00000000u, "no named entries left");
  expectNone(root_ + langDir + 12, 0x00000000u, "empty language directory");
  expectNone(root_ + dataEntry, 0x7FFFFFF0u, "data RVA outside the image");
  expectNone(root_ + dataEntry + 4, 0x10000000u, "data size past the image");
  expectNone(root_ + nameString, 0x0000FFFFu, "name length past the image");
  // The intact copy still answers.
  EXPECT_EQ(FindInfo(good_), "info");
}

TEST_F(DamagedResources, ByteChangesInTheDirectoryNeverReadOutside) {
  const uint32_t size = layout_.resourceDirSize;
  for (uint32_t at = root_; at < root_ + size; ++at) {
    for (uint8_t v : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x80}}) {
      auto b = good_;
      b[at] = v;
      // A found resource lies inside the image: viewing it does not throw.
      EXPECT_NO_THROW(FindInfo(b)) << at;
      for (const ModuleRecord* r : proc_.Modules()) proc_.FreeLibrary(r->handle);
    }
  }
}

}  // namespace
}  // namespace kx
