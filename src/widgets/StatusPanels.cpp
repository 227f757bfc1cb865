#include "widgets/StatusPanels.h"

#include <QFrame>

namespace kx::gui {

TStatusPanels::TStatusPanels(const QStringList& initialTexts, const std::vector<int>& widths,
                             QWidget* parent)
    : QStatusBar(parent) {
  setSizeGripEnabled(false);
  for (int i = 0; i < initialTexts.size(); ++i) {
    auto* label = new QLabel(initialTexts[i], this);
    label->setFrameShape(QFrame::StyledPanel);
    label->setFrameShadow(QFrame::Sunken);
    label->setContentsMargins(4, 0, 4, 0);
    const bool last = i + 1 == initialTexts.size();
    if (static_cast<size_t>(i) < widths.size() && !last) label->setMinimumWidth(widths[i]);
    addWidget(label, last ? 1 : 0);
    panels_.push_back(label);
  }
}

QString TStatusPanels::panelText(int index) const {
  if (index < 0 || index >= panelCount()) return {};
  return panels_[static_cast<size_t>(index)]->text();
}

void TStatusPanels::setPanelText(int index, const QString& text) {
  if (index < 0 || index >= panelCount()) return;
  panels_[static_cast<size_t>(index)]->setText(text);
}

}  // namespace kx::gui
