#include "gui_test_support.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include "app/GenInfoPage.h"
#include "app/Main.h"

namespace kx::test {

PromptResult ScriptedPrompts::WarningOkCancel(const std::string& text) {
  asked.push_back({"WarningOkCancel", text});
  if (answers.empty()) return PromptResult::Cancel;
  const PromptResult r = answers.front();
  answers.pop_front();
  return r;
}

PromptResult ScriptedPrompts::WarningYesNo(const std::string& text) {
  asked.push_back({"WarningYesNo", text});
  if (answers.empty()) return PromptResult::No;
  const PromptResult r = answers.front();
  answers.pop_front();
  return r;
}

std::optional<std::string> ScriptedPrompts::OpenFile(const FileDialogSpec& spec) {
  asked.push_back({"OpenFile", spec.title});
  dialogs.push_back(spec);
  if (fileAnswers.empty()) return std::nullopt;
  std::optional<std::string> r = fileAnswers.front();
  fileAnswers.pop_front();
  if (r && dialogsMoveFolder) gui::MoveToChosenFolder(*r);
  return r;
}

std::optional<std::string> ScriptedPrompts::SaveFile(const FileDialogSpec& spec) {
  asked.push_back({"SaveFile", spec.title});
  dialogs.push_back(spec);
  if (fileAnswers.empty()) return std::nullopt;
  std::optional<std::string> r = fileAnswers.front();
  fileAnswers.pop_front();
  if (r && dialogsMoveFolder) gui::MoveToChosenFolder(*r);
  return r;
}

std::optional<std::string> ScriptedPrompts::SelectFolder(const std::string& title,
                                                         const std::string&) {
  asked.push_back({"SelectFolder", title});
  if (fileAnswers.empty()) return std::nullopt;
  std::optional<std::string> r = fileAnswers.front();
  fileAnswers.pop_front();
  return r;
}

int ScriptedPrompts::Count(const std::string& kind) const {
  int n = 0;
  for (const Asked& a : asked) n += a.kind == kind ? 1 : 0;
  return n;
}

int ScriptedPrompts::Count(const std::string& kind, const std::string& text) const {
  int n = 0;
  for (const Asked& a : asked) n += (a.kind == kind && a.text == text) ? 1 : 0;
  return n;
}

namespace {
void SendMouse(QWidget* widget, QEvent::Type type, QPoint pos) {
  const QPointF local(pos);
  const QPointF global(widget->mapToGlobal(pos));
  const Qt::MouseButtons buttons =
      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(type, local, global, Qt::LeftButton, buttons, Qt::NoModifier);
  QApplication::sendEvent(widget, &event);
}
}  // namespace

void Click(QWidget* widget, QPoint pos) {
  SendMouse(widget, QEvent::MouseButtonPress, pos);
  SendMouse(widget, QEvent::MouseButtonRelease, pos);
}

void DoubleClick(QWidget* widget, QPoint pos) {
  Click(widget, pos);
  SendMouse(widget, QEvent::MouseButtonDblClick, pos);
  SendMouse(widget, QEvent::MouseButtonRelease, pos);
}

void PressKey(QWidget* widget, int key, Qt::KeyboardModifiers modifiers) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers);
  QApplication::sendEvent(widget, &press);
  QKeyEvent release(QEvent::KeyRelease, key, modifiers);
  QApplication::sendEvent(widget, &release);
}

void OpenPackageAsUser(gui::TPackageForm& form, ScriptedPrompts& prompts,
                       const std::string& windowsPath) {
  prompts.dialogsMoveFolder = true;
  prompts.fileAnswers.push_back(windowsPath);
  form.GenInfoTabSheet->FileNameEdit->button()->click();
}

}  // namespace kx::test
