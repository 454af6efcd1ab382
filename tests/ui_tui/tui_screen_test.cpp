#include "common/ui/tui_screen.h"

#include <gtest/gtest.h>

#include "common/ui/control.h"
#include "common/ui/text_width.h"
#include "tests/ui/ui_test_support.h"
#include "tests/ui_tui/text_canvas.h"

namespace hu {
namespace {

const std::string kUpdating = "\xE7\xB3\xBB\xE7\xBB\x9F\xE5\x8D\x87\xE7\xBA\xA7\xE4\xB8\xAD";  // 系统升级中
const std::string kSystem = "\xE7\xB3\xBB\xE7\xBB\x9F";                                      // 系统
const std::string kReadType = "\xE8\xAF\xBB\xE8\xBD\xA6\xE5\x9E\x8B";                         // 读车型

using Lines = std::vector<std::string>;

// The updater's main dialog, full screen on a 100 x 31 terminal: the client
// is rows 1..29, 8 pixels a column and 480/29 pixels a row; row 30 tells the keys.
class ScreenTest : public ::testing::Test {
 protected:
  ScreenTest() {
    main.Template().title = "Z1 System Updater(Ver1.28)";
    main.Template().rect = Rect{0, 0, 800, 480};
    main.DefineControl(ControlKind::Panel, 1009, "", Rect{0, 0, 800, 344}).SetPanelLineCount(64);
    main.DefineControl(ControlKind::Progress, 1013, "", Rect{8, 352, 600, 30});
    main.DefineControl(ControlKind::CheckBox, 1007, "Format", Rect{8, 412, 266, 60});
    main.DefineControl(ControlKind::PushButton, 1005, "Update", Rect{282, 412, 242, 60});
    main.DefineControl(ControlKind::PushButton, IDCANCEL, "Exit", Rect{541, 412, 251, 60});
    main.DefineControl(ControlKind::Static, 1014, "secret", Rect{0, 300, 800, 40}).ShowWindow(SW_HIDE);
    main.onCommand = [this](int id) {
      if (id == 1007) main.log.push_back("format " + std::to_string(main.IsDlgButtonChecked(1007)));
      return false;
    };
  }
  Control& Item(int id) { return *main.GetDlgItem(id); }
  void RunPosted() {
    while (bench.desktop.loop().RunOnce()) {
    }
  }
  bool Key(TuiKeyCode code, char32_t ch = 0) { return screen.HandleKey(TuiKey{code, ch}); }
  // The key, then what it posted.
  bool Press(TuiKeyCode code) {
    const bool handled = Key(code);
    RunPosted();
    return handled;
  }
  int FocusedId() const { return screen.Focused() != nullptr ? screen.Focused()->control : -1; }
  // What the dialog heard, without its timers.
  Lines Commands(const ScriptedDialog& dlg) const {
    Lines out;
    for (const std::string& line : dlg.log) {
      if (line.rfind("command", 0) == 0 || line.rfind("notify", 0) == 0 || line.rfind("format", 0) == 0) {
        out.push_back(line);
      }
    }
    return out;
  }
  Lines Posted(const ScriptedDialog& dlg) {
    RunPosted();
    return Commands(dlg);
  }

  UiBench bench;
  ScriptedDialog main{bench.desktop, 102};
  TuiScreen screen{bench.desktop};
  TextCanvas canvas{100, 31};
};

TEST_F(ScreenTest, DrawsTitlePanelBarCheckBoxAndButtons) {
  ASSERT_TRUE(main.Create());
  Control& panel = Item(1009);
  panel.SetPanelLine(0, PanelLine{"Start", 255, true, Rect{3, 3, 60, 27}});
  panel.SetPanelLine(1, PanelLine{"-->", 0, false, Rect{63, 3, 45, 27}});
  panel.SetPanelLine(10, PanelLine{"os File is invalid ...", 255, false, Rect{3, 57, 794, 30}});
  panel.SetPanelLine(11, PanelLine{kUpdating, 0, false, Rect{3, 87, 40, 30}});  // 5 columns wide
  Item(1013).SetPos(42);
  Item(1007).SetCheck(BST_CHECKED);
  Item(1005).EnableWindow(false);
  screen.Paint(canvas);

  EXPECT_EQ(canvas.Row(0).find(" Z1 System Updater(Ver1.28)"), 0u);
  EXPECT_EQ(canvas.AttrsAt(0, 50), kAttrReverse);
  EXPECT_EQ(canvas.ColumnOf(1, "Start"), 0);
  EXPECT_EQ(canvas.AttrsAt(1, 0), kAttrRed | kAttrBold);
  EXPECT_EQ(canvas.ColumnOf(1, "-->"), 7);
  EXPECT_EQ(canvas.AttrsAt(1, 7), 0u);
  EXPECT_EQ(canvas.ColumnOf(4, "os File is invalid ..."), 0);
  EXPECT_EQ(canvas.AttrsAt(4, 0), kAttrRed);
  // Cut at the line's five columns: two whole characters, not two and a half.
  EXPECT_EQ(canvas.Row(6).substr(0, kSystem.size() + 1), kSystem + " ");
  EXPECT_EQ(canvas.RowOf("\xE5\x8D\x87"), -1);

  EXPECT_EQ(canvas.ColumnOf(22, "[" + std::string(28, '#') + std::string(40, '.') + "]"), 1);
  EXPECT_EQ(canvas.ColumnOf(22, "42%"), 73);
  EXPECT_EQ(canvas.ColumnOf(26, "[x] Format"), 1);
  int update = canvas.ColumnOf(26, "[ Update ]");
  ASSERT_GT(update, 0);
  EXPECT_EQ(canvas.AttrsAt(26, update) & kAttrDim, kAttrDim);
  EXPECT_EQ(canvas.AttrsAt(26, update + 2), kAttrDim | kAttrUnderline);  // the hot key
  EXPECT_GT(canvas.ColumnOf(26, "[ Exit ]"), update);
  EXPECT_EQ(canvas.RowOf("secret"), -1);

  // Creation order; the disabled button takes no focus; the first one has it.
  ASSERT_EQ(screen.FocusOrder().size(), 2u);
  EXPECT_EQ(screen.FocusOrder()[0].control, 1007);
  EXPECT_EQ(screen.FocusOrder()[1].control, IDCANCEL);
  EXPECT_EQ(FocusedId(), 1007);
  EXPECT_EQ(canvas.AttrsAt(26, 1) & kAttrReverse, kAttrReverse);

  Item(1014).ShowWindow(SW_SHOW);
  Item(1013).ShowWindow(SW_HIDE);
  screen.Paint(canvas);
  EXPECT_NE(canvas.RowOf("secret"), -1);
  EXPECT_EQ(canvas.RowOf("42%"), -1);
}

TEST_F(ScreenTest, KeysActAsAPersonsClicks) {
  ASSERT_TRUE(main.Create());
  screen.Paint(canvas);
  // The check box toggles before the dialog hears of it, and only from the loop.
  EXPECT_TRUE(Key(TuiKeyCode::Space));
  EXPECT_TRUE(Commands(main).empty());
  EXPECT_EQ(Posted(main), (Lines{"command 1007", "format 1"}));
  screen.Paint(canvas);
  EXPECT_NE(canvas.RowOf("[x] Format"), -1);

  EXPECT_FALSE(Key(TuiKeyCode::Tab));
  EXPECT_EQ(FocusedId(), 1005);
  EXPECT_FALSE(Key(TuiKeyCode::Right));
  EXPECT_EQ(FocusedId(), IDCANCEL);
  EXPECT_FALSE(Key(TuiKeyCode::Tab));  // round to the start
  EXPECT_EQ(FocusedId(), 1007);
  EXPECT_FALSE(Key(TuiKeyCode::BackTab));
  EXPECT_EQ(FocusedId(), IDCANCEL);
  main.log.clear();

  // Hot keys click whatever has the focus; Esc stands for the cancel button.
  EXPECT_TRUE(Key(TuiKeyCode::Char, 'U'));
  EXPECT_EQ(FocusedId(), 1005);
  EXPECT_EQ(Posted(main), Lines{"command 1005"});
  EXPECT_FALSE(Key(TuiKeyCode::Char, 'z'));

  // A cancel button that is disabled (an update runs) keeps Esc from ending it.
  Item(IDCANCEL).EnableWindow(false);
  screen.Paint(canvas);
  EXPECT_FALSE(Key(TuiKeyCode::Escape));
  EXPECT_FALSE(Key(TuiKeyCode::Char, 'e'));
  Item(IDCANCEL).EnableWindow(true);
  Item(IDCANCEL).ShowWindow(SW_HIDE);
  screen.Paint(canvas);
  EXPECT_FALSE(Key(TuiKeyCode::Escape));
  Item(IDCANCEL).ShowWindow(SW_SHOW);
  screen.Paint(canvas);
  main.log.clear();
  EXPECT_TRUE(Key(TuiKeyCode::Escape));
  EXPECT_EQ(Posted(main), Lines{"command 2"});
  EXPECT_FALSE(main.IsOpen());
}

TEST_F(ScreenTest, FocusStaysInPlaceWhenItsControlGoes) {
  ASSERT_TRUE(main.Create());
  screen.Paint(canvas);
  Key(TuiKeyCode::Tab);
  ASSERT_EQ(FocusedId(), 1005);
  // Disabled while work runs: it keeps the focus, shown, and takes no Enter.
  Item(1005).EnableWindow(false);
  screen.Paint(canvas);
  EXPECT_EQ(screen.Focused(), nullptr);
  ASSERT_TRUE(screen.HeldFocus().has_value());
  EXPECT_EQ(screen.HeldFocus()->control, 1005);
  int update = canvas.ColumnOf(26, "[ Update ]");
  EXPECT_EQ(canvas.AttrsAt(26, update), kAttrDim | kAttrReverse | kAttrBold);
  EXPECT_FALSE(Key(TuiKeyCode::Enter));
  Item(1005).EnableWindow(true);
  screen.Paint(canvas);
  EXPECT_EQ(FocusedId(), 1005);
  // Tab from a disabled one goes on to the next.
  Item(1005).EnableWindow(false);
  screen.Paint(canvas);
  EXPECT_FALSE(Key(TuiKeyCode::Tab));
  EXPECT_EQ(FocusedId(), IDCANCEL);
  Item(1005).EnableWindow(true);
  screen.Paint(canvas);
  Key(TuiKeyCode::BackTab);
  ASSERT_EQ(FocusedId(), 1005);
  Item(1005).ShowWindow(SW_HIDE);
  screen.Paint(canvas);
  EXPECT_EQ(FocusedId(), IDCANCEL);  // hidden: the one now in its place
  Item(IDCANCEL).ShowWindow(SW_HIDE);
  Item(1007).EnableWindow(false);
  screen.Paint(canvas);
  EXPECT_EQ(screen.Focused(), nullptr);
  EXPECT_FALSE(Key(TuiKeyCode::Enter));
  EXPECT_FALSE(Key(TuiKeyCode::Tab));
}

TEST_F(ScreenTest, ClicksFollowTheMouse) {
  ASSERT_TRUE(main.Create());
  screen.Paint(canvas);
  int update = canvas.ColumnOf(26, "[ Update ]");
  EXPECT_TRUE(screen.HandleClick(26, update + 3));
  EXPECT_EQ(FocusedId(), 1005);
  EXPECT_EQ(Posted(main), Lines{"command 1005"});
  main.log.clear();
  Item(1005).EnableWindow(false);
  screen.Paint(canvas);
  EXPECT_FALSE(screen.HandleClick(26, update + 3));
  EXPECT_FALSE(screen.HandleClick(10, 50));  // the panel takes no clicks
  EXPECT_TRUE(screen.HandleClick(25, 2));    // anywhere in the check box's rows
  EXPECT_EQ(Posted(main), (Lines{"command 1007", "format 1"}));
}

TEST_F(ScreenTest, ModalDialogLiesOnItsOwnerAndTakesTheKeys) {
  ScriptedDialog confirm(bench.desktop, 129, &main);
  confirm.Template().title = "Are you sure to Update ?";
  confirm.Template().rect = Rect{168, 62, 464, 316};
  confirm.DefineControl(ControlKind::PushButton, IDOK, "Update Now", Rect{37, 219, 142, 72});
  confirm.DefineControl(ControlKind::PushButton, IDCANCEL, "Cancel Update", Rect{254, 219, 142, 72});
  confirm.DefineControl(ControlKind::Static, 1001, "5", Rect{10, 10, 444, 199});
  ASSERT_TRUE(main.Create());
  screen.Paint(canvas);
  Key(TuiKeyCode::BackTab);
  ASSERT_EQ(FocusedId(), IDCANCEL);

  ASSERT_TRUE(confirm.Create());
  screen.Paint(canvas);
  // A frame at 21,3 58 x 20 (the screen's 21 %, 13 %, 58 % x 66 %) over the owner.
  EXPECT_EQ(canvas.ColumnOf(3, "+- Are you sure to Update ? -"), 21);
  EXPECT_EQ(canvas.ColumnOf(22, "+" + std::string(56, '-') + "+"), 21);
  EXPECT_EQ(canvas.ColumnOf(4, "5"), 23);
  EXPECT_NE(canvas.RowOf("[ Update Now ]"), -1);
  EXPECT_NE(canvas.RowOf("Z1 System Updater"), -1);  // the owner around it
  ASSERT_EQ(screen.FocusOrder().size(), 2u);
  EXPECT_EQ(screen.FocusOrder()[0].dialog, confirm.GetSafeHwnd());
  EXPECT_EQ(FocusedId(), IDOK);

  EXPECT_TRUE(Key(TuiKeyCode::Char, 'c'));
  EXPECT_EQ(Posted(confirm), Lines{"command 2"});
  EXPECT_TRUE(Commands(main).empty());
  EXPECT_FALSE(confirm.IsOpen());
  screen.Paint(canvas);
  EXPECT_EQ(FocusedId(), IDCANCEL);  // back where it was in the owner
  EXPECT_EQ(canvas.RowOf("Are you sure"), -1);
}

TEST_F(ScreenTest, TabsSwitchPagesWithTheNotificationOfAChoice) {
  ScriptedDialog tool(bench.desktop, 102);
  tool.Template().title = "Canprobe";
  tool.Template().rect = Rect{0, 0, 800, 480};
  tool.DefineControl(ControlKind::Tab, 1000, "", Rect{0, 0, 800, 480});
  ScriptedDialog update(bench.desktop, 133);
  update.DefineControl(ControlKind::PushButton, 1038, kReadType, Rect{16, 0, 160, 40});
  ScriptedDialog recv(bench.desktop, 129);
  recv.Template().visible = false;
  recv.DefineControl(ControlKind::Static, 1, "receive page");
  tool.onInit = [&] {
    Control& tabs = *tool.GetDlgItem(1000);
    tabs.InsertItem(0, "Update");
    tabs.InsertItem(1, "Recv");
    tabs.SetCurSel(0);
    update.Create(&tool);
    recv.Create(&tool);
  };
  tool.onNotify = [&](int id, int code) {
    if (id == 1000 && code == TCN_SELCHANGE) {
      int sel = tool.GetDlgItem(1000)->GetCurSel();
      update.ShowWindow(sel == 0 ? SW_SHOW : SW_HIDE);
      recv.ShowWindow(sel == 1 ? SW_SHOW : SW_HIDE);
    }
    return true;
  };
  ASSERT_TRUE(tool.Create());
  screen.Paint(canvas);
  EXPECT_EQ(canvas.ColumnOf(1, "[Update]  Recv "), 0);
  EXPECT_EQ(canvas.ColumnOf(2, std::string(100, '-')), 0);
  // The page has no place of its own: it fills the tab's page area, row 3 on.
  EXPECT_EQ(canvas.ColumnOf(3, "[ 1:" + kReadType + " ]"), 6);
  EXPECT_EQ(canvas.RowOf("receive page"), -1);
  ASSERT_EQ(screen.FocusOrder().size(), 2u);
  EXPECT_EQ(FocusedId(), 1000);

  EXPECT_TRUE(Key(TuiKeyCode::Right));
  EXPECT_EQ(Posted(tool), Lines{"notify 1000 -551"});
  EXPECT_EQ(tool.GetDlgItem(1000)->GetCurSel(), 1);
  screen.Paint(canvas);
  EXPECT_EQ(canvas.ColumnOf(1, " Update  [Recv]"), 0);
  EXPECT_EQ(canvas.ColumnOf(3, "receive page"), 0);
  EXPECT_FALSE(Key(TuiKeyCode::Right));  // the last tab: nowhere to go
  tool.log.clear();
  EXPECT_FALSE(screen.HandleClick(1, 10));  // the tab already chosen
  EXPECT_TRUE(screen.HandleClick(1, 2));
  EXPECT_EQ(Posted(tool), Lines{"notify 1000 -551"});
  screen.Paint(canvas);
  EXPECT_NE(canvas.RowOf(kReadType), -1);
  EXPECT_TRUE(Key(TuiKeyCode::Char, '1'));
  EXPECT_EQ(Posted(update), Lines{"command 1038"});
}

TEST_F(ScreenTest, ListsScrollToTheirSelectionAndReportChoicesAndClicks) {
  ScriptedDialog dlg(bench.desktop, 133);
  dlg.Template().rect = Rect{0, 0, 800, 480};
  dlg.DefineControl(ControlKind::ListView, 1039, "", Rect{0, 0, 800, 100});  // 6 rows: header and 5
  dlg.onInit = [&] {
    Control& list = *dlg.GetDlgItem(1039);
    list.InsertColumn(0, "Vehicle", 200);
    list.InsertColumn(1, "Id", 80);
    for (int i = 0; i < 30; ++i) {
      list.InsertItem(i, "car " + std::to_string(i));
      list.SetItemText(i, 1, std::to_string(100 + i));
    }
  };
  ASSERT_TRUE(dlg.Create());
  Control& list = *dlg.GetDlgItem(1039);
  screen.Paint(canvas);
  EXPECT_EQ(canvas.ColumnOf(1, "Vehicle" + std::string(19, ' ') + "Id"), 0);
  EXPECT_EQ(canvas.ColumnOf(2, "car 0" + std::string(21, ' ') + "100"), 0);
  EXPECT_EQ(screen.FocusOrder()[0].pageRows, 5);

  EXPECT_TRUE(Press(TuiKeyCode::Down));  // nothing chosen yet: the first row
  EXPECT_EQ(list.GetCurSel(), 0);
  EXPECT_TRUE(Press(TuiKeyCode::PageDown));
  EXPECT_EQ(list.GetCurSel(), 4);
  EXPECT_TRUE(Key(TuiKeyCode::End));
  EXPECT_EQ(Posted(dlg), (Lines{"notify 1039 -101", "notify 1039 -101", "notify 1039 -101"}));
  screen.Paint(canvas);
  EXPECT_EQ(canvas.ColumnOf(6, "car 29"), 0);
  EXPECT_EQ(canvas.AttrsAt(6, 50), kAttrReverse | kAttrBold);
  EXPECT_EQ(canvas.ColumnOf(2, "car 25"), 0);
  EXPECT_FALSE(Key(TuiKeyCode::Down));

  dlg.log.clear();
  EXPECT_TRUE(screen.HandleClick(3, 40));  // car 26
  EXPECT_EQ(Posted(dlg), (Lines{"notify 1039 -101", "notify 1039 -2"}));
  EXPECT_EQ(list.GetCurSel(), 26);
  dlg.log.clear();
  EXPECT_TRUE(screen.HandleClick(3, 40));  // the same row again: only the click
  EXPECT_EQ(Posted(dlg), Lines{"notify 1039 -2"});
  // Enter on the focused list clicks the chosen row; the row stands out
  // only while the list has the focus.
  dlg.log.clear();
  EXPECT_TRUE(Key(TuiKeyCode::Enter));
  EXPECT_EQ(Posted(dlg), Lines{"notify 1039 -2"});
  list.SetCurSel(-1);
  screen.Paint(canvas);
  EXPECT_EQ(canvas.AttrsAt(2, 50), kAttrReverse | kAttrBold);  // nothing chosen: the top row
  dlg.log.clear();
  EXPECT_TRUE(Key(TuiKeyCode::Enter));
  EXPECT_EQ(Posted(dlg), (Lines{"notify 1039 -101", "notify 1039 -2"}));
  EXPECT_EQ(list.GetCurSel(), 25);
}

// At 80 x 24, what the updater shows: whole labels where pixels would fit
// them, the percent once, and the keys on the last row.
TEST_F(ScreenTest, SmallTerminalKeepsLabelsWholeAndTellsTheKeys) {
  main.DefineControl(ControlKind::Static, 1015, "", Rect{616, 352, 176, 30});
  ASSERT_TRUE(main.Create());
  Item(1007).SetWindowText("Format,It will set defaults");
  Item(1013).SetPos(100);
  Item(1015).SetWindowText("100%");
  TextCanvas small{80, 24};
  screen.Paint(small);
  int row = small.RowOf("[ ] Format,It will set defaults");
  ASSERT_NE(row, -1) << small.Screen();
  EXPECT_GT(small.ColumnOf(row, "[ Update ]"), small.ColumnOf(row, "defaults"));
  EXPECT_NE(small.RowOf("[ Exit ]"), -1) << small.Screen();
  size_t first = small.Screen().find("100%");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(small.Screen().find("100%", first + 1), std::string::npos) << small.Screen();
  EXPECT_EQ(small.Row(23).find(" Tab next  Enter press  Esc cancel"), 0u) << small.Screen();
  EXPECT_EQ(small.RowOf("Tab next"), 23);
}

TEST_F(ScreenTest, TreesIndentAndOpen) {
  ScriptedDialog dlg(bench.desktop, 131);
  dlg.Template().rect = Rect{0, 0, 800, 480};
  dlg.DefineControl(ControlKind::TreeView, 1044, "", Rect{0, 0, 400, 200});
  dlg.onInit = [&] {
    Control& tree = *dlg.GetDlgItem(1044);
    int a = tree.InsertTreeItem("SDMMC");
    tree.InsertTreeItem("a.canbox", a);
    int b = tree.InsertTreeItem("StorageCard");
    tree.InsertTreeItem("b.canbox", b);
    tree.Expand(a, true);
  };
  ASSERT_TRUE(dlg.Create());
  Control& tree = *dlg.GetDlgItem(1044);
  screen.Paint(canvas);
  EXPECT_EQ(canvas.ColumnOf(1, "- SDMMC"), 0);
  EXPECT_EQ(canvas.ColumnOf(2, "    a.canbox"), 0);
  EXPECT_EQ(canvas.ColumnOf(3, "+ StorageCard"), 0);
  EXPECT_EQ(canvas.RowOf("b.canbox"), -1);

  EXPECT_TRUE(Press(TuiKeyCode::End));
  EXPECT_EQ(tree.GetCurSel(), 2);
  EXPECT_EQ(Commands(dlg), Lines{"notify 1044 -402"});
  EXPECT_FALSE(Key(TuiKeyCode::Right));  // opens it, no choice made
  screen.Paint(canvas);
  EXPECT_EQ(canvas.ColumnOf(4, "    b.canbox"), 0);
  EXPECT_TRUE(Press(TuiKeyCode::Right));  // open already: to its first child
  EXPECT_EQ(tree.GetCurSel(), 3);
  EXPECT_TRUE(Press(TuiKeyCode::Left));  // a leaf: back to its parent
  EXPECT_EQ(tree.GetCurSel(), 2);
  screen.Paint(canvas);
  EXPECT_FALSE(screen.HandleClick(1, 0));  // the "-" of SDMMC closes it
  screen.Paint(canvas);
  EXPECT_EQ(canvas.RowOf("a.canbox"), -1);
}

TEST_F(ScreenTest, EditsShowTheirLatestLinesAndScrollWhenFocused) {
  ScriptedDialog dlg(bench.desktop, 102);
  dlg.Template().rect = Rect{0, 0, 800, 480};
  dlg.DefineControl(ControlKind::Edit, 1003, "", Rect{0, 0, 800, 80}).SetMultiLine(true);  // 4 rows
  dlg.DefineControl(ControlKind::PushButton, 1000, "Mcuflash", Rect{0, 400, 200, 40});
  ASSERT_TRUE(dlg.Create());
  Control& edit = *dlg.GetDlgItem(1003);
  edit.SetWindowText("short");
  screen.Paint(canvas);
  ASSERT_EQ(screen.FocusOrder().size(), 1u);  // nothing to scroll yet

  edit.SetWindowText("");
  for (int i = 0; i < 10; ++i) edit.AppendText(std::string(i ? "\r\n" : "") + "line " + std::to_string(i));
  screen.Paint(canvas);
  EXPECT_EQ(canvas.ColumnOf(1, "line 6"), 0);
  EXPECT_EQ(canvas.ColumnOf(4, "line 9"), 0);
  EXPECT_EQ(canvas.ColumnOf(1, "^"), 99);
  ASSERT_EQ(screen.FocusOrder().size(), 2u);
  EXPECT_EQ(screen.FocusOrder()[0].control, 1003);
  Key(TuiKeyCode::BackTab);
  ASSERT_EQ(FocusedId(), 1003);

  EXPECT_FALSE(Key(TuiKeyCode::PageUp));
  EXPECT_EQ(edit.GetFirstVisibleLine(), 3);
  screen.Paint(canvas);
  EXPECT_EQ(canvas.ColumnOf(1, "line 3"), 0);
  EXPECT_EQ(canvas.ColumnOf(4, "v"), 99);
  Key(TuiKeyCode::Home);
  EXPECT_EQ(edit.GetFirstVisibleLine(), 0);
  Key(TuiKeyCode::Down);
  EXPECT_EQ(edit.GetFirstVisibleLine(), 1);
  Key(TuiKeyCode::End);
  screen.Paint(canvas);
  EXPECT_EQ(canvas.ColumnOf(4, "line 9"), 0);
  // Appending brings the end back into view after scrolling up.
  Key(TuiKeyCode::Home);
  edit.AppendText("\r\nline 10");
  screen.Paint(canvas);
  EXPECT_EQ(canvas.ColumnOf(4, "line 10"), 0);
}

}  // namespace
}  // namespace hu
