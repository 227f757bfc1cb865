#pragma once
// The colour rules of the package source view, as data, and a scanner that
// tells which rule colours which characters. Each rule finds its matches in
// the text on its own; where matches of several rules overlap, the rule with
// the higher z-order is drawn on top (at equal z-order the later rule).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

enum class TColorName : uint8_t { clBlue, clGray, clSilver, clGreen };
struct TRGB {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const TRGB&) const = default;
};
TRGB ColorRGB(TColorName c);
// "blue", "gray", "silver", "green" (also with the "cl" prefix), ignoring case.
std::optional<TColorName> ColorFromName(std::string_view name);

enum class TRuleKind : uint8_t {
  Keywords,   // each entry is a word, drawn where it stands as a whole word
  Pair,       // "begin;end;colour": from begin marker to end marker
  ToLineEnd,  // "marker;colour": from the marker to the end of the line
};

struct THighlightRule {
  int ZOrder = 0;
  TRuleKind Kind = TRuleKind::Keywords;
  std::vector<std::string> Entries;  // as configured
  std::optional<TColorName> DefaultColor;
};

// The four rules of the package source view, in order.
const std::vector<THighlightRule>& DPKColorRules();
// The 72 keywords, lower case, in configured order.
const std::vector<std::string>& DPKKeywords();

// One parsed Pair or ToLineEnd entry. An empty colour in the entry means the
// rule's default colour.
struct TMarkerEntry {
  std::string Begin;
  std::string End;  // empty for ToLineEnd
  std::optional<TColorName> Color;
};
// Raises kx::Exception for an entry that does not fit its rule's kind.
TMarkerEntry ParseMarkerEntry(const THighlightRule& rule, std::string_view entry);

// A coloured stretch of text: byte offsets into the scanned text (one byte
// is one character in the code page, and one UTF-16 unit).
struct TColorRun {
  size_t Start = 0;
  size_t Length = 0;
  int Rule = 0;  // index into the rule list
  TColorName Color = TColorName::clBlue;
  bool operator==(const TColorRun&) const = default;
};

// Scans the whole text. Pair matches may span lines and do not nest: a
// match ends at the first end marker after its begin marker, and one without
// an end marker runs to the end of the text. At one position the longest
// begin marker of a rule wins ("{*" over "{"). Keywords match whole words
// ignoring case, outside string literals ('...', ending at the closing quote
// or the line end) and outside the other rules' matches. The result lists
// the final colour of every coloured character, merged into runs in text
// order; uncoloured characters belong to no run.
std::vector<TColorRun> ScanColors(std::string_view text,
                                  const std::vector<THighlightRule>& rules = DPKColorRules());

// The winning rule index per character (-1: none), same rules.
std::vector<int> RuleMap(std::string_view text,
                         const std::vector<THighlightRule>& rules = DPKColorRules());

}  // namespace kx
