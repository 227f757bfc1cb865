// Wine's registry file format: parsing into a line-preserving model, and
// writing values back the way wineserver writes them.
#include "platform/registry_hive.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <span>
#include <unordered_map>

#include "platform/host_file.h"

namespace kx {
namespace {

constexpr char kSignature[] = "WINE REGISTRY Version 2";
constexpr char kRelativeTo[] = ";; All keys relative to ";

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

std::string_view StripCr(std::string_view s) {
  if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
  return s;
}

std::string_view TrimLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsSpace(s[i])) ++i;
  return s.substr(i);
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

void AppendCodePoint(std::u16string& out, uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

// Decodes one UTF-8 sequence at s[i]; 0 when it is not a valid one.
size_t DecodeUtf8(std::string_view s, size_t i, uint32_t& cp) {
  const auto b = [&](size_t k) { return static_cast<uint8_t>(s[i + k]); };
  const uint8_t lead = b(0);
  size_t n = 0;
  uint32_t min = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2, cp = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3, cp = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((b(k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

// Reads an escaped string up to endChar (which is consumed). Returns the
// number of bytes read, or nullopt when endChar never comes. Escapes are
// those wineserver writes: \a \b \e \f \n \r \t \v, \x with one to four hex
// digits (UTF-16 units, so surrogate pairs come as two), up to three octal
// digits; any other escaped character stands for itself. Bytes above 127
// are taken as UTF-8 where they form a valid sequence, else as Latin-1.
std::optional<size_t> ParseEscaped(std::string_view s, char endChar, std::u16string& out) {
  size_t i = 0;
  while (i < s.size() && s[i] != endChar) {
    const char c = s[i];
    if (c == '\\' && i + 1 < s.size()) {
      const char e = s[++i];
      switch (e) {
        case 'a':
          out.push_back(u'\a');
          ++i;
          continue;
        case 'b':
          out.push_back(u'\b');
          ++i;
          continue;
        case 'e':
          out.push_back(u'\x1b');
          ++i;
          continue;
        case 'f':
          out.push_back(u'\f');
          ++i;
          continue;
        case 'n':
          out.push_back(u'\n');
          ++i;
          continue;
        case 'r':
          out.push_back(u'\r');
          ++i;
          continue;
        case 't':
          out.push_back(u'\t');
          ++i;
          continue;
        case 'v':
          out.push_back(u'\v');
          ++i;
          continue;
        case 'x': {
          ++i;
          if (i >= s.size() || !IsHexDigit(s[i])) {
            out.push_back(u'x');
            continue;
          }
          uint32_t v = 0;
          for (int k = 0; k < 4 && i < s.size() && IsHexDigit(s[i]); ++k)
            v = v * 16 + HexValue(s[i++]);
          out.push_back(static_cast<char16_t>(v));
          continue;
        }
        default:
          if (e >= '0' && e <= '7') {
            uint32_t v = 0;
            for (int k = 0; k < 3 && i < s.size() && s[i] >= '0' && s[i] <= '7'; ++k)
              v = v * 8 + (s[i++] - '0');
            out.push_back(static_cast<char16_t>(v));
            continue;
          }
          break;  // the escaped character itself
      }
    }
    const uint8_t u = static_cast<uint8_t>(s[i]);
    if (u >= 0x80) {
      uint32_t cp = 0;
      if (size_t n = DecodeUtf8(s, i, cp)) {
        AppendCodePoint(out, cp);
        i += n;
        continue;
      }
    }
    out.push_back(static_cast<char16_t>(u));
    ++i;
  }
  if (i >= s.size()) return std::nullopt;
  return i + 1;
}

// Writes UTF-16 text with wineserver's escapes; a NUL that is the last unit
// is left out (the terminator of string data).
std::string DumpString(std::u16string_view str, const char escape[2]) {
  static const char kEscapes[33] = ".......abtnvfr.............e....";
  std::string out;
  char buf[16];
  for (size_t i = 0; i < str.size(); ++i) {
    const char16_t c = str[i];
    const bool hasNext = i + 1 < str.size();
    const char16_t next = hasNext ? str[i + 1] : 0;
    if (c > 127) {
      if (hasNext && next < 128 && IsHexDigit(static_cast<char>(next)))
        std::snprintf(buf, sizeof buf, "\\x%04x", static_cast<unsigned>(c));
      else
        std::snprintf(buf, sizeof buf, "\\x%x", static_cast<unsigned>(c));
      out += buf;
      continue;
    }
    if (c < 32) {
      if (c == 0 && !hasNext) continue;
      if (kEscapes[c] != '.') {
        out += '\\';
        out += kEscapes[c];
      } else {
        if (hasNext && next >= '0' && next <= '7')
          std::snprintf(buf, sizeof buf, "\\%03o", static_cast<unsigned>(c));
        else
          std::snprintf(buf, sizeof buf, "\\%o", static_cast<unsigned>(c));
        out += buf;
      }
      continue;
    }
    if (c == '\\' || c == escape[0] || c == escape[1]) out += '\\';
    out += static_cast<char>(c);
  }
  return out;
}

std::u16string JoinFolded(const RegKeyPath& path) {
  std::u16string out;
  for (size_t i = 0; i < path.size(); ++i) {
    if (i) out += u'\\';
    out += FoldRegName(path[i]);
  }
  return out;
}

RegKeyPath SplitKeyName(std::u16string_view name) {
  RegKeyPath path;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find(u'\\', start);
    if (end == std::u16string_view::npos) end = name.size();
    if (end > start) path.emplace_back(name.substr(start, end - start));
    start = end + 1;
  }
  return path;
}

// The levels of a key path given by a caller: a component that holds "\\"
// names several levels, as in a Windows subkey string; empty ones add none.
RegKeyPath KeyLevels(const RegKeyPath& path) {
  RegKeyPath levels;
  for (const auto& c : path) {
    RegKeyPath parts = SplitKeyName(c);
    levels.insert(levels.end(), parts.begin(), parts.end());
  }
  return levels;
}

std::u16string BytesToUnits(const std::vector<uint8_t>& data) {
  std::u16string s;
  for (size_t i = 0; i + 1 < data.size(); i += 2)
    s.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  return s;
}

std::vector<uint8_t> UnitsToBytes(std::u16string_view s) {
  std::vector<uint8_t> data;
  data.reserve(s.size() * 2);
  for (char16_t c : s) {
    data.push_back(static_cast<uint8_t>(c & 0xFF));
    data.push_back(static_cast<uint8_t>(c >> 8));
  }
  return data;
}

// Past the '=' after a value name that ends before p, and the spaces
// around it; nullopt when there is none.
std::optional<size_t> AfterEquals(std::string_view text, size_t p) {
  while (p < text.size() && IsSpace(text[p])) ++p;
  if (p >= text.size() || text[p] != '=') return std::nullopt;
  ++p;
  while (p < text.size() && IsSpace(text[p])) ++p;
  return p;
}

// Where the data of a value line starts (after the name and '='); nullopt
// when the line is not a value line.
std::optional<size_t> DataStart(std::string_view text, std::u16string* name) {
  size_t p = 0;
  std::u16string parsed;
  if (text.empty()) return std::nullopt;
  if (text[0] == '@') {
    p = 1;
  } else if (text[0] == '"') {
    auto n = ParseEscaped(text.substr(1), '"', parsed);
    if (!n) return std::nullopt;
    p = 1 + *n;
  } else {
    return std::nullopt;
  }
  auto start = AfterEquals(text, p);
  if (start && name) *name = std::move(parsed);
  return start;
}

// DataStart without decoding the name: the same answer from a scan for the
// closing quote (an escape never ends the name).
std::optional<size_t> ScanDataStart(std::string_view text) {
  size_t p = 0;
  if (text.empty()) return std::nullopt;
  if (text[0] == '@') {
    p = 1;
  } else if (text[0] == '"') {
    p = 1;
    while (p < text.size() && text[p] != '"') p += (text[p] == '\\' && p + 1 < text.size()) ? 2 : 1;
    if (p >= text.size()) return std::nullopt;
    ++p;
  } else {
    return std::nullopt;
  }
  return AfterEquals(text, p);
}

uint64_t NowFileTime() {
  using namespace std::chrono;
  const auto ns = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
  return static_cast<uint64_t>(ns / 100) + 116444736000000000ULL;
}

}  // namespace

namespace {

char16_t FoldUnit(char16_t c) {
  if (c >= u'a' && c <= u'z') return c - 32;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A pairs upper/lower as even/odd, shifted in two runs.
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) == 0 ? c - 1 : c;
    if (c != 0x138 && c != 0x149 && c != 0x17F && (c & 1) == 1) return c - 1;
    return c;
  }
  if ((c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) || (c >= 0x430 && c <= 0x44F)) return c - 32;
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  return c;
}

void FoldInPlace(char16_t* units, size_t count) {
  for (char16_t& c : std::span<char16_t>(units, count)) c = FoldUnit(c);
}

}  // namespace

std::u16string FoldRegName(std::u16string_view name) {
  std::u16string out(name);
  FoldInPlace(out.data(), out.size());
  return out;
}

RegValue RegValue::String(std::u16string name, std::u16string_view text, uint32_t type) {
  RegValue v;
  v.name = std::move(name);
  v.type = type;
  v.data = UnitsToBytes(text);
  v.data.push_back(0);
  v.data.push_back(0);
  return v;
}

RegValue RegValue::Dword(std::u16string name, uint32_t value) {
  RegValue v;
  v.name = std::move(name);
  v.type = REG_DWORD;
  v.data = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return v;
}

std::string RegistryHive::FormatValue(const RegValue& value) {
  std::string out;
  if (value.name.empty())
    out = "@=";
  else
    out = "\"" + DumpString(value.name, "\"\"") + "\"=";
  size_t count = out.size();
  char buf[32];
  const auto& d = value.data;
  switch (value.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ:
      // Only properly terminated strings are written as strings.
      if (d.size() >= 2 && d.size() % 2 == 0 && d[d.size() - 1] == 0 && d[d.size() - 2] == 0) {
        if (value.type != REG_SZ) {
          std::snprintf(buf, sizeof buf, "str(%x):", static_cast<unsigned>(value.type));
          out += buf;
        }
        out += "\"" + DumpString(BytesToUnits(d), "\"\"") + "\"";
        return out;
      }
      break;
    case REG_DWORD:
      if (d.size() == 4) {
        const uint32_t dw = d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<uint32_t>(d[3]) << 24);
        std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(dw));
        out += buf;
        return out;
      }
      break;
    default:
      break;
  }
  if (value.type == REG_BINARY)
    std::snprintf(buf, sizeof buf, "hex:");
  else
    std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(value.type));
  out += buf;
  count += std::string_view(buf).size();
  for (size_t i = 0; i < d.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", d[i]);
    out += buf;
    count += 2;
    if (i + 1 < d.size()) {
      out += ',';
      if (++count > 76) {
        out += "\\\n  ";
        count = 2;
      }
    }
  }
  return out;
}

std::optional<RegValue> RegistryHive::ParseValue(std::string_view text) {
  RegValue v;
  auto start = DataStart(text, &v.name);
  if (!start) return std::nullopt;
  std::string_view p = text.substr(*start);

  struct Tag {
    std::string_view tag;
    uint32_t type;
    bool isString;
  };
  static const Tag kTags[] = {{"\"", REG_SZ, true},
                              {"str:\"", REG_SZ, true},
                              {"str(2):\"", REG_EXPAND_SZ, true},
                              {"str(7):\"", REG_MULTI_SZ, true},
                              {"hex:", REG_BINARY, false},
                              {"dword:", REG_DWORD, false}};
  for (const Tag& t : kTags) {
    if (!StartsWith(p, t.tag)) continue;
    v.type = t.type;
    p.remove_prefix(t.tag.size());
    if (t.isString) {
      std::u16string s;
      if (!ParseEscaped(p, '"', s)) return std::nullopt;
      v.data = UnitsToBytes(s);
      v.data.push_back(0);
      v.data.push_back(0);
      return v;
    }
    if (t.type == REG_DWORD) {
      p = TrimRight(p);
      if (p.empty() || p.size() > 8) return std::nullopt;
      uint32_t dw = 0;
      for (char c : p) {
        if (!IsHexDigit(c)) return std::nullopt;
        dw = dw * 16 + HexValue(c);
      }
      return RegValue::Dword(std::move(v.name), dw);
    }
    goto hex;
  }
  if (!StartsWith(p, "hex(")) return std::nullopt;
  {
    p.remove_prefix(4);
    uint64_t type = 0;
    size_t n = 0;
    while (n < p.size() && IsHexDigit(p[n]) && n < 8) type = type * 16 + HexValue(p[n++]);
    if (n == 0 || !StartsWith(p.substr(n), "):")) return std::nullopt;
    v.type = static_cast<uint32_t>(type);
    p.remove_prefix(n + 2);
  }
hex:
  // Comma-separated bytes; a '\' at the end of a line continues on the next.
  for (size_t i = 0;;) {
    while (i < p.size() && IsHexDigit(p[i])) {
      size_t n = 0;
      unsigned byte = 0;
      while (i + n < p.size() && IsHexDigit(p[i + n])) {
        if (n == 2) return std::nullopt;  // more than one byte in one item
        byte = byte * 16 + HexValue(p[i + n]);
        ++n;
      }
      v.data.push_back(static_cast<uint8_t>(byte));
      i += n;
      while (i < p.size() && IsSpace(p[i])) ++i;
      if (i < p.size() && p[i] == ',') ++i;
      while (i < p.size() && IsSpace(p[i])) ++i;
    }
    while (i < p.size() && IsSpace(p[i])) ++i;
    if (i < p.size() && p[i] == '\\') {
      ++i;
      while (i < p.size() && IsSpace(p[i])) ++i;
      if (i >= p.size() || p[i] != '\n') return std::nullopt;
      ++i;
      while (i < p.size() && IsSpace(p[i])) ++i;
      continue;
    }
    if (i < p.size()) return std::nullopt;
    break;
  }
  return v;
}

namespace {

size_t LineEnd(std::string_view text, size_t from) {
  return std::min(text.find('\n', from), text.size());
}

// Past the ']' that ends a key header's name in s (the text after '['), or
// npos when there is none. A ']' after an odd run of backslashes is escaped
// (the escape decoder pairs every backslash with the character after it).
size_t HeaderNameEnd(std::string_view s) {
  for (size_t from = 0;;) {
    const size_t at = s.find(']', from);
    if (at == std::string_view::npos) return at;
    size_t run = 0;
    while (run < at && s[at - 1 - run] == '\\') ++run;
    if (run % 2 == 0) return at + 1;
    from = at + 1;
  }
}

// The path a key header names (s: the text after '['), its levels joined
// with '\' and empty ones left out ("a\\\\b" is a\b).
std::u16string HeaderPath(std::string_view s) {
  std::u16string name;
  bool levelStart = true;
  const auto add = [&](char16_t c) {
    if (c == u'\\') {
      levelStart = true;
      return;
    }
    if (levelStart && !name.empty()) name += u'\\';
    levelStart = false;
    name += c;
  };
  // Most headers are plain ASCII whose only escape is "\\".
  for (size_t k = 0; k < s.size(); ++k) {
    const auto u = static_cast<uint8_t>(s[k]);
    if (u == ']') return name;
    if (u >= 0x80 || (u == '\\' && (k + 1 >= s.size() || s[k + 1] != '\\'))) break;
    if (u == '\\') ++k;
    add(static_cast<char16_t>(u));
  }
  std::u16string decoded;
  ParseEscaped(s, ']', decoded);
  name.clear();
  levelStart = true;
  for (char16_t c : decoded) add(c);
  return name;
}

// Where the value item whose first line is text[pos, end) ends (line: that
// line trimmed): hex data goes on over the next lines while a line ends in
// '\'.
size_t ValueEnd(std::string_view text, size_t pos, size_t end, std::string_view line) {
  const std::string_view first = TrimRight(text.substr(pos, end - pos));
  if (first.empty() || first.back() != '\\') return end;
  const auto start = ScanDataStart(line);
  if (!start || !StartsWith(line.substr(*start), "hex")) return end;
  size_t lastStart = pos, lastEnd = end;
  while (lastEnd + 1 < text.size()) {
    const std::string_view last = TrimRight(text.substr(lastStart, lastEnd - lastStart));
    if (last.empty() || last.back() != '\\') break;
    lastStart = lastEnd + 1;
    lastEnd = LineEnd(text, lastStart);
  }
  return lastEnd;
}

// Compares a key header's path, fed unit by unit as decoded (separators not
// yet collapsed), with a folded path: how many leading levels agree, and
// whether the header names exactly that many levels.
class PathMatcher {
 public:
  explicit PathMatcher(std::u16string_view folded) : path_(folded) {}
  // False once the rest of the header cannot change the result.
  bool Feed(char16_t c) {
    if (c == u'\\') {
      if (inLevel_) boundary_ = true;
      inLevel_ = false;
      return true;
    }
    if (boundary_) {
      // The header goes on to another level: the one it ended agrees when
      // the path ends its level there too.
      boundary_ = false;
      if (j_ == path_.size()) {
        ++matched;
        return false;  // deeper than the path
      }
      if (path_[j_] != u'\\') return false;
      ++matched;
      ++j_;
    }
    inLevel_ = true;
    any_ = true;
    const char16_t folded = c < 0x80 ? (c >= u'a' && c <= u'z' ? c - 32 : c) : FoldUnit(c);
    if (j_ == path_.size() || path_[j_] != folded) return false;
    ++j_;
    return true;
  }
  void Finish() {
    if (!any_) {
      exact = true;  // no level at all: the root
    } else if (j_ == path_.size() || path_[j_] == u'\\') {
      ++matched;
      exact = true;
    }
  }

  size_t matched = 0;
  bool exact = false;

 private:
  std::u16string_view path_;
  size_t j_ = 0;
  bool inLevel_ = false, boundary_ = false, any_ = false;
};

}  // namespace

RegistryHive RegistryHive::Parse(std::string_view text) {
  return Parse(ShareText(std::string(text)));
}

RegistryHive RegistryHive::Parse(std::shared_ptr<const std::string_view> source) {
  RegistryHive h;
  if (!source) source = std::make_shared<const std::string_view>();
  const std::string_view text = *source;
  h.source_ = std::move(source);
  // Lines are addressed with 32-bit offsets.
  if (text.size() >= UINT32_MAX) throw ERegistryException("The registry file is too large");
  if (StripCr(text.substr(0, LineEnd(text, 0))) != kSignature)
    throw ERegistryException("Not a Wine registry file");
  h.crlf_ = text.substr(0, LineEnd(text, 0)).ends_with('\r');
  h.finalEol_ = text.ends_with('\n');

  // One pass that only looks at the start (and for values the end) of each
  // line: where the key headers are. A hex value's continuation lines are
  // skipped, since they belong to the value whatever they hold. Room for
  // about one header in 128 bytes (Wine's files hold one in 190) is set
  // aside, so the list is rarely copied; pages never written cost nothing.
  h.sections_.reserve(text.size() / 128 + 16);
  for (size_t pos = 0; pos < text.size();) {
    const size_t end = LineEnd(text, pos);
    const std::string_view raw = text.substr(pos, end - pos);
    size_t next = end + 1;
    const std::string_view line = TrimLeft(StripCr(raw));
    if (pos == 0 || line.empty()) {
      // The signature line, or a blank one.
    } else if (line[0] == '[') {
      if (HeaderNameEnd(line.substr(1)) != std::string_view::npos)
        h.sections_.push_back(Section{static_cast<uint32_t>(pos),
                                      static_cast<uint32_t>(pos + (line.data() - raw.data()) + 1)});
    } else if (line[0] == '@' || line[0] == '"') {
      if (!h.sections_.empty()) next = ValueEnd(text, pos, end, line) + 1;
    } else if (StartsWith(line, kRelativeTo)) {
      std::u16string root;
      std::string_view rest = line.substr(std::string_view(kRelativeTo).size());
      std::string quoted = std::string(rest) + '\n';
      if (ParseEscaped(quoted, '\n', root)) h.root_ = SplitKeyName(root);
    }
    pos = next;
  }
  h.fileSections_ = h.sections_.size();
  return h;
}

std::string_view RegistryHive::TextOf(const Line& line) const {
  if (line.owned) return owned_[line.begin];
  return std::string_view(*source_).substr(line.begin, line.size);
}

void RegistryHive::SetText(Line& line, std::string text) {
  if (!line.owned) {
    line.owned = true;
    line.begin = owned_.size();
    owned_.emplace_back();
  }
  line.size = text.size();
  owned_[line.begin] = std::move(text);
}

std::string_view RegistryHive::RangeOf(int s) const {
  const size_t end =
      static_cast<size_t>(s) + 1 < fileSections_ ? sections_[s + 1].begin : source_->size();
  return std::string_view(*source_).substr(sections_[s].begin, end - sections_[s].begin);
}

std::u16string RegistryHive::NameOf(int s) const {
  if (Added(s)) return opened_.at(s).name;
  const std::string_view text = *source_;
  const size_t at = sections_[s].nameAt;
  return HeaderPath(text.substr(at, LineEnd(text, at) - at));
}

RegistryHive::OpenedSection& RegistryHive::Open(int s) const {
  if (auto it = opened_.find(s); it != opened_.end()) return it->second;
  OpenedSection opened;
  const std::string_view text = *source_;
  const std::string_view range = RangeOf(s);
  const size_t from = sections_[s].begin, to = from + range.size();
  for (size_t pos = from; pos < to;) {
    const size_t end = std::min(LineEnd(text, pos), to);
    const std::string_view raw = text.substr(pos, end - pos);
    const std::string_view line = TrimLeft(StripCr(raw));
    Line item;
    item.begin = static_cast<uint32_t>(pos);
    item.size = static_cast<uint32_t>(raw.size());
    size_t next = end + 1;
    if (pos == from) {
      item.kind = LineKind::Header;
      item.nameEnd =
          static_cast<uint32_t>((line.data() - raw.data()) + 1 + HeaderNameEnd(line.substr(1)));
    } else if (!line.empty() && (line[0] == '@' || line[0] == '"')) {
      // The value itself is decoded when its key's values are first used.
      const size_t last = ValueEnd(text, pos, end, line);
      item.kind = LineKind::Value;
      item.size = static_cast<uint32_t>(last - pos);
      next = last + 1;
    } else if (StartsWith(line, "#time=")) {
      item.kind = LineKind::Time;
    } else if (TrimRight(line) == "#link") {
      item.kind = LineKind::Link;
    }
    opened.lines.push_back(item);
    pos = next;
  }
  return opened_.emplace(s, std::move(opened)).first->second;
}

void RegistryHive::DecodeValues(const std::vector<int>& sections) const {
  bool done = true;
  for (int s : sections) done = Open(s).decoded && done;
  if (done) return;
  // Folded value name -> the line that sets it; a later line of the same
  // name shadows the earlier one, in this section or an earlier one.
  std::unordered_map<std::u16string, Line*> seen;
  for (int s : sections) {
    OpenedSection& opened = Open(s);
    for (Line& line : opened.lines) {
      if (line.kind != LineKind::Value) continue;
      if (line.value < 0) {
        const std::string_view raw = TextOf(line);
        const size_t firstEnd = std::min(raw.find('\n'), raw.size());
        const std::string_view first = TrimLeft(StripCr(raw.substr(0, firstEnd)));
        std::optional<RegValue> v;
        if (firstEnd == raw.size()) {
          v = ParseValue(first);
        } else {
          std::string joined(first);
          joined += raw.substr(firstEnd);
          v = ParseValue(joined);
        }
        if (!v) {
          line.kind = LineKind::Other;
          continue;
        }
        line.value = static_cast<int>(values_.size());
        values_.push_back(std::move(*v));
      }
      line.shadowed = false;
      auto [it, fresh] = seen.try_emplace(FoldRegName(values_[line.value].name), &line);
      if (!fresh) {
        it->second->shadowed = true;
        it->second = &line;
      }
    }
    opened.decoded = true;
  }
}

std::string RegistryHive::Serialize() const {
  std::lock_guard<std::mutex> lock(lock_.mutex);
  const std::string_view text = *source_;
  std::string out;
  out.reserve(text.size() + 256);
  bool any = false;
  // Lines joined with '\n': a range of untouched lines goes out as it is,
  // less the line end that separates it from what follows.
  const auto add = [&](std::string_view lines) {
    if (any) out += '\n';
    out += lines;
    any = true;
  };
  const auto addRange = [&](std::string_view range) {
    if (range.ends_with('\n')) range.remove_suffix(1);
    add(range);
  };
  if (!text.empty()) addRange(text.substr(0, fileSections_ ? sections_[0].begin : text.size()));
  for (size_t s = 0; s < sections_.size(); ++s) {
    const auto it = opened_.find(static_cast<int>(s));
    if (it == opened_.end()) {
      addRange(RangeOf(static_cast<int>(s)));
      continue;
    }
    for (const Line& line : it->second.lines) add(TextOf(line));
  }
  if (finalEol_ && any) out += '\n';
  return out;
}

namespace {

// How many leading bytes a[0, max) and b[0, max) have in common, compared a
// word at a time.
size_t CommonPrefix(const char* a, const char* b, size_t max) {
  size_t n = 0;
  for (; n + 8 <= max; n += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) {
      const uint64_t diff = x ^ y;
      const int bit = std::endian::native == std::endian::little ? std::countr_zero(diff)
                                                                 : std::countl_zero(diff);
      return n + static_cast<size_t>(bit / 8);
    }
  }
  while (n < max && a[n] == b[n]) ++n;
  return n;
}

}  // namespace

void RegistryHive::MeasureSharedPrefixes() const {
  // sharedPrefix_[s]: how many bytes the text from header s's name on has in
  // common with the text from header s-1's name on (at most 65,535).
  const std::string_view text = *source_;
  sharedPrefix_.assign(fileSections_, 0);
  for (size_t s = 1; s < fileSections_; ++s) {
    const size_t a = sections_[s - 1].nameAt, b = sections_[s].nameAt;
    const size_t max = std::min<size_t>(UINT16_MAX, text.size() - b);
    sharedPrefix_[s] = static_cast<uint16_t>(CommonPrefix(text.data() + a, text.data() + b, max));
  }
}

void RegistryHive::Scan(const std::u16string& folded) const {
  // The lengths of the path's leading parts, by number of levels.
  std::vector<size_t> ends{0};
  if (!folded.empty()) {
    for (size_t i = 0; i < folded.size(); ++i)
      if (folded[i] == u'\\') ends.push_back(i);
    ends.push_back(folded.size());
  }
  std::vector<PathInfo> found(ends.size());
  const char* text = source_->data();
  if (sharedPrefix_.size() != fileSections_) MeasureSharedPrefixes();
  // Wine writes its keys sorted, so a header mostly begins with what the one
  // before it began with. When the header before was decided by its first
  // `decidedBy` bytes and this one starts with the same bytes, it is decided
  // the same way without looking at it.
  PathMatcher last(folded);
  size_t decidedBy = 0;  // 0: the header before was not decided in place
  for (size_t s = 0; s < sections_.size(); ++s) {
    PathMatcher match(folded);
    bool done = false;
    if (!Added(static_cast<int>(s)) && decidedBy && sharedPrefix_[s] >= decidedBy) {
      match = last;
      done = true;
    } else if (!Added(static_cast<int>(s))) {
      // Plain ASCII headers are compared in place; any other escape or byte
      // above 127 has the header decoded first.
      const char* const start = text + sections_[s].nameAt;
      for (const char* q = start;;) {
        const auto u = static_cast<uint8_t>(*q);
        if (u == ']') {
          match.Finish();
          done = true;
          q += 1;
        } else if (u >= 0x80 || (u == '\\' && q[1] != '\\')) {
          break;
        } else {
          q += u == '\\' ? 2 : 1;
          done = !match.Feed(u);
        }
        if (done) {
          decidedBy = static_cast<size_t>(q - start);
          last = match;
          break;
        }
      }
    }
    if (!done) decidedBy = 0;
    if (!done) {
      match = PathMatcher(folded);
      const std::u16string name = NameOf(static_cast<int>(s));
      done = false;
      for (char16_t c : name)
        if (!match.Feed(c)) {
          done = true;
          break;
        }
      if (!done) match.Finish();
    }
    // A header that has the first d levels has every shorter part too.
    for (size_t d = match.matched; d >= 1 && found[d].first < 0; --d)
      found[d].first = static_cast<int>(s);
    if (match.exact) found[match.matched].sections.push_back(static_cast<int>(s));
  }
  for (size_t d = 0; d < ends.size(); ++d)
    paths_.try_emplace(folded.substr(0, ends[d]), std::move(found[d]));
}

const RegistryHive::PathInfo& RegistryHive::Info(const std::u16string& folded,
                                                 std::u16string_view rest) const {
  auto it = paths_.find(folded);
  if (it != paths_.end()) return it->second;
  std::u16string full = folded;
  if (!rest.empty()) {
    if (!full.empty()) full += u'\\';
    full += rest;
  }
  Scan(full);
  return paths_.find(folded)->second;
}

std::vector<int> RegistryHive::SectionsOf(const RegKeyPath& stored) const {
  return Info(JoinFolded(stored)).sections;
}

std::optional<RegKeyPath> RegistryHive::LinkTarget(const std::vector<int>& sections) const {
  DecodeValues(sections);
  const RegValue* link = nullptr;
  for (int s : sections)
    for (const Line& line : Open(s).lines)
      if (line.kind == LineKind::Value && !line.shadowed &&
          FoldRegName(values_[line.value].name) == u"SYMBOLICLINKVALUE")
        link = &values_[line.value];
  if (!link || link->type != REG_LINK || root_.empty()) return std::nullopt;
  // "\Registry\Machine\System\ControlSet001": the part below this hive's root.
  RegKeyPath target = SplitKeyName(BytesToUnits(link->data));
  if (target.size() < 1 + root_.size() || FoldRegName(target[0]) != u"REGISTRY")
    return std::nullopt;
  for (size_t i = 0; i < root_.size(); ++i)
    if (FoldRegName(target[1 + i]) != FoldRegName(root_[i])) return std::nullopt;
  return RegKeyPath(target.begin() + 1 + static_cast<long>(root_.size()), target.end());
}

std::optional<RegKeyPath> RegistryHive::Resolve(const RegKeyPath& path, int depth) const {
  if (depth > 8) return std::nullopt;
  const RegKeyPath levels = KeyLevels(path);
  // The levels still to come, folded: a scan for one level answers them too.
  std::vector<std::u16string> rest(levels.size() + 1);
  for (size_t i = levels.size(); i-- > 0;)
    rest[i] = FoldRegName(levels[i]) + (rest[i + 1].empty() ? u"" : u"\\" + rest[i + 1]);
  RegKeyPath cur;
  for (size_t i = 0; i < levels.size(); ++i) {
    cur.push_back(levels[i]);
    const PathInfo& info = Info(JoinFolded(cur), rest[i + 1]);
    if (info.first < 0) return std::nullopt;
    // Spelled as the first section below it spells it.
    const RegKeyPath spelled = SplitKeyName(NameOf(info.first));
    cur.assign(spelled.begin(), spelled.begin() + static_cast<long>(cur.size()));
    const std::vector<int> sections = info.sections;
    bool link = false;
    for (int s : sections)
      for (const Line& line : Open(s).lines) link = link || line.kind == LineKind::Link;
    if (link) {
      auto target = LinkTarget(sections);
      if (!target) return std::nullopt;
      auto resolved = Resolve(*target, depth + 1);
      if (!resolved) return std::nullopt;
      cur = *resolved;
    }
  }
  return cur;
}

std::optional<RegKeyPath> RegistryHive::FindKey(const RegKeyPath& path) const {
  std::lock_guard<std::mutex> lock(lock_.mutex);
  return Resolve(path, 0);
}

std::vector<int> RegistryHive::EnsureSection(const RegKeyPath& stored) {
  if (std::vector<int> sections = SectionsOf(stored); !sections.empty()) return sections;
  std::u16string name;
  for (const std::u16string& level : stored) {
    if (level.empty()) continue;
    if (!name.empty()) name += u'\\';
    name += level;
  }
  const std::string cr = crlf_ ? "\r" : "";
  OpenedSection added;
  added.name = name;
  added.decoded = true;
  Line blank;
  SetText(blank, cr);
  Line header;
  header.kind = LineKind::Header;
  const std::string headerText = "[" + DumpString(name, "[]") + "]";
  header.nameEnd = headerText.size();
  SetText(header, headerText + cr);
  Line time;
  time.kind = LineKind::Time;
  SetText(time, "#time=0" + cr);
  added.lines = {blank, header, time};
  opened_.emplace(static_cast<int>(sections_.size()), std::move(added));
  sections_.push_back(Section{});
  finalEol_ = true;
  // Look-ups made so far did not see the new key.
  paths_.clear();
  const std::vector<int> sections{static_cast<int>(sections_.size() - 1)};
  Touch(sections);
  return sections;
}

RegKeyPath RegistryHive::CreateKey(const RegKeyPath& path) {
  std::lock_guard<std::mutex> lock(lock_.mutex);
  const RegKeyPath want = KeyLevels(path);
  for (size_t n = want.size() + 1; n-- > 0;) {
    RegKeyPath prefix(want.begin(), want.begin() + static_cast<long>(n));
    auto found = Resolve(prefix, 0);
    if (!found) continue;
    if (n == want.size()) return *found;
    RegKeyPath stored = *found;
    stored.insert(stored.end(), want.begin() + static_cast<long>(n), want.end());
    EnsureSection(stored);
    return stored;
  }
  return want;  // not reached: the empty prefix always resolves
}

const RegValue* RegistryHive::FindValue(const RegKeyPath& key, std::u16string_view name) const {
  std::lock_guard<std::mutex> lock(lock_.mutex);
  auto stored = Resolve(key, 0);
  if (!stored) return nullptr;
  const std::vector<int> sections = SectionsOf(*stored);
  DecodeValues(sections);
  const std::u16string folded = FoldRegName(name);
  for (int s : sections)
    for (const Line& line : Open(s).lines)
      if (line.kind == LineKind::Value && !line.shadowed &&
          FoldRegName(values_[line.value].name) == folded)
        return &values_[line.value];
  return nullptr;
}

std::vector<const RegValue*> RegistryHive::Values(const RegKeyPath& key) const {
  std::lock_guard<std::mutex> lock(lock_.mutex);
  std::vector<const RegValue*> out;
  auto stored = Resolve(key, 0);
  if (!stored) return out;
  const std::vector<int> sections = SectionsOf(*stored);
  DecodeValues(sections);
  for (int s : sections)
    for (const Line& line : Open(s).lines)
      if (line.kind == LineKind::Value && !line.shadowed) out.push_back(&values_[line.value]);
  return out;
}

void RegistryHive::Touch(const std::vector<int>& sections) {
  const uint64_t ft = NowFileTime();
  const uint64_t secs = (ft - 116444736000000000ULL) / 10000000ULL;
  const std::string cr = crlf_ ? "\r" : "";
  char buf[64];
  bool timeDone = false;
  for (int s : sections) {
    for (Line& line : Open(s).lines) {
      if (line.kind == LineKind::Header) {
        std::snprintf(buf, sizeof buf, " %u", static_cast<unsigned>(secs));
        SetText(line, std::string(TextOf(line).substr(0, line.nameEnd)) + buf + cr);
      } else if (line.kind == LineKind::Time && !timeDone) {
        std::snprintf(buf, sizeof buf, "#time=%x%08x", static_cast<unsigned>(ft >> 32),
                      static_cast<unsigned>(ft & 0xFFFFFFFFu));
        const std::string_view old = TextOf(line);
        SetText(line, std::string(old.substr(0, old.find('#'))) + buf + cr);
        timeDone = true;
      }
    }
  }
}

bool RegistryHive::SetValue(const RegKeyPath& key, const RegValue& value) {
  std::lock_guard<std::mutex> lock(lock_.mutex);
  auto stored = Resolve(key, 0);
  if (!stored) return false;
  std::string text = FormatValue(value);
  if (crlf_) {
    std::string withCr;
    for (char c : text) {
      if (c == '\n') withCr += '\r';
      withCr += c;
    }
    text = withCr + "\r";
  }
  const std::vector<int> sections = EnsureSection(*stored);
  DecodeValues(sections);
  const std::u16string folded = FoldRegName(value.name);
  int insertIn = sections.front();
  size_t insertAt = 0;
  for (int s : sections) {
    std::vector<Line>& lines = Open(s).lines;
    for (size_t i = 0; i < lines.size(); ++i) {
      Line& line = lines[i];
      if (line.kind == LineKind::Value && !line.shadowed &&
          FoldRegName(values_[line.value].name) == folded) {
        SetText(line, std::move(text));
        values_[line.value] = value;
        Touch(sections);
        return true;
      }
      if (!TrimLeft(StripCr(TextOf(line))).empty()) insertIn = s, insertAt = i + 1;
    }
  }
  std::vector<Line>& lines = Open(insertIn).lines;
  // A line ending in '\' (hex data cut short, even one that did not decode)
  // would take the next line as its continuation when the file is read
  // again: an empty line after it keeps the new value its own.
  if (insertAt > 0) {
    const std::string_view before = TrimRight(TextOf(lines[insertAt - 1]));
    if (!before.empty() && before.back() == '\\') {
      Line gap;
      SetText(gap, crlf_ ? "\r" : "");
      lines.insert(lines.begin() + static_cast<long>(insertAt++), std::move(gap));
    }
  }
  Line line;
  line.kind = LineKind::Value;
  SetText(line, std::move(text));
  line.value = static_cast<int>(values_.size());
  values_.push_back(value);
  lines.insert(lines.begin() + static_cast<long>(insertAt), std::move(line));
  Touch(sections);
  return true;
}

bool RegistryHive::DeleteValue(const RegKeyPath& key, std::u16string_view name) {
  std::lock_guard<std::mutex> lock(lock_.mutex);
  auto stored = Resolve(key, 0);
  if (!stored) return false;
  const std::vector<int> sections = SectionsOf(*stored);
  if (sections.empty()) return false;
  DecodeValues(sections);
  const std::u16string folded = FoldRegName(name);
  bool found = false;
  for (int s : sections)
    std::erase_if(Open(s).lines, [&](const Line& line) {
      if (line.kind != LineKind::Value || FoldRegName(values_[line.value].name) != folded)
        return false;
      found = found || !line.shadowed;
      return true;
    });
  if (found) Touch(sections);
  return found;
}

}  // namespace kx
