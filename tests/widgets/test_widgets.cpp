// The generic widgets and the Qt edges of the desktop tool: sortable list,
// status panels, file name box, progress window, dialog filters and the
// host-to-Windows conversion of a chosen file.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <filesystem>

#include "app/MeterDlg.h"
#include "app/QtPrompts.h"
#include "app/gui_test_support.h"
#include "platform/system.h"
#include "support/test_system.h"
#include "widgets/FileEdit.h"
#include "widgets/SortListView.h"
#include "widgets/StatusPanels.h"

namespace kx::gui {
namespace {

QStringList Column(const TSortListView& view, int column) {
  QStringList cells;
  for (int r = 0; r < view.rowCount(); ++r) cells << view.displayedCell(r, column);
  return cells;
}

// A mouse click in the middle of a header section.
void ClickHeader(TSortListView& view, int section) {
  if (!view.isVisible()) {
    view.resize(500, 300);
    view.show();
    QApplication::processEvents();
  }
  QHeaderView* header = view.horizontalHeader();
  const QPoint pos(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                   header->height() / 2);
  test::Click(header->viewport(), pos);
}

class SortListViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view.setColumns({"Address", "Ordinal", "Name"}, {Qt::AlignLeft, Qt::AlignRight, Qt::AlignLeft});
    view.listModel()->addRow({"$00001000", "9", "beta"}, {QVariant(), 9, QVariant()}, 100);
    view.listModel()->addRow({"$00003000", "10", "Alpha"}, {QVariant(), 10, QVariant()}, 200);
    view.listModel()->addRow({"$00002000", "2", "gamma"}, {QVariant(), 2, QVariant()}, 300);
  }
  TSortListView view;
};

TEST_F(SortListViewTest, RowsKeepTheirOrderUntilAHeaderIsClicked) {
  EXPECT_EQ(Column(view, 2), (QStringList{"beta", "Alpha", "gamma"}));
  EXPECT_EQ(view.horizontalHeader()->sortIndicatorSection(), -1);
  ClickHeader(view, 1);
  // Sorted by the numeric key, not by the text ("10" < "2" < "9").
  EXPECT_EQ(Column(view, 1), (QStringList{"2", "9", "10"}));
  ClickHeader(view, 1);
  EXPECT_EQ(Column(view, 1), (QStringList{"10", "9", "2"}));
  ClickHeader(view, 2);
  // Text columns ignore case.
  EXPECT_EQ(Column(view, 2), (QStringList{"Alpha", "beta", "gamma"}));
}

TEST_F(SortListViewTest, SelectionMapsBackToTheModelRowAfterSorting) {
  ClickHeader(view, 0);
  view.selectDisplayedRow(2);  // "$00003000", added second
  EXPECT_EQ(view.selectedModelRow(), 1);
  EXPECT_EQ(view.listModel()->rowData(view.selectedModelRow()).toInt(), 200);
  view.selectDisplayedRow(-1);
  EXPECT_EQ(view.selectedModelRow(), -1);
}

TEST_F(SortListViewTest, ClearForgetsTheSortOrder) {
  ClickHeader(view, 2);
  view.clear();
  EXPECT_EQ(view.rowCount(), 0);
  view.listModel()->addRow({"$1", "1", "zeta"});
  view.listModel()->addRow({"$2", "2", "eta"});
  EXPECT_EQ(Column(view, 2), (QStringList{"zeta", "eta"}));
}

TEST_F(SortListViewTest, AnUnsortableListIgnoresHeaderClicks) {
  view.setSortable(false);
  ClickHeader(view, 2);
  EXPECT_EQ(Column(view, 2), (QStringList{"beta", "Alpha", "gamma"}));
}

TEST(SortListView, ManyThousandRowsFillAndSortAtOnce) {
  TSortListView view;
  view.setColumns({"Ordinal", "Name"});
  std::vector<TListModel::Row> rows;
  for (int i = 0; i < 20000; ++i)
    rows.push_back(
        {{QString::number(i), QStringLiteral("Name%1").arg(19999 - i, 5, 10, QChar('0'))},
         {i, QVariant()},
         {}});
  view.listModel()->setRows(std::move(rows));
  ASSERT_EQ(view.rowCount(), 20000);
  ClickHeader(view, 1);
  EXPECT_EQ(view.displayedCell(0, 1), "Name00000");
  EXPECT_EQ(view.displayedCell(0, 0), "19999");
  EXPECT_EQ(view.displayedCell(19999, 1), "Name19999");
}

TEST(StatusPanels, PanelsStartWithTheirTextsAndIgnoreBadIndexes) {
  TStatusPanels bar({"File Size:", "File Date:", "File Time:"}, {200, 100});
  ASSERT_EQ(bar.panelCount(), 3);
  EXPECT_EQ(bar.panelText(1), "File Date:");
  bar.setPanelText(2, "File Time: 1:02:03 PM");
  EXPECT_EQ(bar.panelText(2), "File Time: 1:02:03 PM");
  bar.setPanelText(3, "nowhere");
  bar.setPanelText(-1, "nowhere");
  EXPECT_EQ(bar.panelText(3), "");
  EXPECT_EQ(bar.panelText(0), "File Size:");
}

TEST(FileNameEdit, RefusesTypingAndReportsTheEllipsis) {
  TFileNameEdit edit;
  EXPECT_TRUE(edit.lineEdit()->isReadOnly());
  int clicked = 0;
  QObject::connect(&edit, &TFileNameEdit::buttonClicked, [&clicked] { ++clicked; });
  edit.button()->click();
  EXPECT_EQ(clicked, 1);
  edit.setText("C:\\pk\\a.dpl");
  EXPECT_EQ(edit.text(), "C:\\pk\\a.dpl");
  edit.setTypingAllowed(true);
  EXPECT_FALSE(edit.lineEdit()->isReadOnly());
}

TEST(MeterForm, IsABorderlessStayOnTopWindowCentredOnTheScreen) {
  TMeterForm meter;
  EXPECT_TRUE(meter.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(meter.windowFlags() & Qt::WindowStaysOnTopHint);
  meter.SetLabel("Retrieving Export Data...");
  meter.SetTotal(40);
  meter.SetCompleted(25);
  EXPECT_EQ(meter.OpTypeLabel->text(), "Retrieving Export Data...");
  EXPECT_EQ(meter.OpMeter->maximum(), 40);
  EXPECT_EQ(meter.OpMeter->value(), 25);
  meter.SetCompleted(99);
  EXPECT_EQ(meter.OpMeter->value(), 40);
  meter.SetTotal(0);  // an empty operation: a plain empty bar, never "busy"
  EXPECT_GT(meter.OpMeter->maximum(), meter.OpMeter->minimum());
  meter.Show();
  EXPECT_TRUE(meter.isVisible());
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_LE((meter.frameGeometry().center() - area.center()).manhattanLength(), 2);
  meter.Hide();
  EXPECT_FALSE(meter.isVisible());
}

TEST(QtNameFilters, WindowsFilterPairsBecomeQtFilters) {
  EXPECT_EQ(
      QtNameFilters("Delphi v3 Package (*.DPL)|*.DPL|C++Builder v3 Package "
                    "(*.BPL)|*.BPL|All Files (*.*)|*.*"),
      (QStringList{"Delphi v3 Package (*.DPL)", "C++Builder v3 Package (*.BPL)", "All Files (*)"}));
  EXPECT_EQ(QtNameFilters("Sources|*.dpk;*.pas|Broken"), (QStringList{"Sources (*.dpk *.pas)"}));
  EXPECT_TRUE(QtNameFilters("").isEmpty());
}

TEST(AcceptChosenFile, ConvertsToAWindowsPathAndMovesTheCurrentDirectory) {
  test::TempPrefix prefix;
  const std::filesystem::path host = prefix.WriteText("C:\\Packs\\Mine\\a.dpl", "x");
  EXPECT_EQ(AcceptChosenFile(QString::fromStdString(host.string())),
            std::optional<std::string>("C:\\Packs\\Mine\\a.dpl"));
  EXPECT_EQ(Sys().CurrentDirectory(), "C:\\Packs\\Mine");

  const std::filesystem::path atRoot = prefix.WriteText("C:\\root.dpl", "x");
  EXPECT_EQ(AcceptChosenFile(QString::fromStdString(atRoot.string())),
            std::optional<std::string>("C:\\root.dpl"));
  EXPECT_EQ(Sys().CurrentDirectory(), "C:\\");

  // Outside drive C: the Z: drive of the prefix covers the host root.
  const std::optional<std::string> outside = AcceptChosenFile("/usr/share/x.dpl");
  ASSERT_TRUE(outside.has_value());
  EXPECT_EQ(*outside, "Z:\\usr\\share\\x.dpl");
  EXPECT_EQ(Sys().CurrentDirectory(), "Z:\\usr\\share");

  EXPECT_FALSE(AcceptChosenFile("").has_value());
  EXPECT_EQ(Sys().CurrentDirectory(), "Z:\\usr\\share");
}

}  // namespace
}  // namespace kx::gui
