// Windows-1252 conversions at the edges, and the string helpers with their
// Windows/Delphi meaning.
#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/strutil.h"

namespace kx {
namespace {

TEST(CodePage, HighHalfRoundTripsThroughUtf8AndUtf16) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
  EXPECT_EQ(Utf16ToCp1252(Cp1252ToUtf16(all)), all);
}

TEST(CodePage, TableEntriesOfTheC1Range) {
  EXPECT_EQ(Cp1252ToUtf16("\x80\x8A\x9F\x99\x85"), u"\u20AC\u0160\u0178\u2122\u2026");
  EXPECT_EQ(Cp1252ToUtf8("\x80"), "\u20AC");
  EXPECT_EQ(Cp1252ToUtf8("caf\xE9"), "caf\u00E9");
  // Undefined bytes stay as the C1 control of the same value.
  EXPECT_EQ(Cp1252ToUtf16("\x81\x8D\x8F\x90\x9D"), u"\u0081\u008D\u008F\u0090\u009D");
  EXPECT_EQ(Utf8ToCp1252("\u20AC \u0153 \u00FF"), "\x80 \x9C \xFF");
}

TEST(CodePage, CharactersWithoutAFormBecomeQuestionMarks) {
  // C1 controls that the table gives to other characters have no byte.
  EXPECT_EQ(Utf16ToCp1252(u"\u0080\u0082"), "??");
  EXPECT_EQ(Utf8ToCp1252("\u4E2D\u0100"), "??");
  // A surrogate pair is one character and gives one '?'.
  EXPECT_EQ(Utf16ToCp1252(u"a\U0001F600b"), "a?b");
  // Lone surrogates, in either order.
  EXPECT_EQ(Utf16ToCp1252(std::u16string{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)}), "a?b?");
  EXPECT_EQ(Utf8ToCp1252("\xF0\x9F\x98\x80"), "?");
}

TEST(CodePage, MalformedUtf8NeverSwallowsFollowingText) {
  EXPECT_EQ(Utf8ToCp1252("a\xC3"), "a?");            // cut short at the end
  EXPECT_EQ(Utf8ToCp1252("\xC3(x"), "?(x");          // bad continuation
  EXPECT_EQ(Utf8ToCp1252("\xC0\xAF"), "??");         // overlong form
  EXPECT_EQ(Utf8ToCp1252("\xED\xA0\x80z"), "???z");  // encoded surrogate
  EXPECT_EQ(Utf8ToCp1252("\xFF"), "?");
  // The lossless pair: every character kept, a malformed lead byte U+FFFD.
  const std::string text = "C:\\\u5F00\u53D1\\\u0416 \U0001F600.dpl";
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
  EXPECT_EQ(Utf8ToUtf16("a\xC3(\xF0\x9F\x98\x80"), u"a\uFFFD(\U0001F600");
}

TEST(StrUtil, CaseFoldingTouchesAsciiLettersOnly) {
  EXPECT_EQ(AsciiUpper("vcl30.dpl \xE9"), "VCL30.DPL \xE9");
  EXPECT_EQ(AsciiLower("VCL30.DPL \xC9"), "vcl30.dpl \xC9");
  EXPECT_TRUE(SameText("Vcl30.DPL", "vcl30.dpl"));
  EXPECT_FALSE(SameText("caf\xE9", "CAF\xC9"));
  EXPECT_FALSE(SameText("abc", "abcd"));
  // The file system also folds the accented letters of the code page.
  EXPECT_TRUE(SameFileName("caf\xE9\x9A", "CAF\xC9\x8A"));
  EXPECT_FALSE(SameFileName("\xF7", "\xD7"));  // division and multiplication signs
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
