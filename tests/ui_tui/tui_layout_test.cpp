#include "common/ui/tui_layout.h"

#include <gtest/gtest.h>

#include "common/ui/control.h"
#include "tests/ui/ui_test_support.h"

namespace hu {
namespace {

TEST(PixelMapper, ScalesAndKeepsThinControlsVisible) {
  PixelMapper m(800, 480, CellRect{0, 1, 100, 24});  // 8 px a column, 20 px a row
  EXPECT_EQ(m.Map(Rect{16, 40, 80, 60}), (CellRect{2, 3, 10, 3}));
  EXPECT_EQ(m.Map(Rect{100, 100, 3, 2}), (CellRect{12, 6, 1, 1}));
  EXPECT_EQ(m.Map(Rect{100, 100, 0, 50}).cols, 0);
  // Neighbours meet without sharing a cell.
  CellRect left = m.Map(Rect{0, 0, 266, 40});
  CellRect right = m.Map(Rect{266, 0, 266, 40});
  EXPECT_EQ(left.Right(), right.col);
  EXPECT_EQ(m.Map(Rect{-8, -20, 16, 40}).col, -1);
  EXPECT_EQ(m.Cols(700), 88);
  PixelMapper page = m.Sub(400, 240);
  EXPECT_EQ(page.Map(Rect{8, 20, 8, 20}), (CellRect{51, 14, 1, 1}));
}

class LayoutTest : public ::testing::Test {
 protected:
  UiBench bench;
  ScriptedDialog dlg{bench.desktop, 102};
};

TEST_F(LayoutTest, FullScreenDialogFillsTheTerminalUnderItsTitle) {
  dlg.Template().rect = Rect{0, 0, 800, 480};
  ASSERT_TRUE(dlg.Create());
  DialogBox box = LayoutTopDialog(dlg, bench.desktop.GetScreenSize(), 100, 30);
  EXPECT_TRUE(box.titleBar);
  EXPECT_FALSE(box.framed);
  EXPECT_EQ(box.outer, (CellRect{0, 0, 100, 30}));
  EXPECT_EQ(box.client, (CellRect{0, 1, 100, 29}));
  EXPECT_EQ(box.mapper.Map(Rect{0, 464, 800, 16}).Bottom(), 30);
}

TEST_F(LayoutTest, SmallerDialogIsAFramedBoxInsideTheTerminal) {
  // The confirmation's place: 21 %, 13 %, 58 % x 66 % of the screen.
  dlg.Template().rect = Rect{168, 62, 464, 316};
  dlg.Template().title = "Update";
  ASSERT_TRUE(dlg.Create());
  DialogBox box = LayoutTopDialog(dlg, bench.desktop.GetScreenSize(), 100, 30);
  EXPECT_TRUE(box.framed);
  EXPECT_EQ(box.outer, (CellRect{21, 3, 58, 20}));
  EXPECT_EQ(box.client, (CellRect{22, 4, 56, 18}));

  // Too small for its title, and hanging over the edge: grown and moved in.
  dlg.MoveWindow(760, 470, 16, 8);
  dlg.SetWindowText("A much longer title than the box");
  box = LayoutTopDialog(dlg, bench.desktop.GetScreenSize(), 100, 30);
  EXPECT_EQ(box.outer.cols, 38);
  EXPECT_EQ(box.outer.rows, 4);
  EXPECT_LE(box.outer.Right(), 100);
  EXPECT_LE(box.outer.Bottom(), 30);

  dlg.MoveWindow(0, 0, 0, 0);  // the updater's hidden start
  EXPECT_TRUE(LayoutTopDialog(dlg, bench.desktop.GetScreenSize(), 100, 30).outer.Empty());
}

TEST_F(LayoutTest, UnplacedControlsFlowBelowThePlacedOnes) {
  dlg.Template().rect = Rect{0, 0, 800, 480};
  dlg.DefineControl(ControlKind::Static, 1, "placed", Rect{0, 0, 800, 40});
  dlg.DefineControl(ControlKind::PushButton, 2, "Mcuflash");
  dlg.DefineControl(ControlKind::PushButton, 3, "Exit");
  dlg.DefineControl(ControlKind::Progress, 4).ShowWindow(SW_HIDE);
  dlg.DefineControl(ControlKind::Edit, 5).SetMultiLine(true);
  dlg.DefineControl(ControlKind::Progress, 6);
  ASSERT_TRUE(dlg.Create());
  DialogBox box = LayoutTopDialog(dlg, bench.desktop.GetScreenSize(), 100, 30);
  std::vector<CellRect> cells = LayoutControls(dlg, box);
  ASSERT_EQ(cells.size(), 6u);
  EXPECT_EQ(cells[0], (CellRect{0, 1, 100, 2}));
  // Buttons side by side on the first free row.
  EXPECT_EQ(cells[1].row, 3);
  EXPECT_EQ(cells[2].row, 3);
  EXPECT_GE(cells[2].col, cells[1].Right());
  EXPECT_TRUE(cells[3].Empty());  // hidden: no room taken
  // The edit takes what the bar leaves.
  EXPECT_EQ(cells[4].row, 4);
  EXPECT_EQ(cells[5], (CellRect{0, cells[4].Bottom(), 100, 1}));
  EXPECT_EQ(cells[5].Bottom(), 30);
}

TEST_F(LayoutTest, PanelLinesMoveDownRatherThanOverlap) {
  Control panel(ControlKind::Panel, 1009, "", Rect{0, 0, 800, 344});
  panel.SetPanelLineCount(64);
  const char* steps[] = {"Start", "-->", "Update"};
  int x[] = {3, 63, 108, 188};
  for (int i = 0; i < 3; ++i) panel.SetPanelLine(i, PanelLine{steps[i], 0, false, Rect{x[i], 3, x[i + 1] - x[i], 27}});
  // A title line at the strip's height, and messages from 57 on.
  panel.SetPanelLine(9, PanelLine{"system will reboot after 3 seconds !", 0, false, Rect{3, 3, 794, 30}});
  panel.SetPanelLine(10, PanelLine{"App updated OK ! ", 0, false, Rect{3, 57, 794, 30}});
  panel.SetPanelLine(11, PanelLine{"below the panel", 0, false, Rect{3, 400, 794, 30}});
  panel.SetPanelLine(12, PanelLine{"no rectangle", 0, false, Rect{}});
  CellRect cells{0, 1, 100, 20};
  std::vector<PlacedLine> placed = LayoutPanelLines(panel, cells, PixelMapper(800, 344, cells));
  ASSERT_EQ(placed.size(), 6u);
  EXPECT_EQ(placed[0].line, 0);
  EXPECT_EQ(placed[0].row, 1);
  EXPECT_EQ(placed[0].col, 0);
  EXPECT_EQ(placed[0].cols, 7);
  EXPECT_EQ(placed[1].row, 1);
  EXPECT_EQ(placed[1].col, 7);
  EXPECT_EQ(placed[2].col, 13);
  EXPECT_EQ(placed[3].line, 9);
  EXPECT_EQ(placed[3].row, 2);  // pushed under the strip
  EXPECT_EQ(placed[4].line, 10);
  EXPECT_EQ(placed[4].row, 4);
  EXPECT_EQ(placed[5].line, 12);
  EXPECT_EQ(placed[5].row, 13);
}

}  // namespace
}  // namespace hu
