// Files opened from outside the window: the command line's FILE once
// start-up is done, and files dropped on the window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "app/DCPPage.h"
#include "app/DPKPage.h"
#include "app/Delphi3Page.h"
#include "app/DeployPage.h"
#include "app/GenInfoPage.h"
#include "app/Main.h"
#include "app/StructurePage.h"
#include "gui_test_support.h"
#include "platform/system.h"
#include "support/demo_prefix.h"

namespace kx {
namespace {

namespace fs = std::filesystem;
using gui::TPackageForm;

constexpr const char* kDemoPackage = "C:\\Projects\\Demo\\DemoComp.dpl";

class OpenFileTest : public ::testing::Test {
 protected:
  void TearDown() override { form.reset(); }

  void Start() {
    form = std::make_unique<TPackageForm>(prompts);
    form->SetProcessMessages([] { QApplication::processEvents(); });
    form->show();
    prompts.Forget();
  }

  // Lets events run until done() holds or five seconds have passed.
  static bool WaitFor(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 5000)
      QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
  }

  fs::path Demo(const char* name) const { return demo.Root() / "drive_c/Projects/Demo" / name; }

  // Drags a host file over a widget and drops it there, as a file manager does.
  static void Drop(QWidget* target, const fs::path& file) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(file.string()))});
    const QPoint pos(target->width() / 2, target->height() / 2);
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(pos, actions, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(pos), actions, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    // The file opens once the drop has ended.
    QApplication::processEvents();
    QApplication::processEvents();
  }

  bool Loaded() const { return form->Module && form->Module->Loaded(); }
  std::string Caption() const { return gui::ToCore(form->windowTitle()); }

  test::DemoPrefixCopy demo;
  test::ScriptedPrompts prompts;
  std::unique_ptr<TPackageForm> form;
};

// The package given as a Windows or a host path loads after the About box
// of the first activation, as if picked in the open dialog: the current
// directory moves to its folder, so its .dcp and .dpk are found unasked.
TEST_F(OpenFileTest, StartupArgumentLoadsThePackageAfterTheAboutBox) {
  for (const std::string& argument : {std::string(kDemoPackage), Demo("DemoComp.dpl").string()}) {
    SCOPED_TRACE(argument);
    Sys().SetCurrentDirectory("C:\\");
    Start();
    form->OpenAtStart(argument);
    form->activateWindow();
    ASSERT_TRUE(WaitFor([this] { return Loaded(); }));
    ASSERT_FALSE(prompts.asked.empty());
    EXPECT_EQ(prompts.asked[0].kind, "Message");  // the About text
    EXPECT_EQ(prompts.asked.size(), 1u) << prompts.asked.back().text;
    EXPECT_EQ(Caption(), "Kestrix v00.7.1 - \"C:\\Projects\\Demo\\DemoComp.dpl\"");
    EXPECT_EQ(form->ActivePage(), form->GenInfoTabSheet);
    EXPECT_EQ(Sys().CurrentDirectory(), "C:\\Projects\\Demo");
    EXPECT_GT(form->DCPDCUTabSheet->DCPTreeInfo->topLevelItemCount(), 0);
    EXPECT_FALSE(form->DPKTabSheet->DPKSourceView->lines().isEmpty());
    form.reset();
  }
}

// A file that cannot be opened gives the message its page's dialog gives.
TEST_F(OpenFileTest, AFileThatCannotBeOpenedGivesTheDialogsMessage) {
  const fs::path damaged = demo.Root() / "drive_c/Projects/Demo/damaged.dcp";
  { std::ofstream(damaged) << "PKG4 and nothing more"; }
  struct Case {
    std::string file;
    std::function<void(TPackageForm&)> pick;  // the page's own dialog
  };
  const std::vector<Case> cases = {
      {"C:\\Projects\\Demo\\missing.dpl",
       [](TPackageForm& f) { f.GenInfoTabSheet->FileNameEdit->button()->click(); }},
      {"C:\\Projects\\Demo\\damaged.dcp",
       [](TPackageForm& f) { f.DCPDCUTabSheet->DCPFileNameEdit->button()->click(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Start();
    prompts.fileAnswers.push_back(c.file);
    c.pick(*form);
    ASSERT_EQ(prompts.Count("Error"), 1);
    const std::string fromDialog = prompts.asked.back().text;
    prompts.Forget();
    form->Handle([&] { form->OpenFile(c.file); });
    ASSERT_EQ(prompts.Count("Error"), 1);
    EXPECT_EQ(prompts.asked.back().text, fromDialog);
    form.reset();
  }
}

// A dropped file opens on its page wherever it lands, also on a text box;
// the Delphi3 page's default package box keeps its own drop.
TEST_F(OpenFileTest, DroppedFilesOpenOnTheirPages) {
  struct Case {
    const char* file;
    std::function<QWidget*(TPackageForm&)> target;
    std::function<void(TPackageForm&)> check;
  };
  const std::vector<Case> cases = {
      {"DemoComp.dcp", [](TPackageForm& f) -> QWidget* { return f.GenInfoTabSheet; },
       [](TPackageForm& f) {
         EXPECT_EQ(f.ActivePage(), f.DCPDCUTabSheet);
         EXPECT_EQ(gui::ToCore(f.DCPDCUTabSheet->DCPFileNameEdit->text()),
                   "C:\\Projects\\Demo\\DemoComp.dcp");
         EXPECT_GT(f.DCPDCUTabSheet->DCPTreeInfo->topLevelItemCount(), 0);
         EXPECT_FALSE(f.Module->Loaded());
       }},
      // A compiled unit: a tree of that one unit, its interface in the pane.
      {"Gauges2.dcu", [](TPackageForm& f) -> QWidget* { return f.DPKTabSheet; },
       [](TPackageForm& f) {
         EXPECT_EQ(f.ActivePage(), f.DCPDCUTabSheet);
         QTreeWidget* tree = f.DCPDCUTabSheet->DCPTreeInfo;
         ASSERT_EQ(tree->topLevelItemCount(), 3);
         ASSERT_EQ(tree->topLevelItem(0)->childCount(), 1);
         tree->setCurrentItem(tree->topLevelItem(0)->child(0));
         EXPECT_TRUE(f.DCPDCUTabSheet->DCUInterfaceView->toPlainText().startsWith(
             QStringLiteral("unit Gauges2;\n")));
         EXPECT_FALSE(f.DCPDCUTabSheet->ExtractDCUBtn->isEnabled());
       }},
      {"DemoComp.dpk", [](TPackageForm& f) -> QWidget* { return f.ClassesTabSheet; },
       [](TPackageForm& f) {
         EXPECT_EQ(f.ActivePage(), f.DPKTabSheet);
         EXPECT_TRUE(f.DPKTabSheet->DPKSourceView->lines().join('\n').contains("package DemoComp"));
       }},
      {"DemoComp.dpl",
       [](TPackageForm& f) -> QWidget* { return f.DeployEXETabSheet->EXEFileNameEdit->lineEdit(); },
       [](TPackageForm& f) {
         EXPECT_EQ(f.ActivePage(), f.GenInfoTabSheet);
         EXPECT_TRUE(f.Module->Loaded());
         EXPECT_TRUE(f.DeployEXETabSheet->EXEFileNameEdit->text().isEmpty());
       }},
      {"DemoComp.dpl",
       [](TPackageForm& f) -> QWidget* {
         f.SetActivePage(f.SystemTabSheet);
         return f.SystemTabSheet->DefPackFilenameEdit->lineEdit();
       },
       [](TPackageForm& f) {
         EXPECT_EQ(gui::ToCore(f.SystemTabSheet->DefPackFilenameEdit->text()), kDemoPackage);
         EXPECT_EQ(f.ActivePage(), f.SystemTabSheet);
         EXPECT_FALSE(f.Module->Loaded());
       }},
  };
  fs::copy_file(fs::path(KX_FIXTURES_DIR) / "dcu/Gauges2.dcu", Demo("Gauges2.dcu"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Start();
    Drop(c.target(*form), Demo(c.file));
    EXPECT_EQ(prompts.Count("Error"), 0) << prompts.asked.back().text;
    c.check(*form);
    form.reset();
  }
}

}  // namespace
}  // namespace kx
