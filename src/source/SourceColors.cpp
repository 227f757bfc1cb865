#include "source/SourceColors.h"

#include <algorithm>
#include <numeric>
#include <unordered_set>

#include "platform/errors.h"
#include "platform/strutil.h"

namespace kx {
namespace {

struct Match {
  size_t start = 0;
  size_t end = 0;  // exclusive
  TColorName color = TColorName::clBlue;
};

bool IsWordChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c >= 0x80;
}

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// The entry with the longest Begin marker that starts at position i.
const TMarkerEntry* LongestMarkerAt(std::string_view text, size_t i,
                                    const std::vector<TMarkerEntry>& entries) {
  const TMarkerEntry* best = nullptr;
  for (const auto& e : entries)
    if (!e.Begin.empty() && text.substr(i, e.Begin.size()) == e.Begin &&
        (!best || e.Begin.size() > best->Begin.size()))
      best = &e;
  return best;
}

std::vector<Match> PairMatches(std::string_view text, const std::vector<TMarkerEntry>& entries) {
  std::vector<Match> out;
  size_t i = 0;
  while (i < text.size()) {
    const TMarkerEntry* best = LongestMarkerAt(text, i, entries);
    if (!best) {
      ++i;
      continue;
    }
    size_t from = i + best->Begin.size();
    size_t close = best->End.empty() ? std::string_view::npos : text.find(best->End, from);
    size_t end = close == std::string_view::npos ? text.size() : close + best->End.size();
    out.push_back({i, end, *best->Color});
    i = end;
  }
  return out;
}

std::vector<Match> LineMatches(std::string_view text, const std::vector<TMarkerEntry>& entries) {
  std::vector<Match> out;
  size_t i = 0;
  while (i < text.size()) {
    const TMarkerEntry* best = LongestMarkerAt(text, i, entries);
    if (!best) {
      ++i;
      continue;
    }
    size_t end = i + best->Begin.size();
    while (end < text.size() && !IsLineEnd(text[end])) ++end;
    out.push_back({i, end, *best->Color});
    i = end;
  }
  return out;
}

// Whole words outside string literals and outside the characters other
// rules colour.
std::vector<Match> KeywordMatches(std::string_view text, const THighlightRule& rule,
                                  const std::vector<bool>& covered) {
  std::unordered_set<std::string> words;
  for (const auto& w : rule.Entries) words.insert(AsciiLower(w));
  TColorName color = rule.DefaultColor.value_or(TColorName::clBlue);
  std::vector<Match> out;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (covered[i]) {
      ++i;
    } else if (c == '\'') {
      ++i;
      while (i < n && text[i] != '\'' && !IsLineEnd(text[i])) ++i;
      if (i < n && text[i] == '\'') ++i;
    } else if (IsWordChar(c) || c == '$' || c == '#') {
      size_t start = i++;
      while (i < n && !covered[i] && IsWordChar(static_cast<unsigned char>(text[i]))) ++i;
      if (words.count(AsciiLower(text.substr(start, i - start)))) out.push_back({start, i, color});
    } else {
      ++i;
    }
  }
  return out;
}

THighlightRule MakeRule(int z, TRuleKind kind, std::vector<std::string> entries,
                        std::optional<TColorName> color) {
  THighlightRule r;
  r.ZOrder = z;
  r.Kind = kind;
  r.Entries = std::move(entries);
  r.DefaultColor = color;
  return r;
}

}  // namespace

TRGB ColorRGB(TColorName c) {
  switch (c) {
    case TColorName::clBlue:
      return {0, 0, 255};
    case TColorName::clGray:
      return {128, 128, 128};
    case TColorName::clSilver:
      return {192, 192, 192};
    case TColorName::clGreen:
      return {0, 128, 0};
  }
  return {};
}

std::optional<TColorName> ColorFromName(std::string_view name) {
  std::string n = AsciiLower(name);
  if (n.rfind("cl", 0) == 0) n.erase(0, 2);
  if (n == "blue") return TColorName::clBlue;
  if (n == "gray" || n == "grey") return TColorName::clGray;
  if (n == "silver") return TColorName::clSilver;
  if (n == "green") return TColorName::clGreen;
  return std::nullopt;
}

const std::vector<std::string>& DPKKeywords() {
  static const std::vector<std::string> words = {"package",
                                                 "requires",
                                                 "contains",
                                                 "and",
                                                 "exports",
                                                 "mod",
                                                 "shr",
                                                 "array",
                                                 "file",
                                                 "nil",
                                                 "string",
                                                 "as",
                                                 "finalization",
                                                 "not",
                                                 "stringresource",
                                                 "asm",
                                                 "finally",
                                                 "object",
                                                 "then",
                                                 "for",
                                                 "of",
                                                 "threadvar",
                                                 "case",
                                                 "function",
                                                 "or",
                                                 "to",
                                                 "class",
                                                 "goto",
                                                 "out",
                                                 "try",
                                                 "const",
                                                 "if",
                                                 "packed",
                                                 "type",
                                                 "constructor",
                                                 "implementation",
                                                 "procedure",
                                                 "unit",
                                                 "destructor",
                                                 "in",
                                                 "program",
                                                 "until",
                                                 "dispinterface",
                                                 "inherited",
                                                 "property",
                                                 "uses",
                                                 "div",
                                                 "initialization",
                                                 "raise",
                                                 "var",
                                                 "do",
                                                 "inline",
                                                 "record",
                                                 "while",
                                                 "downto",
                                                 "interface",
                                                 "repeat",
                                                 "with",
                                                 "else",
                                                 "is",
                                                 "resourcestring",
                                                 "xor",
                                                 "end",
                                                 "label",
                                                 "set",
                                                 "except",
                                                 "library",
                                                 "shl",
                                                 "private",
                                                 "public",
                                                 "published",
                                                 "protected"};
  return words;
}

const std::vector<THighlightRule>& DPKColorRules() {
  static const std::vector<THighlightRule> rules = {
      MakeRule(0, TRuleKind::Keywords, DPKKeywords(), TColorName::clBlue),
      MakeRule(1, TRuleKind::Pair, {"{;};", "{*;*};silver"}, TColorName::clGray),
      MakeRule(1, TRuleKind::ToLineEnd, {"//;gray"}, std::nullopt),
      MakeRule(2, TRuleKind::Pair, {"{$;};green"}, std::nullopt),
  };
  return rules;
}

TMarkerEntry ParseMarkerEntry(const THighlightRule& rule, std::string_view entry) {
  std::vector<std::string> parts = SplitString(entry, ';');
  TMarkerEntry e;
  std::string colour;
  if (rule.Kind == TRuleKind::Pair && parts.size() >= 2) {
    e.Begin = parts[0];
    e.End = parts[1];
    if (parts.size() >= 3) colour = parts[2];
  } else if (rule.Kind == TRuleKind::ToLineEnd && !parts.empty()) {
    e.Begin = parts[0];
    if (parts.size() >= 2) colour = parts[1];
  } else {
    throw Exception("Invalid colour rule entry \"" + std::string(entry) + "\"");
  }
  e.Color = colour.empty() ? rule.DefaultColor : ColorFromName(colour);
  if (e.Begin.empty() || !e.Color)
    throw Exception("Invalid colour rule entry \"" + std::string(entry) + "\"");
  return e;
}

namespace {

struct Painted {
  std::vector<int> rule;
  std::vector<TColorName> color;
};

Painted Paint(std::string_view text, const std::vector<THighlightRule>& rules) {
  std::vector<std::vector<Match>> matches(rules.size());
  std::vector<bool> covered(text.size(), false);
  for (size_t r = 0; r < rules.size(); ++r) {
    if (rules[r].Kind == TRuleKind::Keywords) continue;
    std::vector<TMarkerEntry> entries;
    for (const auto& e : rules[r].Entries) entries.push_back(ParseMarkerEntry(rules[r], e));
    matches[r] =
        rules[r].Kind == TRuleKind::Pair ? PairMatches(text, entries) : LineMatches(text, entries);
    for (const auto& m : matches[r])
      std::fill(covered.begin() + m.start, covered.begin() + m.end, true);
  }
  for (size_t r = 0; r < rules.size(); ++r)
    if (rules[r].Kind == TRuleKind::Keywords) matches[r] = KeywordMatches(text, rules[r], covered);

  std::vector<size_t> order(rules.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return rules[a].ZOrder < rules[b].ZOrder; });
  Painted p;
  p.rule.assign(text.size(), -1);
  p.color.assign(text.size(), TColorName::clBlue);
  for (size_t r : order)
    for (const auto& m : matches[r])
      for (size_t i = m.start; i < m.end; ++i) {
        p.rule[i] = int(r);
        p.color[i] = m.color;
      }
  return p;
}

}  // namespace

std::vector<TColorRun> ScanColors(std::string_view text, const std::vector<THighlightRule>& rules) {
  Painted p = Paint(text, rules);
  std::vector<TColorRun> runs;
  for (size_t i = 0; i < text.size(); ++i) {
    if (p.rule[i] < 0) continue;
    if (!runs.empty() && runs.back().Start + runs.back().Length == i &&
        runs.back().Rule == p.rule[i] && runs.back().Color == p.color[i])
      ++runs.back().Length;
    else
      runs.push_back({i, 1, p.rule[i], p.color[i]});
  }
  return runs;
}

std::vector<int> RuleMap(std::string_view text, const std::vector<THighlightRule>& rules) {
  return Paint(text, rules).rule;
}

}  // namespace kx
