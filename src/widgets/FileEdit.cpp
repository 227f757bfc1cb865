#include "widgets/FileEdit.h"

#include <QHBoxLayout>

namespace kx::gui {

TFileNameEdit::TFileNameEdit(QWidget* parent)
    : QWidget(parent), edit_(new QLineEdit(this)), button_(new QToolButton(this)) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  layout->addWidget(edit_, 1);
  layout->addWidget(button_);
  button_->setText(QStringLiteral("..."));
  button_->setObjectName(QStringLiteral("EllipsisButton"));
  button_->setFocusPolicy(Qt::TabFocus);
  setTypingAllowed(false);
  setFocusProxy(edit_);
  connect(button_, &QToolButton::clicked, this, &TFileNameEdit::buttonClicked);
  connect(edit_, &QLineEdit::textChanged, this, &TFileNameEdit::textChanged);
}

void TFileNameEdit::setText(const QString& text) {
  edit_->setText(text);
  edit_->setCursorPosition(0);
}

void TFileNameEdit::setTypingAllowed(bool allowed) { edit_->setReadOnly(!allowed); }

}  // namespace kx::gui
