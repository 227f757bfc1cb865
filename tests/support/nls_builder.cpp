#include "support/nls_builder.h"

#include <cstddef>
#include <set>
#include <stdexcept>
#include <string>

namespace kx::test {

std::vector<uint8_t> BuildNls(const NlsSpec& spec) {
  std::set<uint8_t> leads;
  for (const auto& [bytes, ch] : spec.doubles) leads.insert(static_cast<uint8_t>(bytes >> 8));
  const bool dbcs = !leads.empty();

  std::vector<uint16_t> words(13, 0);
  words[0] = 13;
  words[1] = spec.codePage;
  words[2] = dbcs ? 2 : 1;
  words[3] = '?';
  words[4] = spec.uniDefault;
  words[5] = '?';
  words[6] = spec.uniDefault;
  // Lead byte ranges: pairs of bytes, at most five, ending in a zero pair.
  std::vector<uint8_t> ranges;
  for (uint8_t lead : leads) {
    if (!ranges.empty() && ranges.back() + 1 == lead)
      ranges.back() = lead;
    else
      ranges.insert(ranges.end(), {lead, lead});
  }
  for (std::size_t i = 0; i < ranges.size() && i < 10; ++i)
    words[7 + i / 2] |= static_cast<uint16_t>(ranges[i] << (8 * (i % 2)));

  std::vector<char16_t> single(256, u'?');
  for (int b = 0; b < 0x80; ++b) single[b] = static_cast<char16_t>(b);
  for (const auto& [b, ch] : spec.single) single[b] = ch;
  for (uint8_t lead : leads) single[lead] = 0;

  const std::size_t dbcsWords = dbcs ? 256 + 256 * leads.size() : 0;
  words.push_back(static_cast<uint16_t>(256 + 1 + 1 + dbcsWords + 1));
  words.insert(words.end(), single.begin(), single.end());
  words.push_back(0);  // no glyph table
  words.push_back(dbcs ? static_cast<uint16_t>(ranges.size() / 2) : 0);
  if (dbcs) {
    const std::size_t offsets = words.size();
    words.resize(offsets + 256, 0);
    std::size_t table = 256;
    for (uint8_t lead : leads) {
      words[offsets + lead] = static_cast<uint16_t>(table);
      const std::size_t start = words.size();
      words.resize(start + 256, spec.uniDefault);
      words[start] = 0;  // a NUL trail byte is no character
      for (const auto& [bytes, ch] : spec.doubles)
        if ((bytes >> 8) == lead) words[start + (bytes & 0xFF)] = ch;
      table += 256;
    }
  }
  words.push_back(0);

  // The encoding table: every character the decoding tables produce, then
  // the best-fit entries; the rest are the default character.
  std::vector<uint16_t> wide(0x10000, '?');
  for (int b = 0; b < 256; ++b)
    if (!leads.count(static_cast<uint8_t>(b))) wide[single[b]] = static_cast<uint16_t>(b);
  for (const auto& [bytes, ch] : spec.doubles) wide[ch] = bytes;
  for (const auto& [ch, bytes] : spec.bestFit) wide[ch] = bytes;
  wide['?'] = '?';

  std::vector<uint8_t> out;
  for (uint16_t w : words) out.insert(out.end(), {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8)});
  for (uint16_t w : wide) {
    out.push_back(static_cast<uint8_t>(w));
    if (dbcs) out.push_back(static_cast<uint8_t>(w >> 8));
  }
  return out;
}

// The tables of the pages below hold the characters the cases use, at the
// places the published code page charts give them.
NlsSpec ChartSpec(uint16_t page) {
  NlsSpec s;
  s.codePage = page;
  switch (page) {
    case 1250:
      s.single = {{0xA3, u'\u0141'}, {0xF3, u'\u00F3'}, {0x9F, u'\u017A'}, {0x8A, u'\u0160'}};
      break;
    case 1251:
      // А..я at 0xC0..0xFF, Ё/ё at 0xA8/0xB8.
      for (int i = 0; i < 64; ++i) s.single[static_cast<uint8_t>(0xC0 + i)] = static_cast<char16_t>(0x410 + i);
      s.single[0xA8] = u'\u0401';
      s.single[0xB8] = u'\u0451';
      s.bestFit = {{u'\u00C0', 'A'}};  // A-grave written as a plain A by the table
      break;
    case 932:
      s.uniDefault = u'\u30FB';
      s.single = {{0xB1, u'\uFF71'}};  // halfwidth katakana A
      s.doubles = {{0x955C, u'\u8868'}, {0x8EA6, u'\u793A'}, {0x8341, u'\u30A2'},
                   {0x8361, u'\u30C2'}, {0x8145, u'\u30FB'}};
      break;
    case 936:
      s.doubles = {{0xD6D0, u'\u4E2D'}, {0xCEC4, u'\u6587'}};
      break;
  }
  return s;
}

CodePage ChartPage(uint16_t page) {
  if (page == 1252) return CodePage::Windows1252();
  const std::vector<uint8_t> nls = BuildNls(ChartSpec(page));
  auto p = CodePage::FromNls(nls);
  if (!p) throw std::logic_error("test table of code page " + std::to_string(page) + " unreadable");
  return *p;
}

}  // namespace kx::test
