// The compiled unit decoder: packed integers, the interface text of the
// fixture units (expected texts written by hand from the generator's input),
// and damaged units, which must give a clear error and never a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "dcu/DcuFile.h"
#include "dcu/DcuInterface.h"

namespace kx {
namespace {

// Every unit the fixture generator writes.
const char* const kUnits[] = {"Gauges2",   "Shapes3", "Empty3",   "SysInit",
                              "DemoCtrls", "DemoReg", "DemoUtils"};

std::vector<uint8_t> ReadFixture(const std::string& name) {
  std::ifstream f(std::string(KX_FIXTURES_DIR) + "/dcu/" + name, std::ios::binary);
  EXPECT_TRUE(f) << name;
  return {std::istreambuf_iterator<char>(f), {}};
}

std::string Text(const std::vector<uint8_t>& bytes, const std::string& name = "X.dcu") {
  return DcuInterfaceText(MakeDcuInterface(DecodeDcu(bytes, name)));
}

// Field offsets the generator lists for the damaged-unit cases.
std::map<std::string, size_t> Marks(const std::string& unit) {
  std::map<std::string, size_t> m;
  const auto text = ReadFixture("marks.txt");
  std::istringstream in(std::string(text.begin(), text.end()));
  std::string u, field;
  size_t at;
  while (in >> u >> field >> at)
    if (u == unit) m[field] = at;
  return m;
}

void SetSize(std::vector<uint8_t>& b) {
  const uint32_t n = uint32_t(b.size());
  for (int i = 0; i < 4; ++i) b[4 + i] = uint8_t(n >> (8 * i));
}

TEST(DcuDecoder, PackedIntegers) {
  struct Case {
    std::vector<uint8_t> bytes;
    bool isSigned;
    int64_t value;
  } cases[] = {
      {{0x00}, false, 0},
      {{0x02}, false, 1},
      {{0x7E}, false, 63},
      {{0x80}, false, 64},
      {{0xC8}, false, 100},
      {{0xB1, 0x04}, false, 300},
      {{0x03, 0x71, 0x02}, false, 20000},
      {{0x07, 0x00, 0x00, 0x02}, false, 2097152},
      {{0x0F, 0x00, 0x00, 0x00, 0x10}, false, 1 << 28},
      {{0x0F, 0x00, 0x00, 0x00, 0x80}, false, 0x80000000},
      {{0xFE}, true, -1},
      {{0x7E}, true, 63},
      {{0x01, 0x01}, true, 64},
      {{0x91, 0x01}, true, 100},
      {{0x71, 0xFE}, true, -100},
      {{0x0F, 0x80, 0xFF, 0xFF, 0xFF}, true, -128},
      {{0x0F, 0x00, 0x00, 0x00, 0x80}, true, INT32_MIN},
      {{0x03, 0x71, 0x02}, true, 20000},
  };
  for (const Case& c : cases) {
    ByteReader r(c.bytes, "X.dcu");
    const int64_t v = c.isSigned ? int64_t(r.PackedS("value")) : int64_t(r.PackedU("value"));
    EXPECT_EQ(v, c.value) << (c.isSigned ? "S " : "U ") << int(c.bytes[0]);
    EXPECT_TRUE(r.AtEnd());
  }
  // A five-byte form must start with $0F.
  const std::vector<uint8_t> bad = {0x1F, 0, 0, 0, 0};
  ByteReader r(bad, "X.dcu");
  EXPECT_THROW(r.PackedU("value"), EDcuDamaged);
}

// The worked example of the format description: a cut-down Gauges2 of 339
// bytes, written out byte by byte there.
std::vector<uint8_t> WorkedExample() {
  std::vector<uint8_t> b;
  b.reserve(339);
  // Each piece without the literal's closing zero.
  auto add = [&b](const auto& piece) { b.insert(b.end(), piece, piece + sizeof piece - 1); };
  add("\x41\x86\x51\x44\x53\x01\x00\x00\x21\x6C\x4B\x2A\x9D\x9C\x9B\x9A\x00\x96\x00");
  add("\x70\x0BGauges2.pas\x20\x6C\x4B\x2A\x00");
  add("\x64\x07"
      "Classes\x44\x33\x22\x11\x66\x0ATComponent\x0D\x0C\x0B\x0A\x63");
  add("\x64\x07SysInit\x88\x77\x66\x55\x63\x64\x06System\x88\x77\x66\x55\x63");
  add("\x25\x06gkBar2\x8A\x00\x10\x00\x00\x04\x00\x00");
  add("\x25\x06gkPie2\x8A\x01\x10\x00\x00\x04\x00\x02");
  add("\x2A\x0BTGaugeKind2\x88\x00\x20\x00\x00\x04");
  add("\x26\x08.TGauge2\x80\x00\x30\x00\x00\x06\x00");
  add("\x2A\x07TGauge2\x88\x00\x40\x00\x00\x08");
  add("\x25\x08MaxGauge\x8A\x00\x50\x00\x00\x0C\x00\x91\x01");
  add("\x28\x0AResetGauge\x80\x00\x60\x00\x00\x00\x18\x00\x0E\x21\x01G\x16\x08\x00\x63");
  add("\x28\x07Gauges2\x80\x00\x00\x00\x00\x00\x10\x21\x10\x0E\x63");
  add("\x43\x50\x02\x0E\x0A\x04\x00\x02\x0F\x47\x00\x08\x00\x08\xC8");
  add("\x46\x78\x08\x12\x02\x00\x58\x10\x20\xE2\x06\x06\x00");
  add("\x2C\x05"
      "FKind\x00\x04\x50");
  add("\x30\x04Kind\x14\x04\x04\x0F\x00\x00\x00\x80\x1C\x1C\x00\x00\x63");
  add("\x44\x00\x08\x00\x0A\x0F\x00\x00\x00\x80\x0F\xFF\xFF\xFF\x7F\x00");
  add("\x44\x00\x02\x00\x0A\x00\xFD\x03\x0E\x40\x00\x00\x00");
  add("\x6C\x08\xC3\x90\x90\x90\x6D\x00\x61");
  return b;
}

TEST(DcuDecoder, InterfaceTextOfEveryFixtureUnit) {
  struct Case {
    std::string name;
    std::vector<uint8_t> bytes;
    std::string expected;
  };
  std::vector<Case> cases;
  for (const char* unit : kUnits) {
    auto pas = ReadFixture(std::string(unit) + ".pas");
    cases.push_back(
        {unit, ReadFixture(std::string(unit) + ".dcu"), std::string(pas.begin(), pas.end())});
  }
  cases.push_back({"worked example", WorkedExample(),
                   "unit Gauges2;\n\ninterface\n\nuses\n  Classes;\n\ntype\n"
                   "  TGaugeKind2 = (gkBar2, gkPie2);\n\n"
                   "  TGauge2 = class(TComponent)\n  private\n    FKind: TGaugeKind2;\n"
                   "  published\n"
                   "    property Kind: TGaugeKind2 read FKind write FKind default gkBar2;\n"
                   "  end;\n\nconst\n  MaxGauge = 100;\n\nprocedure ResetGauge(G: TGauge2);\n\n"
                   "implementation\n\nend.\n"});
  for (const Case& c : cases) {
    EXPECT_EQ(Text(c.bytes), c.expected) << c.name;
  }
}

TEST(DcuDecoder, JsonShapeOfDeclarations) {
  const DcuInterface i = MakeDcuInterface(DecodeDcu(ReadFixture("Gauges2.dcu"), "Gauges2.dcu"));
  EXPECT_EQ(i.Unit, "Gauges2");
  EXPECT_EQ(i.InterfaceUses, (std::vector<std::string>{"Messages", "Classes"}));
  const DcuItem* gauge = nullptr;
  for (const DcuItem& d : i.Declarations)
    if (d.Name == "TGauge2") gauge = &d;
  ASSERT_NE(gauge, nullptr);
  EXPECT_EQ(gauge->Type, "class(TComponent)");
  ASSERT_EQ(gauge->Members.size(), 16u);
  const DcuItem& create = gauge->Members[7];
  EXPECT_EQ(create.Kind, "constructor");
  EXPECT_EQ(create.Visibility, "public");
  EXPECT_EQ(create.Value, "override;");
  ASSERT_EQ(create.Parameters.size(), 1u);
  EXPECT_EQ(create.Parameters[0].Type, "TComponent");
  const DcuItem& reset = i.Declarations[i.Declarations.size() - 2];
  ASSERT_EQ(reset.Parameters.size(), 2u);
  EXPECT_EQ(reset.Parameters[1].Kind, "out");
}

TEST(DcuDecoder, DamagedUnitsGiveAnErrorAndNeverACrash) {
  for (const char* unit : kUnits) {
    const auto good = ReadFixture(std::string(unit) + ".dcu");
    // Cut short at every byte, the header's size following the cut, so that
    // the decoder runs up to it; and the same cut with the size unchanged.
    for (size_t n = 17; n < good.size(); ++n) {
      std::vector<uint8_t> cut(good.begin(), good.begin() + ptrdiff_t(n));
      EXPECT_THROW(DecodeDcu(cut, "X.dcu"), EDcuDamaged) << unit << " cut at " << n;
      SetSize(cut);
      EXPECT_THROW(DecodeDcu(cut, "X.dcu"), EDcuDamaged) << unit << " cut at " << n;
    }
    std::vector<uint8_t> longer = good;
    longer.push_back('a');
    SetSize(longer);
    EXPECT_THROW(DecodeDcu(longer, "X.dcu"), EDcuDamaged) << unit;
  }

  struct Case {
    std::string unit, mark;
    size_t at;                   // from the mark
    std::vector<uint8_t> field;  // replaces one byte there
    std::string message;         // empty: decodes
  } cases[] = {
      {"Gauges2",
       "codesize",
       1,
       {0x0F, 0xFF, 0xFF, 0xFF, 0xFF},
       "X.dcu is damaged at offset $000005C7: code block runs past the end of the unit."},
      {"Gauges2",
       "fixups",
       1,
       {0x0F, 0xFF, 0xFF, 0xFF, 0xFF},
       "X.dcu is damaged at offset $000005D1: fixup table count 4294967295 exceeds the bytes "
       "left."},
      {"Shapes3",
       "intfcount",
       0,
       {0x0F, 0xFF, 0xFF, 0xFF, 0x7F},
       "X.dcu is damaged at offset $0000087B: interface table count 2147483647 exceeds the "
       "bytes left."},
      {"Gauges2",
       "codesize",
       1,
       {0xFE},
       "X.dcu is damaged at offset $000005C3: code block runs "
       "past the end of the unit."},
      {"Gauges2", "typeref", 0, {0x7E}, ""},
  };
  for (const Case& c : cases) {
    auto b = ReadFixture(c.unit + ".dcu");
    const size_t at = Marks(c.unit).at(c.mark) + c.at;
    b.erase(b.begin() + ptrdiff_t(at));
    b.insert(b.begin() + ptrdiff_t(at), c.field.begin(), c.field.end());
    SetSize(b);
    if (c.message.empty()) {
      // A type number that does not exist spoils only that reference.
      EXPECT_NE(Text(b).find("  GaugeCount: ?;\n"), std::string::npos);
      continue;
    }
    try {
      DecodeDcu(b, "X.dcu");
      ADD_FAILURE() << c.unit << " " << c.mark << " decoded";
    } catch (const EDcuDamaged& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }

  // A name length set to its maximum.
  auto b = ReadFixture("Gauges2.dcu");
  const std::string name = "TGaugeKinds2";
  auto it = std::search(b.begin(), b.end(), name.begin(), name.end());
  ASSERT_NE(it, b.end());
  *(it - 1) = 0xFF;
  EXPECT_THROW(DecodeDcu(b, "X.dcu"), EDcuDamaged);

  // Other magic numbers and files too short to hold one.
  for (std::vector<uint8_t> other : {std::vector<uint8_t>{}, std::vector<uint8_t>{0x41, 0x86},
                                     std::vector<uint8_t>{'P', 'K', 'G', '4', 0, 0, 0, 0}}) {
    try {
      DecodeDcu(other, "C:\\Units\\Other.dcu");
      ADD_FAILURE();
    } catch (const EDcuNotUnit& e) {
      EXPECT_STREQ(e.what(), "C:\\Units\\Other.dcu is not a Delphi 3 compiled unit.");
    }
  }
}

TEST(DcuDecoder, EveryUnitOfTheDemoPackageDecodesToItsEnd) {
  std::ifstream f(std::string(KX_FIXTURES_DIR) + "/demo-prefix/drive_c/Projects/Demo/DemoComp.dcp",
                  std::ios::binary);
  TDCPStream s = TDCPStream::FromBytes({std::istreambuf_iterator<char>(f), {}},
                                       "C:\\Projects\\Demo\\DemoComp.dcp");
  TDCPHeader header;
  TDCUInfoList units;
  std::vector<std::string> resources, requiresNames;
  ReadDCPContents(s, "DemoComp", header, units, resources, requiresNames);
  ASSERT_EQ(units.size(), 5u);
  for (size_t i = 0; i + 1 < units.size(); ++i) {
    const auto pas = ReadFixture(units[i].Name + ".pas");
    EXPECT_EQ(DcuInterfaceText(MakeDcuInterface(DecodeDcpUnit(s, units[i]))),
              std::string(pas.begin(), pas.end()));
  }
  // An entry whose image lies past the end of the file; an image one byte
  // short of its entry's size.
  TMyDCUInfo outside = units[1];
  outside.DCUOffset = uint32_t(s.Size());
  EXPECT_THROW(DecodeDcpUnit(s, outside), EDcuDamaged);
  TMyDCUInfo shorter = units[1];
  shorter.DCUSize -= 1;
  try {
    DecodeDcpUnit(s, shorter);
    ADD_FAILURE();
  } catch (const EDcuDamaged& e) {
    EXPECT_EQ(e.Offset(), units[1].DCUOffset + 4);
    EXPECT_EQ(
        std::string(e.what()).rfind("C:\\Projects\\Demo\\DemoComp.dcp is damaged at offset $", 0),
        0u);
  }
}

// Records spliced into an empty unit before its code block: each list's
// terminator and limits, with the offset and record the message names.
TEST(DcuDecoder, RecordsOutOfPlaceOrBeyondTheLimits) {
  const auto empty = ReadFixture("Empty3.dcu");
  const size_t at = Marks("Empty3").at("codesize");
  auto hex = [](size_t offset) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "$%08zX", offset);
    return std::string(buf);
  };
  struct Case {
    std::string bytes;  // inserted at the code block
    size_t errorAt;     // from the insertion; with an empty message: decodes
    std::string message;
  } cases[] = {
      {std::string(17, 'j') + std::string(17, 'k'), 17, "nesting too deep"},
      {std::string(16, 'j') + std::string(16, 'k'), 0, ""},
      {"jX", 1, "unexpected tag $58 in an embedded list"},
      {std::string("(\x01R\x00\x00\x00\x00\x0EZ", 9), 8, "unexpected tag $5A in a parameter list"},
      {std::string("M\x00\x02\x00\x00!", 6), 5, "unexpected tag $21 in a member list"},
      {std::string("C\x00\x02\x00\x00\x00\x00\x0F\x80\x11\x01\x00\x00", 13), 13,
       "enumeration range too large"},
      {std::string("%\x01X\x00\x02\xD1\x07", 7), 7, "constant value runs past the end of the unit"},
      {std::string("\x61", 1), 1, "bytes after the end of the unit"},
      {std::string("m\x1F\x00\x00\x00\x00", 6), 1, "fixup count has an invalid integer prefix"},
      {"\x99", 0, "unexpected tag $99 in the declaration list"},
  };
  for (const Case& c : cases) {
    auto b = empty;
    b.insert(b.begin() + ptrdiff_t(at), c.bytes.begin(), c.bytes.end());
    SetSize(b);
    if (c.message.empty()) {
      EXPECT_NO_THROW(DecodeDcu(b, "X.dcu")) << c.bytes;
      continue;
    }
    try {
      DecodeDcu(b, "X.dcu");
      ADD_FAILURE() << c.message;
    } catch (const EDcuDamaged& e) {
      EXPECT_EQ(std::string(e.what()),
                "X.dcu is damaged at offset " + hex(at + c.errorAt) + ": " + c.message + ".");
    }
  }
  // The declaration list may also end with a zero tag, a form not seen in
  // real units: it decodes, with a warning.
  auto b = empty;
  b.back() = 0x00;
  EXPECT_EQ(DecodeDcu(b, "X.dcu").Warnings.size(), 1u);
}

}  // namespace
}  // namespace kx
