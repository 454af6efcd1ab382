#include "sim/portmaster/port_master.h"

#include <gtest/gtest.h>

#include "common/platform/testing/fake_serial.h"
#include "common/platform/testing/manual_clock.h"
#include "common/ui/desktop.h"
#include "common/ui/event_loop.h"
#include "common/ui/local_windows.h"

namespace hu {
namespace {

class PortMasterTest : public ::testing::Test {
 protected:
  PortMasterTest() : com4(serial.AddPort("COM4")) {}
  bool Post(LPARAM lParam) {
    const HWND arbiter = windows.FindWindow("SERIAL_WINDOW_CLASS_NAME", "SERIAL_WINDOW_NAME");
    return arbiter != 0 && windows.PostMessage(arbiter, windows.RegisterWindowMessage("WM_MCU_COM_OP"), 4, lParam);
  }
  // The arbiter's window on an event loop, as the program runs it.
  struct Target : MessageTarget {
    explicit Target(CPortMaster& a) : arbiter(a) {}
    LRESULT HandleMessage(uint32_t message, WPARAM wParam, LPARAM lParam) override {
      if (message == WM_TIMER) arbiter.OnTimer();
      else arbiter.HandleMessage(message, wParam, lParam);
      return 0;
    }
    CPortMaster& arbiter;
  };

  ManualClock clock;
  LocalWindows windows;
  EventLoop loop{clock};
  FakeSerial serial;
  FakeSerialLine& com4;
};

TEST_F(PortMasterTest, LetsThePortGoAndTakesItBack) {
  CPortMaster arbiter(windows, &serial, CPortMaster::Options{});
  ASSERT_TRUE(arbiter.Start(&loop));
  Target target(arbiter);
  loop.AddTarget(arbiter.Window(), &target);
  EXPECT_TRUE(arbiter.HoldsPort());
  EXPECT_TRUE(com4.IsOpen());
  EXPECT_EQ(com4.LastDcb().baudRate, 115200u);

  ASSERT_TRUE(Post(0));
  loop.RunFor(1);
  EXPECT_FALSE(com4.IsOpen());
  // Someone else has the port when it is handed back: the arbiter tries again later.
  std::unique_ptr<SerialPort> other = serial.Open("COM4:");
  ASSERT_TRUE(Post(1));
  loop.SetTimer(arbiter.Window(), 1, 1000);
  loop.RunFor(1);
  EXPECT_FALSE(arbiter.HoldsPort());
  EXPECT_TRUE(arbiter.WantsPort());
  other.reset();
  loop.RunFor(1000);
  EXPECT_TRUE(arbiter.HoldsPort());
  EXPECT_EQ(arbiter.ReleaseRequests(), 1u);
  EXPECT_EQ(arbiter.ReturnNotices(), 1u);
  loop.RemoveTarget(arbiter.Window());
  arbiter.Stop();
  EXPECT_EQ(windows.FindWindow("SERIAL_WINDOW_CLASS_NAME", "SERIAL_WINDOW_NAME"), 0u);
  EXPECT_FALSE(com4.IsOpen());
}

TEST_F(PortMasterTest, StubbornArbiterKeepsThePort) {
  CPortMaster::Options options;
  options.stubborn = true;
  CPortMaster arbiter(windows, &serial, options);
  ASSERT_TRUE(arbiter.Start(&loop));
  Target target(arbiter);
  loop.AddTarget(arbiter.Window(), &target);
  ASSERT_TRUE(Post(0));
  loop.RunFor(1);
  EXPECT_TRUE(com4.IsOpen());
  EXPECT_EQ(arbiter.ReleaseRequests(), 1u);
  EXPECT_FALSE(serial.Open("COM4:"));
  // Other messages and other ports are not its business.
  EXPECT_FALSE(arbiter.HandleMessage(WM_USER + 1, 4, 0));
  EXPECT_TRUE(arbiter.HandleMessage(arbiter.ComOpMessage(), 3, 0));
  EXPECT_EQ(arbiter.ReleaseRequests(), 1u);
  loop.RemoveTarget(arbiter.Window());
}

}  // namespace
}  // namespace hu
