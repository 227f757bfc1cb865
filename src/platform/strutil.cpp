#include "platform/strutil.h"

#include "platform/codepage.h"

namespace kx {
namespace {

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Index of the last '\' or ':' (npos when none).
size_t LastPathDelimiter(std::string_view path) { return path.find_last_of("\\:"); }

// Index of the '.' that starts the extension, npos when there is none.
size_t ExtensionStart(std::string_view path) {
  const size_t pos = path.find_last_of(".\\:");
  if (pos == std::string_view::npos || path[pos] != '.') return std::string_view::npos;
  return pos;
}

}  // namespace

std::string AsciiUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = UpperAscii(c);
  return out;
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

int CompareText(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const int ca = static_cast<unsigned char>(UpperAscii(a[i]));
    const int cb = static_cast<unsigned char>(UpperAscii(b[i]));
    if (ca != cb) return ca - cb;
  }
  return static_cast<int>(a.size()) - static_cast<int>(b.size());
}

char32_t UpperCaseLetter(char32_t c) {
  // Each range: first and last small letter, and how its capital is found
  // (a fixed distance, or the even/odd code point of a pair).
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 0x20 : c;
  if (c >= 0xE0 && c <= 0xFE) return c == 0xF7 ? c : c - 0x20;
  if (c == 0xFF) return 0x178;
  // Latin Extended-A: pairs, capital first, with the turned-I and kra gaps.
  if (c >= 0x100 && c <= 0x137) return (c & 1) && c != 0x131 ? c - 1 : c;
  if (c >= 0x139 && c <= 0x148) return (c & 1) ? c : c - 1;
  if (c >= 0x14A && c <= 0x177) return (c & 1) ? c - 1 : c;
  if (c >= 0x179 && c <= 0x17E) return (c & 1) ? c : c - 1;
  // Latin Extended-B letters of Vietnamese and Pinyin.
  if (c == 0x1A1 || c == 0x1B0) return c - 1;
  if (c >= 0x1CD && c <= 0x1DC) return (c & 1) ? c : c - 1;
  // Greek.
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x3B1 && c <= 0x3CB) return c - 0x20;
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
  // Cyrillic.
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F))
    return (c & 1) ? c - 1 : c;
  if (c >= 0x4C1 && c <= 0x4CE) return (c & 1) ? c : c - 1;
  if (c == 0x4CF) return 0x4C0;
  // Armenian.
  if (c >= 0x561 && c <= 0x586) return c - 0x30;
  // Latin Extended Additional (Vietnamese among others).
  if ((c >= 0x1E00 && c <= 0x1E95) || (c >= 0x1EA0 && c <= 0x1EFF)) return (c & 1) ? c - 1 : c;
  // Fullwidth Latin letters.
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;
  return c;
}

std::string FileNameFold(std::string_view name) {
  std::string out(name);
  size_t i = 0;
  for (; i < out.size(); ++i) {
    const auto b = static_cast<unsigned char>(out[i]);
    if (b >= 0x80) break;
    if (b >= 'a' && b <= 'z') out[i] = static_cast<char>(b - 0x20);
  }
  if (i == out.size()) return out;
  // Beyond ASCII: character by character; a malformed byte stays as it is.
  out.resize(i);
  while (i < name.size()) {
    const size_t start = i;
    const uint32_t cp = NextCodePoint(name, i);
    if (cp == 0xFFFD && i - start == 1 && static_cast<unsigned char>(name[start]) >= 0x80) {
      out += name[start];
      continue;
    }
    AppendUtf8(out, UpperCaseLetter(cp));
  }
  return out;
}

bool SameFileName(std::string_view a, std::string_view b) {
  size_t i = 0;
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[i]);
    if (ca >= 0x80 || cb >= 0x80) return FileNameFold(a.substr(i)) == FileNameFold(b.substr(i));
    if (UpperCaseLetter(ca) != UpperCaseLetter(cb)) return false;
  }
  return a.size() == b.size();
}

size_t FindText(std::string_view haystack, std::string_view needle) {
  if (needle.empty()) return 0;
  if (needle.size() > haystack.size()) return std::string_view::npos;
  for (size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
    if (SameText(haystack.substr(i, needle.size()), needle)) return i;
  }
  return std::string_view::npos;
}

std::string ExtractFilePath(std::string_view path) {
  const size_t pos = LastPathDelimiter(path);
  if (pos == std::string_view::npos) return {};
  return std::string(path.substr(0, pos + 1));
}

std::string ExtractFileName(std::string_view path) {
  const size_t pos = LastPathDelimiter(path);
  if (pos == std::string_view::npos) return std::string(path);
  return std::string(path.substr(pos + 1));
}

std::string ExtractFileExt(std::string_view path) {
  const size_t pos = ExtensionStart(path);
  if (pos == std::string_view::npos) return {};
  return std::string(path.substr(pos));
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  const size_t pos = ExtensionStart(path);
  std::string out(path.substr(0, pos == std::string_view::npos ? path.size() : pos));
  out += ext;
  return out;
}

std::string IncludeTrailingBackslash(std::string_view path) {
  std::string out(path);
  if (!out.empty() && out.back() != '\\' && out.back() != ':') out += '\\';
  return out;
}

std::vector<std::string> SplitString(std::string_view s, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  while (true) {
    const size_t pos = s.find(sep, start);
    if (pos == std::string_view::npos) {
      out.emplace_back(s.substr(start));
      return out;
    }
    out.emplace_back(s.substr(start, pos - start));
    start = pos + 1;
  }
}

}  // namespace kx
