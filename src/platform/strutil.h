#pragma once
// String helpers with the Windows/Delphi meaning: case-insensitive compares
// that fold ASCII letters only, and the file name pieces of a Windows path.
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

// File names fold case the way the Windows file system does: ASCII letters
// and the accented letters of Windows-1252 (e-acute equals E-acute).
char FileNameUpper(char c);
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
