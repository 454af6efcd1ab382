#include <gtest/gtest.h>

#include <sstream>

#include <nlohmann/json.hpp>

#include "common/ui/control.h"
#include "common/ui/headless_front_end.h"
#include "tests/ui/ui_test_support.h"

namespace hu {
namespace {

class HeadlessTest : public ::testing::Test {
 protected:
  HeadlessTest() {
    dlg.Template().title = "Z1";
    dlg.Template().rect = Rect{0, 0, 800, 480};
    dlg.DefineControl(ControlKind::PushButton, 1005, "Update");
    dlg.DefineControl(ControlKind::CheckBox, 1007, "Format,It will set defaults");
    dlg.DefineControl(ControlKind::Panel, 1009);
    dlg.DefineControl(ControlKind::Progress, 1013).ShowWindow(SW_HIDE);
    dlg.DefineControl(ControlKind::Edit, 1003).SetMultiLine(true);
    dlg.onInit = [this] {
      dlg.GetDlgItem(1009)->SetPanelLine(10, PanelLine{"os File is invalid ...", 255, true, Rect{3, 57, 794, 30}});
    };
  }
  std::vector<nlohmann::json> Log() const {
    std::vector<nlohmann::json> out;
    std::istringstream in(log.str());
    std::string line;
    while (std::getline(in, line)) out.push_back(nlohmann::json::parse(line));  // throws on bad JSON
    return out;
  }

  UiBench bench;
  std::ostringstream out;
  std::ostringstream log;
  HeadlessFrontEnd front{bench.desktop, &out, &log};
  ScriptedDialog dlg{bench.desktop, 102};
};

TEST_F(HeadlessTest, PrintsWhatAPersonCouldSeeOneLineEach) {
  ASSERT_TRUE(dlg.Create());
  Control& bar = *dlg.GetDlgItem(1013);
  bar.SetPos(45);  // hidden: not printed
  bar.ShowWindow(SW_SHOW);
  dlg.GetDlgItem(1005)->EnableWindow(false);
  dlg.GetDlgItem(1009)->SetPanelLineText(11, "升级完成");
  dlg.GetDlgItem(1003)->AppendText("a\"b\r\n");
  dlg.GetDlgItem(1003)->SetWindowText(dlg.GetDlgItem(1003)->GetWindowText());  // no change, no line
  dlg.SetWindowText("T2");
  dlg.DestroyWindow();
  EXPECT_EQ(out.str(),
            "[102] open \"Z1\" 0,0 800x480\n"
            "[102] shown\n"
            "[102] 1005 button \"Update\"\n"
            "[102] 1007 check \"Format,It will set defaults\"\n"
            "[102] 1009:10 \"os File is invalid ...\" color=255 bold\n"
            "[102] 1013 progress 45 (0..100) shown\n"
            "[102] 1005 button \"Update\" disabled\n"
            "[102] 1009:11 \"升级完成\"\n"
            "[102] 1003 edit += \"a\\\"b\\r\\n\"\n"
            "[102] title \"T2\"\n"
            "[102] close -1\n");
}

TEST_F(HeadlessTest, ListsTreesAndTabsShowTheirItems) {
  dlg.DefineControl(ControlKind::ListView, 1039);
  dlg.DefineControl(ControlKind::Tab, 1000);
  ASSERT_TRUE(dlg.Create());
  out.str("");
  Control& list = *dlg.GetDlgItem(1039);
  list.InsertItem(0, "其它车型");
  list.SetItemText(0, 1, "254");
  list.SetCurSel(0);
  list.DeleteAllItems();
  dlg.GetDlgItem(1000)->InsertItem(0, "Update");
  EXPECT_EQ(out.str(),
            "[102] 1039 list row 0 + \"其它车型\"\n"
            "[102] 1039 list row 0 = \"其它车型\" | \"254\"\n"
            "[102] 1039 list sel 0 \"其它车型\"\n"
            "[102] 1039 list cleared\n"
            "[102] 1000 tab 0 + \"Update\"\n");
}

TEST_F(HeadlessTest, UiLogHoldsOneJsonObjectPerChange) {
  ASSERT_TRUE(dlg.Create());
  bench.clock.Advance(250);
  dlg.GetDlgItem(1013)->SetPos(45);  // hidden, yet logged
  dlg.GetDlgItem(1009)->SetPanelLineText(12, "车型 ok");
  dlg.GetDlgItem(1003)->SetWindowText(std::string("bad \xFF\xFE text"));
  std::vector<nlohmann::json> log = Log();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log.front()["event"], "open");
  EXPECT_EQ(log.front()["t"], 0);

  auto find = [&](const std::string& event, int control) -> nlohmann::json {
    for (const auto& j : log) {
      if (j["event"] == event && j.value("control", 0) == control) return j;
    }
    return nullptr;
  };
  nlohmann::json init = find("line", 1009);
  ASSERT_FALSE(init.is_null());
  EXPECT_EQ(init["dialog"], 102);
  EXPECT_EQ(init["line"], 10);
  EXPECT_EQ(init["text"], "os File is invalid ...");
  EXPECT_EQ(init["color"], 255);
  EXPECT_EQ(init["bold"], true);
  EXPECT_EQ(init["enabled"], true);
  EXPECT_EQ(init["visible"], false);  // set in OnInitDialog, before the dialog showed
  EXPECT_EQ(init["y"], 57);

  nlohmann::json pos = find("pos", 1013);
  ASSERT_FALSE(pos.is_null());
  EXPECT_EQ(pos["t"], 250);
  EXPECT_EQ(pos["kind"], "progress");
  EXPECT_EQ(pos["pos"], 45);
  EXPECT_EQ(pos["visible"], false);

  EXPECT_EQ(log[log.size() - 2]["text"], "车型 ok");
  EXPECT_EQ(log.back()["text"], "bad \xEF\xBF\xBD\xEF\xBF\xBD text");
}

TEST(HeadlessQuote, EscapesControlCharactersAndKeepsUtf8) {
  EXPECT_EQ(HeadlessFrontEnd::Quote("a\\b\t\x01 中"), "\"a\\\\b\\t\\x01 中\"");
}

}  // namespace
}  // namespace hu
