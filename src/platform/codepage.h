#pragma once
// Text inside the core is UTF-8: registry names and data, host file names,
// the environment, descriptions, messages. Eight-bit text in a Windows code
// page appears only at the edges where Windows programs use it: strings
// inside binaries are decoded from the system code page (AnsiToUtf8), and
// the files the tool writes are encoded to it (Utf8ToAnsi). UTF-16 appears
// where Windows uses it (registry files, resources, Win32 calls) and
// converts losslessly.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// One Windows ANSI code page: a single-byte page (1250-1258, 874, ...) or a
// double-byte one (932, 936, 949, 950), with the mapping of Windows' own
// code page table.
class CodePage {
 public:
  // Windows-1252, built in: the system code page when a prefix names none.
  static const CodePage& Windows1252();
  // The table of a Windows code page file ("c_1251.nls"); nullopt when the
  // bytes are not such a table.
  static std::optional<CodePage> FromNls(std::span<const uint8_t> bytes);
  // UTF-8 (65001): bytes taken as they stand, malformed ones as U+FFFD.
  static CodePage Utf8();

  int Number() const { return number_; }
  bool DoubleByte() const { return !dbcs_.empty(); }
  bool IsLeadByte(unsigned char b) const { return !dbcs_.empty() && lead_[b] != 0; }

  // Bytes in this code page to UTF-8. A lead byte without a valid second
  // byte gives the page's default character, as MultiByteToWideChar does.
  std::string ToUtf8(std::string_view bytes) const;
  void AppendUtf8(std::string& out, std::string_view bytes) const;
  // UTF-8 to bytes in this code page. Every character without an exact
  // mapping (one that reads back as itself) becomes '?': no best-fit
  // replacements. When lost is given it receives each such character once,
  // in order of appearance.
  std::string FromUtf8(std::string_view utf8, std::string* lost = nullptr) const;
  // Whether every character of utf8 has an exact mapping.
  bool CanEncode(std::string_view utf8) const;

 private:
  CodePage() = default;
  // Bytes for one code point; empty when there is no exact mapping.
  std::string Encode(uint32_t cp) const;
  char16_t DecodeAt(std::string_view bytes, size_t& i) const;

  int number_ = 0;
  bool utf8_ = false;
  char16_t uniDefault_ = u'?';
  std::vector<char16_t> single_;  // byte -> UTF-16 unit (256 entries)
  std::vector<uint8_t> lead_;     // lead byte -> 1 (256 entries, double-byte pages)
  std::vector<char16_t> dbcs_;    // lead * 256 + trail -> UTF-16 unit (0: none)
  std::vector<uint16_t> wide_;    // UTF-16 unit -> bytes (lead in the high byte)
};

// The prefix's code page: ACP under
// HKLM\System\CurrentControlSet\Control\Nls\Codepage with the table
// c_<ACP>.nls of the native system folder (drive_c/windows/system32, never
// the 32-bit view). Without a prefix or an ACP, Windows-1252. When the table
// cannot be had, Windows-1252 and a message saying so in warning.
CodePage LoadPrefixCodePage(const std::optional<std::filesystem::path>& prefix,
                            std::string& warning);

// The current system's code page (Sys()), loaded once with the system.
const CodePage& SystemCodePage();
// Bytes in the system code page (a name inside a binary) to UTF-8.
std::string AnsiToUtf8(std::string_view ansi);
// UTF-8 to bytes in the system code page (a file the tool writes); lost as
// for CodePage::FromUtf8.
std::string Utf8ToAnsi(std::string_view utf8, std::string* lost = nullptr);
// The message for text that a written file could not hold whole, e.g.
// "C:\x\Pkg.dpk: 工具 cannot be written in code page 1251; written as "?"."
std::string LostCharactersMessage(std::string_view where, std::string_view lost);

// UTF-16LE bytes (a resource, a registry string) up to the first NUL unit or
// the last whole unit.
std::u16string Utf16LeText(std::span<const uint8_t> bytes);
// Lossless conversions between UTF-8 and UTF-16. Malformed UTF-8 gives
// U+FFFD; a lone surrogate gives U+FFFD in UTF-8.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view text);
// Whether text is well-formed UTF-8 (a host file name that can be a
// Windows name).
bool IsValidUtf8(std::string_view text);
// The code point at text[i] and the number of bytes it takes; a malformed
// sequence gives U+FFFD and 1.
uint32_t NextCodePoint(std::string_view text, size_t& i);
void AppendUtf8(std::string& out, uint32_t codePoint);

}  // namespace kx
