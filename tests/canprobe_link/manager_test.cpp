#include "canprobe/manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <string>
#include <vector>

#include "canprobe/link_center.h"
#include "common/frames/sum_frame_codec.h"
#include "common/frames/xor_frame_codec.h"
#include "common/platform/testing/capture_trace.h"
#include "common/platform/testing/fake_sync.h"
#include "common/platform/testing/manual_clock.h"
#include "common/platform/testing/mem_files.h"
#include "common/platform/testing/mem_registry.h"
#include "common/platform/testing/passthrough_code_page.h"

namespace hu {
namespace {

class CountingTarget : public CarTypeReplyTarget {
 public:
  void OnCarTypeReply() override { ++replies; }
  std::atomic<int> replies{0};
};

class ManagerTest : public ::testing::Test {
 protected:
  ManagerTest() : sync(clock) {
    services.sync = &sync;
    services.clock = &clock;
    services.registry = &registry;
    services.files = &files;
    services.codePage = &codePage;
    services.moduleDir = "\\SDMMC\\Canprobe";
    center = std::make_unique<LinkCenter>(services);
    manager = center->GetManager();
    manager->SetNotifyTarget(&target);
  }

  void Kind(int kind) { center->SetTransport(nullptr, kind); }
  void Receive(const std::string& s) { manager->Receive(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }
  void Receive(const std::vector<uint8_t>& v) { manager->Receive(v.data(), v.size()); }

  ManualClock clock;
  FakeSync sync;
  MemRegistry registry;
  MemFiles files;
  PassthroughCodePage codePage;
  CanLinkServices services;
  std::unique_ptr<LinkCenter> center;
  Manager* manager = nullptr;
  CountingTarget target;
};

// A page that goes away while the reader is handing it a reply: detaching
// must wait for the reply to be done, or the page would be used after it is gone.
TEST_F(ManagerTest, DetachingWaitsForAReplyInProgress) {
  class SlowTarget : public CarTypeReplyTarget {
   public:
    void OnCarTypeReply() override {
      entered = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      left = true;
    }
    std::atomic<bool> entered{false}, left{false};
  } slow;
  Kind(kLinkRaw);
  manager->SetNotifyTarget(&slow);
  const std::string reply = std::string("\r$Z;VZD3A000105") + "\x11" + "\r\n";
  std::thread reader([&] { Receive(reply); });
  while (!slow.entered) std::this_thread::yield();
  manager->DetachNotifyTarget(&slow);
  EXPECT_TRUE(slow.left);
  EXPECT_EQ(manager->NotifyTarget(), nullptr);
  reader.join();
  // Another target stays.
  manager->SetNotifyTarget(&target);
  manager->DetachNotifyTarget(&slow);
  EXPECT_EQ(manager->NotifyTarget(), &target);
}

const std::string kReply = std::string("\r$Z;VZD3A000105") + "\x11" + "\r\n";

TEST_F(ManagerTest, RawReplyYieldsTheTypeAlsoWhenSplit) {
  CaptureTrace trace;
  Kind(kLinkRaw);
  Receive(kReply.substr(0, 3));
  Receive(kReply.substr(3, 9));
  EXPECT_EQ(target.replies, 0);
  Receive(kReply.substr(12));
  EXPECT_EQ(manager->CarType(), "VZD3A000105");
  EXPECT_EQ(target.replies, 1);
  EXPECT_TRUE(trace.Contains("Manager::ParserAscCmd Z m_carType:VZD3A000105 \r\n"));
  EXPECT_EQ(manager->Version(), "0105");
}

TEST_F(ManagerTest, ShortOrForeignCommandsLeaveTheTypeAlone) {
  Kind(kLinkRaw);
  Receive(kReply);
  ASSERT_EQ(target.replies, 1);
  Receive(std::string("\r$Z4ABCD*\r\n"));  // four data bytes
  Receive(std::string("\r$Y;VZD3A000199*\r\n"));
  EXPECT_EQ(manager->CarType(), "VZD3A000105");
  EXPECT_EQ(target.replies, 1);
  // A long type keeps 19 characters.
  Receive(std::string("\r$ZH") + std::string(24, 'Q') + "*\r\n");
  EXPECT_EQ(manager->CarType(), std::string(19, 'Q'));
}

TEST_F(ManagerTest, FramedLinksFindTheReplyInsideTheirCommandFrames) {
  CSumFrameCodec sum;
  ASSERT_TRUE(sum.BuildFrame(0x44, 0x08, kReply.size(), reinterpret_cast<const uint8_t*>(kReply.data())));
  const std::vector<uint8_t> sumFrame(sum.FrameBytes(), sum.FrameBytes() + sum.FrameLength());
  CXorFrameCodec xr;
  ASSERT_TRUE(xr.BuildFrame(0x42, 0x43, kReply.size(), reinterpret_cast<const uint8_t*>(kReply.data())));
  const std::vector<uint8_t> xorFrame(xr.FrameBytes(), xr.FrameBytes() + xr.FrameLength());

  Kind(kLinkFrame);
  Receive(xorFrame);  // not this link's frames
  EXPECT_EQ(target.replies, 0);
  Receive(std::vector<uint8_t>(sumFrame.begin(), sumFrame.begin() + 10));
  Receive(std::vector<uint8_t>(sumFrame.begin() + 10, sumFrame.end()));
  EXPECT_EQ(manager->CarType(), "VZD3A000105");
  EXPECT_EQ(target.replies, 1);

  // Another kind gets a parser of its own.
  Kind(kLinkAc);
  Receive(sumFrame);
  EXPECT_EQ(target.replies, 1);
  Receive(xorFrame);
  EXPECT_EQ(target.replies, 2);

  // Only the box's answer command counts.
  CXorFrameCodec other;
  ASSERT_TRUE(other.BuildFrame(0x41, 0x43, kReply.size(), reinterpret_cast<const uint8_t*>(kReply.data())));
  Receive(std::vector<uint8_t>(other.FrameBytes(), other.FrameBytes() + other.FrameLength()));
  EXPECT_EQ(target.replies, 2);

  Kind(kLinkNone);
  Receive(kReply);
  EXPECT_EQ(target.replies, 2);
}

TEST_F(ManagerTest, VersionIsTheLastFourCharacters) {
  Kind(kLinkRaw);
  EXPECT_EQ(manager->Version(), "");
  Receive(std::string("\r$Z5ABCDE*\r\n"));
  EXPECT_EQ(manager->Version(), "BCDE");
  manager->ParserAscCmd('Z', reinterpret_cast<const uint8_t*>("XYZ12"), 5);
  EXPECT_EQ(manager->Version(), "YZ12");
}

TEST(ManagerBuildDate, DigitsOrBase36) {
  EXPECT_EQ(Manager::BuildDate(""), "0000-00-00");
  EXPECT_EQ(Manager::BuildDate("V"), "0000-00-00");
  EXPECT_EQ(Manager::BuildDate("VZD3A000105"), "2013-03-10");
  EXPECT_EQ(Manager::BuildDate("VZzz!"), "2000-00-00");
  EXPECT_EQ(Manager::BuildDate("V130521xxxx"), "2013-05-21");
  // Characters past the end read as zero and end the text.
  EXPECT_EQ(Manager::BuildDate("V1305"), "2013-05-");
  EXPECT_EQ(Manager::BuildDate("VZ"), "2000-00-00");
}

TEST_F(ManagerTest, DescriptionsComeFromTheProgramFolderOnce) {
  files.PutFile("\\SDMMC\\Canprobe\\CarInfoDescription.txt", std::string("VZD3A000105=Cruze 2013\n"));
  EXPECT_EQ(manager->Description("VZD3A000105"), "Cruze 2013");
  EXPECT_FALSE(manager->Description("Show").has_value());
  files.PutFile("\\SDMMC\\Canprobe\\CarInfoDescription.txt", std::string("VZD3A000105=changed\n"));
  EXPECT_EQ(manager->Description("VZD3A000105"), "Cruze 2013");
}

TEST_F(ManagerTest, CommandsNeedAnOpenTransport) {
  // Without ports the default transport opens "failed": it is in state 1 and sends nothing.
  EXPECT_FALSE(manager->SendLoaderCommand());
  EXPECT_FALSE(manager->RequestCarType(1));
  DataTransport* transport = center->GetTransport();
  ASSERT_NE(transport, nullptr);
  EXPECT_EQ(transport->GetState(), DataTransport::kOpened);
  EXPECT_EQ(transport->Sink(), manager);
  EXPECT_FALSE(manager->SetCarId(3));
}

}  // namespace
}  // namespace hu
