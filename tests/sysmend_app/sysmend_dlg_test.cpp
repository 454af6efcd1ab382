#include "sysmend/app/sysmend_dlg.h"

#include <gtest/gtest.h>

#include <sstream>

#include "common/ui/dialog_program.h"
#include "common/ui/local_windows.h"
#include "tests/sysmend_app/sysmend_fixture.h"

namespace hu {
namespace {

// The main dialog on a simulated unit, driven by a script on the manual clock.
class SysmendDlgTest : public ::testing::Test {
 protected:
  int RunScript(SysmendFixture& unit, const std::string& script) {
    unit.platform.windowsService = &windows;
    Desktop desktop(unit.clock, windows);
    CSysmendDlg::ResetFormatToggle();
    CSysmendDlg dialog(desktop, unit.platform);
    std::istringstream in(script);
    UiOptions ui;
    ui.frontEnd = "script";
    ui.inputPath = "-";
    int rc = RunDialogProgram(desktop, dialog, ui, out, err, in);
    autoMode = dialog.IsAutoUpdate();
    return rc;
  }
  size_t Count(const std::string& text) const {
    size_t n = 0;
    for (size_t at = out.str().find(text); at != std::string::npos; at = out.str().find(text, at + 1)) ++n;
    return n;
  }

  LocalWindows windows;
  std::ostringstream out, err;
  bool autoMode = false;
};

TEST_F(SysmendDlgTest, CommandLineChoosesTheMode) {
  {
    SysmendFixture unit("AUTO");
    EXPECT_EQ(RunScript(unit, ""), kJobNothingToDo);  // nothing to do: it closes by itself
    EXPECT_TRUE(autoMode);
    EXPECT_NE(out.str().find("move 0,0 0x0"), std::string::npos);
  }
  {
    SysmendFixture unit("auto ");
    EXPECT_EQ(RunScript(unit, "expect \"No invalid update files found !!!\"\nclose\n"), kJobNothingToDo) << err.str();
    EXPECT_FALSE(autoMode);
    EXPECT_EQ(out.str().find("move 0,0 800x480"), std::string::npos);
  }
  {
    SysmendFixture unit("");
    EXPECT_EQ(RunScript(unit, "expect \"No invalid update files found !!!\"\nclose\n"), kJobNothingToDo) << err.str();
    EXPECT_NE(out.str().find("move 0,0 800x480"), std::string::npos);
  }
}

TEST_F(SysmendDlgTest, UnansweredConfirmationCountsDownAndUpdates) {
  SysmendFixture unit("");
  unit.InstallHalbridge();
  unit.PutKitFile("logo3.bmp", "LOGO3");
  int rc = RunScript(unit,
                     "expect \"logo File is valid ! (ver: logo3)\"\n"
                     "click 1005\n"
                     "expect \"Logo3 updated OK !\" 20000\n"
                     "close\n");
  EXPECT_EQ(rc, 0) << err.str();
  for (const char* n : {"\"5\"", "\"4\"", "\"3\"", "\"2\"", "\"1\"", "\"0\""}) {
    EXPECT_EQ(Count(std::string("[129] 1001 static ") + n), 1u) << n << "\n" << out.str();
  }
  EXPECT_NE(out.str().find("system will reboot after 3 seconds ! please put out the sd card !"), std::string::npos);
  ASSERT_GE(FakeHalbridge::calls.size(), 2u);
  EXPECT_EQ(FakeHalbridge::calls[0], "UpdatePack 4 \\StorageCard\\UpdateKitM\\logo3.bmp 0 5");
  EXPECT_EQ(FakeHalbridge::calls.back(), "SysSoftReset");
  EXPECT_TRUE(unit.devices.CleanRebootFlag());
}

TEST_F(SysmendDlgTest, CancelledConfirmationChangesNothing) {
  SysmendFixture unit("");
  unit.InstallHalbridge();
  unit.PutKitFile("logo3.bmp", "LOGO3");
  EXPECT_EQ(RunScript(unit, "expect \"logo File is valid\"\nclick 1005\nclick 2\nwait 1000\nclose\n"), 0)
      << err.str();
  EXPECT_TRUE(FakeHalbridge::calls.empty());
}

TEST_F(SysmendDlgTest, HoldingFiveSecondsLeavesForTheShell) {
  SysmendFixture unit("");
  EXPECT_EQ(RunScript(unit, "expect \"No invalid\"\npress\nwait 4900\nrelease\nwait 200\nclose\n"), kJobNothingToDo) << err.str();
  EXPECT_TRUE(unit.processes.Starts().empty());

  SysmendFixture held("");
  EXPECT_EQ(RunScript(held, "expect \"No invalid\"\npress\nwait 5100\n"), kJobNothingToDo) << err.str();
  ASSERT_EQ(held.processes.Starts().size(), 2u);
  EXPECT_EQ(held.processes.Starts()[0].path, "\\windows\\explorer.exe");
  EXPECT_EQ(held.devices.TouchCalibrations(), 1);
}

TEST_F(SysmendDlgTest, InterruptedUpdateIsRecoveredAtStart) {
  SysmendFixture unit("auto");
  unit.files.PutFile("\\StorageCard\\Sysmend\\AppUpdateFailed.dat", "App_Update_Failed_Flag!");
  unit.files.PutFile("\\StorageCard\\Sysmend\\Dravik_BK\\$KVR$\\App\\Appvisor.exe", "old app");
  unit.files.PutFile("\\Dravik\\$KVR$\\App\\Appvisor.exe", "half");
  EXPECT_EQ(RunScript(unit, ""), 0) << err.str();
  EXPECT_NE(out.str().find("App Updated OK, it will run APP after 3 second!"), std::string::npos);
  EXPECT_EQ(unit.files.FileBytes("\\Dravik\\$KVR$\\App\\Appvisor.exe"), "old app");
  EXPECT_FALSE(unit.files.Exists("\\StorageCard\\Sysmend\\Dravik_BK"));
  EXPECT_TRUE(unit.files.Exists("\\Dravik\\$KVR$\\KitUpdated.flg"));
  ASSERT_EQ(unit.processes.Starts().size(), 1u);
  EXPECT_EQ(unit.processes.Starts()[0].path, "\\dravik\\$KVR$\\App\\Appvisor.exe");
}

TEST_F(SysmendDlgTest, NoticeSkipsAMissingUpdateStateEntry) {
  SysmendFixture unit("auto");
  unit.InstallHalbridge({"UpdateState"});
  EXPECT_EQ(RunScript(unit, ""), kJobNothingToDo);
  EXPECT_TRUE(unit.trace.Contains("CSysmendDlg::NoticeAppUdpateResult !!!!!!!"));
  EXPECT_FALSE(unit.trace.Contains("updterAPI.m_UpdateState"));
  SysmendFixture full("auto");
  full.InstallHalbridge();
  EXPECT_EQ(RunScript(full, ""), kJobNothingToDo);
  EXPECT_EQ(FakeHalbridge::calls, std::vector<std::string>{"UpdateState 2"});
}

}  // namespace
}  // namespace hu
