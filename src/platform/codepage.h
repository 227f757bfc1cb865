#pragma once
// Windows-1252, the system code page. Every 8-bit text inside the core is in
// it; UTF-8 and UTF-16 appear only at the edges (host file names, Qt, UTF-16
// resources).
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kx {

std::string Cp1252ToUtf8(std::string_view text);
// The same, appended to out (no string of its own per call).
void AppendCp1252AsUtf8(std::string& out, std::string_view text);
// Characters without a Windows-1252 form become '?', as WideCharToMultiByte does.
std::string Utf8ToCp1252(std::string_view utf8);
std::string Utf16ToCp1252(std::u16string_view text);
std::u16string Cp1252ToUtf16(std::string_view text);
// UTF-16LE bytes (a resource, a registry string) up to the first NUL unit or
// the last whole unit.
std::u16string Utf16LeText(std::span<const uint8_t> bytes);
// Lossless conversions between UTF-8 and UTF-16 (text that must keep every
// character, such as registry strings edited in place). Malformed UTF-8
// gives U+FFFD; a lone surrogate gives U+FFFD in UTF-8.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace kx
