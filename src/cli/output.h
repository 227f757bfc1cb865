#pragma once
// The one write path of a command's results: text is gathered in a buffer
// and written to stdout in large blocks; core text (UTF-8) goes straight into
// the buffer, with no string of its own per row.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kx::cli {

// A cell of tab-separated text: UTF-8, with every control character
// (tab, line break, ...) written as \xHH so that it cannot forge cells or
// rows. Files that Kestrix writes and JSON output keep their text as it is.
std::string TextCell(std::string_view text);
// The same for text that is UTF-8 already (registry texts kept as stored).
std::string Utf8Cell(std::string_view utf8);

class Output {
 public:
  // The buffer in front of stdout; Flush (or the end of main) writes it.
  static Output& Stdout();
  Output& Raw(std::string_view s);
  // A cell of text: as TextCell.
  Output& Text(std::string_view text);
  // Text as the contents of a JSON string (escaped, UTF-8).
  Output& JsonText(std::string_view utf8);
  Output& Num(uint64_t v);
  Output& Spaces(size_t n);
  void Flush();
  std::string& Buffer() { return buf_; }

 private:
  void Drain();
  std::string buf_;
};

// JSON laid out exactly as nlohmann::json::dump(2) lays it out, written
// straight to an Output without building a document first. Keys are ASCII.
class JsonWriter {
 public:
  explicit JsonWriter(Output& out) : out_(out) {}
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  JsonWriter& Key(std::string_view key);
  JsonWriter& String(std::string_view text);
  JsonWriter& Number(int64_t v);
  JsonWriter& Null();
  // One "key": "text" member.
  JsonWriter& Member(std::string_view key, std::string_view cp1252) {
    return Key(key).String(cp1252);
  }

 private:
  void BeforeValue();
  void Close(char bracket);
  struct Level {
    bool empty = true;
  };
  Output& out_;
  std::vector<Level> levels_;
  bool afterKey_ = false;
};

}  // namespace kx::cli
