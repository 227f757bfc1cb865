#pragma once
// A file or folder name box with an ellipsis browse button at its right.
// The box can refuse typing, so that the name only changes through the
// button (the owner runs the dialog and sets the text).
#include <QLineEdit>
#include <QToolButton>
#include <QWidget>

namespace kx::gui {

class TFileNameEdit : public QWidget {
  Q_OBJECT

 public:
  explicit TFileNameEdit(QWidget* parent = nullptr);

  QString text() const { return edit_->text(); }
  void setText(const QString& text);
  // When set the user cannot type into the box (the default).
  void setTypingAllowed(bool allowed);
  QLineEdit* lineEdit() const { return edit_; }
  QToolButton* button() const { return button_; }

 signals:
  // The ellipsis button was clicked.
  void buttonClicked();
  // The text changed, by typing or by setText.
  void textChanged(const QString& text);

 private:
  QLineEdit* edit_;
  QToolButton* button_;
};

}  // namespace kx::gui
