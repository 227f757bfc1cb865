#include "platform/codepage.h"

#include <array>
#include <cstdint>
#include <system_error>

#include "platform/errors.h"
#include "platform/host_file.h"
#include "platform/pe_image.h"
#include "platform/registry_hive.h"
#include "platform/system.h"

namespace kx {
namespace fs = std::filesystem;

namespace {

// Entry of the encoding table for a UTF-16 unit the page cannot hold exactly.
constexpr uint16_t kNoBytes = 0xFFFF;

// 0x80..0x9F of Windows-1252. The five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the same value, as
// MultiByteToWideChar does.
constexpr std::array<char16_t, 32> kHigh1252 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};

// Decodes the UTF-8 sequence at utf8[i]: its length, with its code point in
// cp; 0 for a malformed sequence (the caller replaces its lead byte and
// goes on at the next byte).
size_t DecodeUtf8(std::string_view utf8, size_t i, uint32_t& cp) {
  const auto b = static_cast<unsigned char>(utf8[i]);
  if (b < 0x80) {
    cp = b;
    return 1;
  }
  size_t len = 0;
  uint32_t min = 0;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2, cp = b & 0x1F, min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3, cp = b & 0x0F, min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4, cp = b & 0x07, min = 0x10000;
  }
  if (len == 0 || i + len > utf8.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const auto c = static_cast<unsigned char>(utf8[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

uint32_t NextCodePoint(std::string_view text, size_t& i) {
  uint32_t cp = 0;
  const size_t len = DecodeUtf8(text, i, cp);
  i += len ? len : 1;
  return len ? cp : 0xFFFD;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = 0;
    const size_t len = DecodeUtf8(text, i, cp);
    if (!len) return false;
    i += len;
  }
  return true;
}

const CodePage& CodePage::Windows1252() {
  static const CodePage page = [] {
    CodePage p;
    p.number_ = 1252;
    p.single_.resize(256);
    p.wide_.assign(0x10000, kNoBytes);
    for (int b = 0; b < 256; ++b) {
      const char16_t u = b >= 0x80 && b < 0xA0 ? kHigh1252[b - 0x80] : static_cast<char16_t>(b);
      p.single_[b] = u;
      p.wide_[u] = static_cast<uint16_t>(b);
    }
    return p;
  }();
  return page;
}

CodePage CodePage::Utf8() {
  CodePage p;
  p.number_ = 65001;
  p.utf8_ = true;
  return p;
}

std::optional<CodePage> CodePage::FromNls(std::span<const uint8_t> bytes) {
  // The layout of a code page file, in 16-bit words: a header (its own size
  // in words, the code page, the largest character size, the default
  // characters and the lead byte ranges); the word count to the encoding
  // table; 256 words decoding single bytes; a flag for an OEM glyph table
  // (256 words when set); the number of lead byte ranges and, for a
  // double-byte page, 256 offsets (from the offsets' start, in words) of the
  // 256-word table of each lead byte; then the encoding table, one entry per
  // UTF-16 unit (bytes for a single-byte page, words otherwise).
  try {
    CodePage p;
    const auto word = [&](uint64_t index) { return ReadLe16(bytes, 2 * index); };
    const uint16_t headerWords = word(0);
    if (headerWords < 13) return std::nullopt;
    p.number_ = word(1);
    const uint16_t maxCharSize = word(2);
    if (maxCharSize != 1 && maxCharSize != 2) return std::nullopt;
    p.uniDefault_ = word(4);
    uint64_t at = headerWords;
    const uint64_t wideStart = at + word(at) + 1;
    const uint64_t single = ++at;
    at += 256;
    if (word(at++) != 0) at += 256;
    const uint16_t rangeCount = word(at);
    if ((rangeCount != 0) != (maxCharSize == 2)) return std::nullopt;
    p.single_.resize(256);
    for (int b = 0; b < 256; ++b) p.single_[b] = word(single + b);
    if (rangeCount != 0) {
      const uint64_t offsets = at + 1;
      p.lead_.assign(256, 0);
      p.dbcs_.assign(0x10000, 0);
      for (int lead = 0; lead < 256; ++lead) {
        const uint16_t off = word(offsets + lead);
        if (off == 0) continue;
        p.lead_[lead] = 1;
        for (int trail = 0; trail < 256; ++trail) p.dbcs_[lead * 256 + trail] = word(offsets + off + trail);
      }
    }
    // The encoding table maps some characters to a similar one ("best fit");
    // only entries that read back as the same character are kept.
    p.wide_.assign(0x10000, kNoBytes);
    const bool wideWords = maxCharSize == 2;
    if (2 * wideStart + (wideWords ? 2 : 1) * 0x10000ull > bytes.size()) return std::nullopt;
    for (uint32_t u = 0; u < 0x10000; ++u) {
      if (u >= 0xD800 && u <= 0xDFFF) continue;
      const uint16_t v = wideWords ? word(wideStart + u) : bytes[2 * wideStart + u];
      char16_t back = 0;
      if (v > 0xFF) {
        if (!p.IsLeadByte(static_cast<unsigned char>(v >> 8)) || (v & 0xFF) == 0) continue;
        back = p.dbcs_[v];
      } else {
        if (p.IsLeadByte(static_cast<unsigned char>(v))) continue;
        back = p.single_[v];
      }
      if (back == u) p.wide_[u] = v;
    }
    return p;
  } catch (const EReadError&) {
    return std::nullopt;
  }
}

char16_t CodePage::DecodeAt(std::string_view bytes, size_t& i) const {
  const auto b = static_cast<unsigned char>(bytes[i++]);
  if (!IsLeadByte(b)) return single_[b];
  if (i >= bytes.size() || bytes[i] == '\0') return uniDefault_;
  const auto trail = static_cast<unsigned char>(bytes[i++]);
  const char16_t u = dbcs_[b * 256 + trail];
  return u ? u : uniDefault_;
}

void CodePage::AppendUtf8(std::string& out, std::string_view bytes) const {
  if (utf8_) {
    for (size_t i = 0; i < bytes.size();) kx::AppendUtf8(out, NextCodePoint(bytes, i));
    return;
  }
  // ASCII runs, the common case, are copied as they stand: every ANSI code
  // page keeps ASCII, and a double-byte character starts with a byte >= 0x80.
  size_t i = 0;
  while (i < bytes.size()) {
    size_t j = i;
    while (j < bytes.size() && static_cast<unsigned char>(bytes[j]) < 0x80) ++j;
    out.append(bytes.data() + i, j - i);
    if (j < bytes.size()) {
      const char16_t u = DecodeAt(bytes, j);
      // A page may map a byte to half of a surrogate pair (private use
      // pages do not, but a damaged table might): never emit one alone.
      kx::AppendUtf8(out, u >= 0xD800 && u <= 0xDFFF ? 0xFFFD : u);
    }
    i = j;
  }
}

std::string CodePage::ToUtf8(std::string_view bytes) const {
  if (IsAscii(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() * 2);
  AppendUtf8(out, bytes);
  return out;
}

std::string CodePage::Encode(uint32_t cp) const {
  std::string out;
  if (utf8_) {
    kx::AppendUtf8(out, cp);
    return out;
  }
  if (cp >= 0x10000 || wide_[cp] == kNoBytes) return out;
  const uint16_t v = wide_[cp];
  if (v > 0xFF) out += static_cast<char>(v >> 8);
  out += static_cast<char>(v & 0xFF);
  return out;
}

std::string CodePage::FromUtf8(std::string_view utf8, std::string* lost) const {
  if (IsAscii(utf8)) return std::string(utf8);
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const size_t start = i;
    uint32_t cp = 0;
    const size_t len = DecodeUtf8(utf8, i, cp);
    i += len ? len : 1;
    const std::string bytes = len ? Encode(cp) : std::string();
    if (!bytes.empty()) {
      out += bytes;
      continue;
    }
    out += '?';
    if (lost) {
      std::string ch = len ? std::string(utf8.substr(start, len)) : std::string("\uFFFD");
      if (lost->find(ch) == std::string::npos) *lost += ch;
    }
  }
  return out;
}

bool CodePage::CanEncode(std::string_view utf8) const {
  for (size_t i = 0; i < utf8.size();) {
    if (static_cast<unsigned char>(utf8[i]) < 0x80) {
      ++i;
      continue;
    }
    uint32_t cp = 0;
    const size_t len = DecodeUtf8(utf8, i, cp);
    if (!len || Encode(cp).empty()) return false;
    i += len;
  }
  return true;
}

CodePage LoadPrefixCodePage(const std::optional<fs::path>& prefix, std::string& warning) {
  warning.clear();
  if (!prefix) return CodePage::Windows1252();
  std::string acp;
  try {
    RegistryAccessor reg(prefix, RootKey::LocalMachine);
    if (reg.OpenKey("System\\CurrentControlSet\\Control\\Nls\\Codepage", false)) acp = reg.ReadString("ACP");
  } catch (const Exception&) {
    acp.clear();
  }
  int number = 0;
  for (char c : acp) {
    if (c < '0' || c > '9' || number > 99999) {
      number = 0;
      break;
    }
    number = number * 10 + (c - '0');
  }
  if (number == 0 || number == 1252) {
    if (!acp.empty() && number == 0) {
      warning = "The prefix's ANSI code page \"" + acp +
                "\" is not a code page number; Windows-1252 is used instead.";
    }
    return CodePage::Windows1252();
  }
  if (number == 65001) return CodePage::Utf8();

  // The tables live in the native system folder; in a 64-bit prefix the
  // 32-bit view of C:\windows\system32 (syswow64) may not hold them.
  const std::string file = "c_" + std::to_string(number) + ".nls";
  for (const fs::path& folder :
       {*prefix / "drive_c" / "windows" / "system32", *prefix / "dosdevices" / "c:" / "windows" / "system32"}) {
    HostFile nls(folder / file);
    if (!nls.IsOpen()) continue;
    const auto data = nls.ReadAll();
    if (!data) continue;
    auto page = CodePage::FromNls(
        std::span(reinterpret_cast<const uint8_t*>(data->data()), data->size()));
    if (page && page->Number() == number) return *page;
  }
  warning = "The table of the prefix's code page " + std::to_string(number) +
            " (C:\\windows\\system32\\" + file +
            ") cannot be read; Windows-1252 is used instead.";
  return CodePage::Windows1252();
}

const CodePage& SystemCodePage() { return Sys().AnsiCodePage(); }

std::string AnsiToUtf8(std::string_view ansi) { return SystemCodePage().ToUtf8(ansi); }

std::string Utf8ToAnsi(std::string_view utf8, std::string* lost) {
  return SystemCodePage().FromUtf8(utf8, lost);
}

std::string LostCharactersMessage(std::string_view where, std::string_view lost) {
  return std::string(where) + ": " + std::string(lost) + " cannot be written in code page " +
         std::to_string(SystemCodePage().Number()) + "; written as \"?\".";
}

std::u16string Utf16LeText(std::span<const uint8_t> bytes) {
  std::u16string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const uint32_t cp = NextCodePoint(utf8, i);
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

}  // namespace kx
