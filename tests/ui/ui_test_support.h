#pragma once
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/platform/clock.h"
#include "common/platform/testing/manual_clock.h"
#include "common/ui/desktop.h"
#include "common/ui/dialog.h"
#include "common/ui/local_windows.h"

namespace hu {

// Real time, for the few tests where another thread must wake the loop.
class RealClock : public Clock {
 public:
  uint32_t GetTickCount() override {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }
  void Sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
  SystemTime GetLocalTime() override { return {}; }
  bool WaitFor(uint32_t ms, const std::function<bool()>& ready) override {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(ms), ready);
  }
  void Notify() override {
    { std::lock_guard<std::mutex> lock(mutex_); }
    cv_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
};

// A dialog whose handlers are set by the test.
class ScriptedDialog : public Dialog {
 public:
  ScriptedDialog(Desktop& desktop, int resourceId, Dialog* parent = nullptr) : Dialog(desktop, resourceId, parent) {}

  std::function<void()> onInit;
  std::function<bool(int)> onCommand;
  std::function<bool(int, int)> onNotify;
  std::function<void(uint32_t)> onTimer;
  std::function<bool(uint32_t, WPARAM, LPARAM)> onMessage;
  std::function<void()> onDestroy;
  std::vector<std::string> log;  // "command 5", "timer 7@1005", "notify 10 -551", ...

  void Answer(LRESULT result) { SetMessageResult(result); }

 protected:
  bool OnInitDialog() override {
    if (onInit) onInit();
    return true;
  }
  bool OnCommand(int id) override {
    log.push_back("command " + std::to_string(id));
    return onCommand ? onCommand(id) : false;
  }
  bool OnNotify(int id, int code) override {
    log.push_back("notify " + std::to_string(id) + " " + std::to_string(code));
    return onNotify ? onNotify(id, code) : false;
  }
  void OnTimer(uint32_t id) override {
    log.push_back("timer " + std::to_string(id) + "@" + std::to_string(GetDesktop().clock().GetTickCount()));
    if (onTimer) onTimer(id);
  }
  bool OnMessage(uint32_t message, WPARAM wParam, LPARAM lParam) override {
    return onMessage ? onMessage(message, wParam, lParam) : false;
  }
  void OnDestroy() override {
    log.push_back("destroy");
    if (onDestroy) onDestroy();
  }
};

// The usual test bench: virtual time starting at 1000, in-process windows.
struct UiBench {
  ManualClock clock{1000};
  LocalWindows windows;
  Desktop desktop{clock, windows, ScreenSize{800, 480}};
  UiBench() { desktop.SetTitleHook(windows.TitleHook()); }
};

}  // namespace hu
