#include <gtest/gtest.h>

#include "common/ui/event_loop.h"
#include "mcuflash/mcu_transfer.h"
#include "mcuflash/mcuflash_dlg.h"
#include "mcuflash/s19_image_file.h"
#include "mcuflash/transfer_owner.h"
#include "tests/mcuflash_app/mcu_bench.h"

namespace hu {
namespace {

using namespace testing_mcu;

const char* const kFound =
    "Find a valid file: mcu_3900R_128K.s19\r\n1:Please click 'McuStart' button to update\r\n2:if update "
    "successfully, machine should be reboot";
const char* const kUpdating = "Mcu is updating now, do not power off and ensure that the SD card is plugged in";
const char* const kSucceeded = "Mcu update successfully! Please restart the machine";
const char* const kFailed = "Sorry! Update unsuccessfully!Maybe serial communication problem";
const char* const kNoImage =
    "Sorry! Can not find the updated file or the file is damaged.please put *.s19 in current path";
const char* const kNoPort = "Sorry! Init unsuccessfully!The serial port may be busy";

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CS19ImageFile::ResetDecodeProgress();
    bench.SetPlatform("MSTAR2521", 19);  // PlatformType 8
    bench.files.PutFile(std::string(kDir) + "mcu_3900R_128K.s19", Stm8Image(Pattern(700)));
  }
  void TearDown() override {
    EXPECT_EQ(CTransferOwner::TheOwner(), nullptr);
    EXPECT_EQ(bench.clock.SettleTimeouts(), 0u);
  }
  // Opens the dialog modeless and runs until its initialisation is done.
  void Open(CMcuflashDlg& dialog) {
    ASSERT_TRUE(dialog.Create());
    ASSERT_TRUE(bench.desktop.loop().RunUntil(
        [&dialog] {
          const std::string text = dialog.GetDlgItemText(CMcuflashDlg::IDC_MESSAGE);
          return text.rfind("Find", 0) == 0 || text.rfind("Sorry", 0) == 0;
        },
        60000));
  }
  // Enabled states of Exit, the update button and KeyUpdate.
  std::string Buttons(CMcuflashDlg& dialog) {
    std::string s;
    for (int id : {CMcuflashDlg::IDC_EXIT, CMcuflashDlg::IDC_UPDATE, CMcuflashDlg::IDC_KEYUPDATE}) {
      s += dialog.GetDlgItem(id)->IsWindowEnabled() ? '1' : '0';
    }
    return s;
  }

  McuBench bench;
  TextLog log{bench.desktop, bench.clock};
};

TEST_F(DialogTest, ScriptedUpdateShowsEachStepAndProgramsTheMcu) {
  bench.AttachMcu(McuSimConfig{});
  CMcuflashDlg dialog(bench.desktop, bench.Services());
  EXPECT_EQ(RunScript(bench.desktop, dialog,
                      "expect \"Find a valid file: mcu_3900R_128K.s19\"\n"
                      "click 1000\n"
                      "expect \"Mcu update successfully!\" 30000\n"
                      "wait 10\n"
                      "click 1001\n"),
            "");
  std::vector<uint8_t> expected = Pattern(700);
  expected.resize(768, 0);
  EXPECT_EQ(bench.mcu->Image(), expected);

  const std::vector<std::string> texts = log.Texts(CMcuflashDlg::IDD, CMcuflashDlg::IDC_MESSAGE);
  ASSERT_GE(texts.size(), 5u);
  EXPECT_EQ(texts[0], "Data is being inited...");
  EXPECT_EQ(texts[1], kFound);
  // Decoding sends its progress while the button's handler runs, ahead of
  // the posted "updating" notice.
  size_t at = 2;
  while (at < texts.size() && texts[at].rfind("Data is being inited ", 0) == 0) ++at;
  EXPECT_GT(at, 3u);
  ASSERT_LT(at, texts.size());
  EXPECT_EQ(texts[at], kUpdating);
  EXPECT_EQ(texts.back(), kSucceeded);
  EXPECT_EQ(log.Texts(CMcuflashDlg::IDD, CMcuflashDlg::IDC_PERCENT).back(), "100 %");
  // Closing the dialog ended the transfer and closed the port.
  EXPECT_FALSE(bench.com4.IsOpen());
}

TEST_F(DialogTest, NotificationTableTextsAndButtons) {
  bench.AttachMcu(McuSimConfig{});
  CMcuflashDlg dialog(bench.desktop, bench.Services());
  Open(dialog);
  EXPECT_EQ(dialog.GetWindowText(), "McuflashV3.9");
  EXPECT_EQ(dialog.GetDlgItemText(CMcuflashDlg::IDC_MESSAGE), kFound);
  EXPECT_EQ(Buttons(dialog), "111");
  EXPECT_EQ(dialog.GetDlgItem(CMcuflashDlg::IDC_MESSAGE)->GetFont().height, 30);
  const uint32_t msg = dialog.UpdateNotifyMsg();
  struct Row {
    uint32_t code;
    const char* text;
    const char* buttons;
  } rows[] = {{1, kUpdating, "000"}, {2, kSucceeded, "101"}, {3, kFailed, "101"},
              {4, kNoImage, "001"},  {5, kNoPort, "100"},   {0, kFound, "111"}};
  for (const Row& row : rows) {
    dialog.WindowProc(msg, row.code, 0);
    EXPECT_EQ(dialog.GetDlgItemText(CMcuflashDlg::IDC_MESSAGE), row.text) << row.code;
    EXPECT_EQ(Buttons(dialog), row.buttons) << row.code;
  }
  dialog.WindowProc(msg, 7, 37);
  EXPECT_EQ(dialog.GetDlgItemText(CMcuflashDlg::IDC_PERCENT), "37 %");
  EXPECT_EQ(dialog.GetDlgItem(CMcuflashDlg::IDC_PROGRESS)->GetPos(), 37);
  EXPECT_EQ(dialog.GetDlgItemText(CMcuflashDlg::IDC_MESSAGE), kFound);  // 7 leaves it
  dialog.WindowProc(msg, 9, 12);
  EXPECT_EQ(dialog.GetDlgItemText(CMcuflashDlg::IDC_MESSAGE), "Data is being inited 12 %");
  EXPECT_EQ(Buttons(dialog), "111");  // 9 leaves the buttons

  // The dialog stays full screen on top of other windows.
  EXPECT_TRUE(dialog.IsTopmost());
  EXPECT_EQ(dialog.GetWindowRect(), (Rect{0, 0, 800, 480}));
  const HWND other = bench.windows.CreateWindow("other", "other", nullptr);
  bench.windows.SetForegroundWindow(other);
  bench.desktop.loop().RunFor(1000);
  EXPECT_EQ(bench.windows.GetForegroundWindow(), dialog.GetSafeHwnd());
  bench.windows.DestroyWindow(other);
  dialog.DestroyWindow();
}

TEST_F(DialogTest, KeyUpdateIsOfferedOnlyWhereTheMcuKeepsKeys) {
  bench.SetPlatform("S3C6410", 19);  // PlatformType 3: line family
  bench.files.PutFile(std::string(kDir) + "line.s19", LineImage(40));
  McuSimConfig config;
  config.family = McuFamily::Line;
  bench.AttachMcu(config);
  CMcuflashDlg dialog(bench.desktop, bench.Services());
  Open(dialog);
  EXPECT_EQ(Buttons(dialog), "110");
  dialog.DestroyWindow();
}

TEST_F(DialogTest, BusyPortAndMissingImage) {
  std::unique_ptr<SerialPort> holder = bench.serial.Open("COM4:");
  {
    CMcuflashDlg dialog(bench.desktop, bench.Services());
    Open(dialog);
    EXPECT_EQ(dialog.GetDlgItemText(CMcuflashDlg::IDC_MESSAGE), kNoPort);
    EXPECT_EQ(Buttons(dialog), "100");
    dialog.DestroyWindow();
  }
  holder.reset();
  bench.files.DeleteFile(std::string(kDir) + "mcu_3900R_128K.s19");
  bench.AttachMcu(McuSimConfig{});
  CMcuflashDlg dialog(bench.desktop, bench.Services());
  Open(dialog);
  EXPECT_EQ(dialog.GetDlgItemText(CMcuflashDlg::IDC_MESSAGE), kNoImage);
  EXPECT_EQ(Buttons(dialog), "001");  // Exit stays off, KeyUpdate is on
  dialog.DestroyWindow();
}

}  // namespace
}  // namespace hu
