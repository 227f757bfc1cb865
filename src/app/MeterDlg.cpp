#include "app/MeterDlg.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

#include "app/QtPrompts.h"

namespace kx::gui {

TMeterForm::TMeterForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      OpTypeLabel(new QLabel(this)),
      OpMeter(new QProgressBar(this)) {
  setObjectName(QStringLiteral("MeterForm"));
  OpTypeLabel->setObjectName(QStringLiteral("OpTypeLabel"));
  OpMeter->setObjectName(QStringLiteral("OpMeter"));
  OpMeter->setRange(0, 100);
  OpMeter->setValue(0);
  OpMeter->setTextVisible(true);
  auto* frame = new QVBoxLayout(this);
  frame->setContentsMargins(12, 10, 12, 12);
  frame->addWidget(OpTypeLabel);
  frame->addWidget(OpMeter);
  setAutoFillBackground(true);
  setStyleSheet(QStringLiteral("#MeterForm { border: 1px solid palette(dark); }"));
  resize(340, 72);
}

void TMeterForm::SetLabel(const std::string& text) { OpTypeLabel->setText(FromCore(text)); }

void TMeterForm::SetTotal(int total) {
  // A total of 0 would make the bar "busy"; keep it a plain empty meter.
  OpMeter->setMaximum(total > 0 ? total : 1);
  if (OpMeter->value() > OpMeter->maximum()) OpMeter->setValue(OpMeter->maximum());
}

void TMeterForm::SetCompleted(int completed) {
  OpMeter->setValue(std::clamp(completed, 0, OpMeter->maximum()));
}

void TMeterForm::Show() {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
  show();
  raise();
}

void TMeterForm::Hide() { hide(); }

}  // namespace kx::gui
