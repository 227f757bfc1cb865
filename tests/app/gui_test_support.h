#pragma once
// Helpers for the window tests: prompts that answer from a script and
// record what was asked, and input events sent the way a user makes them.
#include <QPoint>
#include <QWidget>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "app/QtPrompts.h"

namespace kx::gui {
class TPackageForm;
}

namespace kx::test {

class ScriptedPrompts : public gui::AppPrompts {
 public:
  struct Asked {
    std::string kind;  // "WarningOk", "WarningOkCancel", "WarningYesNo", "Message", "Error",
                       // "OpenFile", "SaveFile", "SelectFolder"
    std::string text;  // the message, or the dialog's title
  };

  void WarningOk(const std::string& text) override { asked.push_back({"WarningOk", text}); }
  PromptResult WarningOkCancel(const std::string& text) override;
  PromptResult WarningYesNo(const std::string& text) override;
  void Message(const std::string& text) override { asked.push_back({"Message", text}); }
  void Error(const std::string& text) override { asked.push_back({"Error", text}); }
  std::optional<std::string> OpenFile(const FileDialogSpec& spec) override;
  std::optional<std::string> SaveFile(const FileDialogSpec& spec) override;
  std::optional<std::string> SelectFolder(const std::string& title,
                                          const std::string& initialDir) override;

  // How many prompts of a kind were shown (and with the given text).
  int Count(const std::string& kind) const;
  int Count(const std::string& kind, const std::string& text) const;
  void Forget() { asked.clear(); }

  std::vector<Asked> asked;
  std::vector<FileDialogSpec> dialogs;
  std::deque<PromptResult> answers;                    // Cancel / No when empty
  std::deque<std::optional<std::string>> fileAnswers;  // cancelled when empty
  // An answered open or save dialog moves the current directory to the
  // chosen file's folder, as the window's own dialogs do.
  bool dialogsMoveFolder = false;
};

// Opens a package the way a user does: the ellipsis of the file name box,
// the file picked in the open dialog (which moves the current directory to
// its folder). A failure shows in the error box, as for the user.
void OpenPackageAsUser(gui::TPackageForm& form, ScriptedPrompts& prompts,
                       const std::string& windowsPath);

// Mouse press and release at a point of a widget (left button).
void Click(QWidget* widget, QPoint pos);
// A double click at a point of a widget.
void DoubleClick(QWidget* widget, QPoint pos);
// A key press and release sent to a widget.
void PressKey(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

}  // namespace kx::test
