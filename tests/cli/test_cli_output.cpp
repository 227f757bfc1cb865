// The CLI's JSON writer lays documents out exactly as nlohmann's dump(2),
// and converts Windows-1252 text to UTF-8 on the way.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/output.h"
#include "platform/codepage.h"

namespace kx::cli {
namespace {

using Json = nlohmann::ordered_json;

TEST(CliOutput, JsonWriterMatchesNlohmannDump) {
  const std::string awkward(
      "quote\" back\\ tab\t nl\n cr\r ctl\x01\x1f del\x7f "
      "euro\u20AC e-acute\u00E9 nbsp\u00A0 \u8868\U0001F600");
  const struct {
    const char* what;
    std::function<void(JsonWriter&)> write;
    Json expected;
  } cases[] = {
      {"empty object", [](JsonWriter& j) { j.BeginObject().EndObject(); }, Json::object()},
      {"empty array member",
       [](JsonWriter& j) { j.BeginObject().Key("a").BeginArray().EndArray().EndObject(); },
       Json{{"a", Json::array()}}},
      {"rows and null",
       [](JsonWriter& j) {
         j.BeginObject().Key("rows").BeginArray();
         for (int i = 0; i < 3; ++i)
           j.BeginObject()
               .Member("Name", "n" + std::to_string(i))
               .Key("Ordinal")
               .Number(i - 1)
               .EndObject();
         j.EndArray().Key("tree").Null().EndObject();
       },
       Json{{"rows", Json::array({Json{{"Name", "n0"}, {"Ordinal", -1}},
                                  Json{{"Name", "n1"}, {"Ordinal", 0}},
                                  Json{{"Name", "n2"}, {"Ordinal", 1}}})},
            {"tree", nullptr}}},
      {"nesting and text",
       [&](JsonWriter& j) {
         j.BeginObject().Member("text", awkward).Key("children").BeginArray();
         j.BeginObject().Key("children").BeginArray().EndArray().EndObject();
         j.String("").Number(4294967295LL).EndArray().EndObject();
       },
       Json{{"text", awkward},
            {"children", Json::array({Json{{"children", Json::array()}}, "", 4294967295LL})}}},
  };
  for (const auto& c : cases) {
    Output out;
    JsonWriter j(out);
    c.write(j);
    EXPECT_EQ(out.Buffer(), c.expected.dump(2)) << c.what;
  }
}

TEST(CliOutput, TextIsUtf8AndMalformedBytesBecomeReplacementCharacters) {
  Output out;
  out.Text("caf\u00E9 \u20AC \xE9").Raw("\t").Num(0).Raw(" ").Num(18446744073709551615ull);
  EXPECT_EQ(out.Buffer(), "caf\u00E9 \u20AC \uFFFD\t0 18446744073709551615");
  Output json;
  json.JsonText("\u8868\xFF");
  EXPECT_EQ(json.Buffer(), "\u8868\uFFFD");
}

// A control character in a cell would forge cells or rows: written as \xHH,
// in the buffered text and in a cell given on its own; JSON keeps it.
TEST(CliOutput, ControlCharactersInCellsAreEscaped) {
  const std::string cell = std::string("a\tb\nc\rd\x01\x7F\u00E9") + '\0' + "e";
  const std::string escaped = "a\\x09b\\x0Ac\\x0Dd\\x01\\x7F\xC3\xA9\\x00e";
  EXPECT_EQ(TextCell(cell), escaped);
  Output out;
  out.Text(cell).Raw("\t").Text("plain");
  EXPECT_EQ(out.Buffer(), escaped + "\tplain");
  // Registry texts kept as stored are UTF-8 already: only the control
  // characters change, multi-byte characters pass through.
  EXPECT_EQ(Utf8Cell("C:\\\xE5\xBC\x80\xE5\x8F\x91\tx\n.dpl"),
            "C:\\\xE5\xBC\x80\xE5\x8F\x91\\x09x\\x0A.dpl");
  Output json;
  json.JsonText("a\tb");
  EXPECT_EQ(json.Buffer(), "a\\tb");
}

}  // namespace
}  // namespace kx::cli
