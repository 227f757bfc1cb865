#pragma once
// The progress window: borderless, stay-on-top, centred on the screen, with
// a label naming the running operation (OpTypeLabel) and a meter (OpMeter)
// that has a total and a completed count. It has no behaviour of its own;
// long operations drive it through the ProgressMeter interface.
#include <QLabel>
#include <QProgressBar>
#include <QWidget>

#include "platform/ui.h"

namespace kx::gui {

class TMeterForm : public QWidget, public ProgressMeter {
  Q_OBJECT

 public:
  explicit TMeterForm(QWidget* parent = nullptr);

  void SetLabel(const std::string& text) override;
  void SetTotal(int total) override;
  void SetCompleted(int completed) override;
  void Show() override;
  void Hide() override;

  QLabel* OpTypeLabel;
  QProgressBar* OpMeter;
};

}  // namespace kx::gui
