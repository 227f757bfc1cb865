// The system code page at the edges (bytes in binaries and written files),
// the lossless UTF-8 / UTF-16 pair, and the string helpers with their
// Windows/Delphi meaning on UTF-8 text.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/strutil.h"
#include "support/nls_builder.h"
#include "support/test_system.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

test::NlsSpec Spec(uint16_t page) { return test::ChartSpec(page); }
CodePage Page(uint16_t page) { return test::ChartPage(page); }

// Wine's copy of Windows' own table, where Wine is installed.
std::optional<CodePage> WineTable(uint16_t page) {
  std::ifstream in("/usr/share/wine/nls/c_" + std::to_string(page) + ".nls", std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return CodePage::FromNls(bytes);
}

struct NameCase {
  uint16_t page;
  const char* utf8;   // the name as the core holds it
  const char* bytes;  // the name in the code page
  const char* lost;   // characters written as '?'
};

// Names and their bytes from the code page charts: single-byte pages, a
// double-byte page whose second bytes are '\' (95 5C) and 'A' (83 41), and
// characters a page cannot hold.
const NameCase kNames[] = {
    {1252, "Biblioth\u00E8que \u20AC\u0153\u00FF", "Biblioth\xE8que \x80\x9C\xFF", ""},
    {1252, "C:\\\u5DE5\u5177\\x.dpl", "C:\\??\\x.dpl", "\u5DE5\u5177"},
    {1252, "\u0100", "?", "\u0100"},  // no best fit: not 'A'
    {1251, "C:\\\u041A\u043E\u043C\u043F\u043E\u043D\u0435\u043D\u0442\u044B\\",
     "C:\\\xCA\xEE\xEC\xEF\xEE\xED\xE5\xED\xF2\xFB\\", ""},
    {1251, "\u0401\u0451", "\xA8\xB8", ""},
    {1251, "C:\\\u5DE5\u5177\\x.dpl", "C:\\??\\x.dpl", "\u5DE5\u5177"},
    {1251, "\u00C0\u00C0", "??", "\u00C0"},  // the table's best fit is refused, reported once
    {1251, "a\U0001F600b", "a?b", "\U0001F600"},
    {1250, "\u0141\u00F3d\u017A \u0160", "\xA3\xF3\x64\x9F \x8A", ""},
    {932, "C:\\\u8868\u793A\\", "C:\\\x95\x5C\x8E\xA6\\", ""},
    {932, "\u30A2\u30C2", "\x83\x41\x83\x61", ""},
    {932, "\uFF71", "\xB1", ""},
    {932, "\u0E01", "?", "\u0E01"},
    {936, "\u4E2D\u6587", "\xD6\xD0\xCE\xC4", ""},
};

TEST(CodePage, NamesConvertBothWaysAsTheChartsGiveThem) {
  for (const NameCase& c : kNames) {
    SCOPED_TRACE(std::to_string(c.page) + " " + c.utf8);
    std::vector<CodePage> pages{Page(c.page)};
    if (auto wine = WineTable(c.page)) pages.push_back(*wine);
    for (const CodePage& page : pages) {
      EXPECT_EQ(page.Number(), c.page);
      std::string lost;
      EXPECT_EQ(page.FromUtf8(c.utf8, &lost), c.bytes);
      EXPECT_EQ(lost, c.lost);
      EXPECT_EQ(page.CanEncode(c.utf8), *c.lost == 0);
      if (*c.lost == 0) {
        EXPECT_EQ(page.ToUtf8(c.bytes), c.utf8);
      }
    }
  }
}

TEST(CodePage, DoubleByteTextKeepsItsAsciiLookalikesInsideCharacters) {
  // In Shift-JIS the second byte of 表 is '\' and that of ア is 'A': byte
  // rules would split the path at it or fold ア to ヂ (83 61). Decoded to
  // UTF-8, no byte of a character is ASCII.
  const CodePage sjis = Page(932);
  const std::string folder = sjis.ToUtf8("C:\\\x95\x5C\\DemoComp.dpl");
  EXPECT_EQ(ExtractFilePath(folder), "C:\\\u8868\\");
  EXPECT_EQ(ExtractFileName(folder), "DemoComp.dpl");
  EXPECT_FALSE(SameFileName(sjis.ToUtf8("C:\\\x83\x41\\x.dpl"), sjis.ToUtf8("C:\\\x83\x61\\x.dpl")));
  EXPECT_FALSE(SameText(sjis.ToUtf8("\x83\x41"), sjis.ToUtf8("\x83\x61")));
  // A lead byte without its second byte, or with one the page does not
  // pair with it, reads as the page's default character.
  EXPECT_EQ(sjis.ToUtf8("a\x83"), "a\u30FB");
  EXPECT_EQ(sjis.ToUtf8("\x83\x20z"), "\u30FBz");
  EXPECT_TRUE(sjis.DoubleByte());
  EXPECT_FALSE(Page(1251).DoubleByte());
}

TEST(CodePage, Windows1252IsBuiltInWithTheC1Range) {
  const CodePage& cp = CodePage::Windows1252();
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(cp.FromUtf8(cp.ToUtf8(all)), all);
  EXPECT_EQ(cp.ToUtf8("\x80\x8A\x9F\x99\x85"), "\u20AC\u0160\u0178\u2122\u2026");
  // Undefined bytes stay as the C1 control of the same value; the C1
  // controls the table gives to other characters have no byte.
  EXPECT_EQ(cp.ToUtf8("\x81\x8D\x8F\x90\x9D"), "\u0081\u008D\u008F\u0090\u009D");
  EXPECT_EQ(cp.FromUtf8("\u0080\u0082"), "??");
}

TEST(CodePage, DamagedTablesAreRefused) {
  const std::vector<uint8_t> dbcs = test::BuildNls(Spec(932));
  const std::vector<uint8_t> sbcs = test::BuildNls(Spec(1251));
  ASSERT_TRUE(CodePage::FromNls(dbcs));
  ASSERT_TRUE(CodePage::FromNls(sbcs));
  const auto cut = [](std::vector<uint8_t> b, size_t size) {
    b.resize(size);
    return b;
  };
  const auto word = [](std::vector<uint8_t> b, size_t index, uint16_t value) {
    b[2 * index] = static_cast<uint8_t>(value);
    b[2 * index + 1] = static_cast<uint8_t>(value >> 8);
    return b;
  };
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
  } kDamage[] = {
      {"empty", {}},
      {"cut in the header", cut(dbcs, 20)},
      {"cut in the encoding table", cut(dbcs, dbcs.size() - 2)},
      {"cut in a lead byte's table", cut(dbcs, 2000)},
      {"header shorter than its fields", word(dbcs, 0, 4)},
      {"character size 3", word(sbcs, 2, 3)},
      {"double-byte size without lead bytes", word(sbcs, 2, 2)},
      {"encoding table beyond the end", word(sbcs, 13, 0xFFFF)},
  };
  for (const auto& d : kDamage) EXPECT_FALSE(CodePage::FromNls(d.bytes)) << d.what;
}

TEST(CodePage, MalformedUtf8NeverSwallowsFollowingText) {
  const CodePage& cp = CodePage::Windows1252();
  EXPECT_EQ(cp.FromUtf8("a\xC3"), "a?");            // cut short at the end
  EXPECT_EQ(cp.FromUtf8("\xC3(x"), "?(x");          // bad continuation
  EXPECT_EQ(cp.FromUtf8("\xC0\xAF"), "??");         // overlong form
  EXPECT_EQ(cp.FromUtf8("\xED\xA0\x80z"), "???z");  // encoded surrogate
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));
  EXPECT_TRUE(IsValidUtf8("C:\\\u5F00\U0001F600"));
  // The lossless pair: every character kept, a malformed lead byte U+FFFD,
  // a lone surrogate U+FFFD.
  const std::string text = "C:\\\u5F00\u53D1\\\u0416 \U0001F600.dpl";
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
  EXPECT_EQ(Utf8ToUtf16("a\xC3(\xF0\x9F\x98\x80"), u"a\uFFFD(\U0001F600");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', char16_t(0xD800), u'b'}), "a\uFFFDb");
}

// The prefix's code page: ACP in system.reg, the table in the native system
// folder.
TEST(CodePage, ThePrefixNamesItsCodePage) {
  struct Case {
    const char* what;
    const char* acp;         // nullptr: no value
    const char* tableAt;     // folder under drive_c holding c_<ACP>.nls; nullptr: none
    int page;
    bool warned;
  };
  const Case kCases[] = {
      {"no ACP", nullptr, nullptr, 1252, false},
      {"1252 needs no table", "1252", nullptr, 1252, false},
      {"1251 with its table", "1251", "windows/system32", 1251, false},
      {"932 with its table", "932", "windows/system32", 932, false},
      {"1251 without a table", "1251", nullptr, 1252, true},
      {"table in the 32-bit view only", "1251", "windows/syswow64", 1252, true},
      {"not a number", "ru", nullptr, 1252, true},
      {"UTF-8", "65001", nullptr, 65001, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    test::TempPrefix prefix(true);
    if (c.acp) {
      std::ofstream(prefix.Root() / "system.reg", std::ios::app)
          << "\n[System\\\\CurrentControlSet\\\\Control\\\\Nls\\\\Codepage] 1700000000\n"
          << "#time=1d9a1b2c3d4e5f6\n\"ACP\"=\"" << c.acp << "\"\n";
    }
    if (c.tableAt) {
      const int page = std::stoi(c.acp);
      const std::vector<uint8_t> nls = test::BuildNls(Spec(static_cast<uint16_t>(page)));
      const fs::path folder = prefix.Root() / "drive_c" / c.tableAt;
      fs::create_directories(folder);
      std::ofstream(folder / ("c_" + std::string(c.acp) + ".nls"), std::ios::binary)
          .write(reinterpret_cast<const char*>(nls.data()), static_cast<std::streamsize>(nls.size()));
    }
    std::string warning;
    const CodePage page = LoadPrefixCodePage(prefix.Root(), warning);
    EXPECT_EQ(page.Number(), c.page);
    EXPECT_EQ(!warning.empty(), c.warned) << warning;
    // The system made over the prefix uses it for the edges.
    ScopedSystem sys(WinSystem::ForPrefix(prefix.Root()));
    EXPECT_EQ(SystemCodePage().Number(), c.page);
    EXPECT_EQ(Sys().CodePageWarning(), warning);
  }
  std::string warning;
  EXPECT_EQ(LoadPrefixCodePage(std::nullopt, warning).Number(), 1252);
  EXPECT_EQ(warning, "");
}

// Written files are in the system code page; what it cannot hold is written
// as '?' and reported once per file, naming the characters.
TEST(CodePage, WrittenFilesUseTheSystemCodePageAndReportLosses) {
  test::TempPrefix prefix;
  const struct {
    uint16_t page;
    const char* text;
    const char* bytes;
    const char* report;  // on stderr; "" when nothing was lost
  } kFiles[] = {
      {1252, "{$DESCRIPTION 'f\u00FCr'}\r\n", "{$DESCRIPTION 'f\xFCr'}\r\n", ""},
      {1251, "\u041A\u043E \u5DE5\u5177 \u5DE5", "\xCA\xEE ?? ?",
       "C:\\out\\x.dpk: \u5DE5\u5177 cannot be written in code page 1251; written as \"?\".\n"},
      {932, "\u8868\u793A \u00E9", "\x95\x5C\x8E\xA6 ?",
       "C:\\out\\x.dpk: \u00E9 cannot be written in code page 932; written as \"?\".\n"},
  };
  prefix.WriteText("C:\\out\\x.dpk", "");
  for (const auto& f : kFiles) {
    SCOPED_TRACE(f.text);
    Sys().SetAnsiCodePage(Page(f.page));
    EXPECT_EQ(AnsiToUtf8(f.bytes).find('?') == std::string::npos, *f.report == 0);
    testing::internal::CaptureStderr();
    WriteAnsiTextFile("C:\\out\\x.dpk", f.text);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), f.report);
    EXPECT_EQ(test::ReadHostText(prefix.Host("C:\\out\\x.dpk")), f.bytes);
  }
}

TEST(StrUtil, CaseFoldingTouchesAsciiLettersOnly) {
  EXPECT_EQ(AsciiUpper("vcl30.dpl \xE9"), "VCL30.DPL \xE9");
  EXPECT_EQ(AsciiLower("VCL30.DPL \xC9"), "vcl30.dpl \xC9");
  EXPECT_TRUE(SameText("Vcl30.DPL", "vcl30.dpl"));
  EXPECT_FALSE(SameText("caf\xE9", "CAF\xC9"));
  EXPECT_FALSE(SameText("abc", "abcd"));
}

TEST(StrUtil, FileNamesFoldEveryLetter) {
  // As the Windows file system compares names: letters of every script fold
  // to their capitals; signs and caseless characters stay apart.
  const struct {
    const char* a;
    const char* b;
    bool same;
  } kNames[] = {
      {"caf\u00E9\u0161\u0153\u00FF.dpl", "CAF\u00C9\u0160\u0152\u0178.DPL", true},
      {"\u00F7", "\u00D7", false},  // division and multiplication signs
      {"\u043A\u043E\u043C\u043F\u043E\u043D\u0435\u043D\u0442\u044B \u0451",
       "\u041A\u041E\u041C\u041F\u041E\u041D\u0415\u041D\u0422\u042B \u0401", true},
      {"\u0142\u00F3d\u017A", "\u0141\u00D3D\u0179", true},
      {"\u03B1\u03C2\u03AC", "\u0391\u03A3\u0386", true},
      {"\u01B0\u1EA1", "\u01AF\u1EA0", true},     // Vietnamese
      {"\uFF41", "\uFF21", true},                  // fullwidth a
      {"\u8868\u793A", "\u8868\u793A", true},
      {"\u30A2", "\u30C2", false},                 // ア and ヂ: no case
      {"\u0131", "I", false},                       // dotless i stays
      {"a\xFF" "b", "A\xFF" "B", true},            // a malformed byte compares as itself
      {"abc", "abcd", false},
  };
  for (const auto& n : kNames) {
    EXPECT_EQ(SameFileName(n.a, n.b), n.same) << n.a << " / " << n.b;
    EXPECT_EQ(FileNameFold(n.a) == FileNameFold(n.b), n.same) << n.a << " / " << n.b;
  }
}

TEST(StrUtil, CompareTextOrdersAsUpperCaseBytes) {
  EXPECT_EQ(CompareText("abc", "ABC"), 0);
  EXPECT_LT(CompareText("abc", "abd"), 0);
  EXPECT_LT(CompareText("ab", "abc"), 0);
  EXPECT_GT(CompareText("b", "A"), 0);
  // Letters compare upper-cased: '_' (0x5F) comes after every letter.
  EXPECT_GT(CompareText("_", "z"), 0);
  EXPECT_LT(CompareText("a", "\xE9"), 0);  // bytes compare unsigned
  EXPECT_EQ(FindText("C:\\Windows\\System", "WINDOWS"), 3u);
  EXPECT_EQ(FindText("abc", "x"), std::string::npos);
  EXPECT_EQ(FindText("abc", ""), 0u);
}

TEST(StrUtil, FileNamePieces) {
  EXPECT_EQ(ExtractFilePath("C:\\dir\\VCL30.DPL"), "C:\\dir\\");
  EXPECT_EQ(ExtractFileName("C:\\dir\\VCL30.DPL"), "VCL30.DPL");
  EXPECT_EQ(ExtractFilePath("C:VCL30.DPL"), "C:");
  EXPECT_EQ(ExtractFileName("C:VCL30.DPL"), "VCL30.DPL");
  EXPECT_EQ(ExtractFilePath("name"), "");
  EXPECT_EQ(ExtractFileName("C:\\dir\\"), "");
  EXPECT_EQ(ExtractFileExt("C:\\dir\\a.b.dpl"), ".dpl");
  EXPECT_EQ(ExtractFileExt("C:\\dir.x\\name"), "");  // a dot in a folder is no extension
  EXPECT_EQ(ExtractFileExt("name."), ".");
  EXPECT_EQ(ExtractFileExt("C:.x"), ".x");
  EXPECT_EQ(ChangeFileExt("C:\\dir\\pack.dpl", ".dcp"), "C:\\dir\\pack.dcp");
  EXPECT_EQ(ChangeFileExt("C:\\dir.x\\pack", ".dpk"), "C:\\dir.x\\pack.dpk");
  EXPECT_EQ(ChangeFileExt("pack.dpl", ""), "pack");
  EXPECT_EQ(IncludeTrailingBackslash("C:\\dir"), "C:\\dir\\");
  EXPECT_EQ(IncludeTrailingBackslash("C:\\dir\\"), "C:\\dir\\");
  EXPECT_EQ(IncludeTrailingBackslash("C:"), "C:");
  EXPECT_EQ(IncludeTrailingBackslash(""), "");
}

TEST(StrUtil, SplitKeepsEmptyItems) {
  EXPECT_EQ(SplitString("a;;b;", ';'), (std::vector<std::string>{"a", "", "b", ""}));
  EXPECT_EQ(SplitString("", ';'), (std::vector<std::string>{""}));
  EXPECT_EQ(SplitString("abc", ';'), (std::vector<std::string>{"abc"}));
}

}  // namespace
}  // namespace kx
