// The hive file model: every value form wineserver writes, line-preserving
// changes, key look-up (implied keys, case, links) and damaged input.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry_hive.h"

namespace kx {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    out.push_back(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
  return out;
}

std::vector<uint8_t> Utf16Bytes(std::u16string_view s, bool terminator = true) {
  std::vector<uint8_t> d;
  for (char16_t c : s) {
    d.push_back(static_cast<uint8_t>(c));
    d.push_back(static_cast<uint8_t>(c >> 8));
  }
  if (terminator) d.insert(d.end(), {0, 0});
  return d;
}

const char kHive[] =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n"
    "\n"
    "#arch=win32\n"
    "\n"
    "[Software\\\\Borland\\\\Delphi\\\\3.0\\\\Known Packages] 1796758401\n"
    "#time=1d2f5a1c5d6e7f8\n"
    "\"C:\\\\D3\\\\dclstd30.dpl\"=\"Standard\"\n"
    "; a comment kept as it is\n"
    "\"C:\\\\D3\\\\dclsmp30.dpl\"=\"Samples\"\n"
    "#class=\"something wine keeps\"\n"
    "\n"
    "[Software\\\\Borland\\\\Delphi\\\\3.0\\\\Library] 1796758398\n"
    "#time=1d2f5a1c3b4e5f6\n"
    "\"SearchPath\"=\"$(DELPHI)\\\\Lib\"\n"
    "\"Bin\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\n"
    "  18,19\n"
    "an unrecognised line\n"
    "\n"
    "[Software\\\\Wine] 1796758390\n"
    "#time=1d2f5a1b9a8b7c6\n"
    "\"Version\"=\"win95\"\n";

const RegKeyPath kKnown = {u"Software", u"Borland", u"Delphi", u"3.0", u"Known Packages"};
const RegKeyPath kLibrary = {u"Software", u"Borland", u"Delphi", u"3.0", u"Library"};

TEST(RegistryValueForms, EveryFormWineWritesReadsBackExactly) {
  struct Case {
    std::string line;
    RegValue expected;
  };
  const std::vector<Case> cases = {
      {"\"name\"=\"text\"", RegValue::String(u"name", u"text")},
      {"@=\"default\"", RegValue::String(u"", u"default")},
      {"\"q\\\"uote\\\\\"=\"a\\\\b\\\"c\\nd\"", RegValue::String(u"q\"uote\\", u"a\\b\"c\nd")},
      {"\"ctl\"=\"\\a\\b\\t\\v\\f\\r\\e\\1x\\0012\"",
       RegValue::String(u"ctl", std::u16string{7, 8, 9, 11, 12, 13, 27, 1, u'x', 1, u'2'})},
      {"\"latin\"=\"f\\xfcr \\x20ac\"", RegValue::String(u"latin", u"f\u00fcr \u20ac")},
      {"\"hexnext\"=\"\\x00e9a\"", RegValue::String(u"hexnext", u"\u00e9a")},
      {"\"pair\"=\"\\xd83d\\xde00\"", RegValue::String(u"pair", u"\xd83d\xde00")},
      {"\"\\x5148\"=\"name in UTF-16\"", RegValue::String(u"\u5148", u"name in UTF-16")},
      {"\"empty\"=\"\"", RegValue::String(u"empty", u"")},
      {"\"exp\"=str(2):\"%SystemRoot%\\\\system32\"",
       RegValue::String(u"exp", u"%SystemRoot%\\system32", REG_EXPAND_SZ)},
      {"\"multi\"=str(7):\"a\\0b\\0\"",
       RegValue{u"multi", REG_MULTI_SZ, Utf16Bytes(std::u16string(u"a\0b\0", 4))}},
      {"\"dw\"=dword:0000002a", RegValue::Dword(u"dw", 42)},
      {"\"dwmax\"=dword:ffffffff", RegValue::Dword(u"dwmax", 0xffffffffu)},
      {"\"bin\"=hex:00,ff", RegValue{u"bin", REG_BINARY, {0x00, 0xff}}},
      {"\"nobytes\"=hex:", RegValue{u"nobytes", REG_BINARY, {}}},
      {"\"q64\"=hex(b):01,02,03,04,05,06,07,08",
       RegValue{u"q64", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}}},
      {"\"unterminated\"=hex(1):61,00", RegValue{u"unterminated", REG_SZ, {0x61, 0x00}}},
      {"\"link\"=hex(6):5c,00", RegValue{u"link", REG_LINK, {0x5c, 0x00}}},
      {"\"big\"=hex(80000001):ab", RegValue{u"big", 0x80000001u, {0xab}}},
      {"\"long\"=hex:00,01,\\\n  02,03", RegValue{u"long", REG_BINARY, {0, 1, 2, 3}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    auto parsed = RegistryHive::ParseValue(c.line);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(*parsed, c.expected);
    // Written back the way wineserver writes it, and read again.
    const std::string written = RegistryHive::FormatValue(*parsed);
    EXPECT_EQ(RegistryHive::ParseValue(written), parsed);
  }
  // The canonical forms come out byte for byte.
  for (const char* line :
       {"\"name\"=\"text\"", "@=\"default\"", "\"dw\"=dword:0000002a",
        "\"exp\"=str(2):\"%SystemRoot%\\\\system32\"", "\"multi\"=str(7):\"a\\0b\\0\"",
        "\"bin\"=hex:00,ff", "\"latin\"=\"f\\xfcr \\x20ac\"", "\"hexnext\"=\"\\x00e9a\"",
        "\"q64\"=hex(b):01,02,03,04,05,06,07,08"}) {
    EXPECT_EQ(RegistryHive::FormatValue(*RegistryHive::ParseValue(line)), line);
  }
}

TEST(RegistryValueForms, HexWrapsAndContinuesLikeWine) {
  std::vector<uint8_t> data(60, 0xab);
  const std::string text = RegistryHive::FormatValue(RegValue{u"Bin", REG_BINARY, data});
  const auto lines = Lines(text);
  ASSERT_GT(lines.size(), 1u);
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    EXPECT_EQ(lines[i].back(), '\\');
    EXPECT_LE(lines[i].size(), 80u);
  }
  EXPECT_EQ(lines[1].substr(0, 2), "  ");
  EXPECT_EQ(RegistryHive::ParseValue(text)->data, data);
  // Spaces and CR before the line break are tolerated.
  EXPECT_EQ(RegistryHive::ParseValue("\"b\"=hex:01,02, \\ \r\n   03")->data,
            (std::vector<uint8_t>{1, 2, 3}));
}

TEST(RegistryValueForms, RawUtf8AndStrayBytesAreRead) {
  EXPECT_EQ(RegistryHive::ParseValue("\"u\"=\"f\xc3\xbcr \xf0\x9f\x98\x80\""),
            RegValue::String(u"u", u"f\u00fcr \xd83d\xde00"));
  // A byte that does not start valid UTF-8 is taken as Latin-1.
  EXPECT_EQ(RegistryHive::ParseValue("\"u\"=\"\xfc\""), RegValue::String(u"u", u"\u00fc"));
}

TEST(RegistryValueForms, MalformedValuesAreNotValues) {
  for (const char* line : {"\"open=\"x\"", "\"a\"", "\"a\"=", "\"a\"=\"unterminated",
                           "\"a\"=dword:", "\"a\"=dword:123456789", "\"a\"=dword:xyz",
                           "\"a\"=hex:1,2,zz", "\"a\"=hex:123", "\"a\"=hex(:00", "\"a\"=hex(1)00",
                           "\"a\"=str(3):\"x\"", "\"a\"=hex:00,\\", "@", "x=\"y\""}) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(RegistryHive::ParseValue(line).has_value());
  }
}

TEST(RegistryHiveFile, UnchangedFileSerializesByteForByte) {
  EXPECT_EQ(RegistryHive::Parse(kHive).Serialize(), kHive);
  const std::string crlf = "WINE REGISTRY Version 2\r\n\r\n[A] 1\r\n\"x\"=\"1\"\r\n";
  EXPECT_EQ(RegistryHive::Parse(crlf).Serialize(), crlf);
  const std::string noFinalEol = "WINE REGISTRY Version 2\n[A] 1\n\"x\"=\"1\"";
  EXPECT_EQ(RegistryHive::Parse(noFinalEol).Serialize(), noFinalEol);
}

TEST(RegistryHiveFile, ValuesEnumerateInFileOrder) {
  RegistryHive h = RegistryHive::Parse(kHive);
  auto values = h.Values(kKnown);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0]->name, u"C:\\D3\\dclstd30.dpl");
  EXPECT_EQ(values[1]->name, u"C:\\D3\\dclsmp30.dpl");
  auto lib = h.Values(kLibrary);
  ASSERT_EQ(lib.size(), 2u);
  EXPECT_EQ(lib[1]->data.size(), 26u);  // continued over two lines
}

TEST(RegistryHiveFile, AChangeRewritesOnlyItsOwnLines) {
  const std::vector<std::string> before = Lines(kHive);
  RegistryHive h = RegistryHive::Parse(kHive);
  ASSERT_TRUE(h.SetValue(kLibrary, RegValue::String(u"SearchPath", u"C:\\New")));
  const std::vector<std::string> after = Lines(h.Serialize());
  ASSERT_EQ(after.size(), before.size());
  std::set<std::string> changed;
  for (size_t i = 0; i < before.size(); ++i)
    if (before[i] != after[i]) changed.insert(before[i].substr(0, 12));
  // The value itself, and the key's own last-write time stamps.
  EXPECT_EQ(changed, (std::set<std::string>{"\"SearchPath\"", "[Software\\\\B", "#time=1d2f5a"}));
  EXPECT_EQ(after[14], "\"SearchPath\"=\"C:\\\\New\"");
  EXPECT_EQ(after[12].rfind("[Software\\\\Borland\\\\Delphi\\\\3.0\\\\Library] ", 0), 0u);
  EXPECT_NE(after[13], before[13]);
  // Parsed, every other key and value is as it was.
  RegistryHive reread = RegistryHive::Parse(h.Serialize());
  RegistryHive original = RegistryHive::Parse(kHive);
  for (const RegKeyPath& key : {kKnown, RegKeyPath{u"Software", u"Wine"}}) {
    auto a = reread.Values(key), b = original.Values(key);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(*a[i], *b[i]);
  }
  EXPECT_EQ(reread.Values(kLibrary)[1]->data, original.Values(kLibrary)[1]->data);
}

TEST(RegistryHiveFile, NewValuesGoAfterTheKeysLastLine) {
  RegistryHive h = RegistryHive::Parse(kHive);
  ASSERT_TRUE(h.SetValue(kKnown, RegValue::String(u"C:\\D3\\new.dpl", u"New")));
  auto values = h.Values(kKnown);
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[2]->name, u"C:\\D3\\new.dpl");
  const auto lines = Lines(h.Serialize());
  EXPECT_EQ(lines[10], "#class=\"something wine keeps\"");
  EXPECT_EQ(lines[11], "\"C:\\\\D3\\\\new.dpl\"=\"New\"");
  EXPECT_EQ(lines[12], "");
  // Overwriting keeps the position.
  ASSERT_TRUE(h.SetValue(kKnown, RegValue::String(u"c:\\d3\\DCLSTD30.DPL", u"Changed")));
  values = h.Values(kKnown);
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0]->name, u"c:\\d3\\DCLSTD30.DPL");
  EXPECT_EQ(values[0]->data, Utf16Bytes(u"Changed"));
}

TEST(RegistryHiveFile, DeleteRemovesTheValueAndNothingElse) {
  RegistryHive h = RegistryHive::Parse(kHive);
  EXPECT_TRUE(h.DeleteValue(kLibrary, u"BIN"));
  EXPECT_FALSE(h.DeleteValue(kLibrary, u"Bin"));
  EXPECT_FALSE(h.DeleteValue({u"No", u"Such"}, u"Bin"));
  const std::string text = h.Serialize();
  EXPECT_EQ(text.find("18,19"), std::string::npos);
  EXPECT_NE(text.find("an unrecognised line"), std::string::npos);
  EXPECT_EQ(h.Values(kLibrary).size(), 1u);
}

TEST(RegistryHiveFile, KeysAreFoundIgnoringCaseAndThroughDeeperKeys) {
  RegistryHive h = RegistryHive::Parse(kHive);
  auto k = h.FindKey({u"SOFTWARE", u"borland", u"DELPHI", u"3.0"});
  ASSERT_TRUE(k.has_value());
  EXPECT_EQ(*k, (RegKeyPath{u"Software", u"Borland", u"Delphi", u"3.0"}));
  EXPECT_TRUE(h.Values(*k).empty());
  EXPECT_FALSE(h.FindKey({u"Software", u"Borland", u"Delphi", u"2.0"}).has_value());
  EXPECT_FALSE(h.FindKey({u"Software", u"Borl"}).has_value());
  EXPECT_TRUE(h.FindKey({}).has_value());
  // A value can be written to a key that exists only through a deeper one:
  // it gets a section of its own at the end.
  ASSERT_TRUE(h.SetValue(*k, RegValue::String(u"RootDir", u"C:\\D3")));
  const auto lines = Lines(h.Serialize());
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[lines.size() - 3].rfind("[Software\\\\Borland\\\\Delphi\\\\3.0] ", 0), 0u);
  EXPECT_EQ(lines.back(), "\"RootDir\"=\"C:\\\\D3\"");
}

TEST(RegistryHiveFile, CreateKeyAddsOnlyTheMissingLeaf) {
  RegistryHive h = RegistryHive::Parse(kHive);
  const std::string before = h.Serialize();
  EXPECT_EQ(h.CreateKey({u"software", u"wine"}), (RegKeyPath{u"Software", u"Wine"}));
  EXPECT_EQ(h.Serialize(), before);
  EXPECT_EQ(h.CreateKey({u"software", u"wine", u"Drivers"}),
            (RegKeyPath{u"Software", u"Wine", u"Drivers"}));
  const std::string after = h.Serialize();
  EXPECT_EQ(after.substr(0, before.size()), before);
  EXPECT_EQ(after.find("[Software\\\\Wine\\\\Drivers] ", before.size()), before.size() + 1);
  EXPECT_NE(after.find("#time=", before.size()), std::string::npos);
}

// A path component holding "\\" names several levels, as a Windows subkey
// string does; such a key is created, found and written like any other.
TEST(RegistryHiveFile, ComponentsWithSeparatorsNameSeveralLevels) {
  RegistryHive h = RegistryHive::Parse(kHive);
  const RegKeyPath created = h.CreateKey({u"Software", u"Wine\\Drivers\\", u"", u"Audio"});
  const RegKeyPath levels = {u"Software", u"Wine", u"Drivers", u"Audio"};
  EXPECT_EQ(created, levels);
  ASSERT_TRUE(h.SetValue({u"software\\wine", u"drivers\\audio"}, RegValue::Dword(u"On", 1)));
  RegistryHive again = RegistryHive::Parse(h.Serialize());
  for (const RegKeyPath& path : {levels, RegKeyPath{u"Software\\Wine\\Drivers\\Audio"}}) {
    auto key = again.FindKey(path);
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(*key, levels);
    ASSERT_NE(again.FindValue(path, u"On"), nullptr);
  }
  EXPECT_NE(h.Serialize().find("[Software\\\\Wine\\\\Drivers\\\\Audio] "), std::string::npos);
}

// Hex data cut short ends in '\' and would swallow a value written after it
// when the file is read again.
TEST(RegistryHiveFile, ValueAfterUnfinishedHexDataReadsBack) {
  const std::string head =
      "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n[Soft] 1\n";
  for (const std::string& tail : {std::string("\"cut\"=hex:00,01,\\"),
                                  std::string("\"cut\"=hex:00,01,\\\n\n[Other] 1\n\"x\"=\"y\"\n"),
                                  std::string("\"cut\"=hex(b):zz,\\\n")}) {
    SCOPED_TRACE(tail);
    RegistryHive h = RegistryHive::Parse(head + tail);
    const RegValue added = RegValue::String(u"after", u"kept");
    ASSERT_TRUE(h.SetValue({u"Soft"}, added));
    RegistryHive again = RegistryHive::Parse(h.Serialize());
    const RegValue* v = again.FindValue({u"Soft"}, u"after");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(*v, added);
    EXPECT_EQ(again.Serialize(), h.Serialize());
  }
}

TEST(RegistryHiveFile, SymbolicLinksAreFollowed) {
  // How a Wine prefix stores HKLM\System\CurrentControlSet.
  std::string target;
  for (char c : std::string("\\Registry\\Machine\\System\\ControlSet001")) {
    char buf[8];
    snprintf(buf, sizeof buf, "%02x,00,", static_cast<unsigned char>(c));
    target += buf;
  }
  target.resize(target.size() - 1);
  const std::string text =
      "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n"
      "[System\\\\ControlSet001\\\\Control\\\\Session Manager\\\\Environment] 1\n"
      "\"PATH\"=str(2):\"%SystemRoot%\\\\system32\"\n\n"
      "[System\\\\CurrentControlSet] 1\n#time=1\n#link\n\"SymbolicLinkValue\"=hex(6):" +
      target + "\n";
  RegistryHive h = RegistryHive::Parse(text);
  const RegKeyPath env = {u"System", u"CurrentControlSet", u"Control", u"Session Manager",
                          u"Environment"};
  auto k = h.FindKey(env);
  ASSERT_TRUE(k.has_value());
  EXPECT_EQ((*k)[1], u"ControlSet001");
  ASSERT_NE(h.FindValue(env, u"path"), nullptr);
  // A link that leaves the hive, or points to itself, opens nothing.
  const std::string loop =
      "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n"
      "[L] 1\n#link\n\"SymbolicLinkValue\"=hex(6):5c,00,52,00,65,00,67,00,69,00,73,00,74,00,72,"
      "00,79,00,5c,00,4d,00,61,00,63,00,68,00,69,00,6e,00,65,00,5c,00,4c,00\n";
  EXPECT_FALSE(RegistryHive::Parse(loop).FindKey({u"L"}).has_value());
}

TEST(RegistryHiveFile, LaterDuplicateWinsAndDeleteRemovesBoth) {
  const std::string text =
      "WINE REGISTRY Version 2\n[K] 1\n\"a\"=\"first\"\n\"b\"=\"b\"\n\"A\"=\"second\"\n";
  RegistryHive h = RegistryHive::Parse(text);
  ASSERT_EQ(h.Values({u"K"}).size(), 2u);
  EXPECT_EQ(h.FindValue({u"K"}, u"a")->data, Utf16Bytes(u"second"));
  EXPECT_TRUE(h.DeleteValue({u"K"}, u"a"));
  RegistryHive reread = RegistryHive::Parse(h.Serialize());
  EXPECT_EQ(reread.FindValue({u"K"}, u"a"), nullptr);
  EXPECT_EQ(reread.Values({u"K"}).size(), 1u);
}

TEST(RegistryHiveFile, KeysSplitOverSectionsAndTrickyLinesReadAsWritten) {
  // A key in two sections, a name with an escaped quote before hex data
  // that continues, and a string ending in a backslash (no continuation).
  const std::string text =
      "WINE REGISTRY Version 2\n"
      "[A\\\\\\\\B] 1\n\"x\"=\"1\"\n\"q\\\"h\"=hex:01,\\\n  02\n\"s\"=\"ends\\\\\"\n"
      "\"after\"=dword:00000007\n"
      "[C] 2\n\"c\"=\"c\"\n"
      "[a\\\\b] 3\n\"y\"=\"2\"\n\"X\"=\"3\"\n";
  RegistryHive h = RegistryHive::Parse(text);
  EXPECT_EQ(h.Serialize(), text);
  const RegKeyPath ab = {u"A", u"B"};
  ASSERT_TRUE(h.FindKey({u"a", u"b"}).has_value());
  EXPECT_EQ(*h.FindKey({u"a", u"b"}), ab);
  std::vector<std::u16string> names;
  for (const RegValue* v : h.Values(ab)) names.push_back(v->name);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"q\"h", u"s", u"after", u"y", u"X"}));
  EXPECT_EQ(h.FindValue(ab, u"q\"h")->data, (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(h.FindValue(ab, u"s")->data, Utf16Bytes(u"ends\\"));
  EXPECT_EQ(h.FindValue(ab, u"x")->data, Utf16Bytes(u"3"));
  // Changes that move lines keep every key's values in reach.
  ASSERT_TRUE(h.SetValue({u"C"}, RegValue::String(u"c2", u"new")));
  ASSERT_TRUE(h.DeleteValue(ab, u"s"));
  ASSERT_TRUE(h.SetValue(ab, RegValue::Dword(u"after", 9)));
  EXPECT_EQ(h.FindValue({u"C"}, u"c")->data, Utf16Bytes(u"c"));
  EXPECT_EQ(h.FindValue({u"C"}, u"c2")->data, Utf16Bytes(u"new"));
  EXPECT_EQ(h.FindValue(ab, u"after")->data, RegValue::Dword(u"", 9).data);
  EXPECT_EQ(h.FindValue(ab, u"s"), nullptr);
  const RegistryHive reread = RegistryHive::Parse(h.Serialize());
  EXPECT_EQ(reread.Values(ab).size(), 4u);
  EXPECT_EQ(reread.FindValue({u"C"}, u"c2")->data, Utf16Bytes(u"new"));
  // A key created in a large hive is found with its values.
  for (int i = 0; i < 300; ++i)
    h.CreateKey({u"Many", u"K" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                              static_cast<char16_t>(u'0' + i / 26)});
  ASSERT_TRUE(h.SetValue({u"many", u"kz9"}, RegValue::String(u"v", u"z")));
  EXPECT_EQ(RegistryHive::Parse(h.Serialize()).FindValue({u"MANY", u"KZ9"}, u"V")->data,
            Utf16Bytes(u"z"));
}

// Keys are looked up lazily: one missing at a look-up and added afterwards is
// found, and readers on several threads sharing one hive (as the parsed hive
// of a file is shared) all get every key's values.
// Headers that begin alike, as in Wine's sorted files: a look-up decides
// each from the bytes it shares with the one before, so near misses
// (a longer level, a key split over two sections, an escape) must still be
// told apart.
TEST(RegistryHiveFile, HeadersThatBeginAlikeAreToldApart) {
  const RegistryHive h = RegistryHive::Parse(
      "WINE REGISTRY Version 2\n"
      "[A\\\\B] 1\n\"v\"=\"1\"\n"
      "[A\\\\B] 1\n\"w\"=\"2\"\n"
      "[A\\\\BC] 1\n\"v\"=\"3\"\n"
      "[A\\\\BC\\\\D] 1\n\"v\"=\"4\"\n"
      "[A\\\\B\\\\E] 1\n\"v\"=\"5\"\n"
      "[A\\\\B\\x00e9] 1\n\"v\"=\"6\"\n"
      "[Ab\\\\X] 1\n\"v\"=\"7\"\n");
  const struct {
    RegKeyPath path;
    size_t values;  // 0: the key does not exist
    const char16_t* first;
  } cases[] = {
      {{u"a", u"b"}, 2, u"1"},        {{u"A", u"BC"}, 1, u"3"},
      {{u"A", u"BC", u"D"}, 1, u"4"}, {{u"A", u"B", u"E"}, 1, u"5"},
      {{u"A", u"B\u00C9"}, 1, u"6"},  {{u"AB", u"X"}, 1, u"7"},
      {{u"A", u"BCD"}, 0, nullptr},   {{u"A", u"B", u"D"}, 0, nullptr},
  };
  for (const auto& c : cases) {
    const auto key = h.FindKey(c.path);
    ASSERT_EQ(key.has_value(), c.values != 0) << int(&c - cases);
    if (!key) continue;
    const auto values = h.Values(*key);
    ASSERT_EQ(values.size(), c.values) << int(&c - cases);
    EXPECT_EQ(values[0]->data, Utf16Bytes(c.first)) << int(&c - cases);
  }
  EXPECT_TRUE(h.FindKey({u"a"}).has_value());  // only through deeper keys
}

TEST(RegistryHiveFile, LazyLookUpsSeeLaterKeysAndServeThreadsAlike) {
  RegistryHive h = RegistryHive::Parse(kHive);
  const RegKeyPath drivers = {u"Software", u"Wine", u"Drivers"};
  EXPECT_FALSE(h.FindKey(drivers).has_value());
  EXPECT_EQ(h.FindValue(drivers, u"Audio"), nullptr);
  ASSERT_TRUE(h.SetValue(h.CreateKey(drivers), RegValue::String(u"Audio", u"alsa")));
  EXPECT_TRUE(h.FindKey({u"SOFTWARE", u"WINE", u"DRIVERS"}).has_value());
  EXPECT_NE(h.FindValue(drivers, u"audio"), nullptr);

  constexpr int kKeys = 2000;
  std::string text = kHive;
  for (int k = 0; k < kKeys; ++k) {
    char line[96];
    std::snprintf(line, sizeof line, "\n[Software\\\\Classes\\\\K%d] 1\n\"v\"=dword:%08x\n", k, k);
    text += line;
  }
  const RegistryHive shared = RegistryHive::Parse(text);
  std::atomic<int> wrong = 0;
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&, t] {
      for (int k = t; k < kKeys; k += 1 + t) {
        std::u16string name = u"k";
        for (char c : std::to_string(k)) name += static_cast<char16_t>(c);
        const RegValue* v = shared.FindValue({u"software", u"classes", name}, u"V");
        if (!v || *v != RegValue::Dword(u"v", static_cast<uint32_t>(k))) ++wrong;
      }
      if (shared.Values(kKnown).size() != 2) ++wrong;
    });
  for (std::thread& r : readers) r.join();
  EXPECT_EQ(wrong, 0);
}

TEST(RegistryHiveFile, DamagedFilesFailCleanlyOrKeepTheirLines) {
  EXPECT_THROW(RegistryHive::Parse(""), ERegistryException);
  EXPECT_THROW(RegistryHive::Parse("REGEDIT4\n[A]\n"), ERegistryException);
  EXPECT_THROW(RegistryHive::Parse("WINE REGISTRY Version 1\n"), ERegistryException);
  // Broken lines stay in the file and carry no value.
  const std::string text =
      "WINE REGISTRY Version 2\n\"before any key\"=\"x\"\n[Broken\n[K] 1\n\"ok\"=\"1\"\n"
      "\"bad\"=dword:zz\n\"cont\"=hex:01,\\\n";
  RegistryHive h = RegistryHive::Parse(text);
  EXPECT_EQ(h.Serialize(), text);
  ASSERT_EQ(h.Values({u"K"}).size(), 1u);
  ASSERT_TRUE(h.SetValue({u"K"}, RegValue::String(u"new", u"v")));
  const std::string written = h.Serialize();
  EXPECT_NE(written.find("\"bad\"=dword:zz\n"), std::string::npos);
  EXPECT_NE(written.find("[Broken\n"), std::string::npos);

  // Random damage to a good file never crashes the parser or the writer.
  std::mt19937 rng(12345);
  const std::string good = kHive;
  for (int round = 0; round < 2000; ++round) {
    std::string damaged = good;
    const int edits = 1 + static_cast<int>(rng() % 6);
    for (int e = 0; e < edits && damaged.size() > 25; ++e) {
      const size_t at = 24 + rng() % (damaged.size() - 24);
      switch (rng() % 3) {
        case 0:
          damaged[at] = static_cast<char>(rng() % 256);
          break;
        case 1:
          damaged.erase(at, 1 + rng() % 8);
          break;
        default:
          damaged.insert(at, 1, "\\\"[]@=,\n"[rng() % 8]);
          break;
      }
    }
    if (damaged.size() > 24) damaged.resize(24 + rng() % (damaged.size() - 23));
    try {
      RegistryHive d = RegistryHive::Parse(damaged);
      EXPECT_EQ(d.Serialize(), damaged);
      d.SetValue(kLibrary, RegValue::String(u"SearchPath", u"x"));
      d.DeleteValue(kKnown, u"C:\\D3\\dclsmp30.dpl");
      RegistryHive::Parse(d.Serialize());
    } catch (const ERegistryException&) {
    }
  }
}

}  // namespace
}  // namespace kx
