#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "canprobe/canprobe_dlg.h"
#include "canprobe/link_center.h"
#include "canprobe/oper_page.h"
#include "canprobe/recv_page.h"
#include "canprobe/send_page.h"
#include "canprobe/service_bridge.h"
#include "common/platform/testing/fake_platform.h"
#include "common/ui/local_windows.h"

namespace hu {
namespace {

constexpr const char* kCfg = "\\SDMMC\\Canprobe\\tool.cfg";

std::vector<std::string> g_sent;
int CaptureSend(uint8_t channel, uint16_t length, const uint8_t* data, int flags) {
  g_sent.push_back(std::to_string(channel) + ":" + std::string(reinterpret_cast<const char*>(data), length) + ":" +
                   std::to_string(flags));
  return 0;
}

// The main window opened modeless on an in-memory unit; pages are driven
// through their window procedures as the UI thread would.
class PagesTest : public ::testing::Test {
 protected:
  PagesTest() : platform("\\SDMMC\\Canprobe\\Canprobe.exe") {
    platform.windowsService = &windows;
    CServiceBridge::Reset();
    g_sent.clear();
  }
  ~PagesTest() override {
    if (dialog) dialog->DestroyWindow();
    dialog.reset();
    LinkCenter::Destroy();
    CServiceBridge::Reset();
  }
  void Open(const std::string& cfg = {}) {
    if (!cfg.empty()) platform.memFiles.PutFile(kCfg, cfg);
    config = std::make_unique<CToolConfig>(platform.files(), platform.codePage(), kCfg);
    config->Load();
    CanprobeServices services{platform, windows, config.get(), "\\SDMMC\\Canprobe"};
    dialog = std::make_unique<CCanprobeDlg>(desktop, services);
    ASSERT_TRUE(dialog->Create());
  }
  static void Click(Dialog& page, int id) { page.WindowProc(WM_COMMAND, static_cast<WPARAM>(id), 0); }
  static void Toggle(Dialog& page, int id) {
    page.CheckDlgButton(id, page.IsDlgButtonChecked(id) == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
    Click(page, id);
  }
  void Deliver(uint8_t channel, const std::string& bytes) {
    CServiceBridge::Get().Deliver(channel, static_cast<uint16_t>(bytes.size()),
                                  reinterpret_cast<const uint8_t*>(bytes.data()));
    dialog->RecvPage().RenderPending();
  }
  std::string RecvText() { return dialog->RecvPage().GetDlgItemText(CRecvPage::IDC_EDIT); }

  FakePlatform platform;
  LocalWindows windows;
  Desktop desktop{platform.clock(), windows};
  std::unique_ptr<CToolConfig> config;
  std::unique_ptr<CCanprobeDlg> dialog;
};

TEST_F(PagesTest, ReceivePageRendersWithItsFourOptions) {
  Open();  // defaults: HexShow, ShowOwner, Show set; NewLine clear
  CRecvPage& page = dialog->RecvPage();
  EXPECT_EQ(page.IsDlgButtonChecked(CRecvPage::IDC_HEX), BST_CHECKED);
  EXPECT_EQ(page.IsDlgButtonChecked(CRecvPage::IDC_NEWLINE), BST_UNCHECKED);
  Deliver(1, std::string("\x01\xab", 2));
  Deliver(2, "\x10");
  EXPECT_EQ(RecvText(), "-[1]-01 ab -[2]-10 ");

  Toggle(page, CRecvPage::IDC_HEX);
  Toggle(page, CRecvPage::IDC_NEWLINE);
  Toggle(page, CRecvPage::IDC_SHOWOWNER);
  EXPECT_FALSE(config->GetBool("HexShow"));
  EXPECT_TRUE(config->GetBool("NewLine"));
  EXPECT_FALSE(config->GetBool("ShowOwner"));
  Deliver(3, "AB");
  EXPECT_EQ(RecvText(), "-[1]-01 ab -[2]-10 \r\nAB");

  // Hidden items still collect; Format renders all of them with the current options.
  Toggle(page, CRecvPage::IDC_SHOW);
  EXPECT_FALSE(config->GetBool("Show"));
  Deliver(4, "C");
  EXPECT_EQ(RecvText(), "-[1]-01 ab -[2]-10 \r\nAB");
  Toggle(page, CRecvPage::IDC_HEX);
  Click(page, CRecvPage::IDC_FORMAT);
  EXPECT_EQ(RecvText(), "\r\n01 ab \r\n10 \r\n41 42 \r\n43 ");

  Click(page, CRecvPage::IDC_CLEAR);
  EXPECT_EQ(RecvText(), "");
  EXPECT_EQ(CServiceBridge::Get().ItemCount(), 0u);
  Click(page, CRecvPage::IDC_FORMAT);
  EXPECT_EQ(RecvText(), "");
}

TEST_F(PagesTest, ReceivePageTakesItsOptionsFromToolCfg) {
  Open("HexShow=0\nShowOwner=0\nNewLine=1\n");
  Deliver(7, "hi");
  EXPECT_EQ(RecvText(), "\r\nhi");
}

TEST_F(PagesTest, SendPageListsPrefixesAndSendsTheSelectedOne) {
  Open("SendDataPrefix_6=@@X*$\nSendDataPrefix_8=never\n");
  CSendPage& page = dialog->SendPage();
  const Control* list = page.GetDlgItem(CSendPage::IDC_LIST);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->GetItemCount(), 7);  // stops at the first key without a value
  EXPECT_EQ(list->GetItemText(0), "@@A100*$");
  EXPECT_EQ(list->GetItemText(6), "@@X*$");

  ServiceEntries entries;
  entries.send = &CaptureSend;
  CServiceBridge::Get().SetEntries(entries);
  Click(page, CSendPage::IDC_TOCANRELAY);  // no selection: nothing
  EXPECT_TRUE(g_sent.empty());
  page.GetDlgItem(CSendPage::IDC_LIST)->SetCurSel(3);
  Click(page, CSendPage::IDC_TOCANRELAY);
  Click(page, CSendPage::IDC_TOCOM);
  ASSERT_EQ(g_sent.size(), 1u);
  EXPECT_EQ(g_sent[0], "1:@@A130*$:68");
}

TEST_F(PagesTest, SaveConfigeWritesStoredEntriesInKeyOrder) {
  Open("b=2\na=1\n");
  Toggle(dialog->RecvPage(), CRecvPage::IDC_HEX);
  Click(dialog->OperPage(), COperPage::IDC_SAVECONFIGE);
  std::string bytes;
  ASSERT_TRUE(platform.memFiles.GetFile(kCfg, &bytes));
  EXPECT_EQ(bytes, "HexShow=0\na=1\nb=2\n");
}

TEST_F(PagesTest, ReplaceAndBackupKeepsATimeStampedCopy) {
  SystemTime t;
  t.year = 2026;
  t.month = 3;
  t.day = 7;
  t.hour = 9;
  t.minute = 5;
  t.second = 1;  // the manual clock starts one second in
  platform.manualClock.SetLocalTime(t);
  platform.memFiles.PutFile("\\dravik\\$KVR$\\App\\Canrelay.nap", std::string("old"));
  platform.memFiles.PutFile("\\SDMMC\\Canprobe\\Canrelay.nap", std::string("new"));
  Open();
  COperPage& page = dialog->OperPage();
  Click(page, COperPage::IDC_REPLACEBACKUP);
  const std::string backup = "\\dravik\\$KVR$\\App\\Canrelay.nap_20260307_090502";
  std::string bytes;
  ASSERT_TRUE(platform.memFiles.GetFile(backup, &bytes));
  EXPECT_EQ(bytes, "old");
  ASSERT_TRUE(platform.memFiles.GetFile("\\dravik\\$KVR$\\App\\Canrelay.nap", &bytes));
  EXPECT_EQ(bytes, "new");
  EXPECT_EQ(page.GetDlgItemText(COperPage::IDC_STATUS),
            "Backup file \\dravik\\$KVR$\\App\\Canrelay.nap to " + backup +
                " Succ!!! Replace File \\SDMMC\\Canprobe\\Canrelay.nap to \\dravik\\$KVR$\\App\\Canrelay.nap Succ!!!");
}

TEST_F(PagesTest, ReplaceWithoutDestinationReportsTheFailedBackupAndStillReplaces) {
  platform.memFiles.PutFile("\\dravik\\$KVR$\\App\\keep", std::string());
  platform.memFiles.PutFile("\\SDMMC\\Canprobe\\Canrelay.nap", std::string("new"));
  Open();
  Click(dialog->OperPage(), COperPage::IDC_REPLACEBACKUP);
  const std::string status = dialog->OperPage().GetDlgItemText(COperPage::IDC_STATUS);
  EXPECT_NE(status.find(" Fail!!! Replace File "), std::string::npos) << status;
  EXPECT_EQ(status.substr(status.size() - 8), " Succ!!!");
  Click(dialog->OperPage(), COperPage::IDC_FILEREPLACE);
  EXPECT_EQ(dialog->OperPage().GetDlgItemText(COperPage::IDC_STATUS).rfind(" Replace File ", 0), 0u);
}

TEST_F(PagesTest, RunStartdeckStartsOnlyAProgramThatExistsAndIsNotRunning) {
  Open();
  COperPage& page = dialog->OperPage();
  Click(page, COperPage::IDC_RUNSTARTDECK);
  EXPECT_TRUE(platform.fakeProcesses.Starts().empty());
  platform.memFiles.PutFile("\\dravik\\$KVR$\\App\\Startdeck.exe", std::string("x"));
  Click(page, COperPage::IDC_RUNSTARTDECK);
  ASSERT_EQ(platform.fakeProcesses.Starts().size(), 1u);
  platform.fakeProcesses.AddProcess("\\DRAVIK\\$KVR$\\App\\STARTDECK.EXE");
  Click(page, COperPage::IDC_RUNSTARTDECK);
  EXPECT_EQ(platform.fakeProcesses.Starts().size(), 1u);
}

}  // namespace
}  // namespace hu
