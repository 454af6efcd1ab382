// Windows shared by the processes of a unit. Two HostWindows of one test
// process reach each other's windows through the sockets as two programs
// would; a real second program checks the whole way.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/platform/errors.h"
#include "common/platform/host/host_files.h"
#include "common/platform/host/host_processes.h"
#include "common/platform/host/host_windows.h"
#include "common/platform/host/run_records.h"
#include "tests/host_proc/proc_test_support.h"

namespace hu {
namespace {

constexpr uint32_t kInvalidWindowHandle = 1400;

// Stands in for an owner's event loop: records posts and answers sends
// with wParam + lParam, after `delayMs`, or not at all.
class TestSink : public MessageSink {
 public:
  void Deliver(const WindowMessage& msg) override {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back(msg);
    cv_.notify_all();
  }
  bool DeliverSync(const WindowMessage& msg, uint32_t, LRESULT* result) override {
    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    std::lock_guard<std::mutex> lock(mutex_);
    sent_.push_back(msg);
    if (!answer) return false;
    *result = static_cast<LRESULT>(msg.wParam) + msg.lParam;
    return true;
  }
  bool WaitPosted(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(5), [&] { return posted_.size() >= count; });
  }
  std::vector<WindowMessage> Posted() {
    std::lock_guard<std::mutex> lock(mutex_);
    return posted_;
  }
  std::vector<WindowMessage> Sent() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
  }

  int delayMs = 0;
  bool answer = true;

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<WindowMessage> posted_;
  std::vector<WindowMessage> sent_;
};

std::string Hex(HWND h) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(h));
  return buf;
}

class HostWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    ASSERT_TRUE(MakeTestUnit(Unit()));
    a_ = std::make_unique<HostWindows>(Run(), clock_, 100);
    b_ = std::make_unique<HostWindows>(Run(), clock_, 101);
  }
  std::string Unit() const { return dir_ / "u"; }
  std::string Run() const { return Unit() + "/run"; }
  bool Exists(const std::string& path) const { return ::access(path.c_str(), F_OK) == 0; }

  TempDir dir_;
  HostClock clock_{1.0};
  std::unique_ptr<HostWindows> a_, b_;
};

TEST_F(HostWindowsTest, WindowsAreFoundByClassAndTitleIgnoringCase) {
  TestSink sink;
  HWND arbiter = a_->CreateWindow("SERIAL_WINDOW_CLASS_NAME", "SERIAL_WINDOW_NAME", &sink);
  ASSERT_NE(arbiter, 0u);
  EXPECT_TRUE(Exists(Run() + "/windows/" + Hex(arbiter) + ".win"));
  EXPECT_TRUE(Exists(Run() + "/windows/" + Hex(arbiter) + ".sock"));
  EXPECT_EQ(b_->FindWindow("serial_window_class_name", "Serial_Window_Name"), arbiter);
  EXPECT_EQ(b_->FindWindow("", "SERIAL_WINDOW_NAME"), arbiter);
  EXPECT_EQ(b_->FindWindow("SERIAL_WINDOW_CLASS_NAME", ""), arbiter);
  EXPECT_EQ(b_->FindWindow("SERIAL_WINDOW_CLASS_NAME", "other"), 0u);

  HWND newer = a_->CreateWindow("SERIAL_WINDOW_CLASS_NAME", "second", &sink);
  EXPECT_GT(newer, arbiter);
  EXPECT_EQ(b_->FindWindow("SERIAL_WINDOW_CLASS_NAME", ""), newer) << "the newest match";

  EXPECT_TRUE(a_->SetWindowTitle(arbiter, "Startdeck_Window"));
  EXPECT_EQ(b_->FindWindow("", "startdeck_window"), arbiter);
  EXPECT_EQ(b_->FindWindow("", "SERIAL_WINDOW_NAME"), 0u);
  EXPECT_FALSE(b_->SetWindowTitle(arbiter, "taken")) << "only the owner renames";
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

  a_->DestroyWindow(arbiter);
  EXPECT_EQ(b_->FindWindow("", "Startdeck_Window"), 0u);
  EXPECT_FALSE(Exists(Run() + "/windows/" + Hex(arbiter) + ".win"));
  EXPECT_FALSE(Exists(Run() + "/windows/" + Hex(arbiter) + ".sock"));
  b_->DestroyWindow(newer);  // not b's: nothing happens
  EXPECT_EQ(b_->FindWindow("", "second"), newer);
}

TEST_F(HostWindowsTest, PostedAndSentMessagesReachTheOwnersSink) {
  TestSink sink;
  HWND hwnd = a_->CreateWindow("Cls", "Title", &sink);
  ASSERT_NE(hwnd, 0u);
  ASSERT_TRUE(b_->PostMessage(hwnd, WM_USER + 1, 7, -3));
  ASSERT_TRUE(a_->PostMessage(hwnd, WM_USER + 2, 8, 9)) << "the owner's own post";
  ASSERT_TRUE(sink.WaitPosted(2));
  std::vector<WindowMessage> posted = sink.Posted();
  bool remoteSeen = false;
  for (const WindowMessage& m : posted) {
    EXPECT_EQ(m.hwnd, hwnd);
    if (m.message == WM_USER + 1) {
      remoteSeen = true;
      EXPECT_EQ(m.wParam, 7u);
      EXPECT_EQ(m.lParam, -3);
    }
  }
  EXPECT_TRUE(remoteSeen);

  LRESULT result = 0;
  ASSERT_TRUE(b_->SendMessage(hwnd, 0xC123, 2, 40, 1000, &result));
  EXPECT_EQ(result, 42);
  ASSERT_TRUE(a_->SendMessage(hwnd, 0xC123, 5, 5, 1000, &result));
  EXPECT_EQ(result, 10);
  ASSERT_EQ(sink.Sent().size(), 2u);
  EXPECT_EQ(sink.Sent()[0].hwnd, hwnd);

  a_->DestroyWindow(hwnd);
  SetLastError(0);
  EXPECT_FALSE(b_->PostMessage(hwnd, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), kInvalidWindowHandle);
  EXPECT_FALSE(a_->SendMessage(hwnd, WM_USER, 0, 0, 100, &result));
  EXPECT_EQ(GetLastError(), kInvalidWindowHandle);
}

TEST_F(HostWindowsTest, SendMessageGivesUpAfterItsTimeout) {
  TestSink slow;
  slow.delayMs = 250;
  HWND hwnd = a_->CreateWindow("Slow", "", &slow);
  LRESULT result = 0;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(b_->SendMessage(hwnd, WM_USER, 1, 1, 50, &result));
  EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200)) << "not the late answer";

  TestSink refusing;
  refusing.answer = false;
  HWND other = a_->CreateWindow("Refusing", "", &refusing);
  EXPECT_FALSE(b_->SendMessage(other, WM_USER, 1, 1, 1000, &result));
  EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
  // Destroying a window whose sink is still busy with a send does not wait for it.
  start = std::chrono::steady_clock::now();
  a_->DestroyWindow(hwnd);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  // The late answer still runs on its own thread; the sink must outlive it.
  EXPECT_TRUE(WaitUntil([&] { return slow.Sent().size() == 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

TEST_F(HostWindowsTest, RegisteredMessagesAndTheForegroundAreShared) {
  uint32_t op = a_->RegisterWindowMessage("WM_MCU_COM_OP");
  EXPECT_GE(op, 0xC000u);
  EXPECT_EQ(b_->RegisterWindowMessage("wm_mcu_com_op"), op);
  uint32_t other = b_->RegisterWindowMessage("{D39CDAEE-94B6-4a7e-BE32-B0AED1161B9C}");
  EXPECT_NE(other, op);
  EXPECT_GE(other, 0xC000u);
  HostWindows fresh(Run(), clock_, 102);
  EXPECT_EQ(fresh.RegisterWindowMessage("{d39cdaee-94b6-4A7E-be32-b0aed1161b9c}"), other);
  EXPECT_EQ(fresh.RegisterWindowMessage(""), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  TestSink sink;
  HWND hwnd = a_->CreateWindow("Main", "Main", &sink);
  EXPECT_EQ(b_->GetForegroundWindow(), 0u);
  EXPECT_TRUE(a_->SetForegroundWindow(hwnd));
  EXPECT_EQ(b_->GetForegroundWindow(), hwnd);
  EXPECT_FALSE(b_->SetForegroundWindow(hwnd + 0x1000));
  a_->DestroyWindow(hwnd);
  EXPECT_EQ(b_->GetForegroundWindow(), 0u);
}

TEST_F(HostWindowsTest, AUnitDeepInTheFileSystemUsesAbstractSockets) {
  // Deeper than a socket address can name.
  std::string run = dir_ / (std::string(120, 'd') + "/run");
  ASSERT_TRUE(MakeRunDirs(run));
  HostWindows owner(run, clock_, 1), other(run, clock_, 2);
  TestSink sink;
  HWND hwnd = owner.CreateWindow("Deep", "Deep", &sink);
  ASSERT_NE(hwnd, 0u);
  EXPECT_FALSE(Exists(run + "/windows/" + Hex(hwnd) + ".sock"));
  ASSERT_EQ(other.FindWindow("deep", "deep"), hwnd);
  ASSERT_TRUE(other.PostMessage(hwnd, WM_USER, 1, 2));
  EXPECT_TRUE(sink.WaitPosted(1));
  LRESULT result = 0;
  ASSERT_TRUE(other.SendMessage(hwnd, WM_USER, 20, 22, 1000, &result));
  EXPECT_EQ(result, 42);
}

TEST_F(HostWindowsTest, AnotherProgramsWindowAnswersAndVanishesWithIt) {
  WriteHostFileMode(Unit() + "/fs/Peer.exe", std::string("#!/bin/sh\nexec ") + ShellQuote(HU_PROC_PEER) + " \"$@\"\n",
                    0755);
  HostFiles files(Unit() + "/fs");
  HostProcessesConfig config;
  config.unitDir = Unit();
  config.modulePath = "\\StorageCard\\Mcuflash\\Mcuflash.exe";
  config.hostPath = [&files](const std::string& p) { return files.HostPath(p); };
  HostProcesses processes(std::move(config));
  uint32_t pid = 0;
  ASSERT_TRUE(processes.CreateProcess("\\Peer.exe", "window SERIAL_WINDOW_CLASS_NAME SERIAL_WINDOW_NAME", &pid));
  HWND hwnd = 0;
  ASSERT_TRUE(WaitUntil([&] { return (hwnd = b_->FindWindow("SERIAL_WINDOW_CLASS_NAME", "SERIAL_WINDOW_NAME")) != 0; }));

  uint32_t add = b_->RegisterWindowMessage("HU_PEER_ADD");
  LRESULT result = 0;
  ASSERT_TRUE(b_->SendMessage(hwnd, WM_USER + 3, 0, 0, 5000, &result));
  EXPECT_EQ(result, static_cast<LRESULT>(add)) << "one name, one id in both programs";
  ASSERT_TRUE(b_->PostMessage(hwnd, WM_USER + 1, 42, 0));
  ASSERT_TRUE(b_->SendMessage(hwnd, WM_USER + 2, 0, 0, 5000, &result));
  EXPECT_EQ(result, 42) << "the post was handled before the send behind it";
  ASSERT_TRUE(b_->SendMessage(hwnd, add, 2, 3, 5000, &result));
  EXPECT_EQ(result, 5);

  // Killed, it leaves its entry behind; finders and senders ignore it.
  ProcessRecord record;
  ASSERT_TRUE(processes.table().Read(pid, &record));
  ASSERT_EQ(::kill(record.hostPid, SIGKILL), 0);
  ASSERT_TRUE(WaitUntil([&] { return !HostProcessAlive(record.hostPid, record.hostStart); }));
  EXPECT_EQ(b_->FindWindow("SERIAL_WINDOW_CLASS_NAME", ""), 0u);
  EXPECT_FALSE(Exists(Run() + "/windows/" + Hex(hwnd) + ".win"));
  EXPECT_FALSE(b_->PostMessage(hwnd, WM_USER + 1, 1, 0));
  EXPECT_EQ(GetLastError(), kInvalidWindowHandle);
}

}  // namespace
}  // namespace hu
