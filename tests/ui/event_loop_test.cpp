#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/ui/event_loop.h"
#include "tests/ui/ui_test_support.h"

namespace hu {
namespace {

class EventLoopTest : public ::testing::Test {
 protected:
  UiBench bench;
  EventLoop& loop = bench.desktop.loop();
  ScriptedDialog dlg{bench.desktop, 100};
  void SetUp() override { ASSERT_TRUE(dlg.Create()); }
};

TEST_F(EventLoopTest, TimersFireAtTheirPeriodsInDueOrder) {
  dlg.SetTimer(1, 100);
  dlg.SetTimer(2, 250);
  loop.RunFor(500);
  // At 1500 both are due; timer 2 was re-armed before timer 1 and goes first.
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"timer 1@1100", "timer 1@1200", "timer 2@1250", "timer 1@1300",
                                               "timer 1@1400", "timer 2@1500", "timer 1@1500"}));
  EXPECT_EQ(bench.clock.GetTickCount(), 1500u);
}

TEST_F(EventLoopTest, TimerKilledOrResetInsideAHandler) {
  dlg.SetTimer(1, 10);
  dlg.SetTimer(2, 10);
  dlg.SetTimer(3, 20);
  dlg.onTimer = [&](uint32_t id) {
    if (id == 1) {
      dlg.KillTimer(1);
      dlg.KillTimer(2);  // due at the same moment, never fires
    }
    if (id == 3) dlg.SetTimer(3, 50);  // a new period from now
  };
  loop.RunFor(130);
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"timer 1@1010", "timer 3@1020", "timer 3@1070", "timer 3@1120"}));
  EXPECT_FALSE(loop.HasTimer(dlg.GetSafeHwnd(), 1));
}

TEST_F(EventLoopTest, LongHandlerDelaysLaterTicksInsteadOfBursting) {
  dlg.SetTimer(1, 100);
  dlg.SetTimer(2, 100);
  bool slow = true;
  dlg.onTimer = [&](uint32_t id) {
    if (id == 1 && slow) {
      slow = false;
      bench.clock.Sleep(350);
    }
  };
  loop.RunFor(600);
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"timer 1@1100", "timer 2@1450", "timer 1@1550", "timer 2@1550"}));
}

TEST_F(EventLoopTest, PostedMessagesGoInOrderAndBeforeDueTimers) {
  dlg.SetTimer(9, 5);
  bench.clock.Advance(10);
  dlg.onMessage = [&](uint32_t m, WPARAM w, LPARAM) {
    dlg.log.push_back("msg " + std::to_string(m) + ":" + std::to_string(w));
    return true;
  };
  dlg.PostMessage(WM_USER + 1, 1);
  dlg.PostMessage(WM_USER + 1, 2);
  loop.Post([&] { dlg.log.push_back("task"); });
  loop.RunUntil([&] { return dlg.log.size() >= 4; }, 0);
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"msg 1025:1", "msg 1025:2", "task", "timer 9@1010"}));
}

TEST_F(EventLoopTest, RunUntilGivesUpAfterItsVirtualTimeout) {
  EXPECT_FALSE(loop.RunUntil([] { return false; }, 5000));
  EXPECT_EQ(bench.clock.GetTickCount(), 6000u);
}

TEST_F(EventLoopTest, MessagesToADestroyedWindowAreDropped) {
  int seen = 0;
  dlg.onMessage = [&](uint32_t, WPARAM, LPARAM) { return ++seen > 0; };
  HWND hwnd = dlg.GetSafeHwnd();
  dlg.SetTimer(1, 10);
  bench.windows.PostMessage(hwnd, WM_USER, 0, 0);
  dlg.DestroyWindow();
  loop.RunFor(100);
  EXPECT_EQ(seen, 0);
  EXPECT_FALSE(loop.HasTimer(hwnd, 1));
  EXPECT_FALSE(bench.windows.PostMessage(hwnd, WM_USER, 0, 0));
}

TEST_F(EventLoopTest, SameThreadSendMessageCallsTheHandlerAtOnce) {
  dlg.onMessage = [&](uint32_t m, WPARAM w, LPARAM l) {
    if (m != WM_USER + 5) return false;
    dlg.Answer(static_cast<LRESULT>(w) + l);
    return true;
  };
  EXPECT_EQ(dlg.SendMessage(WM_USER + 5, 40, 2), 42);
  EXPECT_EQ(dlg.SendMessage(WM_USER + 6, 40, 2), 0);  // unhandled
}

TEST_F(EventLoopTest, QuitEndsEveryNestedLevel) {
  ScriptedDialog inner(bench.desktop, 101);
  int innerResult = 99;
  dlg.SetTimer(1, 10);
  dlg.onTimer = [&](uint32_t) {
    dlg.KillTimer(1);
    innerResult = inner.DoModal();
  };
  inner.onInit = [&] { inner.SetTimer(2, 10); };
  inner.onTimer = [&](uint32_t) { loop.Quit(7); };
  loop.RunWhile([] { return true; });
  EXPECT_EQ(innerResult, -1);
  EXPECT_EQ(loop.QuitCode(), 7);
  EXPECT_FALSE(inner.IsOpen());
  ScriptedDialog late(bench.desktop, 102);
  EXPECT_EQ(late.DoModal(), -1);  // nothing opens while quitting
  EXPECT_FALSE(late.IsOpen());
}

// Real threads and real time: a post from a worker must wake a waiting loop.
TEST(EventLoopThreads, PostFromAnotherThreadWakesTheLoop) {
  RealClock clock;
  LocalWindows windows;
  Desktop desktop(clock, windows);
  ScriptedDialog dlg(desktop, 100);
  ASSERT_TRUE(dlg.Create());
  std::atomic<std::thread::id> handledOn{};
  dlg.onMessage = [&](uint32_t m, WPARAM, LPARAM) {
    handledOn = std::this_thread::get_id();
    return m == WM_USER;
  };
  HWND hwnd = dlg.GetSafeHwnd();
  std::thread worker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    windows.PostMessage(hwnd, WM_USER, 0, 0);
  });
  uint32_t start = clock.GetTickCount();
  bool got = desktop.loop().RunUntil([&] { return handledOn.load() != std::thread::id(); }, 5000);
  worker.join();
  EXPECT_TRUE(got);
  EXPECT_LT(clock.GetTickCount() - start, 2000u);
  EXPECT_EQ(handledOn.load(), std::this_thread::get_id());
}

TEST(EventLoopThreads, SendMessageFromAnotherThreadRunsOnTheUiThreadOrTimesOut) {
  RealClock clock;
  LocalWindows windows;
  Desktop desktop(clock, windows);
  ScriptedDialog dlg(desktop, 100);
  ASSERT_TRUE(dlg.Create());
  std::thread::id handledOn;
  dlg.onMessage = [&](uint32_t, WPARAM w, LPARAM) {
    handledOn = std::this_thread::get_id();
    dlg.Answer(static_cast<LRESULT>(w * 2));
    return true;
  };
  HWND hwnd = dlg.GetSafeHwnd();

  // Nobody runs the loop: the sender gives up after its time-out.
  bool sentIdle = true;
  std::thread idle([&] { sentIdle = windows.SendMessage(hwnd, WM_USER, 1, 0, 30, nullptr); });
  idle.join();
  EXPECT_FALSE(sentIdle);
  desktop.loop().RunFor(10);  // the abandoned call is not handled late
  EXPECT_EQ(handledOn, std::thread::id());

  LRESULT result = 0;
  std::atomic<bool> done{false};
  bool sent = false;
  std::thread worker([&] {
    sent = windows.SendMessage(hwnd, WM_USER, 21, 0, 5000, &result);
    done = true;
  });
  desktop.loop().RunUntil([&] { return handledOn != std::thread::id(); }, 5000);
  worker.join();
  EXPECT_TRUE(sent);
  EXPECT_EQ(result, 42);
  EXPECT_EQ(handledOn, std::this_thread::get_id());
}

}  // namespace
}  // namespace hu
