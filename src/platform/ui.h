#pragma once
// What the core asks of a user interface: message boxes and file dialogs,
// the progress window, and "let pending window messages run". The GUI
// implements these with Qt; the CLI and the tests supply their own (tests
// script the answers and record what was asked).
#include <functional>
#include <optional>
#include <string>

namespace kx {

enum class PromptResult { Ok, Cancel, Yes, No };

struct FileDialogSpec {
  std::string title;
  std::string filter;      // "Desc (*.DPL)|*.DPL|All Files (*.*)|*.*"
  std::string defaultExt;  // "dpk"
  std::string fileName;    // initial file name
  std::string initialDir;  // Windows path
  bool overwritePrompt = false;
  bool hideReadOnly = true;
};

class Prompts {
 public:
  virtual ~Prompts() = default;
  // Warning box with OK and Cancel buttons.
  virtual PromptResult WarningOkCancel(const std::string& text) = 0;
  // Warning box with Yes and No buttons.
  virtual PromptResult WarningYesNo(const std::string& text) = 0;
  // Plain message box (completion notices).
  virtual void Message(const std::string& text) = 0;
  // The application's standard error box for exceptions that leave a handler.
  virtual void Error(const std::string& text) = 0;
  // Open / save dialogs return the chosen full Windows path; nullopt when cancelled.
  // A confirmed dialog also moves the current directory to the file's folder.
  virtual std::optional<std::string> OpenFile(const FileDialogSpec& spec) = 0;
  virtual std::optional<std::string> SaveFile(const FileDialogSpec& spec) = 0;
  virtual std::optional<std::string> SelectFolder(const std::string& title,
                                                  const std::string& initialDir) = 0;
};

// The progress window: a label, a total and a completed count.
class ProgressMeter {
 public:
  virtual ~ProgressMeter() = default;
  virtual void SetLabel(const std::string& text) = 0;
  virtual void SetTotal(int total) = 0;
  virtual void SetCompleted(int completed) = 0;
  virtual void Show() = 0;
  virtual void Hide() = 0;
};

// A meter that shows nothing (core tests, CLI without a terminal).
class NullMeter : public ProgressMeter {
 public:
  void SetLabel(const std::string&) override {}
  void SetTotal(int) override {}
  void SetCompleted(int) override {}
  void Show() override {}
  void Hide() override {}
};

// Lets pending window messages run (processEvents in the GUI; nothing elsewhere).
using ProcessMessagesFn = std::function<void()>;

// Loops advance the meter only at indices that are multiples of (count div 8 + 1).
inline bool MeterStep(int index, int count) { return index % (count / 8 + 1) == 0; }

}  // namespace kx
