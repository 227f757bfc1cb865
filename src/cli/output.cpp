#include "cli/output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/codepage.h"

namespace kx::cli {
namespace {

constexpr size_t kBlock = 1 << 16;

}  // namespace

Output& Output::Stdout() {
  static Output out;
  return out;
}

Output& Output::Raw(std::string_view s) {
  buf_.append(s);
  if (buf_.size() >= kBlock) Drain();
  return *this;
}

namespace {

// Appends text as UTF-8 with every control character written as \xHH: a
// tab or a line break inside a cell would otherwise forge cells and rows of
// tab-separated output. One pass over the bytes; text without control
// characters is appended in one piece by appendRun (which converts it).
template <typename AppendRun>
void AppendEscaped(std::string& out, std::string_view text, AppendRun appendRun) {
  static const char kHex[] = "0123456789ABCDEF";
  size_t run = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != 0x7F) continue;
    appendRun(out, text.substr(run, i - run));
    const char escape[] = {'\\', 'x', kHex[c >> 4], kHex[c & 0xF]};
    out.append(escape, sizeof escape);
    run = i + 1;
  }
  appendRun(out, text.substr(run));
}

// Core text is UTF-8; a malformed byte (which no reader should let in) is
// written as U+FFFD rather than passed to the terminal.
void AppendUtf8Run(std::string& out, std::string_view run) {
  if (IsValidUtf8(run)) {
    out.append(run);
  } else {
    out += Utf16ToUtf8(Utf8ToUtf16(run));
  }
}

void AppendCell(std::string& out, std::string_view text) { AppendEscaped(out, text, AppendUtf8Run); }

}  // namespace

std::string TextCell(std::string_view text) {
  std::string out;
  AppendCell(out, text);
  return out;
}

std::string Utf8Cell(std::string_view utf8) { return TextCell(utf8); }

Output& Output::Text(std::string_view text) {
  AppendCell(buf_, text);
  if (buf_.size() >= kBlock) Drain();
  return *this;
}

Output& Output::JsonText(std::string_view utf8) {
  if (!IsValidUtf8(utf8)) return JsonText(Utf16ToUtf8(Utf8ToUtf16(utf8)));
  static const char kHex[] = "0123456789abcdef";
  size_t run = 0;  // start of the pending run of plain ASCII
  for (size_t i = 0; i < utf8.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    buf_.append(utf8.data() + run, i - run);
    run = i + 1;
    switch (c) {
      case '"':
        buf_ += "\\\"";
        break;
      case '\\':
        buf_ += "\\\\";
        break;
      case '\b':
        buf_ += "\\b";
        break;
      case '\f':
        buf_ += "\\f";
        break;
      case '\n':
        buf_ += "\\n";
        break;
      case '\r':
        buf_ += "\\r";
        break;
      case '\t':
        buf_ += "\\t";
        break;
      default:
        buf_ += "\\u00";
        buf_ += kHex[c >> 4];
        buf_ += kHex[c & 0xF];
    }
  }
  buf_.append(utf8.data() + run, utf8.size() - run);
  if (buf_.size() >= kBlock) Drain();
  return *this;
}

Output& Output::Num(uint64_t v) {
  char digits[24];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) buf_ += digits[--n];
  return *this;
}

Output& Output::Spaces(size_t n) {
  buf_.append(n, ' ');
  return *this;
}

void Output::Flush() { Drain(); }

void Output::Drain() {
  size_t done = 0;
  while (done < buf_.size()) {
    const ssize_t n = write(1, buf_.data() + done, buf_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // stdout closed: the rest cannot be written
    done += static_cast<size_t>(n);
  }
  buf_.clear();
}

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (levels_.empty()) return;
  out_.Raw(levels_.back().empty ? "\n" : ",\n");
  levels_.back().empty = false;
  out_.Spaces(2 * levels_.size());
}

void JsonWriter::Close(char bracket) {
  const bool empty = levels_.back().empty;
  levels_.pop_back();
  if (!empty) out_.Raw("\n").Spaces(2 * levels_.size());
  out_.Buffer() += bracket;
}

JsonWriter& JsonWriter::BeginObject() {
  BeforeValue();
  out_.Raw("{");
  levels_.push_back({});
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  Close('}');
  return *this;
}

JsonWriter& JsonWriter::BeginArray() {
  BeforeValue();
  out_.Raw("[");
  levels_.push_back({});
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  Close(']');
  return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key) {
  BeforeValue();
  out_.Raw("\"").Raw(key).Raw("\": ");
  afterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(std::string_view text) {
  BeforeValue();
  out_.Raw("\"").JsonText(text).Raw("\"");
  return *this;
}

JsonWriter& JsonWriter::Number(int64_t v) {
  BeforeValue();
  if (v < 0) {
    out_.Raw("-");
    out_.Num(static_cast<uint64_t>(-(v + 1)) + 1);
  } else {
    out_.Num(static_cast<uint64_t>(v));
  }
  return *this;
}

JsonWriter& JsonWriter::Null() {
  BeforeValue();
  out_.Raw("null");
  return *this;
}

}  // namespace kx::cli
