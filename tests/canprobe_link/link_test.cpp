// The link objects on in-memory serial lines, with their real reader threads
// and the simulated CAN box (raw, or behind the simulated MCU) at the far end.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "canprobe/com_ac_transport.h"
#include "canprobe/com_frame_transport.h"
#include "canprobe/com_transport.h"
#include "canprobe/link_center.h"
#include "canprobe/manager.h"
#include "canprobe/platform_query.h"
#include "common/platform/testing/capture_trace.h"
#include "common/platform/testing/fake_serial.h"
#include "common/platform/testing/mem_files.h"
#include "common/platform/testing/mem_registry.h"
#include "common/platform/testing/passthrough_code_page.h"
#include "common/settings/settings_values.h"
#include "sim/canbox/canbox_relay.h"
#include "sim/canbox/canbox_simulator.h"
#include "sim/mcu/mcu_simulator.h"
#include "thread_platform.h"

namespace hu {
namespace {

using std::chrono::milliseconds;

// Polls for up to five seconds of real time, for the reader threads.
bool WaitUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(milliseconds(10));
  return done();
}

class ReplyWaiter : public CarTypeReplyTarget {
 public:
  void OnCarTypeReply() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++replies_;
    cv_.notify_all();
  }
  bool Wait(int count = 1) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, milliseconds(5000), [&] { return replies_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int replies_ = 0;
};

class LinkTest : public ::testing::Test {
 protected:
  LinkTest() {
    services.serial = &serial;
    services.sync = &sync;
    services.clock = &clock;
    services.registry = &registry;
    services.files = &files;
    services.codePage = &codePage;
    services.moduleDir = "\\SDMMC\\Canprobe";
  }
  ~LinkTest() override { LinkCenter::Destroy(); }

  void Platform(const std::string& cpu, uint32_t project) {
    registry.Put(kSettingsKeyOs, "CPU_TYPE", RegValue::String(cpu));
    registry.Put(kSettingsKeyOs, "PROJECTTYPE", RegValue::Dword(project));
  }

  FastClock clock;
  ThreadSync sync;
  FakeSerial serial;
  MemRegistry registry;
  MemFiles files;
  PassthroughCodePage codePage;
  CanLinkServices services;
};

TEST_F(LinkTest, PortNamesAndLineSettings) {
  FakeSerialLine& com9 = serial.AddPort("COM9");
  serial.AddPort("COM14");
  {
    ComTransport low(&serial, sync, clock);
    low.SetPort(9);
    ASSERT_TRUE(low.Open());
    EXPECT_EQ(low.GetState(), DataTransport::kOpened);
    const Dcb dcb = com9.LastDcb();
    EXPECT_EQ(dcb.baudRate, 115200u);
    EXPECT_EQ(dcb.byteSize, 8);
    EXPECT_EQ(dcb.parity, NOPARITY);
    EXPECT_EQ(dcb.stopBits, ONESTOPBIT);
    EXPECT_EQ(com9.LastTimeouts().readIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(com9.LastTimeouts().readTotalTimeoutConstant, 0u);
    EXPECT_EQ(com9.LastTimeouts().writeTotalTimeoutConstant, 0u);
    EXPECT_EQ(com9.Mask(), static_cast<uint32_t>(EV_RXCHAR));
    EXPECT_EQ(com9.InQueueSize(), 5120u);
    EXPECT_EQ(com9.OutQueueSize(), 5120u);
    EXPECT_EQ(com9.Purges(), 0x0Fu);
    ASSERT_TRUE(low.SetRate(625000));
    EXPECT_EQ(com9.LastDcb().baudRate, 625000u);

    ComTransport high(&serial, sync, clock);
    high.SetPort(14);
    ASSERT_TRUE(high.Open());
    CaptureTrace trace;
    high.Close();
    EXPECT_EQ(high.GetState(), DataTransport::kClosed);
    EXPECT_FALSE(high.Send(reinterpret_cast<const uint8_t*>("x"), 1));
    // A closed transport opens again.
    ASSERT_TRUE(high.Open());
  }
  EXPECT_EQ(serial.OpenAttempts(), (std::vector<std::string>{"COM9:", "\\$device\\COM14", "\\$device\\COM14"}));
  EXPECT_FALSE(com9.IsOpen());
}

TEST_F(LinkTest, APortThatDoesNotOpenStillCountsAsOpened) {
  CaptureTrace trace;
  {
    ComTransport transport(&serial, sync, clock);
    EXPECT_FALSE(transport.Open());
    EXPECT_EQ(transport.GetState(), DataTransport::kOpened);
    EXPECT_FALSE(transport.Send(reinterpret_cast<const uint8_t*>("\r$Z2N0\r\n"), 8));
    EXPECT_TRUE(trace.Contains("COM4:"));
  }
  EXPECT_TRUE(trace.Contains("Canrelay:Release DataTransport done!\n"));
}

TEST_F(LinkTest, FramedSendsOfBothCarriedKinds) {
  FakeSerialLine& line = serial.AddPort("COM4");
  {
    ComFrameTransport frame(&serial, sync, clock);
    ASSERT_TRUE(frame.Open());
    ASSERT_TRUE(frame.Send(reinterpret_cast<const uint8_t*>("\r$Z2N0\r\n"), 8));
    EXPECT_EQ(line.TakeWritten().size(), 16u);
    const std::vector<uint8_t> big(256, 1);
    EXPECT_FALSE(frame.Send(big.data(), big.size()));
    EXPECT_TRUE(line.TakeWritten().empty());
  }
  {
    ComAcTransport ac(&serial, sync, clock);
    ASSERT_TRUE(ac.Open());
    std::vector<uint8_t> data(130);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
    clock.ClearSleeps();
    ASSERT_TRUE(ac.Send(data.data(), data.size()));
    EXPECT_EQ(clock.Sleeps(), (std::vector<uint32_t>{20, 20}));
    const std::vector<uint8_t> wire = line.TakeWritten();
    ASSERT_EQ(wire.size(), 72u + 72 + 10);
    EXPECT_EQ(ac.LastFramesWritten(), 3u);
    const size_t starts[] = {0, 72, 144};
    const size_t sizes[] = {64, 64, 2};
    for (int f = 0; f < 3; ++f) {
      const uint8_t* p = wire.data() + starts[f];
      EXPECT_EQ(std::vector<uint8_t>(p, p + 4), (std::vector<uint8_t>{0x21, 0x23, 0x41, 0x43})) << f;
      EXPECT_EQ(p[4] | (p[5] << 8), static_cast<int>(sizes[f] + 7));
      EXPECT_EQ(p[6], data[64 * f]);
      uint8_t check = 0;
      for (size_t i = 0; i < 6 + sizes[f]; ++i) check ^= p[i];
      EXPECT_EQ(p[6 + sizes[f]], check);
      EXPECT_EQ(p[7 + sizes[f]], 0x0D);
    }
    clock.ClearSleeps();
    ASSERT_TRUE(ac.Send(data.data(), 64));
    EXPECT_EQ(line.TakeWritten().size(), 72u);
    EXPECT_EQ(clock.Sleeps(), std::vector<uint32_t>{20});
    EXPECT_FALSE(ac.Send(data.data(), 0));
    line.FailWrites(1, 29);
    EXPECT_FALSE(ac.Send(data.data(), 130));
    EXPECT_EQ(ac.LastFramesWritten(), 2u);
  }
}

TEST_F(LinkTest, DefaultTransportFollowsThePlatform) {
  struct Case {
    const char* cpu;
    uint32_t project;
    int kind;
    int port;
  };
  const Case cases[] = {
      {"S3C6410", 18, kLinkRaw, 4},   {"MSTAR786", 18, kLinkRaw, 14},   {"S3C6410", 19, kLinkFrame, 4},
      {"S5P6450", 17, kLinkFrame, 4}, {"MSTAR2521", 19, kLinkAc, 4},    {"MSTAR786", 17, kLinkAc, 4},
      {"MSTAR2531", 19, kLinkAc, 4},  {"MSTAR2521", 16, kLinkRaw, 4},
  };
  for (const Case& c : cases) {
    Platform(c.cpu, c.project);
    LinkCenter center(services);
    DataTransport* transport = center.GetTransport();
    ASSERT_NE(transport, nullptr);
    EXPECT_EQ(center.GetKind(), c.kind) << c.cpu << " " << c.project;
    auto* com = dynamic_cast<ComTransport*>(transport);
    ASSERT_NE(com, nullptr);
    EXPECT_EQ(com->Port(), c.port) << c.cpu << " " << c.project;
    EXPECT_EQ(com->BaudRate(), 115200u);
    EXPECT_EQ(transport->GetState(), DataTransport::kCreated);
    EXPECT_EQ(dynamic_cast<ComAcTransport*>(transport) != nullptr, c.kind == kLinkAc);
    EXPECT_EQ(dynamic_cast<ComFrameTransport*>(transport) != nullptr, c.kind == kLinkFrame);
    EXPECT_EQ(center.GetTransport(), transport);
  }
  PlatformQuery query(registry);
  Platform("MSTAR2521", 19);
  EXPECT_TRUE(query.IsIapPlatform());
  EXPECT_TRUE(query.IsProjectType17Or19());
  EXPECT_FALSE(query.IsProjectType18());
  MemRegistry empty;
  PlatformQuery defaults(empty);
  EXPECT_TRUE(defaults.IsProjectType18());
  EXPECT_FALSE(defaults.IsIapPlatform());
}

TEST_F(LinkTest, InstallingTransports) {
  FakeSerialLine& line = serial.AddPort("COM4");
  LinkCenter center(services);
  auto own = center.MakeComTransport(4, 625000);
  DataTransport* raw = own.get();
  center.SetTransport(std::move(own), kLinkRaw);
  ASSERT_TRUE(raw->Open());
  EXPECT_EQ(line.LastDcb().baudRate, 625000u);
  center.SetTransport(raw, kLinkRaw);  // the installed one: nothing happens
  EXPECT_EQ(center.GetTransport(), raw);
  EXPECT_TRUE(line.IsOpen());
  center.SetParams(4, 9600);
  EXPECT_EQ(dynamic_cast<ComTransport*>(raw)->BaudRate(), 9600u);
  center.CloseTransport();
  EXPECT_FALSE(line.IsOpen());
  EXPECT_EQ(center.GetKind(), kLinkNone);

  Platform("S3C6410", 19);
  DataTransport* framed = center.GetTransport();
  ASSERT_EQ(center.GetKind(), kLinkFrame);
  center.SetParams(9, 9600);  // not a raw link: unchanged
  EXPECT_EQ(dynamic_cast<ComTransport*>(framed)->Port(), 4);
  EXPECT_EQ(dynamic_cast<ComTransport*>(framed)->BaudRate(), 115200u);
}

TEST_F(LinkTest, ClosingFromInsideTheSinkLetsTheReaderGo) {
  FakeSerialLine& line = serial.AddPort("COM4");
  auto transport = std::make_unique<ComTransport>(&serial, sync, clock);
  class ClosingSink : public DataSink {
   public:
    explicit ClosingSink(ComTransport* t) : t_(t) {}
    int Receive(const uint8_t*, size_t) override {
      t_->Close();
      done.store(true);
      return 0;
    }
    ComTransport* t_;
    std::atomic<bool> done{false};
  } sink(transport.get());
  transport->SetSink(&sink);
  ASSERT_TRUE(transport->Open());
  line.PeerWrite({1, 2, 3});
  ASSERT_TRUE(WaitUntil([&] { return sink.done.load(); }));
  EXPECT_EQ(transport->GetState(), DataTransport::kClosed);
  transport.reset();
  // The thread lets the port go when it gets back to its loop.
  EXPECT_TRUE(WaitUntil([&] { return !line.IsOpen(); }));
}

// The vehicle type asked through the link center, its Manager and the
// platform's default transport, answered by the simulated box.
class VehicleTypeTest : public LinkTest, public ::testing::WithParamInterface<std::tuple<int, size_t>> {
 protected:
  void SetUp() override {
    const int kind = std::get<0>(GetParam());
    const size_t piece = std::get<1>(GetParam());
    if (kind == kLinkRaw) Platform("S3C6410", 18);
    if (kind == kLinkFrame) Platform("S3C6410", 19);
    if (kind == kLinkAc) Platform("MSTAR2521", 19);
    mcu.SetRelayPeer(&relay);
    line = &serial.AddPort("COM4");
    line->SetPeer([this, kind, piece](const uint8_t* bytes, size_t n) {
      const std::vector<uint8_t> answer = kind == kLinkRaw ? box.Feed(bytes, n) : mcu.Feed(bytes, n);
      // Each piece arrives as a read of its own.
      const size_t step = piece == 0 ? answer.size() : piece;
      for (size_t offset = 0; offset < answer.size(); offset += step) {
        const size_t k = answer.size() - offset < step ? answer.size() - offset : step;
        line->PeerWrite(answer.data() + offset, k);
        if (piece != 0) std::this_thread::sleep_for(milliseconds(1));
      }
    });
    LinkCenter::SetServices(services);
  }
  void TearDown() override { LinkCenter::Destroy(); }

  CanBoxSimulator box;
  CanBoxRelay relay{box};
  McuSimulator mcu;
  FakeSerialLine* line = nullptr;
};

TEST_P(VehicleTypeTest, RequestYieldsTheBoxType) {
  LinkCenter* center = LinkCenter::Get();
  ASSERT_NE(center, nullptr);
  Manager* manager = center->GetManager();
  ReplyWaiter waiter;
  manager->SetNotifyTarget(&waiter);
  ASSERT_TRUE(manager->RequestCarType(1));
  ASSERT_TRUE(waiter.Wait());
  EXPECT_EQ(manager->CarType(), "VZD3A000105");
  EXPECT_EQ(Manager::BuildDate(manager->CarType()), "2013-03-10");
  EXPECT_EQ(center->GetKind(), std::get<0>(GetParam()));

  box.SetType("VZE4B000107");
  ASSERT_TRUE(manager->RequestCarType(0));
  ASSERT_TRUE(waiter.Wait(2));
  EXPECT_EQ(manager->CarType(), "VZE4B000107");
  EXPECT_EQ(box.GetStats().typeRequests, 2u);

  ASSERT_TRUE(manager->SetCarId(254));
  ASSERT_TRUE(manager->SendLoaderCommand());
  EXPECT_TRUE(WaitUntil([&] { return box.GetMode() == CanBoxSimulator::Mode::Loader; }));
  EXPECT_EQ(box.VehicleId(), 254);
  manager->SetNotifyTarget(nullptr);
  LinkCenter::Destroy();
  EXPECT_EQ(LinkCenter::Existing(), nullptr);
  EXPECT_FALSE(line->IsOpen());
}

INSTANTIATE_TEST_SUITE_P(EveryLinkKindAndSplit, VehicleTypeTest,
                         ::testing::Combine(::testing::Values(kLinkRaw, kLinkFrame, kLinkAc),
                                            ::testing::Values(size_t{0}, size_t{5})));

}  // namespace
}  // namespace hu
