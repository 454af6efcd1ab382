#include "canprobe/iap_engine.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "canprobe/canbox_file_maker.h"
#include "canprobe/manager.h"
#include "common/platform/testing/capture_trace.h"
#include "common/platform/testing/mem_files.h"
#include "loopback_transport.h"
#include "sim/canbox/canbox_relay.h"
#include "sim/canbox/canbox_simulator.h"
#include "sim/mcu/mcu_simulator.h"

namespace hu {
namespace {

const char kDir[] = "\\SDMMC\\Canprobe";
const char kFile[] = "\\SDMMC\\Canprobe\\box.canbox";

std::vector<uint8_t> Firmware(size_t n) {
  std::vector<uint8_t> image(n);
  for (size_t i = 0; i < n; ++i) image[i] = static_cast<uint8_t>(i * 13 + (i >> 7));
  // Carriage returns are what the record doubling is about.
  for (size_t i = 0; i < n; i += 97) image[i] = 0x0D;
  return image;
}

// `firmware` as a .canbox file at kFile.
bool PutCanbox(MemFiles& files, const std::vector<uint8_t>& firmware) {
  std::string file;
  if (!MakeCanboxFile(firmware, &file)) return false;
  files.PutFile(kFile, file);
  return true;
}

// The box, raw or behind the MCU, and the engine on a loopback link to it.
struct Rig {
  explicit Rig(int kind, CanBoxFaults faults = {}) : relay(box) {
    box.SetFaults(faults);
    mcu.SetRelayPeer(&relay);
    transport = std::make_unique<LoopbackTransport>(kind, [this, kind](const std::vector<uint8_t>& wire) {
      return kind == kLinkRaw ? box.Feed(wire) : mcu.Feed(wire);
    });
    IapServices services;
    services.files = &files;
    services.moduleDir = kDir;
    engine = std::make_unique<CStm32IapEngine>(services, transport.get(), kind);
    transport->SetSink(engine.get());
    transport->Open();
  }
  // Sends the loader command and the stage, then lets the answer in.
  bool Stage(int stage, size_t piece = 0) {
    engine->ClearAcknowledged(stage);
    const bool more = engine->BeginStage(stage);
    transport->Pump(piece);
    return more;
  }
  void EnterLoader() {
    transport->Send(Manager::kLoaderCommand, sizeof Manager::kLoaderCommand);
    transport->Pump();
  }

  MemFiles files;
  CanBoxSimulator box;
  CanBoxRelay relay;
  McuSimulator mcu;
  std::unique_ptr<LoopbackTransport> transport;
  std::unique_ptr<CStm32IapEngine> engine;
};

class IapUpgrade : public ::testing::TestWithParam<int> {};

TEST_P(IapUpgrade, StagesLeaveTheBoxWithTheDecodedImage) {
  const int kind = GetParam();
  Rig rig(kind);
  const std::vector<uint8_t> firmware = Firmware(1000);
  ASSERT_TRUE(PutCanbox(rig.files, firmware));
  ASSERT_TRUE(rig.engine->Parse(kFile));
  ASSERT_EQ(rig.engine->Image().Image(), firmware);
  EXPECT_EQ(rig.engine->ProgressPercent(), 0);

  rig.EnterLoader();
  ASSERT_EQ(rig.box.GetMode(), CanBoxSimulator::Mode::Loader);
  rig.Stage(0);
  EXPECT_TRUE(rig.engine->Acknowledged(0));
  EXPECT_EQ(rig.engine->CurrentAddress(), 0u);
  rig.Stage(1);
  EXPECT_TRUE(rig.engine->Acknowledged(1));

  uint32_t expected = 0x08002000;
  int blocks = 0;
  for (;;) {
    rig.engine->ClearAcknowledged(2);
    if (!rig.engine->BeginStage(2)) break;
    EXPECT_EQ(rig.engine->CurrentAddress(), expected);
    // The reader may get the answer in pieces.
    rig.transport->Pump(blocks % 2 == 0 ? 0 : 1);
    ASSERT_TRUE(rig.engine->Acknowledged(2)) << "block " << blocks;
    expected += 128;
    ++blocks;
  }
  EXPECT_EQ(blocks, 8);
  EXPECT_EQ(rig.engine->ProgressPercent(), 100);
  EXPECT_DOUBLE_EQ(rig.engine->Progress(), 1.0);

  for (int stage : {3, 4}) {
    rig.Stage(stage);
    EXPECT_TRUE(rig.engine->Acknowledged(stage)) << stage;
  }
  EXPECT_EQ(rig.box.GetMode(), CanBoxSimulator::Mode::App);
  EXPECT_EQ(rig.box.GetStats().badRecords, 0u);

  // Flash holds the image and the erased rest of its last block.
  const std::vector<uint8_t> flash = rig.box.Image();
  ASSERT_EQ(flash.size(), 1024u);
  EXPECT_EQ(std::vector<uint8_t>(flash.begin(), flash.begin() + 1000), firmware);
  for (size_t i = 1000; i < flash.size(); ++i) EXPECT_EQ(flash[i], 0xFF);
}

INSTANTIATE_TEST_SUITE_P(EveryLinkKind, IapUpgrade, ::testing::Values(kLinkRaw, kLinkFrame, kLinkAc));

// Records what is sent to which window.
class RecordingWindows : public Windows {
 public:
  HWND CreateWindow(const std::string&, const std::string&, MessageSink*) override { return 0; }
  void DestroyWindow(HWND) override {}
  HWND FindWindow(const std::string&, const std::string&) override { return 0; }
  bool PostMessage(HWND, uint32_t, WPARAM, LPARAM) override { return false; }
  bool SendMessage(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam, uint32_t, LRESULT*) override {
    if (hwnd == 77 && message == registered && wParam == 9) percents.push_back(static_cast<int>(lParam));
    return true;
  }
  uint32_t RegisterWindowMessage(const std::string& name) override {
    return name == "{D39CDAEE-94B6-4a7e-BE32-B0AED1161B9C}" ? registered : 0xC001;
  }
  HWND GetForegroundWindow() override { return 77; }
  bool SetForegroundWindow(HWND) override { return true; }

  const uint32_t registered = 0xC123;
  std::vector<int> percents;
};

TEST(IapEngine, DecodingProgressGoesToTheForegroundWindow) {
  MemFiles files;
  RecordingWindows windows;
  ASSERT_TRUE(PutCanbox(files, Firmware(4000)));
  IapServices services;
  services.files = &files;
  services.windows = &windows;
  services.moduleDir = kDir;
  CStm32IapEngine engine(services, nullptr, kLinkRaw);
  ASSERT_TRUE(engine.Parse(kFile));
  ASSERT_GE(windows.percents.size(), 90u);
  for (size_t i = 1; i < windows.percents.size(); ++i) EXPECT_GT(windows.percents[i], windows.percents[i - 1]);
  EXPECT_GE(windows.percents.back(), 99);
  // Without a transport nothing goes out, and no stage fails for it silently.
  EXPECT_TRUE(engine.BeginStage(1));
  EXPECT_FALSE(engine.LastSendOk());
}

TEST(IapEngine, AnswersAcknowledgeByTheStageLastSent) {
  LoopbackTransport transport(kLinkRaw, [](const std::vector<uint8_t>&) { return std::vector<uint8_t>(); });
  CStm32IapEngine engine(IapServices{}, &transport, kLinkRaw);
  engine.Receive(reinterpret_cast<const uint8_t*>("OK"), 2);  // nothing sent yet
  for (int s = 0; s < 5; ++s) EXPECT_FALSE(engine.Acknowledged(s));

  // Entering IAP and clearing the flag take any answer; erasing and leaving
  // need an 'O' first.
  const struct { int stage; std::string answer; bool acknowledged; } steps[] = {
      {0, "x", true}, {1, "ER", false}, {1, "OK", true}, {3, "x", false}, {3, "O", true}, {4, "x", true}};
  int begun = -1;
  for (const auto& step : steps) {
    SCOPED_TRACE(testing::Message() << "stage " << step.stage << " answer " << step.answer);
    if (step.stage != begun) engine.BeginStage(begun = step.stage);
    engine.Receive(reinterpret_cast<const uint8_t*>(step.answer.data()), step.answer.size());
    EXPECT_EQ(engine.Acknowledged(step.stage), step.acknowledged);
  }
  engine.ClearAcknowledged(4);
  EXPECT_FALSE(engine.Acknowledged(4));
  EXPECT_FALSE(engine.Acknowledged(7));

  // Without an image stage 2 has nothing to send.
  EXPECT_FALSE(engine.BeginStage(2));
  EXPECT_FALSE(engine.BeginStage(9));
}

TEST(IapEngine, FramedAnswersCountOnlyInTheBoxCommand) {
  for (int kind : {kLinkFrame, kLinkAc}) {
    LoopbackTransport transport(kind, [](const std::vector<uint8_t>&) { return std::vector<uint8_t>(); });
    CStm32IapEngine engine(IapServices{}, &transport, kind);
    engine.BeginStage(1);
    const uint8_t answerCommand = kind == kLinkFrame ? 0x44 : 0x42;
    const std::vector<uint8_t> ok = {'O', 'K', '\r', '\n'};
    const std::vector<uint8_t> foreign = WrapCanBoxAnswer(kind, ok);
    std::vector<uint8_t> wrong = foreign;
    wrong[2] = 0x41;  // another command with the same bytes
    engine.Receive(wrong.data(), wrong.size());
    EXPECT_FALSE(engine.Acknowledged(1)) << kind;
    engine.Receive(foreign.data(), 3);
    EXPECT_FALSE(engine.Acknowledged(1)) << kind;
    engine.Receive(foreign.data() + 3, foreign.size() - 3);
    EXPECT_TRUE(engine.Acknowledged(1)) << kind;
    EXPECT_EQ(foreign[2], answerCommand);
  }
}

TEST(IapEngine, RecordsOverOneFrameGoInPiecesOnTheFrameLink) {
  // A block of carriage returns doubles to more than a "$#" frame carries.
  Rig rig(kLinkFrame);
  ASSERT_TRUE(PutCanbox(rig.files, std::vector<uint8_t>(128, 0x0D)));
  ASSERT_TRUE(rig.engine->Parse(""));  // the first .canbox of the folder
  rig.EnterLoader();
  rig.Stage(0);
  rig.Stage(1);
  ASSERT_TRUE(rig.Stage(2));
  ASSERT_TRUE(rig.engine->Acknowledged(2));
  ASSERT_GE(rig.transport->sends.size(), 2u);
  EXPECT_EQ(rig.transport->sends[rig.transport->sends.size() - 2].size(), 255u);
  EXPECT_EQ(rig.box.Image(), std::vector<uint8_t>(128, 0x0D));
}

TEST(IapEngine, LostAnswersAreMadeUpForByResending) {
  CanBoxFaults faults;
  faults.lossProbability = 0.3;
  faults.seed = 7;
  Rig rig(kLinkRaw, faults);
  const std::vector<uint8_t> firmware = Firmware(640);
  ASSERT_TRUE(PutCanbox(rig.files, firmware));
  ASSERT_TRUE(rig.engine->Parse(kFile));
  rig.EnterLoader();
  rig.Stage(0);
  for (int tries = 0; tries < 10 && !rig.engine->Acknowledged(1); ++tries) rig.Stage(1);
  ASSERT_TRUE(rig.engine->Acknowledged(1));
  while (rig.Stage(2)) {
    for (int tries = 0; tries < 10 && !rig.engine->Acknowledged(2); ++tries) {
      ASSERT_TRUE(rig.engine->Resend());
      rig.transport->Pump();
    }
    ASSERT_TRUE(rig.engine->Acknowledged(2));
  }
  EXPECT_GT(rig.box.GetStats().lost, 0u);
  EXPECT_EQ(rig.box.Image(), firmware);
}

TEST(IapEngine, ASilentBoxNeverAcknowledgesAndFailedSendsAreTraced) {
  CaptureTrace trace;
  CanBoxFaults faults;
  faults.silentAfter = 1;
  Rig rig(kLinkAc, faults);
  rig.EnterLoader();
  rig.Stage(0);
  EXPECT_TRUE(rig.engine->Acknowledged(0));
  rig.Stage(1);
  EXPECT_FALSE(rig.engine->Acknowledged(1));

  rig.transport->failSends = true;
  EXPECT_TRUE(rig.engine->BeginStage(3));
  EXPECT_FALSE(rig.engine->LastSendOk());
  EXPECT_FALSE(rig.engine->Resend());
  EXPECT_TRUE(trace.Contains("CStm32IapEngine::BeginStage 3 send failed"));

  EXPECT_FALSE(rig.engine->Parse("\\none.canbox"));
}

}  // namespace
}  // namespace hu
