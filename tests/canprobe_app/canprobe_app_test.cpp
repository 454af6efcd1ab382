#include "canprobe/canprobe_app.h"

#include <gtest/gtest.h>

#include <sstream>

#include "canprobe/canprobe_dlg.h"
#include "canprobe/link_center.h"
#include "canprobe/service_bridge.h"
#include "common/platform/testing/fake_platform.h"
#include "common/ui/local_windows.h"

namespace hu {
namespace {

constexpr const char* kModule = "\\SDMMC\\Canprobe\\Canprobe.exe";

class CanprobeAppTest : public ::testing::Test {
 protected:
  CanprobeAppTest() : platform(kModule) {
    platform.windowsService = &windows;
    platform.memFiles.PutFile("\\SDMMC\\Canprobe\\Wirepeer_tool.dll", std::string("new library"));
    platform.memFiles.PutFile("\\dravik\\$KVR$\\App\\Other.dll", std::string("x"));
    CServiceBridge::Reset();
  }
  ~CanprobeAppTest() override {
    LinkCenter::Destroy();
    CServiceBridge::Reset();
  }
  int Run(const std::string& script) {
    Desktop desktop(platform.clock(), windows);
    CCanprobeApp app(platform, desktop);
    std::istringstream in(script);
    UiOptions ui;
    ui.frontEnd = "script";
    ui.inputPath = "-";
    return app.Run(ui, out, err, in);
  }

  FakePlatform platform;
  LocalWindows windows;
  std::ostringstream out, err;
};

TEST_F(CanprobeAppTest, SecondInstanceRaisesTheRunningWindowAndExitsWithOne) {
  std::unique_ptr<NamedMutex> first = platform.sync().CreateMutex(CCanprobeApp::kMutexName);
  const HWND running = windows.CreateWindow("#32770", "Canprobe", nullptr);
  windows.CreateWindow("#32770", "Other", nullptr);
  EXPECT_EQ(Run("close\n"), 1);
  EXPECT_EQ(windows.GetForegroundWindow(), running);
  // No window of its own was opened, nor the library copied.
  std::string bytes;
  EXPECT_FALSE(platform.memFiles.GetFile("\\dravik\\$KVR$\\App\\Wirepeer_tool.dll", &bytes));
}

TEST_F(CanprobeAppTest, RunCopiesTheLibraryOnceAndReleasesTheLinkAtExit) {
  EXPECT_EQ(Run("tab 1\ntab 3\nclose\n"), 0) << err.str();
  std::string bytes;
  ASSERT_TRUE(platform.memFiles.GetFile("\\dravik\\$KVR$\\App\\Wirepeer_tool.dll", &bytes));
  EXPECT_EQ(bytes, "new library");
  EXPECT_EQ(LinkCenter::Existing(), nullptr);
  EXPECT_FALSE(platform.fakeSync.IsHeld(CCanprobeApp::kMutexName));

  // An existing copy is never overwritten.
  platform.memFiles.PutFile("\\SDMMC\\Canprobe\\Wirepeer_tool.dll", std::string("newer"));
  EXPECT_EQ(Run("close\n"), 0);
  ASSERT_TRUE(platform.memFiles.GetFile("\\dravik\\$KVR$\\App\\Wirepeer_tool.dll", &bytes));
  EXPECT_EQ(bytes, "new library");
  // Exit does not save tool.cfg.
  EXPECT_FALSE(platform.memFiles.GetFile("\\SDMMC\\Canprobe\\tool.cfg", &bytes));
}

TEST_F(CanprobeAppTest, MainDialogHasFourTabsAndShowsOnePageAtATime) {
  Desktop desktop(platform.clock(), windows);
  desktop.SetScreenSize(ScreenSize{1024, 600});
  CToolConfig config(platform.files(), platform.codePage(), "\\SDMMC\\Canprobe\\tool.cfg");
  CanprobeServices services{platform, windows, &config, "\\SDMMC\\Canprobe"};
  CCanprobeDlg dialog(desktop, services);
  ASSERT_TRUE(dialog.Create());
  EXPECT_EQ(dialog.GetWindowText(), "Canprobe");
  EXPECT_EQ(windows.FindWindow("", "Canprobe"), dialog.GetSafeHwnd());
  EXPECT_EQ(dialog.GetWindowRect().w, 1024);
  EXPECT_EQ(dialog.GetWindowRect().h, 600);
  EXPECT_TRUE(dialog.IsTopmost());

  Control* tab = dialog.GetDlgItem(CCanprobeDlg::IDC_TAB);
  ASSERT_NE(tab, nullptr);
  ASSERT_EQ(tab->GetItemCount(), 4);
  const char* texts[] = {"Update", "Recv", "Send", "Oper"};
  const int ids[] = {133, 129, 130, 131};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(tab->GetItemText(i), texts[i]);
    ASSERT_NE(dialog.Page(i), nullptr);
    EXPECT_EQ(dialog.Page(i)->ResourceId(), ids[i]);
    EXPECT_TRUE(dialog.Page(i)->IsChild());
    const Rect r = dialog.Page(i)->GetWindowRect();
    const Rect t = tab->GetRect();
    EXPECT_EQ(r.x, t.x + 5);
    EXPECT_EQ(r.y, t.y + 25);
    EXPECT_EQ(r.w, t.w - 10);
    EXPECT_EQ(r.h, t.h - 30);
  }
  EXPECT_EQ(tab->GetCurSel(), 0);
  EXPECT_TRUE(dialog.Page(0)->IsWindowVisible());
  EXPECT_FALSE(dialog.Page(1)->IsWindowVisible());

  tab->SetCurSel(2);
  dialog.WindowProc(WM_NOTIFY, CCanprobeDlg::IDC_TAB, TCN_SELCHANGE);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(dialog.Page(i)->IsWindowVisible(), i == 2) << i;
  EXPECT_EQ(dialog.CurrentPage(), 2);
  dialog.DestroyWindow();
}

}  // namespace
}  // namespace hu
