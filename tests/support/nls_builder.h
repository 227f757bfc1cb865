#pragma once
// Windows code page tables (the c_NNNN.nls files of a system folder) for
// tests, written from the layout of the format: a header of 13 words (its own
// size, the code page, the largest character size, the default characters,
// the lead byte ranges), the word count to the encoding table, 256 words
// decoding single bytes, the OEM glyph flag, the lead byte range count and,
// for a double-byte page, 256 offsets to one 256-word table per lead byte,
// one more word, then the encoding table (one byte or word per UTF-16 unit).
#include <cstdint>
#include <map>
#include <vector>

#include "platform/codepage.h"

namespace kx::test {

struct NlsSpec {
  uint16_t codePage = 0;
  char16_t uniDefault = u'?';
  // Bytes 0x80..0xFF of a single-byte page, or single bytes of a double-byte
  // page; unlisted ones read as '?'. Bytes below 0x80 are ASCII.
  std::map<uint8_t, char16_t> single{};
  // Double-byte characters (lead << 8 | trail); their lead bytes become lead
  // bytes, and their other trail bytes read as uniDefault.
  std::map<uint16_t, char16_t> doubles{};
  // Encoding entries that do not read back as their character (the tables'
  // "best fit" replacements, such as U+0100 written as 'A').
  std::map<char16_t, uint16_t> bestFit{};
};

std::vector<uint8_t> BuildNls(const NlsSpec& spec);

// Small tables of 1250, 1251, 932 and 936 holding the characters the tests
// use, at the places the published code page charts give them; 1252 is the
// built-in page.
NlsSpec ChartSpec(uint16_t page);
CodePage ChartPage(uint16_t page);

}  // namespace kx::test
