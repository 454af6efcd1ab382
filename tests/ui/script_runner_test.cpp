#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "common/platform/testing/capture_trace.h"
#include "common/ui/control.h"
#include "common/ui/dialog_program.h"
#include "common/ui/script_runner.h"
#include "tests/ui/ui_test_support.h"

namespace hu {
namespace {

TEST(ScriptParse, EveryActionAndItsMistakes) {
  std::optional<ScriptAction> a;
  std::string error;
  ASSERT_TRUE(ParseScriptLine("  # a comment", 1, &a, &error));
  EXPECT_FALSE(a);
  ASSERT_TRUE(ParseScriptLine("", 2, &a, &error));
  EXPECT_FALSE(a);
  ASSERT_TRUE(ParseScriptLine("click 1005   # start\r", 3, &a, &error));
  EXPECT_EQ(a->kind, ScriptAction::Kind::Click);
  EXPECT_EQ(a->id, 1005);
  EXPECT_EQ(a->source, "click 1005");
  ASSERT_TRUE(ParseScriptLine("check IDOK", 4, &a, &error));
  EXPECT_EQ(a->id, IDOK);
  ASSERT_TRUE(ParseScriptLine("select 1039 3", 5, &a, &error));
  EXPECT_EQ(a->row, 3);
  ASSERT_TRUE(ParseScriptLine("tab 2", 6, &a, &error));
  EXPECT_EQ(a->kind, ScriptAction::Kind::Tab);
  ASSERT_TRUE(ParseScriptLine("wait 500", 7, &a, &error));
  EXPECT_EQ(a->ms, 500u);
  ASSERT_TRUE(ParseScriptLine("expect \"Find a \\\"valid\\\" # file\\r\\n\" 3000", 8, &a, &error));
  EXPECT_EQ(a->text, "Find a \"valid\" # file\r\n");
  EXPECT_EQ(a->ms, 3000u);
  EXPECT_TRUE(a->timeoutGiven);
  ASSERT_TRUE(ParseScriptLine("expect 升级完成", 9, &a, &error));
  EXPECT_EQ(a->text, "升级完成");
  EXPECT_FALSE(a->timeoutGiven);
  ASSERT_TRUE(ParseScriptLine("CLOSE", 10, &a, &error));
  EXPECT_EQ(a->kind, ScriptAction::Kind::Close);
  ASSERT_TRUE(ParseScriptLine("press 10 20", 11, &a, &error));
  EXPECT_EQ(a->y, 20);

  for (const char* bad : {"clik 1005", "click", "click 10 20", "click -1", "click 0x1FFFF", "select 1039",
                          "wait soon", "wait -5", "expect", "expect \"open", "close now", "press 1",
                          "\"click\" 1"}) {
    EXPECT_FALSE(ParseScriptLine(bad, 1, &a, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

// A main dialog like the updater's: Update asks for confirmation modally.
class ScriptTest : public ::testing::Test {
 protected:
  ScriptTest() {
    main.Template().title = "Z1 System Updater(Ver1.28)";
    main.DefineControl(ControlKind::PushButton, 1005, "Update");
    main.DefineControl(ControlKind::PushButton, IDCANCEL, "Exit");
    main.DefineControl(ControlKind::CheckBox, 1007, "Format,It will set defaults");
    main.DefineControl(ControlKind::Static, 1014);
    main.DefineControl(ControlKind::ListView, 1039);
    main.DefineControl(ControlKind::TreeView, 1044);
    confirm.Template().title = "Are you sure to Update ?";
    confirm.DefineControl(ControlKind::PushButton, IDOK, "Update Now");
    confirm.DefineControl(ControlKind::PushButton, IDCANCEL, "Cancel Update");
    main.onInit = [this] {
      main.GetDlgItem(1039)->InsertItem(0, "row 0");
      main.GetDlgItem(1039)->InsertItem(1, "row 1");
      main.GetDlgItem(1044)->InsertTreeItem("a.canbox");
    };
    main.onCommand = [this](int id) {
      if (id == 1005) {
        main.log.push_back("confirm " + std::to_string(confirm.DoModal()));
        return true;
      }
      if (id == 1007) main.log.push_back("format " + std::to_string(main.IsDlgButtonChecked(1007)));
      return false;
    };
  }
  int Run(const std::string& script) {
    runner.AddText(script);
    return main.DoModal();
  }

  UiBench bench;
  std::ostringstream err;
  ScriptRunner runner{bench.desktop, err};
  ScriptedDialog main{bench.desktop, 102};
  ScriptedDialog confirm{bench.desktop, 129, &main};
};

TEST_F(ScriptTest, AnswersAModalConfirmationLikeAPerson) {
  EXPECT_EQ(Run("click 1005\n"
                "expect \"Are you sure\"\n"
                "click 1\n"
                "click 1005\n"
                "close\n"  // the confirmation is on top
                "close\n"),
            IDCANCEL);
  EXPECT_EQ(main.log, (std::vector<std::string>{"command 1005", "confirm 1", "command 1005", "confirm 2", "destroy"}));
  EXPECT_FALSE(runner.Failed());
  EXPECT_TRUE(runner.Finished());
  EXPECT_EQ(err.str(), "");
}

TEST_F(ScriptTest, CheckBoxesToggleBeforeTheirCommand) {
  EXPECT_EQ(Run("click 1007\nclick 1007\ncheck 1007\ncheck 1007\nclose\n"), IDCANCEL);
  EXPECT_EQ(main.log, (std::vector<std::string>{"command 1007", "format 1", "command 1007", "format 0", "command 1007",
                                                "format 1", "command 1007", "format 1", "destroy"}));
}

TEST_F(ScriptTest, SelectRaisesTheControlsNotification) {
  main.onNotify = [this](int id, int) {
    main.log.push_back("sel " + std::to_string(main.GetDlgItem(id)->GetCurSel()));
    return true;
  };
  EXPECT_EQ(Run("select 1039 1\nselect 1044 0\nclose\n"), IDCANCEL);
  EXPECT_EQ(main.log, (std::vector<std::string>{"notify 1039 -101", "sel 1", "notify 1044 -402", "sel 0", "destroy"}));
}

TEST_F(ScriptTest, TabSwitchesPagesAndClicksGoToTheShownPage) {
  ScriptedDialog page0(bench.desktop, 133);
  ScriptedDialog page1(bench.desktop, 131);
  for (ScriptedDialog* page : {&page0, &page1}) {
    page->Template().visible = false;
    page->DefineControl(ControlKind::PushButton, 1020, "same id");
  }
  main.DefineControl(ControlKind::Tab, 1000);
  main.onInit = [&] {
    main.GetDlgItem(1000)->InsertItem(0, "Update");
    main.GetDlgItem(1000)->InsertItem(1, "Oper");
    page0.Create(&main);
    page1.Create(&main);
    page0.ShowWindow(SW_SHOW);
  };
  main.onNotify = [&](int id, int code) {
    if (id != 1000 || code != TCN_SELCHANGE) return false;
    int sel = main.GetDlgItem(1000)->GetCurSel();
    page0.ShowWindow(sel == 0 ? SW_SHOW : SW_HIDE);
    page1.ShowWindow(sel == 1 ? SW_SHOW : SW_HIDE);
    return true;
  };
  EXPECT_EQ(Run("click 1020\ntab 1\nclick 1020\nclose\n"), IDCANCEL);
  EXPECT_EQ(page0.log, (std::vector<std::string>{"command 1020", "destroy"}));
  EXPECT_EQ(page1.log, (std::vector<std::string>{"command 1020", "destroy"}));
}

TEST_F(ScriptTest, ExpectWaitsInUnitTimeForTheText) {
  main.onInit = [this] { main.SetTimer(1, 3000); };
  main.onTimer = [this](uint32_t) {
    main.KillTimer(1);
    main.SetDlgItemText(1014, "45%");
  };
  EXPECT_EQ(Run("expect \"45%\"\nwait 250\nclose\n"), IDCANCEL);
  EXPECT_EQ(bench.clock.GetTickCount(), 1000u + 3000u + 250u);
}

TEST_F(ScriptTest, UnmetExpectationEndsTheRunWithCode3) {
  int result = Run("# checks\n\nexpect \"Finish\" 1500\nclose\n");
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(runner.Failed());
  EXPECT_EQ(bench.desktop.loop().QuitCode(), ScriptRunner::kExitCode);
  EXPECT_EQ(err.str(), "script line 3: expect \"Finish\" 1500: \"Finish\" not shown within 1500 ms\n");
  EXPECT_EQ(bench.clock.GetTickCount(), 2500u);
}

TEST_F(ScriptTest, ActionOnADisabledButtonWaitsForIt) {
  main.onInit = [this] {
    main.GetDlgItem(1005)->EnableWindow(false);
    main.SetTimer(1, 2000);
  };
  main.onTimer = [this](uint32_t) {
    main.KillTimer(1);
    main.GetDlgItem(1005)->EnableWindow(true);
  };
  confirm.onInit = [this] { confirm.EndDialog(IDOK); };
  EXPECT_EQ(Run("click 1005\nclose\n"), IDCANCEL);
  EXPECT_EQ(main.log, (std::vector<std::string>{"timer 1@3000", "command 1005", "confirm 1", "destroy"}));
  EXPECT_EQ(bench.clock.GetTickCount(), 3000u);
}

TEST_F(ScriptTest, ActionOnAControlThatNeverBecomesUsableFails) {
  main.onInit = [this] { main.GetDlgItem(1005)->EnableWindow(false); };
  EXPECT_EQ(Run("click 1005\n"), -1);
  EXPECT_EQ(err.str(), "script line 1: click 1005: control 1005 is disabled\n");
  EXPECT_EQ(bench.clock.GetTickCount(), 11000u);
  EXPECT_EQ(main.log, (std::vector<std::string>{"destroy"}));
}

TEST_F(ScriptTest, BadLineFailsWhenReached) {
  EXPECT_EQ(Run("wait 10\nclick here\n"), -1);
  EXPECT_EQ(err.str(), "script line 2: click here: expected click ID\n");
}

TEST_F(ScriptTest, PressAndReleaseReachTheBackground) {
  class TouchDialog : public ScriptedDialog {
   public:
    using ScriptedDialog::ScriptedDialog;
   protected:
    void OnLButtonDown(int x, int y) override { log.push_back("down " + std::to_string(x) + "," + std::to_string(y)); }
    void OnLButtonUp(int, int) override { log.push_back("up@" + std::to_string(GetDesktop().clock().GetTickCount())); }
  };
  TouchDialog touch(bench.desktop, 102);
  runner.AddText("press 5 6\nwait 4900\nrelease\nclose\n");
  EXPECT_EQ(touch.DoModal(), IDCANCEL);
  EXPECT_EQ(touch.log, (std::vector<std::string>{"down 5,6", "up@5900", "destroy"}));
}

class DialogProgramTest : public ::testing::Test {
 protected:
  std::string WriteScript(const std::string& text) {
    std::string path = ::testing::TempDir() + "ui_script_" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
    std::ofstream(path) << text;
    return path;
  }
  UiBench bench;
  ScriptedDialog main{bench.desktop, 102};
  std::ostringstream out;
  std::ostringstream err;
  std::istringstream in;
};

TEST_F(DialogProgramTest, ScriptFileRunsAndClosesNormally) {
  main.DefineControl(ControlKind::Static, 1014, "ready");
  UiOptions options;
  options.frontEnd = "script";
  options.inputPath = WriteScript("expect \"ready\"\nclose\n");
  options.uiLogPath = ::testing::TempDir() + "ui_log_test.jsonl";
  EXPECT_EQ(RunDialogProgram(bench.desktop, main, options, out, err, in), 0);
  EXPECT_NE(out.str().find("[102] 1014 static \"ready\"\n"), std::string::npos);
  std::ifstream log(options.uiLogPath);
  std::string first;
  std::getline(log, first);
  EXPECT_EQ(first.rfind("{", 0), 0u);
  EXPECT_NE(first.find("\"event\":\"open\""), std::string::npos);
}

TEST_F(DialogProgramTest, FailedExpectationGivesExitCode3) {
  UiOptions options;
  options.frontEnd = "headless";
  options.inputPath = WriteScript("expect \"never\" 100\n");
  EXPECT_EQ(RunDialogProgram(bench.desktop, main, options, out, err, in), 3);
  EXPECT_EQ(err.str(), "script line 1: expect \"never\" 100: \"never\" not shown within 100 ms\n");
}

TEST_F(DialogProgramTest, StandardInputAndTheMissingTerminalFrontEnd) {
  // Standard input is read on a thread of its own; until its line arrives the
  // idle loop only moves virtual time on.
  in.str("close\n");
  UiOptions options;
  options.frontEnd = "tui";
  options.inputPath = "-";
  EXPECT_EQ(RunDialogProgram(bench.desktop, main, options, out, err, in), 0);
  EXPECT_EQ(err.str(), "ui: no terminal front end (the output does not go to the terminal); using headless\n");
  EXPECT_NE(out.str().find("[102] close 2"), std::string::npos);
}

TEST_F(DialogProgramTest, UnusableOptions) {
  UiOptions options;
  options.frontEnd = "gui";
  EXPECT_EQ(RunDialogProgram(bench.desktop, main, options, out, err, in), 2);
  options.frontEnd = "script";
  options.inputPath = ::testing::TempDir() + "no/such/script.txt";
  EXPECT_EQ(RunDialogProgram(bench.desktop, main, options, out, err, in), 2);
  EXPECT_FALSE(main.IsOpen());
}

}  // namespace
}  // namespace hu
