// Entry point of the GUI tests: Qt's offscreen platform unless another is
// asked for, a private runtime folder, then GoogleTest. With
// "--kx-screenshots DIR [PACKAGE]" it instead starts the window on the
// current Windows personality ($WINEPREFIX), loads PACKAGE and saves a PNG
// of every page into DIR (tools/screenshots.sh).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <cstring>
#include <filesystem>
#include <string>

int RunScreenshots(const std::string& outDir, const std::string& package);

namespace {
// The offscreen platform warns about every window it cannot size hint.
QtMessageHandler previousHandler = nullptr;
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.contains(QLatin1String("This plugin does not support "))) return;
  if (previousHandler != nullptr) previousHandler(type, context, message);
}
}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Qt wants a private (0700) runtime folder; the offscreen platform does
  // not need a session one.
  std::string runtimeDir = (std::filesystem::temp_directory_path() / "kx-xdg-XXXXXX").string();
  const bool ownRuntimeDir = mkdtemp(runtimeDir.data()) != nullptr;
  if (ownRuntimeDir) setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
  previousHandler = qInstallMessageHandler(QuietHandler);
  int result = 0;
  {
    QApplication app(argc, argv);
    if (argc >= 3 && std::strcmp(argv[1], "--kx-screenshots") == 0) {
      result = RunScreenshots(argv[2], argc >= 4 ? argv[3] : "C:\\Projects\\Demo\\DemoComp.dpl");
    } else {
      ::testing::InitGoogleTest(&argc, argv);
      result = RUN_ALL_TESTS();
    }
  }
  if (ownRuntimeDir) {
    std::error_code ec;
    std::filesystem::remove_all(runtimeDir, ec);
  }
  return result;
}
