#include "widgets/ColorTextView.h"

#include <QFontDatabase>
#include <QTextBlock>
#include <QTextLayout>
#include <algorithm>

#include "platform/codepage.h"

namespace kx::gui {

std::string ScannerText(const QString& text) {
  std::string out;
  out.reserve(static_cast<size_t>(text.size()));
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    out += u < 0x80 ? static_cast<char>(u) : '\x80';
  }
  return out;
}

TRuleHighlighter::TRuleHighlighter(QTextDocument* document) : QSyntaxHighlighter(document) {}

void TRuleHighlighter::setRuns(std::vector<TColorRun> runs) {
  runs_ = std::move(runs);
  std::sort(runs_.begin(), runs_.end(),
            [](const TColorRun& a, const TColorRun& b) { return a.Start < b.Start; });
}

void TRuleHighlighter::highlightBlock(const QString& text) {
  const size_t blockStart = static_cast<size_t>(currentBlock().position());
  const size_t blockEnd = blockStart + static_cast<size_t>(text.size());
  // The first run that ends after the block starts.
  auto it = std::partition_point(runs_.begin(), runs_.end(), [&](const TColorRun& r) {
    return r.Start + r.Length <= blockStart;
  });
  for (; it != runs_.end() && it->Start < blockEnd; ++it) {
    const size_t from = std::max(it->Start, blockStart);
    const size_t to = std::min(it->Start + it->Length, blockEnd);
    if (to <= from) continue;
    setFormat(static_cast<int>(from - blockStart), static_cast<int>(to - from),
              TColorTextView::ToQColor(it->Color));
  }
}

TColorTextView::TColorTextView(QWidget* parent)
    : QPlainTextEdit(parent),
      rules_(DPKColorRules()),
      highlighter_(new TRuleHighlighter(document())) {
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  setUndoRedoEnabled(false);
}

QColor TColorTextView::ToQColor(TColorName color) {
  const TRGB rgb = ColorRGB(color);
  return QColor(rgb.r, rgb.g, rgb.b);
}

void TColorTextView::setRules(std::vector<THighlightRule> rules) {
  rules_ = std::move(rules);
  Recolor();
}

void TColorTextView::setLines(const QStringList& lines) { setText(lines.join(QLatin1Char('\n'))); }

void TColorTextView::setText(const QString& text) {
  // The runs must be known before the document changes: the highlighter
  // paints each block as it is laid out.
  highlighter_->setRuns(ScanColors(ScannerText(text), rules_));
  setPlainText(text);
}

QStringList TColorTextView::lines() const {
  if (document()->isEmpty()) return {};
  return toPlainText().split(QLatin1Char('\n'));
}

void TColorTextView::Recolor() {
  highlighter_->setRuns(ScanColors(ScannerText(toPlainText()), rules_));
  highlighter_->rehighlight();
}

QColor TColorTextView::colorAt(int position) const {
  const QTextBlock block = document()->findBlock(position);
  if (!block.isValid() || block.layout() == nullptr) return {};
  const int offset = position - block.position();
  for (const QTextLayout::FormatRange& r : block.layout()->formats())
    if (offset >= r.start && offset < r.start + r.length &&
        r.format.hasProperty(QTextFormat::ForegroundBrush))
      return r.format.foreground().color();
  return {};
}

}  // namespace kx::gui
