#include <gtest/gtest.h>

#include <algorithm>

#include "common/platform/testing/manual_clock.h"
#include "common/ui/event_loop.h"
#include "mcuflash/key_update_dlg.h"
#include "mcuflash/key_updater.h"
#include "mcuflash/mcu_transfer.h"
#include "mcuflash/mcuflash_dlg.h"
#include "mcuflash/s19_image_file.h"
#include "tests/mcuflash_app/mcu_bench.h"

namespace hu {
namespace {

using namespace testing_mcu;

const char* const kKeySucceeded = "Mcu Key update successfully!";
const char* const kKeyFailed = "Sorry! Update unsuccessfully!Maybe serial communication problem";
const char* const kKeyNoFile =
    "Sorry! Can not find the updated file or the file is damaged.\r\nplease put *.key in current path";

class KeyUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CS19ImageFile::ResetDecodeProgress();
    bench.SetPlatform("MSTAR2521", 19);
    bench.files.PutFile(std::string(kDir) + "mcu_3900R_128K.s19", Stm8Image(Pattern(64)));
  }
  void TearDown() override { EXPECT_EQ(bench.clock.SettleTimeouts(), 0u); }
  // A key file of `size` bytes: a header of 0xEE, then the configuration.
  std::vector<uint8_t> PutKey(size_t size) {
    std::vector<uint8_t> bytes(size, 0xEE);
    for (size_t i = 1032; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 5 + 1);
    bench.files.PutFile(std::string(kDir) + "cfg.key", bytes);
    return size > 1032 ? std::vector<uint8_t>(bytes.begin() + 1032, bytes.end()) : std::vector<uint8_t>();
  }
  // The whole program: main dialog, KeyUpdate, Start, then both closed.
  void RunKeyUpdate(const std::string& expectText) {
    CMcuflashDlg dialog(bench.desktop, bench.Services());
    EXPECT_EQ(RunScript(bench.desktop, dialog,
                        "expect \"Find a valid file: mcu_3900R_128K.s19\"\n"
                        "click 1011\n"
                        "expect \"Find a valid file: cfg.key\"\n"
                        "click 1008\n"
                        "expect \"" + expectText + "\" 10000\n"
                        "click 1009\n"
                        "wait 10\n"
                        "click 1001\n"),
              "");
  }
  std::vector<std::vector<uint8_t>> KeyFrames(uint8_t first) const {
    std::vector<std::vector<uint8_t>> frames;
    for (const auto& f : bench.WrittenFrames()) {
      if (f.size() > 6 && f[0] == 0x21 && f[6] == first) frames.push_back(f);
    }
    return frames;
  }

  McuBench bench;
  TextLog log{bench.desktop, bench.clock};
};

TEST_F(KeyUpdateTest, SmallestKeyFileSendsOnlyTheWriteByte) {
  PutKey(1032);
  McuSimulator& mcu = bench.AttachMcu(McuSimConfig{});
  RunKeyUpdate(kKeySucceeded);
  ASSERT_EQ(KeyFrames('L').size(), 1u);
  EXPECT_EQ(KeyFrames('L')[0], Bytes({0x21, 0x23, 0x41, 0x4F, 0x08, 0x00, 0x4C, 0x48, 0x0D}));
  ASSERT_EQ(KeyFrames('M').size(), 1u);
  EXPECT_EQ(KeyFrames('M')[0], Bytes({0x21, 0x23, 0x41, 0x4F, 0x08, 0x00, 0x4D, 0x49, 0x0D}));
  EXPECT_TRUE(mcu.Key().empty());
  const auto texts = log.Texts(CKeyUpdateDlg::IDD, CKeyUpdateDlg::IDC_MESSAGE);
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0], "Find a valid file: cfg.key\r\nPlease click 'Start' button to update");
  EXPECT_EQ(texts[1], "Key Config File is Being Upated...");
  EXPECT_EQ(texts[2], kKeySucceeded);
}

TEST_F(KeyUpdateTest, LargeKeyFilesAreWrittenWholeAndReadBackWithinOneTick) {
  const std::vector<uint8_t> key = PutKey(1287);
  McuSimulator& mcu = bench.AttachMcu(McuSimConfig{});
  RunKeyUpdate(kKeySucceeded);
  ASSERT_EQ(KeyFrames('L').size(), 1u);
  ASSERT_EQ(KeyFrames('L')[0].size(), 264u);
  EXPECT_EQ(KeyFrames('L')[0][4] | (KeyFrames('L')[0][5] << 8), 263);
  EXPECT_EQ(mcu.Key(), key);
  EXPECT_LE(log.When(kKeySucceeded) - bench.WriteTicks().back(), 300u);

  // 1288 bytes: all 256 configuration bytes go out.
  const std::vector<uint8_t> largest = PutKey(1288);
  RunKeyUpdate(kKeySucceeded);
  ASSERT_EQ(KeyFrames('L').size(), 2u);
  EXPECT_EQ(KeyFrames('L')[1].size(), 265u);
  EXPECT_EQ(mcu.Key(), largest);
}

TEST_F(KeyUpdateTest, ReadBackThatDiffersOrNeverComesFails) {
  PutKey(1200);
  // The MCU keeps another configuration than the one written.
  bench.AttachMcu(McuSimConfig{}, [](const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
    if (in.size() == 9 && in[6] == 'M') out = BuildXorFrame('A', 'O', {'_', 9, 9, 9});
  });
  RunKeyUpdate(kKeyFailed);
  EXPECT_EQ(bench.mcu->GetStats().keyReads, 1u);

  McuSimConfig silent;
  silent.faults.silentAfter = 1;  // the version only
  bench.AttachMcu(silent);
  TextLog second(bench.desktop, bench.clock);
  RunKeyUpdate(kKeyFailed);
  EXPECT_EQ(second.When(kKeyFailed) - bench.WriteTicks().back(), 3000u);  // ten ticks of 300 ms
}

TEST_F(KeyUpdateTest, KeyDialogAloneRefusesBadFilesAndFailsWithoutPort) {
  auto buttons = [](CKeyUpdateDlg& d) {
    return std::string(d.GetDlgItem(CKeyUpdateDlg::IDC_EXIT)->IsWindowEnabled() ? "1" : "0") +
           (d.GetDlgItem(CKeyUpdateDlg::IDC_START)->IsWindowEnabled() ? "1" : "0");
  };
  for (size_t size : {size_t{1289}, size_t{1031}, size_t{0}}) {
    bench.files.DeleteFile(std::string(kDir) + "cfg.key");
    if (size > 0) PutKey(size);
    CKeyUpdateDlg dialog(bench.desktop, nullptr, bench.Services());
    ASSERT_TRUE(dialog.Create());
    bench.desktop.loop().RunFor(1);
    EXPECT_EQ(dialog.GetDlgItemText(CKeyUpdateDlg::IDC_MESSAGE), kKeyNoFile) << size;
    EXPECT_EQ(buttons(dialog), "10") << size;
    EXPECT_EQ(dialog.GetDlgItem(CKeyUpdateDlg::IDC_MESSAGE)->GetFont().height, 20);
    dialog.DestroyWindow();
  }
  PutKey(1100);
  CKeyUpdateDlg dialog(bench.desktop, nullptr, bench.Services());
  ASSERT_TRUE(dialog.Create());
  bench.desktop.loop().RunFor(1);
  EXPECT_EQ(buttons(dialog), "11");
  dialog.WindowProc(WM_COMMAND, CKeyUpdateDlg::IDC_START, 0);
  EXPECT_EQ(buttons(dialog), "00");
  bench.desktop.loop().RunFor(1);
  EXPECT_EQ(dialog.GetDlgItemText(CKeyUpdateDlg::IDC_MESSAGE), kKeyFailed);
  EXPECT_EQ(buttons(dialog), "11");
  dialog.DestroyWindow();
}

TEST(KeyCompareTest, ReadBackIsJudgedOnItsFirst119Bytes) {
  MemFiles files;
  ManualClock clock;
  LocalWindows windows;
  EventLoop loop(clock);
  std::vector<uint8_t> file(1100, 0xEE);
  for (size_t i = 1032; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i);
  files.PutFile(std::string(kDir) + "k.key", file);
  CKeyUpdater updater(files, clock, windows, loop, 0, nullptr, kModule);
  updater.Run();
  ASSERT_TRUE(updater.Valid());
  EXPECT_EQ(updater.FrameDataLength(), 69u);
  const std::vector<uint8_t> key(file.begin() + 1032, file.end());
  auto judge = [&updater](const std::vector<uint8_t>& held) {
    KeyReadBack record;
    record.first = '_';
    record.count = static_cast<uint16_t>(held.size());
    record.data.assign(held.size() + 1, '_');
    std::copy(held.begin(), held.end(), record.data.begin() + 1);
    updater.CompareReadBack(record);
    return updater.Result();
  };
  std::vector<uint8_t> held = key;
  held.resize(255, 0);
  EXPECT_EQ(judge(held), 1);
  held[118] ^= 1;  // byte 119 of the answer
  EXPECT_EQ(judge(held), 2);
  held[118] ^= 1;
  held[119] ^= 1;  // beyond the compared bytes
  EXPECT_EQ(judge(held), 1);
  EXPECT_EQ(judge(key), 1);  // short, and zero after the configuration as written
  EXPECT_EQ(judge(std::vector<uint8_t>(key.begin(), key.begin() + 10)), 2);
}

}  // namespace
}  // namespace hu
