// Checks the synthetic image builder against a small reader written here from
// the PE/COFF layout, independent of the product's own image code. Other tests
// trust these images, so a layout fault here would hide faults there.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/pe_builder.h"

namespace kx::test {
namespace {

// A minimal bounds-checked PE32 reader for the tests below.
class MiniPe {
 public:
  explicit MiniPe(const std::vector<uint8_t>& image) : img_(image) {
    if (Get16(img_, 0) != 0x5A4D) throw std::runtime_error("no MZ");
    nt_ = Get32(img_, 0x3C);
    if (Get32(img_, nt_) != 0x00004550) throw std::runtime_error("no PE");
    nSections_ = Get16(img_, nt_ + 6);
    opt_ = nt_ + 24;
    sec_ = opt_ + Get16(img_, nt_ + 20);
  }
  uint32_t Opt32(uint32_t off) const { return Get32(img_, opt_ + off); }
  uint32_t DirRva(int i) const { return Opt32(96 + 8 * i); }
  uint32_t DirSize(int i) const { return Opt32(100 + 8 * i); }
  uint16_t Characteristics() const { return Get16(img_, nt_ + 22); }
  struct Section {
    std::string name;
    uint32_t vsize, rva, rawSize, rawOffset;
  };
  std::vector<Section> Sections() const {
    std::vector<Section> out;
    for (uint32_t i = 0; i < nSections_; ++i) {
      uint32_t h = sec_ + 40 * i;
      std::string name(reinterpret_cast<const char*>(&img_.at(h)), 8);
      name = name.c_str();
      out.push_back({name, Get32(img_, h + 8), Get32(img_, h + 12), Get32(img_, h + 16),
                     Get32(img_, h + 20)});
    }
    return out;
  }
  uint32_t Off(uint32_t rva) const {
    for (const auto& s : Sections())
      if (rva >= s.rva && rva - s.rva < s.rawSize) return s.rawOffset + rva - s.rva;
    throw std::out_of_range("rva");
  }
  uint32_t R32(uint32_t rva) const { return Get32(img_, Off(rva)); }
  uint16_t R16(uint32_t rva) const { return Get16(img_, Off(rva)); }
  std::string Str(uint32_t rva) const {
    std::string s;
    for (uint32_t o = Off(rva); img_.at(o); ++o) s += static_cast<char>(img_[o]);
    return s;
  }

  struct Export {
    uint32_t ordinal;
    uint32_t rva;
    std::string name;  // empty: by ordinal only
  };
  std::vector<Export> Exports(std::string* moduleName = nullptr,
                              std::vector<std::string>* nameOrder = nullptr) const {
    std::vector<Export> out;
    const uint32_t e = DirRva(0);
    if (!e) return out;
    if (moduleName) *moduleName = Str(R32(e + 12));
    const uint32_t base = R32(e + 16), nFunc = R32(e + 20), nNames = R32(e + 24);
    std::map<uint32_t, std::string> names;
    for (uint32_t k = 0; k < nNames; ++k) {
      std::string n = Str(R32(R32(e + 32) + 4 * k));
      names[R16(R32(e + 36) + 2 * k)] = n;
      if (nameOrder) nameOrder->push_back(n);
    }
    for (uint32_t i = 0; i < nFunc; ++i) {
      uint32_t rva = R32(R32(e + 28) + 4 * i);
      if (rva) out.push_back({base + i, rva, names.count(i) ? names[i] : ""});
    }
    return out;
  }

  // "dll:name" or "dll:#ordinal", in table order.
  std::vector<std::string> Imports() const {
    std::vector<std::string> out;
    for (uint32_t d = DirRva(1);; d += 20) {
      if (!R32(d + 12)) break;
      const std::string dll = Str(R32(d + 12));
      for (uint32_t t = R32(d);; t += 4) {
        uint32_t v = R32(t);
        if (!v) break;
        out.push_back(dll + ":" +
                      ((v & 0x80000000u) ? "#" + std::to_string(v & 0xFFFF) : Str(v + 2)));
      }
    }
    return out;
  }

  // Flattened resource tree: "type/name/lang=size" with names as "#id" or the
  // UTF-16 text (ASCII only here); also checks named-before-id ordering.
  void Resources(std::vector<std::string>& out, std::map<std::string, std::vector<uint8_t>>& data,
                 uint32_t dir = 0, int depth = 0, std::string path = {}) const {
    const uint32_t root = DirRva(2);
    const uint32_t at = root + dir;
    const uint16_t named = R16(at + 12), ids = R16(at + 14);
    for (uint32_t i = 0; i < uint32_t(named) + ids; ++i) {
      const uint32_t nameField = R32(at + 16 + 8 * i), target = R32(at + 20 + 8 * i);
      std::string key;
      if (nameField & 0x80000000u) {
        EXPECT_LT(i, named) << "named entry after an id entry";
        const uint32_t s = root + (nameField & 0x7FFFFFFF);
        for (uint16_t k = 0; k < R16(s); ++k) key += static_cast<char>(R16(s + 2 + 2 * k));
      } else {
        EXPECT_GE(i, named) << "id entry among the named ones";
        key = "#" + std::to_string(nameField);
      }
      const std::string p = path.empty() ? key : path + "/" + key;
      if (target & 0x80000000u) {
        EXPECT_LT(depth, 2);
        Resources(out, data, target & 0x7FFFFFFF, depth + 1, p);
      } else {
        EXPECT_EQ(depth, 2);
        const uint32_t entry = root + target;
        const uint32_t rva = R32(entry), size = R32(entry + 4);
        out.push_back(p + "=" + std::to_string(size));
        const uint32_t o = Off(rva);
        if (size_t{o} + size > img_.size()) throw std::out_of_range("resource data");
        data[p].assign(img_.begin() + o, img_.begin() + o + size);
      }
    }
  }

 private:
  const std::vector<uint8_t>& img_;
  uint32_t nt_, opt_, sec_, nSections_;
};

TEST(PeBuilder, HeadersAndSectionsAreConsistent) {
  PeSpec spec = PackageSpec(0x40000004, {"vcl30"}, {{0, "Demo"}}, "demo");
  spec.imageBase = 0x00500000;
  spec.imports.push_back({"KERNEL32.DLL", {"GetVersion"}, {}});
  const auto img = BuildPe(spec);
  MiniPe pe(img);
  EXPECT_EQ(Get16(img, 0x80 + 4), 0x014C);
  EXPECT_EQ(pe.Opt32(0) & 0xFFFF, 0x010Bu);
  EXPECT_EQ(pe.Opt32(28), 0x00500000u);
  EXPECT_EQ(pe.Opt32(32), 0x1000u);
  EXPECT_EQ(pe.Opt32(36), 0x200u);
  EXPECT_TRUE(pe.Characteristics() & 0x2000);
  EXPECT_FALSE(pe.Characteristics() & 0x0001);

  const auto secs = pe.Sections();
  ASSERT_EQ(secs.size(), 4u);
  EXPECT_EQ(secs[0].name, ".text");
  EXPECT_EQ(secs[1].name, ".rdata");
  EXPECT_EQ(secs[2].name, ".rsrc");
  EXPECT_EQ(secs[3].name, ".reloc");
  const uint32_t sizeOfHeaders = pe.Opt32(60);
  EXPECT_EQ(sizeOfHeaders % 0x200, 0u);
  EXPECT_GE(sizeOfHeaders, 0x80u + 24 + 0xE0 + 40 * 4);
  uint32_t expectRaw = sizeOfHeaders, expectRva = 0x1000;
  for (const auto& s : secs) {
    EXPECT_EQ(s.rawOffset, expectRaw) << s.name;
    EXPECT_EQ(s.rva, expectRva) << s.name;
    EXPECT_EQ(s.rawSize % 0x200, 0u) << s.name;
    EXPECT_GE(s.rawSize, s.vsize) << s.name;
    expectRaw += s.rawSize;
    expectRva += (s.vsize + 0xFFF) / 0x1000 * 0x1000;
  }
  EXPECT_EQ(pe.Opt32(56), expectRva);  // SizeOfImage
  EXPECT_EQ(img.size(), expectRaw);
  // Every data directory lies inside one section.
  for (int d : {0, 1, 2, 5, 12}) {
    ASSERT_NE(pe.DirRva(d), 0u) << d;
    EXPECT_NO_THROW(pe.Off(pe.DirRva(d) + pe.DirSize(d) - 1)) << d;
  }
  // The entry point and the import thunks are in .text.
  EXPECT_EQ(pe.Opt32(16), 0x1000u);
}

TEST(PeBuilder, ProgramWithoutRelocationsOrResources) {
  PeSpec spec;
  spec.dll = false;
  spec.relocations = false;
  spec.imports.push_back({"user32.dll", {"MessageBoxA"}, {}});
  const auto img = BuildPe(spec);
  MiniPe pe(img);
  EXPECT_FALSE(pe.Characteristics() & 0x2000);
  EXPECT_TRUE(pe.Characteristics() & 0x0001);  // relocations stripped
  EXPECT_EQ(pe.DirRva(0), 0u);
  EXPECT_EQ(pe.DirRva(2), 0u);
  EXPECT_EQ(pe.DirRva(5), 0u);
  ASSERT_EQ(pe.Sections().size(), 2u);
  EXPECT_EQ(pe.Imports(), std::vector<std::string>{"user32.dll:MessageBoxA"});
}

TEST(PeBuilder, ExportsOrdinalsNamesAndForwarders) {
  PeSpec spec;
  spec.exportName = "vcl30.dpl";
  spec.ordinalBase = 5;
  spec.exports = {{"Zeta"},
                  {"Classes.TList.Add@y"},
                  {"Fixed", 9},
                  {"", 0, 0, "", true},
                  {"Alpha", 0, 0x1234},
                  {"Fwd", 0, 0, "KERNEL32.GetVersion"},
                  {"@Classes@TList@$bctr$qqrv"}};
  PeLayout layout;
  const auto img = BuildPe(spec, &layout);
  MiniPe pe(img);
  std::string module;
  std::vector<std::string> order;
  const auto ex = pe.Exports(&module, &order);
  EXPECT_EQ(module, "vcl30.dpl");
  // Byte-wise order, as the loader's binary search needs.
  EXPECT_EQ(order, (std::vector<std::string>{"@Classes@TList@$bctr$qqrv", "Alpha",
                                             "Classes.TList.Add@y", "Fixed", "Fwd", "Zeta"}));
  std::map<std::string, MiniPe::Export> byName;
  std::vector<uint32_t> unnamed;
  for (const auto& e : ex) {
    if (e.name.empty())
      unnamed.push_back(e.ordinal);
    else
      byName[e.name] = e;
  }
  // Explicit ordinal 9 is kept; the others take the free ones from the base.
  EXPECT_EQ(byName["Zeta"].ordinal, 5u);
  EXPECT_EQ(byName["Classes.TList.Add@y"].ordinal, 6u);
  EXPECT_EQ(byName["Fixed"].ordinal, 9u);
  EXPECT_EQ(unnamed, std::vector<uint32_t>{7});
  EXPECT_EQ(byName["Alpha"].ordinal, 8u);
  EXPECT_EQ(byName["Alpha"].rva, 0x1234u);
  EXPECT_EQ(byName["Fwd"].ordinal, 10u);
  EXPECT_EQ(byName["@Classes@TList@$bctr$qqrv"].ordinal, 11u);
  // A forwarder points into the export directory at its "DLL.Name" text.
  const uint32_t fwd = byName["Fwd"].rva;
  EXPECT_GE(fwd, pe.DirRva(0));
  EXPECT_LT(fwd, pe.DirRva(0) + pe.DirSize(0));
  EXPECT_EQ(pe.Str(fwd), "KERNEL32.GetVersion");
  // Stubs are distinct addresses in .text, and the layout reports them.
  EXPECT_NE(byName["Zeta"].rva, byName["Fixed"].rva);
  EXPECT_EQ(pe.Sections()[0].name, ".text");
  EXPECT_EQ(layout.exportRvas[0], byName["Zeta"].rva);
  EXPECT_EQ(layout.exportOrdinals[2], 9);
  EXPECT_EQ(img.at(layout.Offset(byName["Zeta"].rva)), 0x31);
}

TEST(PeBuilder, KeepExportOrderAndEmptyDirectory) {
  PeSpec spec;
  spec.keepExportOrder = true;
  spec.exports = {{"b"}, {"a"}};
  std::vector<std::string> order;
  MiniPe(BuildPe(spec)).Exports(nullptr, &order);
  EXPECT_EQ(order, (std::vector<std::string>{"b", "a"}));

  PeSpec empty;
  empty.emptyExportDirectory = true;
  const auto img = BuildPe(empty);
  std::string module;
  EXPECT_TRUE(MiniPe(img).Exports(&module).empty());
  EXPECT_EQ(module, "test.dll");
}

TEST(PeBuilder, RejectsSpecsThatCannotBeLaidOut) {
  PeSpec dupOrdinal;
  dupOrdinal.exports = {{"a", 3}, {"b", 3}};
  EXPECT_THROW(BuildPe(dupOrdinal), std::invalid_argument);
  PeSpec belowBase;
  belowBase.ordinalBase = 10;
  belowBase.exports = {{"a", 3}};
  EXPECT_THROW(BuildPe(belowBase), std::invalid_argument);
  PeSpec dupResource;
  dupResource.resources = {{PeResName::Id(10), PeResName::Name("X"), 0, {1}},
                           {PeResName::Id(10), PeResName::Name("X"), 0, {2}}};
  EXPECT_THROW(BuildPe(dupResource), std::invalid_argument);
}

TEST(PeBuilder, ImportsByNameAndOrdinalWithRelocatedThunks) {
  PeSpec spec;
  spec.imageBase = 0x10000000;
  spec.imports = {{"vcl30.dpl", {"Classes.TList.Add@y", "Forms.TForm.Show@q"}, {}},
                  {"KERNEL32.DLL", {"GetVersion"}, {23}}};
  PeLayout layout;
  const auto img = BuildPe(spec, &layout);
  MiniPe pe(img);
  EXPECT_EQ(pe.Imports(), (std::vector<std::string>{
                              "vcl30.dpl:Classes.TList.Add@y", "vcl30.dpl:Forms.TForm.Show@q",
                              "KERNEL32.DLL:GetVersion", "KERNEL32.DLL:#23"}));
  // The address table holds the same entries as the lookup table before binding.
  for (uint32_t d = pe.DirRva(1); pe.R32(d + 12); d += 20)
    for (uint32_t k = 0; pe.R32(pe.R32(d) + 4 * k); ++k)
      EXPECT_EQ(pe.R32(pe.R32(d) + 4 * k), pe.R32(pe.R32(d + 16) + 4 * k));

  // Base relocations: every HIGHLOW target holds an absolute address inside the image.
  const uint32_t relocs = pe.DirRva(5), relocEnd = relocs + pe.DirSize(5);
  int count = 0;
  for (uint32_t b = relocs; b < relocEnd;) {
    const uint32_t page = pe.R32(b), size = pe.R32(b + 4);
    ASSERT_GE(size, 8u);
    ASSERT_EQ(size % 4, 0u);
    for (uint32_t k = 8; k < size; k += 2) {
      const uint16_t e = pe.R16(b + k);
      if ((e >> 12) == 0) continue;
      ASSERT_EQ(e >> 12, 3);
      const uint32_t va = pe.R32(page + (e & 0xFFF));
      EXPECT_GE(va, spec.imageBase);
      EXPECT_LT(va, spec.imageBase + pe.Opt32(56));
      ++count;
    }
    b += size;
  }
  EXPECT_EQ(count, 1 + 4);  // the self pointer and one thunk per import
}

TEST(PeBuilder, ResourceTreeOrderNamesAndData) {
  PeSpec spec;
  spec.resources = {
      {PeResName::Id(24), PeResName::Id(1), 1033, {1, 2, 3}},
      {PeResName::Id(10), PeResName::Id(13), 0, {7}},
      {PeResName::Name("MYDATA"), PeResName::Name("zeta"), 0, {9}},
      {PeResName::Name("MYDATA"), PeResName::Name("Alpha"), 7, {8, 8}},
      {PeResName::Name("MYDATA"), PeResName::Name("Alpha"), 0, {}},
      {PeResName::Id(10), PeResName::Name("PACKAGEINFO"), 0, {4, 4, 4, 4}},
      {PeResName::Name("\xC3\xBC"), PeResName::Id(2), 0, {5}},  // U+00FC
  };
  const auto img = BuildPe(spec);
  MiniPe pe(img);
  std::vector<std::string> lines;
  std::map<std::string, std::vector<uint8_t>> data;
  pe.Resources(lines, data);
  // Named types first (case-insensitive order), then ids ascending; inside a
  // type the same; languages ascending.
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "MYDATA/Alpha/#0=0", "MYDATA/Alpha/#7=2", "MYDATA/zeta/#0=1", "\xFC/#2/#0=1",
                       "#10/PACKAGEINFO/#0=4", "#10/#13/#0=1", "#24/#1/#1033=3"}));
  EXPECT_EQ(data["#24/#1/#1033"], (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(data["MYDATA/Alpha/#7"], (std::vector<uint8_t>{8, 8}));
}

TEST(PeBuilder, PackageInfoAndDescriptionBytes) {
  const auto info =
      BuildPackageInfo(0x40000004, {"vcl30", "vclx30"}, {{0x10, "SysInit"}, {0, "A"}});
  // 4 flags + 4 R + (1+6) + (1+7) + 4 C + (2+8) + (2+2) = 41, padded to 44.
  ASSERT_EQ(info.size(), 44u);
  EXPECT_EQ(Get32(info, 0), 0x40000004u);
  EXPECT_EQ(Get32(info, 4), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&info[9])), "vcl30");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&info[16])), "vclx30");
  EXPECT_EQ(Get32(info, 23), 2u);
  EXPECT_EQ(info[27], 0x10);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&info[29])), "SysInit");
  EXPECT_EQ(info[37], 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&info[39])), "A");
  EXPECT_EQ(info[41] | info[42] | info[43], 0);
  EXPECT_EQ(BuildPackageInfo(0xC0000000, {}, {}).size(), 12u);

  const auto desc = BuildDescription("f\xC3\xBCr \"x\" \xF0\x9F\x98\x80");
  const std::vector<uint8_t> expect = {'f', 0,   0xFC, 0,   'r', 0,    ' ',  0,    '"',  0, 'x',
                                       0,   '"', 0,    ' ', 0,   0x3D, 0xD8, 0x00, 0xDE, 0, 0};
  EXPECT_EQ(desc, expect);

  const PeSpec pkg = PackageSpec(0x40000004, {"vcl30"}, {{0, "Demo"}}, "", {{"Demo.TThing.Run@q"}});
  ASSERT_EQ(pkg.exports.size(), 3u);
  EXPECT_EQ(pkg.exports[0].name, "Initialize");
  EXPECT_EQ(pkg.exports[1].name, "Finalize");
  ASSERT_EQ(pkg.resources.size(), 1u);  // no DESCRIPTION for an empty text
  std::vector<std::string> lines;
  std::map<std::string, std::vector<uint8_t>> data;
  MiniPe(BuildPe(pkg)).Resources(lines, data);
  EXPECT_EQ(data["#10/PACKAGEINFO/#0"], BuildPackageInfo(0x40000004, {"vcl30"}, {{0, "Demo"}}));
}

}  // namespace
}  // namespace kx::test
