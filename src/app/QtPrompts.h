#pragma once
// Message boxes and file dialogs of the desktop tool. Texts come from the
// core in the system code page; "\r\n" line breaks show as line breaks.
// File dialogs work on host paths; what the user picks is converted to a
// Windows path through the drive map, and a confirmed open or save dialog
// moves the current Windows directory to the chosen file's folder, as the
// common dialogs of Windows 95 do.
#include <QString>
#include <QWidget>
#include <optional>
#include <string>

#include "platform/ui.h"

namespace kx::gui {

// The application title: the caption of message boxes.
QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

// Core text (UTF-8) to a Qt string and back, losslessly.
QString FromCore(const std::string& text);
std::string ToCore(const QString& text);

// "Desc (*.DPL)|*.DPL|All Files (*.*)|*.*" to Qt name filters. Patterns stay
// as written (the dialog matches them ignoring case, as Windows names do);
// "*.*" becomes "*" (every file, with or without an extension).
QStringList QtNameFilters(const std::string& windowsFilter);

// What a confirmed dialog does with the chosen host path: converts it to a
// Windows path and makes its folder the current directory. nullopt when no
// drive covers the path (the dialog then counts as cancelled).
std::optional<std::string> AcceptChosenFile(const QString& hostPath);
// Makes the folder of a chosen Windows file the current directory, as a
// confirmed open or save dialog does.
void MoveToChosenFolder(const std::string& windowsPath);

// The window's prompts: the core's interface plus a warning box with only an
// OK button (start-up without Delphi 3, a module that is not a package).
class AppPrompts : public Prompts {
 public:
  virtual void WarningOk(const std::string& text) = 0;
};

class QtPrompts : public AppPrompts {
 public:
  explicit QtPrompts(QWidget* parent = nullptr) : parent_(parent) {}
  void setParent(QWidget* parent) { parent_ = parent; }

  void WarningOk(const std::string& text) override;
  PromptResult WarningOkCancel(const std::string& text) override;
  PromptResult WarningYesNo(const std::string& text) override;
  void Message(const std::string& text) override;
  void Error(const std::string& text) override;
  std::optional<std::string> OpenFile(const FileDialogSpec& spec) override;
  std::optional<std::string> SaveFile(const FileDialogSpec& spec) override;
  std::optional<std::string> SelectFolder(const std::string& title,
                                          const std::string& initialDir) override;

 private:
  std::optional<std::string> RunFileDialog(const FileDialogSpec& spec, bool save);
  QWidget* parent_;
};

}  // namespace kx::gui
