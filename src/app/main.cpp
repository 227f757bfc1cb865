// Kestrix, the desktop tool: creates the main window, then the progress
// window, and runs the message loop. Its own arguments are --help,
// --version and one optional FILE, opened once start-up is done (Qt's,
// such as -platform, still apply).
#include "app/Main.h"

#include <QApplication>
#include <exception>

#include "app/MeterDlg.h"
#include "app/QtPrompts.h"
#include "cli/help.h"
#include "platform/registry_hive.h"

namespace {

// The last line of defence: an exception that escapes an event handler is
// shown in the application's error box instead of ending the program.
class KestrixApplication : public QApplication {
 public:
  using QApplication::QApplication;
  kx::gui::QtPrompts* prompts = nullptr;

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      if (prompts != nullptr) prompts->Error(e.what());
    }
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  // Answered without a display, before Qt starts.
  if (const int code = kx::help::RunInfoOption(kx::help::Program::Window, argc, argv); code >= 0)
    return code;
  KestrixApplication app(argc, argv);
  std::string file;  // what Qt left of the arguments
  if (const int code = kx::help::ParseWindowArgs(argc, argv, file); code >= 0) return code;
  QApplication::setApplicationName(QStringLiteral("Kestrix"));
  kx::gui::QtPrompts prompts;
  app.prompts = &prompts;
  // A running Wine session overwrites the hive files when it saves: say so
  // in a box rather than on a terminal the user may not see.
  kx::SetRegistryWarningHandler([&prompts](const std::string& text) { prompts.Message(text); });
  int result = 0;
  {
    kx::gui::TPackageForm form(prompts);
    prompts.setParent(&form);
    kx::gui::TMeterForm meter;
    form.SetMeter(&meter);
    form.show();
    if (!file.empty()) form.OpenAtStart(file);
    result = QApplication::exec();
    form.SetMeter(nullptr);
  }
  kx::SetRegistryWarningHandler(nullptr);
  app.prompts = nullptr;
  return result;
}
