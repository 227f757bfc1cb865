#pragma once
// A status bar split into fixed text panels, addressed by index like the
// panels of a Windows status bar. The last panel takes the remaining width.
#include <QLabel>
#include <QStatusBar>
#include <QStringList>
#include <vector>

namespace kx::gui {

class TStatusPanels : public QStatusBar {
  Q_OBJECT

 public:
  // One panel per text, each starting with that text; widths in pixels
  // (missing widths: the panel sizes to its text).
  explicit TStatusPanels(const QStringList& initialTexts, const std::vector<int>& widths = {},
                         QWidget* parent = nullptr);

  int panelCount() const { return static_cast<int>(panels_.size()); }
  QString panelText(int index) const;
  void setPanelText(int index, const QString& text);

 private:
  std::vector<QLabel*> panels_;
};

}  // namespace kx::gui
