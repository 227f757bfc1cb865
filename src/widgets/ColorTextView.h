#pragma once
// A read-only text view that colours its text by a list of colour rules
// (keywords, text between two markers, a marker to the end of the line).
// Which characters get which colour is decided by the core's scanner over
// the whole text, so that a match may span lines; the highlighter only
// paints the result block by block.
#include <QColor>
#include <QPlainTextEdit>
#include <QStringList>
#include <QSyntaxHighlighter>
#include <vector>

#include "source/SourceColors.h"

namespace kx::gui {

// Paints the colour runs of a whole document. Offsets of the runs are
// document positions (UTF-16 units, one per block separator).
class TRuleHighlighter : public QSyntaxHighlighter {
  Q_OBJECT

 public:
  explicit TRuleHighlighter(QTextDocument* document);
  void setRuns(std::vector<TColorRun> runs);
  const std::vector<TColorRun>& runs() const { return runs_; }

 protected:
  void highlightBlock(const QString& text) override;

 private:
  std::vector<TColorRun> runs_;  // sorted by Start, not overlapping
};

class TColorTextView : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit TColorTextView(QWidget* parent = nullptr);

  // The rules the text is coloured with (the package source rules unless
  // set otherwise); the shown text is coloured again.
  void setRules(std::vector<THighlightRule> rules);
  // Replaces the whole content with these lines.
  void setLines(const QStringList& lines);
  // The same with one text; line ends are "\n".
  void setText(const QString& text);
  QStringList lines() const;

  // The colour the highlighter gave the character at a document position
  // (an invalid colour when it has none).
  QColor colorAt(int position) const;

  static QColor ToQColor(TColorName color);

 private:
  void Recolor();
  std::vector<THighlightRule> rules_;
  TRuleHighlighter* highlighter_;
};

// The text the scanner sees: one byte per UTF-16 unit of the string, so that
// scanner offsets are document positions. ASCII stays as it is; every other
// unit becomes 0x80, which the scanner's rules take as a letter, as they
// take every character beyond ASCII.
std::string ScannerText(const QString& text);

}  // namespace kx::gui
