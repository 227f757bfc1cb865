// The compiled package reader on synthetic .dcp files.
#include <gtest/gtest.h>

#include <random>

#include "dcp/DCPMan.h"
#include "support/dcp_builder.h"
#include "support/test_system.h"

namespace kx {
namespace {

using test::DcpBuilder;
using test::DcpLayout;

DcpBuilder ThreeUnitPackage() {
  DcpBuilder b;
  b.imageBase = 0x51A00000;
  b.requiredPackages = {"vcl30", "vclx30"};
  b.units = {{"SysInit", 0x100, 0x2000, std::vector<uint8_t>(40, 0xA1)},
             {"MyUnit", 0x180, 0x2010, std::vector<uint8_t>(75, 0xA2)},
             {"mypack", 0x400, 0x2080, {}}};
  b.resources = {"mypack.res", "Icons.res"};
  b.codeEnd = 0x500;
  b.dataEnd = 0x2100;
  return b;
}

struct Contents {
  TDCPHeader header;
  TDCUInfoList units;
  std::vector<std::string> resources, requiresNames;
};

Contents Read(const std::vector<uint8_t>& bytes, std::string_view packageName) {
  TDCPStream s = TDCPStream::FromBytes(bytes, "C:\\pkg\\test.dcp");
  Contents c;
  ReadDCPContents(s, packageName, c.header, c.units, c.resources, c.requiresNames);
  return c;
}

TEST(DCPReader, ReadsRequiresUnitsSizesAndResources) {
  DcpLayout lay;
  auto bytes = ThreeUnitPackage().Build(&lay);
  Contents c = Read(bytes, "MYPACK");  // the package's own unit matched ignoring case

  EXPECT_EQ(c.requiresNames, (std::vector<std::string>{"vcl30", "vclx30"}));
  EXPECT_EQ(c.header.UnitTableOffset(), lay.unitTableOffset);
  EXPECT_EQ(c.header.UnitTableSize(), lay.unitTableSize);
  EXPECT_EQ(c.header.DCPImageBase(), 0x51A00000u);
  ASSERT_EQ(c.units.size(), 3u);
  EXPECT_EQ(c.units[0], (TMyDCUInfo{"SysInit", 40, 0x80, 0x10, lay.dcuOffsets[0], 0x100, 0x2000}));
  EXPECT_EQ(c.units[1], (TMyDCUInfo{"MyUnit", int32_t(lay.dcuOffsets[2] - lay.dcuOffsets[1]), 0x280,
                                    0x70, lay.dcuOffsets[1], 0x180, 0x2010}));
  EXPECT_EQ(c.units[1].DCUSize, 75);
  // The package's own unit keeps its offsets but its sizes are zeroed.
  EXPECT_EQ(c.units[2], (TMyDCUInfo{"mypack", 0, 0, 0, lay.dcuOffsets[2], 0x400, 0x2080}));
  EXPECT_EQ(c.resources, (std::vector<std::string>{"mypack.res", "Icons.res"}));
}

TEST(DCPReader, HeaderFieldsAndEmptyRequiresArea) {
  DcpBuilder b = ThreeUnitPackage();
  b.requiredPackages.clear();
  b.neverBuild = 1;
  DcpLayout lay;
  auto bytes = b.Build(&lay);
  ASSERT_EQ(lay.unitTableOffset, 32u);
  Contents c = Read(bytes, "mypack");
  EXPECT_TRUE(c.requiresNames.empty());
  EXPECT_EQ(c.header.NeverBuild(), 1);
  EXPECT_EQ(c.units.size(), 3u);
}

TEST(DCPReader, BaseNameMismatchTakesLastSizesFromBytesAfterTable) {
  DcpLayout lay;
  auto bytes = ThreeUnitPackage().Build(&lay);
  Contents c = Read(bytes, "renamed");
  ASSERT_EQ(c.units.size(), 3u);
  // Nothing zeroed: the last unit's sizes come from the entry that follows
  // the table (the builder writes the end of the images and code/data ends).
  EXPECT_EQ(c.units[2].DCUSize, int32_t(lay.endOffset - lay.dcuOffsets[2]));
  EXPECT_EQ(c.units[2].CodeSize, 0x100);
  EXPECT_EQ(c.units[2].DataSize, 0x80);
  EXPECT_EQ(c.units[0].DCUSize, 40);

  // Whatever follows the table is read as an entry, garbage included.
  DcpBuilder b = ThreeUnitPackage();
  b.afterTable = std::vector<uint8_t>(20, 0);
  test::PutU32At(*b.afterTable, 8, 0x300);  // code offset below the last unit's
  c = Read(b.Build(&lay), "renamed");
  EXPECT_EQ(c.units[2].DCUSize, -int32_t(lay.dcuOffsets[2]));
  EXPECT_EQ(c.units[2].CodeSize, 0x300 - 0x400);
}

TEST(DCPReader, ResourcesComeFromTheLastEntryWhateverItsName) {
  DcpBuilder b;
  b.units = {{"mypack", 0x10, 0x20, std::vector<uint8_t>(30, 1)}, {"Other", 0x30, 0x40, {}}};
  b.resources = {"a.res"};
  DcpLayout lay;
  Contents c = Read(b.Build(&lay), "mypack");
  ASSERT_EQ(c.units.size(), 2u);
  EXPECT_EQ(c.units[0].DCUSize, 0);  // own unit first in the table: zeroed all the same
  EXPECT_NE(c.units[1].DCUSize, 0);
  EXPECT_EQ(c.resources, std::vector<std::string>{"a.res"});
}

TEST(DCPReader, EndMarkerFirstGivesNoResources) {
  DcpBuilder b = ThreeUnitPackage();
  b.resources.clear();
  Contents c = Read(b.Build(), "mypack");
  EXPECT_TRUE(c.resources.empty());
  EXPECT_EQ(c.units.size(), 3u);
}

TEST(DCPReader, LongNamesAreNeverCut) {
  DcpBuilder b = ThreeUnitPackage();
  std::string longUnit(700, 'U');
  std::string longRes(255, 'r');
  b.units[1].name = longUnit;
  b.requiredPackages = {std::string(400, 'p')};
  b.resources = {longRes};
  b.packageBlockName = std::string(255, 'n');
  Contents c = Read(b.Build(), "mypack");
  EXPECT_EQ(c.units[1].Name, longUnit);
  EXPECT_EQ(c.requiresNames[0].size(), 400u);
  EXPECT_EQ(c.resources, std::vector<std::string>{longRes});
}

TEST(DCPReader, EmptyUnitTableGivesNoUnitsAndNoResources) {
  DcpBuilder b = ThreeUnitPackage();
  b.unitTableSizeOverride = 0;
  Contents c = Read(b.Build(), "mypack");
  EXPECT_TRUE(c.units.empty());
  EXPECT_TRUE(c.resources.empty());
  EXPECT_EQ(c.requiresNames.size(), 2u);
}

TEST(DCPReader, SourceVariantLeavesOutOnlyThePackageUnit) {
  auto bytes = ThreeUnitPackage().Build();
  TDCPStream s = TDCPStream::FromBytes(bytes);
  TDCPHeader h;
  std::vector<std::string> contains, resources, req;
  ReadDCPForDPK(s, "MyPack", h, contains, resources, req);
  EXPECT_EQ(contains, (std::vector<std::string>{"SysInit", "MyUnit"}));
  EXPECT_EQ(resources, (std::vector<std::string>{"mypack.res", "Icons.res"}));
  EXPECT_EQ(req, (std::vector<std::string>{"vcl30", "vclx30"}));
  EXPECT_EQ(h.DCPImageBase(), 0x51A00000u);

  // Under another base name the package's own unit stays in.
  TDCPStream s2 = TDCPStream::FromBytes(bytes);
  contains.clear();
  resources.clear();
  req.clear();
  ReadDCPForDPK(s2, "renamed", h, contains, resources, req);
  EXPECT_EQ(contains, (std::vector<std::string>{"SysInit", "MyUnit", "mypack"}));
}

TEST(DCPReader, EntryRoutinesReturnTheirLengths) {
  std::vector<uint8_t> e;
  test::PutU32(e, 0x11);
  test::PutU32(e, 0);
  test::PutU32(e, 0x22);
  test::PutU32(e, 0x33);
  test::PutU32(e, 0);
  for (char ch : std::string("Forms")) e.push_back(uint8_t(ch));
  e.push_back(0);
  TDCPStream s = TDCPStream::FromBytes(e);
  TDCUEntry entry;
  std::string name;
  EXPECT_EQ(ReadDCUEntry(s, entry, name), 26u);
  EXPECT_EQ(name, "Forms");
  EXPECT_EQ(entry.DCUOffset, 0x11u);
  EXPECT_EQ(entry.CodeOffset, 0x22u);
  EXPECT_EQ(entry.DataOffset, 0x33u);

  // A counted name stops at a zero byte; the marker still sits after N bytes.
  std::vector<uint8_t> r = {5, 'a', 'b', 0, 'x', 'y'};
  test::PutU32(r, 0x12345678);
  TDCPStream rs = TDCPStream::FromBytes(r);
  uint32_t len = 0, marker = 0;
  ReadResourceEntry(rs, len, marker, name);
  EXPECT_EQ(name, "ab");
  EXPECT_EQ(marker, 0x12345678u);
  EXPECT_EQ(len, 12u);
}

// Every prefix of a valid file that cuts off data the reader needs raises
// the damaged-file error and hands nothing back; only the two bytes after
// the end marker, which are never read, may be missing.
TEST(DCPReader, EveryTruncationIsReportedAsDamaged) {
  auto bytes = ThreeUnitPackage().Build();
  const std::string message =
      "File C:\\pkg\\test.dcp is damaged or is not a compiled package file.";
  for (size_t len = 0; len < bytes.size() - 2; ++len) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + len);
    TDCPStream s = TDCPStream::FromBytes(cut, "C:\\pkg\\test.dcp");
    TDCPHeader h;
    TDCUInfoList units;
    std::vector<std::string> res, req;
    try {
      ReadDCPContents(s, "mypack", h, units, res, req);
      ADD_FAILURE() << "no error at length " << len;
    } catch (const EDCPDamaged& e) {
      EXPECT_EQ(e.what(), message) << len;
    }
    EXPECT_TRUE(units.empty() && res.empty() && req.empty()) << len;

    TDCPStream s2 = TDCPStream::FromBytes(cut, "C:\\pkg\\test.dcp");
    std::vector<std::string> con;
    EXPECT_THROW(ReadDCPForDPK(s2, "mypack", h, con, res, req), EDCPDamaged) << len;
    EXPECT_TRUE(con.empty() && res.empty() && req.empty()) << len;
  }
  for (size_t len = bytes.size() - 2; len <= bytes.size(); ++len) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + len);
    Contents c = Read(cut, "mypack");
    EXPECT_EQ(c.units.size(), 3u);
    EXPECT_EQ(c.resources.size(), 2u);
  }
}

TEST(DCPReader, OffsetsBeyondTheFileAreReportedAsDamaged) {
  DcpBuilder b = ThreeUnitPackage();
  b.unitTableOffsetOverride = 0x7FFFFFF0;  // requires names run to the end of the file
  EXPECT_THROW(Read(b.Build(), "mypack"), EDCPDamaged);

  b = ThreeUnitPackage();
  b.unitTableSizeOverride = 0xFFFFFFFF;  // table claims more than the file holds
  EXPECT_THROW(Read(b.Build(), "mypack"), EDCPDamaged);

  b = ThreeUnitPackage();
  b.units.back().image = {1, 2, 3};  // the package unit's block is cut short
  EXPECT_THROW(Read(b.Build(), "mypack"), EDCPDamaged);

  std::string text = "This is a plain text file and not a compiled package at all.\r\n";
  EXPECT_THROW(Read(std::vector<uint8_t>(text.begin(), text.end()), "x"), EDCPDamaged);
  EXPECT_THROW(Read({}, "x"), EDCPDamaged);
}

// Random damage never crashes or hangs: the reader either reads the file or
// reports it as damaged.
TEST(DCPReader, RandomDamageIsReadOrReported) {
  const auto good = ThreeUnitPackage().Build();
  std::mt19937 rng(1234);
  for (int round = 0; round < 3000; ++round) {
    auto bytes = good;
    int flips = 1 + int(rng() % 4);
    for (int i = 0; i < flips; ++i) bytes[rng() % bytes.size()] = uint8_t(rng());
    if (round % 3 == 0) bytes.resize(rng() % bytes.size());
    try {
      Read(bytes, "mypack");
    } catch (const EDCPDamaged&) {
    }
  }
}

TEST(DCPReader, FileStreams) {
  test::TempPrefix prefix;
  auto bytes = ThreeUnitPackage().Build();
  prefix.WriteFile("C:\\Pkg\\MyPack.dcp", bytes);
  TDCPHeader h;
  std::vector<std::string> contains, resources, req;
  // Windows names are found ignoring case; the base name of the file names
  // the package's own unit.
  ReadDCPForDPK("c:\\pkg\\mypack.DCP", h, contains, resources, req);
  EXPECT_EQ(contains, (std::vector<std::string>{"SysInit", "MyUnit"}));

  try {
    ReadDCPForDPK("C:\\Pkg\\missing.dcp", h, contains, resources, req);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_STREQ(e.what(), "Cannot open file C:\\Pkg\\missing.dcp");
  }
  EXPECT_THROW(TDCPStream::OpenFile("C:\\Pkg"), EFOpenError);  // a folder

  bytes.resize(bytes.size() / 2);
  prefix.WriteFile("C:\\Pkg\\Cut.dcp", bytes);
  try {
    ReadDCPForDPK("C:\\Pkg\\Cut.dcp", h, contains, resources, req);
    FAIL();
  } catch (const EDCPDamaged& e) {
    EXPECT_STREQ(e.what(), "File C:\\Pkg\\Cut.dcp is damaged or is not a compiled package file.");
  }
}

TEST(DCPReader, AnsiSameTextFoldsLatin1Letters) {
  EXPECT_TRUE(AnsiSameText("\u00C4gypten", "\u00E4GYPTEN"));  // Ä / ä
  EXPECT_TRUE(AnsiSameText("\u0160", "\u0161"));              // Š / š
  EXPECT_TRUE(AnsiSameText("\u0416", "\u0436"));              // Ж / ж
  EXPECT_FALSE(AnsiSameText("\u00D7", "\u00F7"));             // × and ÷ are not letters
  EXPECT_FALSE(AnsiSameText("abc", "abcd"));
}

}  // namespace
}  // namespace kx
