// Wine's registry file format: parsing into a line-preserving model, and
// writing values back the way wineserver writes them.
#include "platform/registry_hive.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <span>
#include <unordered_map>

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

void FoldInPlace(char16_t* units, size_t count) {
  for (char16_t& c : std::span<char16_t>(units, count)) {
    if (c >= u'a' && c <= u'z') {
      c -= 32;
    } else if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
      c -= 32;
    } else if (c == 0xFF) {
      c = 0x178;
    } else if (c >= 0x100 && c <= 0x17F) {
      // Latin Extended-A pairs upper/lower as even/odd, shifted in two runs.
      if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
        if ((c & 1) == 0) --c;
      } else if (c != 0x138 && c != 0x149 && c != 0x17F && (c & 1) == 1) {
        --c;
      }
    } else if ((c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) || (c >= 0x430 && c <= 0x44F)) {
      c -= 32;
    } else if (c >= 0x450 && c <= 0x45F) {
      c -= 80;
    }
  }
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

RegistryHive RegistryHive::Parse(std::string_view text) {
  return Parse(std::make_shared<const std::string>(text));
}

RegistryHive RegistryHive::Parse(std::shared_ptr<const std::string> source) {
  RegistryHive h;
  if (!source) source = std::make_shared<const std::string>();
  const std::string_view text = *source;
  h.source_ = std::move(source);
  // Lines are addressed with 32-bit offsets.
  if (text.size() >= UINT32_MAX) throw ERegistryException("The registry file is too large");
  const auto lineEnd = [&](size_t from) { return std::min(text.find('\n', from), text.size()); };
  if (StripCr(text.substr(0, lineEnd(0))) != kSignature)
    throw ERegistryException("Not a Wine registry file");
  h.crlf_ = text.substr(0, lineEnd(0)).ends_with('\r');
  h.finalEol_ = text.ends_with('\n');

  h.items_.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
  // Key paths take at most the bytes of their headers; pages never written
  // are never touched.
  h.names_.reserve(text.size() / 2);
  h.folded_.reserve(text.size() / 2);
  std::u16string name;
  int current = -1;
  for (size_t pos = 0; pos < text.size();) {
    const size_t end = lineEnd(pos);
    const std::string_view raw = text.substr(pos, end - pos);
    Item item;
    item.begin = static_cast<uint32_t>(pos);
    item.size = static_cast<uint32_t>(raw.size());
    item.key = current;
    size_t next = end + 1;
    const std::string_view line = TrimLeft(StripCr(raw));
    if (pos == 0) {
      // The signature line.
    } else if (StartsWith(line, kRelativeTo)) {
      std::u16string root;
      std::string_view rest = line.substr(std::string_view(kRelativeTo).size());
      std::string quoted = std::string(rest) + '\n';
      if (ParseEscaped(quoted, '\n', root)) h.root_ = SplitKeyName(root);
    } else if (!line.empty() && line[0] == '[') {
      // The path goes straight into the arenas, its empty levels left out
      // ("a\\\\b" is a\b).
      const size_t at = h.names_.size();
      // The decoded path is never longer than its header.
      const std::string_view s = line.substr(1);
      name.resize(s.size());
      size_t length = 0;
      bool levelStart = true;
      const auto addUnit = [&](char16_t c) {
        if (c == u'\\') {
          levelStart = true;
          return;
        }
        if (levelStart && length > 0) name[length++] = u'\\';
        levelStart = false;
        name[length++] = c;
      };
      std::optional<size_t> n;
      // Most headers are plain ASCII whose only escape is "\\".
      size_t k = 0;
      bool plain = true;
      for (; k < s.size() && s[k] != ']'; ++k) {
        const auto u = static_cast<uint8_t>(s[k]);
        if (u >= 0x80 || (u == '\\' && (k + 1 >= s.size() || s[k + 1] != '\\'))) {
          plain = false;
          break;
        }
        if (u == '\\') ++k;
        addUnit(static_cast<char16_t>(u));
      }
      if (plain && k < s.size()) {
        n = k + 1;
      } else {
        std::u16string decoded;
        n = ParseEscaped(s, ']', decoded);
        length = 0;
        levelStart = true;
        name.resize(std::max(name.size(), decoded.size()));
        if (n)
          for (char16_t c : decoded) addUnit(c);
      }
      if (n) {
        const std::u16string_view path(name.data(), length);
        h.names_ += path;
        h.folded_ += path;
        FoldInPlace(h.folded_.data() + at, length);
        Key key;
        key.at = at;
        key.length = length;
        h.keys_.push_back(key);
        const int added = static_cast<int>(h.keys_.size() - 1);
        const auto [slot, fresh] =
            h.Emplace(h.sectionIndex_, Slot{added, 0, static_cast<uint32_t>(length), 0});
        if (fresh) {
          current = added;
          h.keys_[added].first = h.items_.size();
        } else {
          // Another section of a key seen before: it adds to that key.
          current = slot->key;
          h.keys_[current].split = true;
          h.keys_.pop_back();
          h.names_.resize(at);
          h.folded_.resize(at);
        }
        item.kind = LineKind::Header;
        item.key = current;
        item.nameEnd = static_cast<uint32_t>((line.data() - raw.data()) + 1 + *n);
      } else {
        h.names_.resize(at);
      }
    } else if (current >= 0 && !line.empty() && (line[0] == '@' || line[0] == '"')) {
      // Hex data may continue over several lines ending in '\'. The value
      // itself is decoded when its key is first used.
      size_t lastStart = pos, lastEnd = end;
      if (auto start = ScanDataStart(line); start && StartsWith(line.substr(*start), "hex")) {
        while (lastEnd + 1 < text.size()) {
          const std::string_view last = TrimRight(text.substr(lastStart, lastEnd - lastStart));
          if (last.empty() || last.back() != '\\') break;
          lastStart = lastEnd + 1;
          lastEnd = lineEnd(lastStart);
        }
      }
      item.size = static_cast<uint32_t>(lastEnd - pos);
      item.kind = LineKind::Value;
      h.keys_[current].decoded = false;
      next = lastEnd + 1;
    } else if (current >= 0 && StartsWith(line, "#time=")) {
      item.kind = LineKind::Time;
    } else if (current >= 0 && TrimRight(line) == "#link") {
      item.kind = LineKind::Link;
      h.keys_[current].link = true;
    }
    h.items_.push_back(item);
    if (current >= 0) h.keys_[current].end = h.items_.size();
    pos = next;
  }
  h.Reindex();
  return h;
}

std::string_view RegistryHive::TextOf(const Item& item) const {
  if (item.owned) return owned_[item.begin];
  return std::string_view(*source_).substr(item.begin, item.size);
}

void RegistryHive::SetText(Item& item, std::string text) {
  if (!item.owned) {
    item.owned = true;
    item.begin = owned_.size();
    owned_.emplace_back();
  }
  item.size = text.size();
  owned_[item.begin] = std::move(text);
}

std::pair<size_t, size_t> RegistryHive::ItemRange(int k) const {
  if (rangesMoved_ || keys_[k].split) return {0, items_.size()};
  return {keys_[k].first, std::min(keys_[k].end, items_.size())};
}

void RegistryHive::DecodeValues(int k) const {
  if (k < 0 || keys_[k].decoded) return;
  std::lock_guard<std::mutex> lock(decodeLock_.mutex);
  if (keys_[k].decoded) return;
  // Folded value name -> the item that sets it; a later line of the same
  // name shadows the earlier one.
  std::unordered_map<std::u16string, size_t> seen;
  const auto [from, to] = ItemRange(k);
  for (size_t i = from; i < to; ++i) {
    const Item& item = items_[i];
    if (item.key != k || item.kind != LineKind::Value || item.value >= 0) continue;
    const std::string_view raw = TextOf(item);
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
      item.kind = LineKind::Other;
      continue;
    }
    item.value = static_cast<int>(values_.size());
    values_.push_back(std::move(*v));
    auto [it, fresh] = seen.try_emplace(FoldRegName(values_.back().name), i);
    if (!fresh) {
      items_[it->second].shadowed = true;
      it->second = i;
    }
  }
  keys_[k].decoded = true;
}

std::string RegistryHive::Serialize() const {
  size_t total = items_.size();
  for (const Item& item : items_) total += item.size;
  std::string out;
  out.reserve(total);
  for (size_t i = 0; i < items_.size(); ++i) {
    if (i) out += '\n';
    out += TextOf(items_[i]);
  }
  if (finalEol_ && !items_.empty()) out += '\n';
  return out;
}

RegKeyPath RegistryHive::PathOf(int k) const { return SplitKeyName(NameOf(k)); }

int RegistryHive::AddKey(std::u16string_view name) {
  Key key;
  key.at = names_.size();
  key.length = name.size();
  names_ += name;
  folded_ += name;
  FoldInPlace(folded_.data() + key.at, name.size());
  keys_.push_back(key);
  return static_cast<int>(keys_.size() - 1);
}

namespace {

uint32_t HashUnits(std::u16string_view s) {
  const size_t h = std::hash<std::u16string_view>{}(s);
  return static_cast<uint32_t>(h ^ (h >> 32));
}

}  // namespace

const RegistryHive::Slot* RegistryHive::Lookup(const PathIndex& index,
                                               std::u16string_view folded) const {
  if (index.table.empty()) return nullptr;
  const uint32_t hash = HashUnits(folded);
  const size_t mask = index.table.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = index.table[i];
    if (slot.key < 0) return nullptr;
    if (slot.hash == hash && slot.length == folded.size() &&
        FoldedOf(slot.key).substr(0, slot.length) == folded)
      return &slot;
  }
}

void RegistryHive::Reserve(PathIndex& index, size_t count) {
  size_t size = 64;
  while (size < count * 2) size *= 2;
  if (size <= index.table.size()) return;
  // Kept at most half full: probes stay short.
  std::vector<Slot> old = std::move(index.table);
  index.table.assign(size, Slot{});
  const size_t mask = size - 1;
  for (const Slot& s : old) {
    if (s.key < 0) continue;
    size_t i = s.hash & mask;
    while (index.table[i].key >= 0) i = (i + 1) & mask;
    index.table[i] = s;
  }
}

std::pair<const RegistryHive::Slot*, bool> RegistryHive::Emplace(PathIndex& index, Slot slot) {
  Reserve(index, index.used + 1);
  const std::u16string_view folded = FoldedOf(slot.key).substr(0, slot.length);
  slot.hash = HashUnits(folded);
  const size_t mask = index.table.size() - 1;
  size_t i = slot.hash & mask;
  for (; index.table[i].key >= 0; i = (i + 1) & mask) {
    const Slot& other = index.table[i];
    if (other.hash == slot.hash && other.length == slot.length &&
        FoldedOf(other.key).substr(0, other.length) == folded)
      return {&other, false};
  }
  index.table[i] = slot;
  ++index.used;
  return {&index.table[i], true};
}

void RegistryHive::Reindex() {
  existing_ = PathIndex{};
  Reserve(existing_, keys_.size() + keys_.size() / 2);
  for (size_t k = 0; k < keys_.size(); ++k) {
    const std::u16string_view folded = FoldedOf(static_cast<int>(k));
    if (folded.empty()) continue;
    // The folded path and its prefixes at each separator: the levels above.
    // When a prefix is indexed, so are all shorter ones.
    size_t depth = 1;
    for (char16_t c : folded) depth += c == u'\\';
    for (size_t end = folded.size();; --depth) {
      if (!Insert(existing_, Slot{static_cast<int>(k), static_cast<uint32_t>(depth),
                                  static_cast<uint32_t>(end), 0}))
        break;
      const size_t sep = folded.rfind(u'\\', end - 1);
      if (sep == std::u16string_view::npos) break;
      end = sep;
    }
  }
}

int RegistryHive::FindKeyIndex(std::u16string_view folded) const {
  const Slot* slot = Lookup(sectionIndex_, folded);
  return slot ? slot->key : -1;
}

std::optional<RegKeyPath> RegistryHive::LinkTarget(int key) const {
  DecodeValues(key);
  const RegValue* link = nullptr;
  const auto [from, to] = ItemRange(key);
  for (size_t i = from; i < to; ++i)
    if (const Item& item = items_[i]; item.key == key && item.kind == LineKind::Value &&
                                      !item.shadowed &&
                                      FoldRegName(ItemValue(item)->name) == u"SYMBOLICLINKVALUE")
      link = ItemValue(item);
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
  RegKeyPath cur;
  for (const auto& comp : KeyLevels(path)) {
    cur.push_back(comp);
    const Slot* found = Lookup(existing_, JoinFolded(cur));
    if (!found) return std::nullopt;
    const RegKeyPath spelled = PathOf(found->key);
    cur.assign(spelled.begin(), spelled.begin() + static_cast<long>(found->depth));
    const int k = FindKeyIndex(JoinFolded(cur));
    if (k >= 0 && keys_[k].link) {
      auto target = LinkTarget(k);
      if (!target) return std::nullopt;
      auto resolved = Resolve(*target, depth + 1);
      if (!resolved) return std::nullopt;
      cur = *resolved;
    }
  }
  return cur;
}

std::optional<RegKeyPath> RegistryHive::FindKey(const RegKeyPath& path) const {
  return Resolve(path, 0);
}

int RegistryHive::EnsureSection(const RegKeyPath& stored) {
  const std::u16string folded = JoinFolded(stored);
  if (int k = FindKeyIndex(folded); k >= 0) return k;
  std::u16string name;
  for (const std::u16string& level : stored) {
    if (level.empty()) continue;
    if (!name.empty()) name += u'\\';
    name += level;
  }
  const int k = AddKey(name);
  Insert(sectionIndex_, Slot{k, 0, static_cast<uint32_t>(name.size()), 0});
  const std::string cr = crlf_ ? "\r" : "";
  Item blank;
  SetText(blank, cr);
  blank.key = items_.empty() ? -1 : items_.back().key;
  Item header;
  header.kind = LineKind::Header;
  header.key = k;
  const std::string headerText = "[" + DumpString(name, "[]") + "]";
  header.nameEnd = headerText.size();
  SetText(header, headerText + cr);
  Item time;
  time.kind = LineKind::Time;
  time.key = k;
  SetText(time, "#time=0" + cr);
  items_.push_back(std::move(blank));
  keys_[k].first = items_.size();
  items_.push_back(std::move(header));
  items_.push_back(std::move(time));
  keys_[k].end = items_.size();
  finalEol_ = true;
  Reindex();
  Touch(k);
  return k;
}

RegKeyPath RegistryHive::CreateKey(const RegKeyPath& path) {
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
  auto stored = FindKey(key);
  if (!stored) return nullptr;
  const int k = FindKeyIndex(JoinFolded(*stored));
  if (k < 0) return nullptr;
  DecodeValues(k);
  const std::u16string folded = FoldRegName(name);
  const auto [from, to] = ItemRange(k);
  for (size_t i = from; i < to; ++i)
    if (const Item& item = items_[i]; item.key == k && item.kind == LineKind::Value &&
                                      !item.shadowed &&
                                      FoldRegName(ItemValue(item)->name) == folded)
      return ItemValue(item);
  return nullptr;
}

std::vector<const RegValue*> RegistryHive::Values(const RegKeyPath& key) const {
  std::vector<const RegValue*> out;
  auto stored = FindKey(key);
  if (!stored) return out;
  const int k = FindKeyIndex(JoinFolded(*stored));
  if (k < 0) return out;
  DecodeValues(k);
  const auto [from, to] = ItemRange(k);
  for (size_t i = from; i < to; ++i)
    if (const Item& item = items_[i];
        item.key == k && item.kind == LineKind::Value && !item.shadowed)
      out.push_back(ItemValue(item));
  return out;
}

void RegistryHive::Touch(int key) {
  const uint64_t ft = NowFileTime();
  const uint64_t secs = (ft - 116444736000000000ULL) / 10000000ULL;
  const std::string cr = crlf_ ? "\r" : "";
  char buf[64];
  bool timeDone = false;
  for (Item& item : items_) {
    if (item.key != key) continue;
    if (item.kind == LineKind::Header) {
      std::snprintf(buf, sizeof buf, " %u", static_cast<unsigned>(secs));
      SetText(item, std::string(TextOf(item).substr(0, item.nameEnd)) + buf + cr);
    } else if (item.kind == LineKind::Time && !timeDone) {
      std::snprintf(buf, sizeof buf, "#time=%x%08x", static_cast<unsigned>(ft >> 32),
                    static_cast<unsigned>(ft & 0xFFFFFFFFu));
      const std::string_view old = TextOf(item);
      SetText(item, std::string(old.substr(0, old.find('#'))) + buf + cr);
      timeDone = true;
    }
  }
}

bool RegistryHive::SetValue(const RegKeyPath& key, const RegValue& value) {
  auto stored = FindKey(key);
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
  const int k = EnsureSection(*stored);
  DecodeValues(k);
  const std::u16string folded = FoldRegName(value.name);
  size_t insertAt = 0;
  for (size_t i = 0; i < items_.size(); ++i) {
    Item& item = items_[i];
    if (item.key != k) continue;
    if (item.kind == LineKind::Value && !item.shadowed &&
        FoldRegName(ItemValue(item)->name) == folded) {
      SetText(item, std::move(text));
      values_[item.value] = value;
      Touch(k);
      return true;
    }
    if (!TrimLeft(StripCr(TextOf(item))).empty()) insertAt = i + 1;
  }
  // A line ending in '\' (hex data cut short, even one that did not decode)
  // would take the next line as its continuation when the file is read
  // again: an empty line after it keeps the new value its own.
  if (insertAt > 0) {
    const std::string_view before = TrimRight(TextOf(items_[insertAt - 1]));
    if (!before.empty() && before.back() == '\\') {
      Item gap;
      gap.key = k;
      SetText(gap, crlf_ ? "\r" : "");
      items_.insert(items_.begin() + static_cast<long>(insertAt++), std::move(gap));
    }
  }
  Item item;
  item.kind = LineKind::Value;
  item.key = k;
  SetText(item, std::move(text));
  item.value = static_cast<int>(values_.size());
  values_.push_back(value);
  items_.insert(items_.begin() + static_cast<long>(insertAt), std::move(item));
  rangesMoved_ = true;
  Touch(k);
  return true;
}

bool RegistryHive::DeleteValue(const RegKeyPath& key, std::u16string_view name) {
  auto stored = FindKey(key);
  if (!stored) return false;
  const int k = FindKeyIndex(JoinFolded(*stored));
  if (k < 0) return false;
  DecodeValues(k);
  const std::u16string folded = FoldRegName(name);
  bool found = false;
  for (size_t i = items_.size(); i-- > 0;) {
    const Item& item = items_[i];
    if (item.key == k && item.kind == LineKind::Value &&
        FoldRegName(ItemValue(item)->name) == folded) {
      found = found || !item.shadowed;
      items_.erase(items_.begin() + static_cast<long>(i));
      rangesMoved_ = true;
    }
  }
  if (found) Touch(k);
  return found;
}

}  // namespace kx
