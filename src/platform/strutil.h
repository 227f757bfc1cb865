#pragma once
// String helpers with the Windows/Delphi meaning: case-insensitive compares
// that fold ASCII letters only, and the file name pieces of a Windows path.
// Text is UTF-8: no byte of a multi-byte character is ever ASCII, so the
// ASCII rules and the '\' and ':' delimiters are safe on it.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

std::string AsciiUpper(std::string_view s);
std::string AsciiLower(std::string_view s);
// Whole-string compare ignoring the case of ASCII letters.
bool SameText(std::string_view a, std::string_view b);
// <0, 0, >0 ignoring the case of ASCII letters (Delphi CompareText).
int CompareText(std::string_view a, std::string_view b);
// Case-insensitive substring search; npos when absent.
size_t FindText(std::string_view haystack, std::string_view needle);

// File names (UTF-8) fold case the way the Windows file system does: each
// letter to its upper case, ASCII and beyond (e-acute equals E-acute, Cyrillic
// and Greek small letters their capitals); characters without case, such as
// CJK ideographs, stay as they are.
char32_t UpperCaseLetter(char32_t c);
// The name with every letter upper-cased (UTF-8); malformed bytes are kept.
std::string FileNameFold(std::string_view name);
bool SameFileName(std::string_view a, std::string_view b);

// The folder part: everything up to and including the last '\' or ':'.
std::string ExtractFilePath(std::string_view path);
// What follows the folder part.
std::string ExtractFileName(std::string_view path);
// From the last '.' when no '\' or ':' follows it; empty otherwise.
std::string ExtractFileExt(std::string_view path);
std::string ChangeFileExt(std::string_view path, std::string_view ext);
// Adds a trailing '\' unless the path is empty or already ends in '\' or ':'.
std::string IncludeTrailingBackslash(std::string_view path);
// Splits at every occurrence of sep; empty items are kept.
std::vector<std::string> SplitString(std::string_view s, char sep);

}  // namespace kx
