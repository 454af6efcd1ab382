#include <gtest/gtest.h>

#include "common/ui/control.h"
#include "common/ui/dialog.h"
#include "tests/ui/ui_test_support.h"

namespace hu {
namespace {

class DialogTest : public ::testing::Test {
 protected:
  UiBench bench;
  EventLoop& loop = bench.desktop.loop();
};

TEST_F(DialogTest, ModalDialogOpenedFromAHandlerStacksOnTop) {
  ScriptedDialog main(bench.desktop, 102);
  ScriptedDialog confirm(bench.desktop, 129, &main);
  main.Template().title = "Main";
  confirm.Template().title = "Are you sure to Update ?";
  int confirmResult = 0;
  std::vector<Dialog*> topWhileConfirming;
  main.onInit = [&] {
    main.SetTimer(1000, 500);  // keeps ticking while the confirmation is up
    main.PostMessage(WM_COMMAND, 1005);
  };
  main.onCommand = [&](int id) {
    if (id != 1005) return false;
    confirmResult = confirm.DoModal();
    main.EndDialog(55);
    return true;
  };
  confirm.onInit = [&] { confirm.SetTimer(105, 1000); };
  confirm.onTimer = [&](uint32_t) {
    topWhileConfirming.push_back(bench.desktop.TopDialog());
    EXPECT_EQ(bench.windows.GetForegroundWindow(), confirm.GetSafeHwnd());
    if (topWhileConfirming.size() == 3) confirm.EndDialog(IDOK);
  };
  EXPECT_EQ(main.DoModal(), 55);
  EXPECT_EQ(confirmResult, IDOK);
  EXPECT_EQ(topWhileConfirming, (std::vector<Dialog*>{&confirm, &confirm, &confirm}));
  // The main dialog's 500 ms timer went on ticking inside the nested loop (1500 .. 3500).
  EXPECT_EQ(std::count_if(main.log.begin(), main.log.end(), [](const std::string& s) { return s.rfind("timer 1000@", 0) == 0; }), 5);
  EXPECT_TRUE(bench.desktop.OpenDialogs().empty());
  EXPECT_EQ(main.log.back(), "destroy");
}

TEST_F(DialogTest, EndDialogDuringInitialisationReturnsAtOnce) {
  ScriptedDialog dlg(bench.desktop, 102);
  dlg.onInit = [&] {
    dlg.SetTimer(1, 5);
    dlg.EndDialog(IDCANCEL);
  };
  HWND seen = 0;
  dlg.onDestroy = [&] { seen = dlg.GetSafeHwnd(); };
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_NE(seen, 0u);
  EXPECT_FALSE(loop.HasTimer(seen, 1));
  EXPECT_EQ(bench.windows.FindWindow("", ""), 0u);
  EXPECT_EQ(bench.clock.GetTickCount(), 1000u);
}

TEST_F(DialogTest, CloseAndExitButtonsEndAsCancel) {
  ScriptedDialog dlg(bench.desktop, 102);
  dlg.onInit = [&] { dlg.PostMessage(WM_CLOSE); };
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  dlg.onInit = [&] { dlg.PostMessage(WM_COMMAND, MakeWParam(IDOK, BN_CLICKED)); };
  EXPECT_EQ(dlg.DoModal(), IDOK);
  // A handled command does not fall through to OnOK.
  dlg.onCommand = [&](int id) {
    if (id == IDOK) dlg.EndDialog(77);
    return true;
  };
  EXPECT_EQ(dlg.DoModal(), 77);
}

TEST_F(DialogTest, RegisteredMessagesShareIdsAndReachTheDialog) {
  uint32_t a = bench.windows.RegisterWindowMessage("{D39CDAEE-94B6-4a7e-BE32-B0AED1161B9C}");
  uint32_t b = bench.windows.RegisterWindowMessage("WM_MCU_COM_OP");
  EXPECT_GE(a, 0xC000u);
  EXPECT_NE(a, b);
  EXPECT_EQ(bench.windows.RegisterWindowMessage("{d39cdaee-94b6-4A7E-be32-b0aed1161b9c}"), a);
  EXPECT_EQ(bench.windows.RegisterWindowMessage(""), 0u);

  ScriptedDialog dlg(bench.desktop, 102);
  std::vector<WPARAM> codes;
  dlg.onInit = [&] {
    EXPECT_EQ(dlg.RegisterWindowMessage("WM_MCU_COM_OP"), b);
    dlg.PostMessage(a, 4);
    dlg.PostMessage(a, 0);
  };
  dlg.onMessage = [&](uint32_t m, WPARAM w, LPARAM) {
    if (m != a) return false;
    codes.push_back(w);
    if (codes.size() == 2) dlg.EndDialog(IDOK);
    return true;
  };
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(codes, (std::vector<WPARAM>{4, 0}));
}

TEST_F(DialogTest, WindowsAreFoundByClassAndCurrentTitle) {
  ScriptedDialog dlg(bench.desktop, 102);
  dlg.Template().title = "Canprobe";
  ASSERT_TRUE(dlg.Create());
  HWND hwnd = dlg.GetSafeHwnd();
  EXPECT_EQ(bench.windows.FindWindow("", "canprobe"), hwnd);
  EXPECT_EQ(bench.windows.FindWindow("#32770", ""), hwnd);
  EXPECT_EQ(bench.windows.FindWindow("SERIAL_WINDOW_CLASS_NAME", "Canprobe"), 0u);
  dlg.SetWindowText("Z1 System Updater(Ver1.28)");
  EXPECT_EQ(bench.windows.FindWindow("", "Canprobe"), 0u);
  EXPECT_EQ(bench.windows.FindWindow("", "Z1 System Updater(Ver1.28)"), hwnd);
  EXPECT_EQ(bench.windows.GetForegroundWindow(), hwnd);
  dlg.DestroyWindow();
  EXPECT_EQ(bench.windows.FindWindow("", ""), 0u);
  EXPECT_EQ(bench.windows.GetForegroundWindow(), 0u);
}

TEST_F(DialogTest, EachOpeningStartsFromTheDefinitions) {
  ScriptedDialog dlg(bench.desktop, 129);
  dlg.DefineControl(ControlKind::Edit, 1012).SetMultiLine(true);
  dlg.DefineControl(ControlKind::PushButton, 1008, "Start");
  EXPECT_EQ(dlg.GetDlgItem(1012), nullptr);  // not created yet
  dlg.onInit = [&] {
    ASSERT_NE(dlg.GetDlgItem(1012), nullptr);
    EXPECT_EQ(dlg.GetDlgItem(1012)->GetWindowText(), "");
    EXPECT_TRUE(dlg.GetDlgItem(1012)->IsMultiLine());
    EXPECT_TRUE(dlg.GetDlgItem(1008)->IsWindowEnabled());
    dlg.SetDlgItemText(1012, "Mcu Key update successfully!");
    dlg.GetDlgItem(1008)->EnableWindow(false);
    dlg.EndDialog(IDOK);
  };
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.DoModal(), IDOK);
}

TEST_F(DialogTest, ChildPagesShowWithTheirParentAndCloseWithIt) {
  ScriptedDialog main(bench.desktop, 102);
  ScriptedDialog page0(bench.desktop, 133);
  ScriptedDialog page1(bench.desktop, 129);
  page0.Template().visible = false;
  page1.Template().visible = false;
  page0.DefineControl(ControlKind::PushButton, 1020, "设置车型...");
  ASSERT_TRUE(main.Create());
  ASSERT_TRUE(page0.Create(&main));
  ASSERT_TRUE(page1.Create(&main));
  EXPECT_EQ(bench.desktop.TopDialog(), &main);
  EXPECT_FALSE(page0.IsShown());
  page0.ShowWindow(SW_SHOW);
  EXPECT_TRUE(page0.IsControlShown(*page0.GetDlgItem(1020)));
  main.ShowWindow(SW_HIDE);
  EXPECT_FALSE(page0.IsShown());
  EXPECT_EQ(main.GetChildren(), (std::vector<Dialog*>{&page0, &page1}));
  main.DestroyWindow();
  EXPECT_FALSE(page0.IsOpen());
  EXPECT_FALSE(page1.IsOpen());
  EXPECT_EQ(page0.log, (std::vector<std::string>{"destroy"}));
}

TEST_F(DialogTest, GeometryAndZOrder) {
  class SizedDialog : public ScriptedDialog {
   public:
    using ScriptedDialog::ScriptedDialog;
    std::vector<std::string> sizes;
   protected:
    void OnSize(int cx, int cy) override { sizes.push_back(std::to_string(cx) + "x" + std::to_string(cy)); }
  };
  SizedDialog dlg(bench.desktop, 102);
  dlg.Template().rect = Rect{10, 10, 400, 200};
  ASSERT_TRUE(dlg.Create());
  dlg.MoveWindow(0, 0, 0, 0);  // hidden by size, as the automatic updater starts
  dlg.MoveWindow(5, 5, 0, 0);  // a move alone is no resize
  dlg.SetWindowPos(HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  EXPECT_TRUE(dlg.IsTopmost());
  EXPECT_NE(dlg.GetExStyle() & WS_EX_TOPMOST, 0u);
  dlg.SetWindowPos(HWND_TOP, 1, 2, dlg.GetSystemMetrics(SM_CXSCREEN), dlg.GetSystemMetrics(SM_CYSCREEN), 0);
  EXPECT_EQ(dlg.GetWindowRect(), (Rect{1, 2, 800, 480}));
  EXPECT_EQ(dlg.GetClientRect(), (Rect{0, 0, 800, 480}));
  EXPECT_EQ(dlg.sizes, (std::vector<std::string>{"0x0", "800x480"}));
  dlg.ModifyStyleEx(WS_EX_TOPMOST, 0);
  EXPECT_FALSE(dlg.IsTopmost());
}

TEST(ControlTest, ProgressKeepsItsPositionInRange) {
  Control bar(ControlKind::Progress, 1013);
  bar.SetRange(0, 100);
  bar.SetPos(140);
  EXPECT_EQ(bar.GetPos(), 100);
  bar.SetPos(-3);
  EXPECT_EQ(bar.GetPos(), 0);
  bar.SetPos(50);
  bar.SetRange(0, 10);
  EXPECT_EQ(bar.GetPos(), 10);
}

TEST(ControlTest, ListRowsKeepTheSelectionOnItsRow) {
  Control list(ControlKind::ListView, 1039);
  EXPECT_EQ(list.InsertColumn(0, "", 700), 0);
  EXPECT_EQ(list.InsertItem(0, "a"), 0);
  EXPECT_EQ(list.InsertItem(9, "c"), 1);  // past the end: appended
  EXPECT_EQ(list.InsertItem(1, "b"), 1);
  EXPECT_TRUE(list.SetCurSel(2));
  EXPECT_EQ(list.GetItemText(2), "c");
  list.InsertItem(0, "first");
  EXPECT_EQ(list.GetCurSel(), 3);
  EXPECT_TRUE(list.DeleteItem(0));
  EXPECT_EQ(list.GetCurSel(), 2);
  EXPECT_TRUE(list.DeleteItem(2));
  EXPECT_EQ(list.GetCurSel(), -1);
  EXPECT_FALSE(list.SetCurSel(5));
  EXPECT_TRUE(list.SetItemText(0, 3, "cell"));
  EXPECT_EQ(list.GetItemText(0, 3), "cell");
  EXPECT_EQ(list.GetItemText(0, 2), "");
  EXPECT_EQ(list.GetItemText(7, 0), "");
  EXPECT_FALSE(list.SetItemText(0, -1, "x"));
}

TEST(ControlTest, TreeItemsNeedAnExistingParent) {
  Control tree(ControlKind::TreeView, 1044);
  int root = tree.InsertTreeItem("a.canbox");
  EXPECT_EQ(tree.InsertTreeItem("child", root), 1);
  EXPECT_EQ(tree.InsertTreeItem("orphan", 7), -1);
  EXPECT_EQ(tree.GetItemParent(1), root);
  EXPECT_FALSE(tree.DeleteItem(0));
  EXPECT_EQ(tree.InsertItem(0, "row"), -1);  // not a list
  tree.DeleteAllItems();
  EXPECT_EQ(tree.GetItemCount(), 0);
}

TEST(ControlTest, PanelHasSixtyFourLinesAndEditsScrollToTheEnd) {
  Control panel(ControlKind::Panel, 1009);
  EXPECT_EQ(panel.GetPanelLineCount(), 64);
  EXPECT_TRUE(panel.SetPanelLine(63, PanelLine{"last", 255, true, Rect{3, 57, 794, 30}}));
  EXPECT_FALSE(panel.SetPanelLine(64, PanelLine{"beyond", 0, false, Rect{}}));
  EXPECT_FALSE(panel.SetPanelLineText(-1, "before"));
  EXPECT_EQ(panel.GetPanelLine(64), nullptr);
  EXPECT_EQ(panel.GetPanelLine(63)->color, 255u);

  Control edit(ControlKind::Edit, 1003);
  edit.AppendText("one\r\n");
  edit.AppendText("two\r\nthree");
  EXPECT_EQ(edit.GetLineCount(), 3);
  EXPECT_EQ(edit.GetFirstVisibleLine(), 2);
  edit.SetWindowText("single");
  EXPECT_EQ(edit.GetFirstVisibleLine(), 0);
}

}  // namespace
}  // namespace hu
