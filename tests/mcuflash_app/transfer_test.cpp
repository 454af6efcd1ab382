#include "mcuflash/mcu_transfer.h"

#include <gtest/gtest.h>

#include "common/platform/errors.h"
#include "common/ui/event_loop.h"
#include "mcuflash/config_file.h"
#include "mcuflash/s19_image_file.h"
#include "sim/mcu/mcu_simulator.h"
#include "tests/mcuflash_app/mcu_bench.h"

namespace hu {
namespace {

using namespace testing_mcu;

// A window that records UpdateNotifyMsg and passes timer 1324 on, as the
// dialog does.
class Recorder : public MessageTarget {
 public:
  explicit Recorder(McuBench& bench) : bench_(bench) {
    hwnd = bench.windows.CreateWindow("#32770", "recorder", &bench.desktop.loop());
    bench.desktop.loop().AddTarget(hwnd, this);
    bench.windows.SetForegroundWindow(hwnd);
    message_ = bench.windows.RegisterWindowMessage(kUpdateNotifyMsgName);
  }
  ~Recorder() override {
    bench_.desktop.loop().RemoveTarget(hwnd);
    bench_.windows.DestroyWindow(hwnd);
  }
  LRESULT HandleMessage(uint32_t message, WPARAM wParam, LPARAM lParam) override {
    if (message == message_) notes.push_back(Note{static_cast<uint32_t>(wParam), lParam, bench_.clock.GetTickCount()});
    if (message == WM_TIMER && transfer != nullptr) transfer->OnResponseTimer(static_cast<uint32_t>(wParam));
    return 0;
  }
  bool Has(uint32_t code) const { return First(code) != nullptr; }
  std::vector<uint32_t> Codes(bool withProgress = false) const {
    std::vector<uint32_t> codes;
    for (const Note& n : notes) {
      if (withProgress || (n.code != kNotifySendProgress && n.code != kNotifyDecodeProgress)) codes.push_back(n.code);
    }
    return codes;
  }
  std::vector<int64_t> Values(uint32_t code) const {
    std::vector<int64_t> values;
    for (const Note& n : notes) {
      if (n.code == code) values.push_back(n.value);
    }
    return values;
  }
  const Note* First(uint32_t code) const {
    for (const Note& n : notes) {
      if (n.code == code) return &n;
    }
    return nullptr;
  }

  HWND hwnd = 0;
  CMcuTransfer* transfer = nullptr;
  std::vector<Note> notes;

 private:
  McuBench& bench_;
  uint32_t message_ = 0;
};

using Tap = std::function<void(const std::vector<uint8_t>&, std::vector<uint8_t>&)>;
const std::vector<uint32_t> kSucceededRun = {kNotifyFound, kNotifyStarting, kNotifySucceeded};
const std::vector<uint32_t> kFailedRun = {kNotifyFound, kNotifyStarting, kNotifyFailed};

// The block family pads the last block of `n` pattern bytes with zeros to `to`.
std::vector<uint8_t> Padded(size_t n, size_t to) {
  std::vector<uint8_t> image = Pattern(n);
  image.resize(to, 0);
  return image;
}

class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override { CS19ImageFile::ResetDecodeProgress(); }
  void TearDown() override {
    transfer.reset();
    EXPECT_EQ(bench.clock.SettleTimeouts(), 0u);
  }
  void Make() {
    transfer = std::make_unique<CMcuTransfer>(bench.Services(), bench.desktop.loop(), rec.hwnd);
    rec.transfer = transfer.get();
  }
  bool RunUntil(uint32_t code, uint32_t ms = 120000) {
    return bench.desktop.loop().RunUntil([this, code] { return rec.Has(code); }, ms);
  }
  // Also takes what the threads post right after the end (the last progress).
  bool RunUntilEnd(uint32_t ms = 120000) {
    const bool ended = bench.desktop.loop().RunUntil(
        [this] { return rec.Has(kNotifySucceeded) || rec.Has(kNotifyFailed); }, ms);
    bench.desktop.loop().RunFor(1);
    return ended;
  }
  // Puts the images, attaches the MCU and initialises the transfer on the platform.
  void Init(const std::string& cpu, uint32_t project, const std::vector<std::pair<std::string, std::string>>& images,
            McuSimConfig config = {}, Tap tap = {}, const std::string& hw = "") {
    bench.SetPlatform(cpu, project, hw);
    for (const auto& image : images) bench.files.PutFile(std::string(kDir) + image.first, image.second);
    bench.AttachMcu(config, tap);
    Make();
    transfer->Initialise();
  }
  void Found(const std::string& cpu, uint32_t project, const std::vector<std::pair<std::string, std::string>>& images,
             McuSimConfig config = {}, Tap tap = {}, const std::string& hw = "") {
    Init(cpu, project, images, config, tap, hw);
    ASSERT_TRUE(RunUntil(kNotifyFound));
  }
  // Initialises and starts a block-family update of `image` on PlatformType 9.
  void StartBlock(const std::vector<uint8_t>& image, McuSimConfig config = {}, Tap tap = {}) {
    config.family = McuFamily::Block;
    Found("MSTAR786", 19, {{"mcu_3900R_128K.s19", Stm8Image(image)}}, config, tap);
    ASSERT_TRUE(transfer->StartUpdate());
  }
  void StartLine(size_t bytes, McuSimConfig config = {}, Tap tap = {}) {
    config.family = McuFamily::Line;
    Found("S3C6410", 18, {{"line.s19", LineImage(bytes)}}, config, tap, "V1.0.3");
    ASSERT_TRUE(transfer->StartUpdate());
  }
  // Data frames ('b' blocks) the program sent for `address`.
  size_t DataFramesFor(uint32_t address) const {
    size_t n = 0;
    for (const auto& f : bench.WrittenFrames()) {
      if (f.size() == 141 && f[6] == 'b' &&
          (static_cast<uint32_t>(f[7]) | (static_cast<uint32_t>(f[8]) << 8)) == (address & 0xFFFF)) {
        ++n;
      }
    }
    return n;
  }

  McuBench bench;
  Recorder rec{bench};
  std::unique_ptr<CMcuTransfer> transfer;
};

TEST(McuPlatformTest, FamilyAndSpeedFromTheRegistry) {
  MemRegistry registry;
  McuPlatform p = ReadMcuPlatform(registry);
  EXPECT_EQ(p.platformType, 0);
  EXPECT_EQ(p.protocol, McuProtocol::LineProtocol);
  EXPECT_EQ(p.baudRate, 115200u);
  registry.Put("SoftWare\\Dravik\\Os", "HW_VERSION", RegValue::String("V1.4"));
  EXPECT_EQ(ReadMcuPlatform(registry).baudRate, 19200u);
  registry.Put("SoftWare\\Dravik\\Os", "HW_VERSION", RegValue::String("v1.4"));
  EXPECT_EQ(ReadMcuPlatform(registry).baudRate, 115200u);
  registry.Put("SoftWare\\Dravik\\Os", "PROJECTTYPE", RegValue::Dword(20));
  p = ReadMcuPlatform(registry);
  EXPECT_EQ(p.protocol, McuProtocol::BlockProtocol);
  EXPECT_EQ(p.baudRate, 115200u);  // HW_VERSION only matters for lines
  registry.Put("SoftWare\\Dravik\\Os", "PROJECTTYPE", RegValue::Dword(19));
  registry.Put("SoftWare\\Dravik\\Os", "CPU_TYPE", RegValue::String("MSTAR2521"));
  p = ReadMcuPlatform(registry);
  EXPECT_EQ(p.platformType, 8);
  EXPECT_EQ(p.protocol, McuProtocol::BlockProtocol);
}

TEST_F(TransferTest, BlockFamilyTransfersTheImageExactly) {
  StartBlock(Pattern(300));
  ASSERT_TRUE(RunUntilEnd());
  EXPECT_EQ(rec.Codes(), kSucceededRun);
  EXPECT_EQ(bench.mcu->Image(), Padded(300, 384));
  EXPECT_EQ(bench.mcu->GetStats().dataBlocks, 3u);
  EXPECT_EQ(bench.mcu->GetStats().repeatedBlocks, 0u);
  EXPECT_EQ(transfer->State(), eTranState_Stop);

  const auto frames = bench.WrittenFrames();
  ASSERT_GE(frames.size(), 6u);
  EXPECT_EQ(frames[0], Bytes({0x21, 0x23, 0x41, 0x4F, 0x08, 0x00, 0x44, 0x40, 0x0D}));
  EXPECT_EQ(frames[1], Bytes({0x21, 0x23, 0x41, 0x4F, 0x0C, 0x00, 0x61, 0x53, 0x54, 0x4D, 0x38, 0x13, 0x0D}));
  ASSERT_EQ(frames[2].size(), 141u);
  EXPECT_EQ(std::vector<uint8_t>(frames[2].begin() + 4, frames[2].begin() + 9), Bytes({0x8C, 0x00, 'b', 0x00, 0xA0}));
  EXPECT_EQ(std::vector<uint8_t>(frames[3].begin() + 7, frames[3].begin() + 9), Bytes({0x80, 0xA0}));  // little-endian
  EXPECT_EQ(frames.back()[6], 'c');
  // Progress: each percent once, rising to 100.
  const std::vector<int64_t> progress = rec.Values(kNotifySendProgress);
  EXPECT_EQ(progress, (std::vector<int64_t>{0, 42, 85, 100}));

  // The line settings of the port.
  const Dcb dcb = bench.com4.LastDcb();
  EXPECT_EQ(dcb.baudRate, 115200u);
  EXPECT_EQ(dcb.byteSize, 8);
  EXPECT_EQ(dcb.parity, NOPARITY);
  EXPECT_EQ(dcb.stopBits, ONESTOPBIT);
  EXPECT_FALSE(dcb.dtrControl);  // the driver's own value is kept
  const CommTimeouts t = bench.com4.LastTimeouts();
  EXPECT_EQ(t.readIntervalTimeout, 0xFFFFu);
  EXPECT_EQ(t.readTotalTimeoutConstant, 0u);
  EXPECT_EQ(t.writeTotalTimeoutMultiplier, 10u);
  EXPECT_EQ(t.writeTotalTimeoutConstant, 10u);
  EXPECT_EQ(bench.com4.InQueueSize(), 5120u);
  EXPECT_EQ(bench.com4.Mask(), static_cast<uint32_t>(EV_RXCHAR | EV_ERR));
  EXPECT_EQ(bench.serial.OpenAttempts().front(), "COM4:");
}

TEST_F(TransferTest, LineFamilySendsEveryRecordLine) {
  StartLine(100);
  ASSERT_TRUE(RunUntilEnd());
  EXPECT_EQ(rec.Codes(), kSucceededRun);
  const std::string text = LineImage(100);
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find("\r\n", at);
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  EXPECT_EQ(bench.mcu->Lines(), lines);  // S0 and S9 included
  EXPECT_TRUE(bench.mcu->ImageComplete());
  EXPECT_EQ(bench.com4.LastDcb().baudRate, 19200u);  // HW_VERSION "V1..."
  const auto frames = bench.WrittenFrames();
  ASSERT_GE(frames.size(), 2u);
  EXPECT_EQ(frames[1], Bytes({0x24, 0x23, 0x33, 0x01, 0x02, 0x59, 0x01, 0x90, 0x40, 0x24}));
  EXPECT_EQ(frames.back(), Bytes({0x24, 0x23, 0x33, 0x01, 0x02, 0x59, 0x00, 0x8F, 0x40, 0x24}));
  EXPECT_EQ(rec.Values(kNotifySendProgress).back(), 100);
}

// The first answer to the block at 0xA080 echoes another address, which asks
// for the block again and ends the running timer. The repeat must have a timer
// of its own: with the repeat's answer lost too, only that timer sends the
// block a third time, or the update would wait for ever.
class RepeatTest : public TransferTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RepeatTest, WrongEchoedAddressRepeatsTheBlock) {
  const bool loseRepeatAnswer = GetParam();
  int answers = 0;
  StartBlock(Pattern(300), {}, [&](const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
    if (in.size() != 141 || in[7] != 0x80) return;
    ++answers;
    if (answers == 1) out = BuildXorFrame('A', 'O', {'b', 0x00, 0xA1, 0, 0, 1});
    if (answers == 2 && loseRepeatAnswer) out.clear();
  });
  ASSERT_TRUE(RunUntilEnd());
  EXPECT_TRUE(rec.Has(kNotifySucceeded));
  EXPECT_EQ(DataFramesFor(0xA080), loseRepeatAnswer ? 3u : 2u);
  EXPECT_EQ(DataFramesFor(0xA000), 1u);
  EXPECT_EQ(bench.mcu->GetStats().repeatedBlocks, loseRepeatAnswer ? 2u : 1u);
  EXPECT_EQ(bench.mcu->Image(), Padded(300, 384));
  EXPECT_TRUE(bench.trace.Contains("----------------------Repeat, "));
}

INSTANTIATE_TEST_SUITE_P(AnswerOfTheRepeat, RepeatTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Lost" : "Given"; });

TEST_F(TransferTest, EveryAnswerOfOneReadIsHandled) {
  // The MCU answers the version query and, in the same burst, a key read-back.
  Init("MSTAR2521", 19, {{"mcu_3900R_128K.s19", Stm8Image(Pattern(64))}}, {},
       [](const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
         if (in.size() == 9 && in[6] == 'D') {
           const auto extra = BuildXorFrame('A', 'O', {'_', 1, 2, 3});
           out.insert(out.end(), extra.begin(), extra.end());
         }
       });
  ASSERT_TRUE(RunUntil(kNotifyKeyReadBack, 5000));
  EXPECT_TRUE(transfer->VersionReceived());
  EXPECT_EQ(transfer->Version(), "3900R20130101");
  const Note* note = rec.First(kNotifyKeyReadBack);
  ASSERT_NE(note, nullptr);
  std::unique_ptr<KeyReadBack> record = transfer->TakeReadBack(note->value);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->first, '_');
  EXPECT_EQ(record->count, 3u);
  EXPECT_EQ(record->data, Bytes({'_', 1, 2, 3}));
  EXPECT_FALSE(transfer->TakeReadBack(note->value));
}

TEST_F(TransferTest, SilentMcuIsAskedAgainAfterOneAndTwoSecondsAndFailsAtThree) {
  McuSimConfig config;
  config.faults.silentAfter = 2;  // the version and the start block are answered
  StartBlock(Pattern(300), config);
  ASSERT_TRUE(RunUntilEnd());
  EXPECT_EQ(rec.Codes(), kFailedRun);
  EXPECT_EQ(DataFramesFor(0xA000), 3u);
  // Frames: version, start, block 0 and its two repeats.
  const std::vector<uint32_t> ticks = bench.WriteTicks();
  ASSERT_EQ(ticks.size(), 5u);
  EXPECT_EQ(ticks[3] - ticks[2], 1000u);
  EXPECT_EQ(ticks[4] - ticks[2], 2000u);
  EXPECT_EQ(rec.First(kNotifyFailed)->tick - ticks[2], 3000u);
  EXPECT_EQ(transfer->State(), eTranState_Stop);
  // Nothing more goes out once the update has failed.
  bench.desktop.loop().RunFor(5000);
  EXPECT_EQ(bench.WriteTicks().size(), 5u);
}

TEST_F(TransferTest, LineAnswerDoneEndsTheUpdateAtAnyState) {
  StartLine(100, {}, [](const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
    if (in.size() == 10 && in[5] == 'Y' && in[6] == 0x01) out = BuildSumFrame('3', 0x01, {0x84, 0});
  });
  ASSERT_TRUE(RunUntilEnd());
  EXPECT_EQ(rec.Codes(), kSucceededRun);
  EXPECT_EQ(transfer->State(), eTranState_Stop);
  EXPECT_EQ(bench.mcu->GetStats().dataBlocks, 0u);
  bench.desktop.loop().RunFor(4000);
  EXPECT_FALSE(rec.Has(kNotifyFailed));
}

TEST_F(TransferTest, LineTimeoutBeforeTheEndIsFailure) {
  McuSimConfig config;
  config.faults.silentAfter = 4;
  StartLine(100, config);
  ASSERT_TRUE(RunUntilEnd());
  EXPECT_EQ(rec.Codes(), kFailedRun);
}

TEST_F(TransferTest, LineTimeoutAfterEverythingWasSentCountsAsSuccess) {
  McuSimConfig config;
  // 100 bytes are 7 lines with S0 and S9: the end block gets no answer.
  config.faults.silentAfter = 1 + 1 + 9;
  StartLine(100, config);
  ASSERT_TRUE(RunUntilEnd());
  EXPECT_EQ(transfer->LastPercent(), 100);
  EXPECT_EQ(rec.Codes(), kSucceededRun);
  // The MCU took the end block but never said so.
  EXPECT_TRUE(bench.mcu->ImageComplete());
  EXPECT_EQ(bench.mcu->GetStats().silenced, 3u);  // the end block and its two repeats
}

TEST_F(TransferTest, FaultyAnswersStillGiveTheExactImage) {
  McuSimConfig config;
  config.faults.lossProbability = 0.15;
  config.faults.corruptProbability = 0.1;
  config.faults.garbageProbability = 0.3;
  config.faults.duplicateProbability = 0.3;
  config.faults.seed = 7;
  StartBlock(Pattern(1000), config);
  ASSERT_TRUE(RunUntilEnd());
  EXPECT_TRUE(rec.Has(kNotifySucceeded));
  EXPECT_EQ(bench.mcu->Image(), Padded(1000, 1024));
  const McuSimulator::Stats stats = bench.mcu->GetStats();
  EXPECT_GT(stats.lost + stats.corrupted, 0u);
  EXPECT_GT(stats.duplicated, 0u);
  EXPECT_EQ(stats.rejectedBlocks, 0u);
}

TEST_F(TransferTest, FailedWriteIsTracedAndSentAgainOnTheNextTick) {
  Found("MSTAR786", 19, {{"mcu.s19", Stm8Image(Pattern(100))}});
  bench.com4.FailWrites(1, ERROR_WRITE_FAULT);
  const uint32_t start = bench.clock.GetTickCount();
  ASSERT_TRUE(transfer->StartUpdate());
  ASSERT_TRUE(RunUntilEnd());
  EXPECT_TRUE(rec.Has(kNotifySucceeded));
  EXPECT_TRUE(bench.trace.Contains("+++++++++++Write Error 0x1d:\n"));
  EXPECT_TRUE(bench.trace.Contains("21 23 41 4f 0c 00 61 53 54 4d 38 13 0d "));
  EXPECT_TRUE(bench.trace.Contains("\n+++++++++++Write Error\n"));
  // The start block went out one timer period after the failed write.
  EXPECT_EQ(bench.WriteTicks()[1] - start, 1000u);
}

TEST_F(TransferTest, MoreThanOneReadBufferOfWaitingBytesIsRead) {
  // 590 stray bytes ahead of the start block's answer: 600 bytes wait at once.
  bool done = false;
  StartBlock(Pattern(100), {}, [&done](const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
    if (!done && in.size() == 13 && in[6] == 'a') {
      done = true;
      std::vector<uint8_t> burst(590 + out.size(), 0x55);
      std::copy(out.begin(), out.end(), burst.begin() + 590);
      out = burst;
    }
  });
  ASSERT_TRUE(RunUntilEnd());
  EXPECT_TRUE(rec.Has(kNotifySucceeded));
  EXPECT_EQ(bench.com4.LargestRead(), 512u);
  EXPECT_TRUE(done);
}

TEST_F(TransferTest, Platform8ChoosesTheImageSizeByTheVersion) {
  McuSimConfig config;
  config.version = "3900R20121231";
  Found("MSTAR2521", 17,
        {{"A_3900R_128K.s19", Stm8Image(Pattern(200))}, {"B_3900R_64K.s19", Stm8Image(Pattern(100))}}, config);
  EXPECT_EQ(transfer->GetImageFileName(), "B_3900R_64K.s19");
  int sizeCode = -1;
  ASSERT_EQ(ReadFlagFile(bench.files, kModule, &sizeCode), 0);
  EXPECT_EQ(sizeCode, 0);
  EXPECT_LE(bench.clock.SleptMs(), 100u);  // the version came with the first wait
}

TEST_F(TransferTest, Platform8WithoutVersionKeepsTheRememberedSize) {
  ASSERT_EQ(WriteFlagFile(bench.files, kModule, 1), 0);
  const std::string flag = bench.files.FileBytes(FlagFilePath(kModule));
  McuSimConfig config;
  config.faults.silentAfter = 0;
  Found("MSTAR2521", 19,
        {{"A_3900R_64K.s19", Stm8Image(Pattern(100))}, {"B_3900R_128K.s19", Stm8Image(Pattern(200))}}, config);
  EXPECT_EQ(rec.Codes(), (std::vector<uint32_t>{kNotifyFailed, kNotifyFound}));
  EXPECT_EQ(bench.clock.SleptMs(), 3000u);
  EXPECT_EQ(transfer->GetImageFileName(), "B_3900R_128K.s19");
  EXPECT_EQ(bench.files.FileBytes(FlagFilePath(kModule)), flag);
}

TEST_F(TransferTest, ImageWithoutTheStm8TagIsRefusedAtStart) {
  Found("MSTAR786", 19, {{"m.s19", LineImage(40)}});
  EXPECT_FALSE(transfer->StartUpdate());
  bench.desktop.loop().RunFor(10);
  EXPECT_EQ(rec.Codes().back(), kNotifyNoImage);
  EXPECT_EQ(bench.mcu->GetStats().startBlocks, 0u);
}

TEST_F(TransferTest, UnopenablePortIsReportedAndNoThreadRuns) {
  bench.SetPlatform("MSTAR786", 19);
  bench.files.PutFile(std::string(kDir) + "mcu.s19", Stm8Image(Pattern(64)));
  std::unique_ptr<SerialPort> holder = bench.serial.Open("COM4:");
  ASSERT_TRUE(holder);
  const size_t before = bench.serial.OpenAttempts().size();
  Make();
  transfer->Initialise();
  ASSERT_TRUE(RunUntil(kNotifyNoPort));
  EXPECT_EQ(rec.Codes(), (std::vector<uint32_t>{kNotifyNoPort}));
  EXPECT_EQ(bench.serial.OpenAttempts().size() - before, 8u);  // seven in the hand-over, one more
  EXPECT_EQ(transfer->PortHandle(), nullptr);
  EXPECT_FALSE(transfer->StartUpdate());
}

}  // namespace
}  // namespace hu
