#include "common/platform/host/host_sync.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "common/platform/errors.h"
#include "common/platform/host/host_clock.h"
#include "tests/host/temp_dir.h"

namespace hu {
namespace {

using Ms = std::chrono::milliseconds;

double RealMs(const std::function<void()>& f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// One byte through a pipe: the other process has reached a point.
struct Pipe {
  int fd[2] = {-1, -1};
  Pipe() { EXPECT_EQ(::pipe(fd), 0); }
  ~Pipe() {
    ::close(fd[0]);
    ::close(fd[1]);
  }
  void Send() { EXPECT_EQ(::write(fd[1], "x", 1), 1); }
  bool Receive() {
    char c;
    return ::read(fd[0], &c, 1) == 1;
  }
};

class HostSyncTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.ok()); }
  std::string Run() const { return dir_ / "run"; }
  TempDir dir_;
  HostClock clock_{0.01};
};

TEST_F(HostSyncTest, SecondHolderSeesTheMutex) {
  HostSync sync(Run(), clock_);
  auto first = sync.CreateMutex("Sysmend_Single_Instance");
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(first->AlreadyExisted());
  auto second = sync.CreateMutex("Sysmend_Single_Instance");
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(second->AlreadyExisted());
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(sync.CreateMutex("sysmend_single_instance")->AlreadyExisted()) << "names keep their case";
  first.reset();
  EXPECT_TRUE(sync.CreateMutex("Sysmend_Single_Instance")->AlreadyExisted()) << "the second handle still holds it";
  second.reset();
  EXPECT_FALSE(sync.CreateMutex("Sysmend_Single_Instance")->AlreadyExisted());
}

TEST_F(HostSyncTest, MutexOfACrashedProcessIsGone) {
  Pipe ready;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HostClock clock;
    HostSync sync(Run(), clock);
    auto held = sync.CreateMutex("Mcuflash\\Instance");
    if (::write(ready.fd[1], held && !held->AlreadyExisted() ? "1" : "0", 1) != 1) _exit(2);
    for (;;) ::pause();  // until killed, without releasing anything
  }
  char c = 0;
  ASSERT_EQ(::read(ready.fd[0], &c, 1), 1);
  EXPECT_EQ(c, '1');
  HostSync sync(Run(), clock_);
  EXPECT_TRUE(sync.CreateMutex("Mcuflash\\Instance")->AlreadyExisted());
  ::kill(child, SIGKILL);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  EXPECT_FALSE(sync.CreateMutex("Mcuflash\\Instance")->AlreadyExisted());
}

TEST_F(HostSyncTest, PrivateEventsResetAsAsked) {
  HostSync sync(Run(), clock_);
  auto manual = sync.CreateEvent(true, true);
  EXPECT_EQ(manual->Wait(0), WAIT_OBJECT_0);
  EXPECT_EQ(manual->Wait(0), WAIT_OBJECT_0);
  manual->Reset();
  EXPECT_EQ(manual->Wait(0), WAIT_TIMEOUT);
  auto automatic = sync.CreateEvent(false, false);
  automatic->Set();
  EXPECT_EQ(automatic->Wait(0), WAIT_OBJECT_0);
  EXPECT_EQ(automatic->Wait(0), WAIT_TIMEOUT);
  // A timeout counts unit time: 2000 ms at scale 0.01 is about 20 ms.
  double waited = RealMs([&] { EXPECT_EQ(automatic->Wait(2000), WAIT_TIMEOUT); });
  EXPECT_GE(waited, 15);
  EXPECT_LT(waited, 1000);
  std::thread setter([&] {
    std::this_thread::sleep_for(Ms(5));
    automatic->Set();
  });
  EXPECT_EQ(automatic->Wait(INFINITE), WAIT_OBJECT_0);
  setter.join();
}

TEST_F(HostSyncTest, NamedEventAcrossProcesses) {
  HostSync sync(Run(), clock_);
  auto exitEvent = sync.CreateEvent(false, false, "Exit");
  ASSERT_NE(exitEvent, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  Pipe go;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HostClock clock;
    HostSync own(Run(), clock);
    auto e = own.CreateEvent(true, true, "Exit");  // opens the existing one: its flags stay
    bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (!go.Receive()) _exit(2);
    e->Set();
    _exit(existed ? 0 : 1);
  }
  EXPECT_EQ(exitEvent->Wait(0), WAIT_TIMEOUT) << "the child's initial state does not apply";
  go.Send();
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(exitEvent->Wait(100000), WAIT_OBJECT_0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, Ms(500));
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(exitEvent->Wait(0), WAIT_TIMEOUT) << "auto reset";
}

TEST_F(HostSyncTest, SignalFromOutsideAndLifetime) {
  HostSync sync(Run(), clock_);
  std::string error;
  EXPECT_FALSE(SignalNamedEvent(Run(), "Exit", &error));
  EXPECT_NE(error.find("Exit"), std::string::npos);
  {
    auto e = sync.CreateEvent(true, false, "Exit");
    std::thread waiter([&] { EXPECT_EQ(e->Wait(INFINITE), WAIT_OBJECT_0); });
    std::this_thread::sleep_for(Ms(5));
    EXPECT_TRUE(SignalNamedEvent(Run(), "Exit", &error)) << error;
    waiter.join();
    EXPECT_EQ(e->Wait(0), WAIT_OBJECT_0) << "manual reset stays set";
  }
  // With its last handle gone the event is gone: a new one starts as created.
  auto fresh = sync.CreateEvent(true, false, "Exit");
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(fresh->Wait(0), WAIT_TIMEOUT);
  fresh.reset();
  EXPECT_FALSE(SignalNamedEvent(Run(), "Exit", &error));
}

TEST(HostClockTest, ScaleShortensSleepsAndSpeedsTicks) {
  HostClock clock(0.01);
  uint32_t before = clock.GetTickCount();
  double real = RealMs([&] { clock.Sleep(3000); });
  uint32_t after = clock.GetTickCount();
  EXPECT_GE(real, 25);
  EXPECT_LT(real, 1000);
  EXPECT_GE(after - before, 3000u);
  EXPECT_LT(after - before, 3000u + static_cast<uint32_t>(real * 100) + 1000);

  std::atomic<bool> flag{false};
  std::thread notifier([&] {
    std::this_thread::sleep_for(Ms(5));
    flag = true;
    clock.Notify();
  });
  EXPECT_TRUE(clock.WaitFor(INFINITE, [&] { return flag.load(); }));
  notifier.join();
  EXPECT_FALSE(clock.WaitFor(500, [] { return false; }));

  SystemTime t = clock.GetLocalTime();
  EXPECT_GE(t.year, 2024);
  EXPECT_TRUE(t.month >= 1 && t.month <= 12);
  EXPECT_LE(t.dayOfWeek, 6);
  EXPECT_EQ(HostClock(0).timeScale(), 1.0) << "no scale means real time";
}

}  // namespace
}  // namespace hu
