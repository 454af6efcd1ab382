#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "common/platform/clock.h"
#include "common/platform/windows.h"

namespace hu {

// Whatever handles the messages of one window (a Dialog).
class MessageTarget {
 public:
  virtual ~MessageTarget() = default;
  virtual LRESULT HandleMessage(uint32_t message, WPARAM wParam, LPARAM lParam) = 0;
};

// Something that runs between loop iterations on the UI thread, never inside a
// handler of the same loop level (front ends, scripts). Step returns how long
// the loop may wait before calling again; INFINITE (0xFFFFFFFF) for "until
// something happens".
class LoopAgent {
 public:
  virtual ~LoopAgent() = default;
  virtual uint32_t Step() = 0;
};

// The message loop of one UI thread, timed by a hu::Clock.
//
// Each iteration runs the agents, then dispatches one item: first the oldest
// posted message or task, else the window timer that is most overdue (ties in
// arming order). A timer is re-armed when it is taken and again from the end of
// its handler, so a slow handler delays later ticks instead of causing a burst.
// When nothing is ready the loop waits on the clock until the next timer, an
// agent's wish or the run's end; with the manual clock of the tests that wait
// advances virtual time, so runs are instant and deterministic.
//
// Loops nest (modal dialogs): every running level dispatches everything.
// Posting, timers and Quit are safe from any thread; the rest belongs to the
// thread that created the loop. A loop with nothing due at all and no end
// still waits in steps of a minute: on the manual clock that means virtual
// time runs on, so tests give their runs an end (RunFor, RunUntil, a script
// that closes the dialog).
class EventLoop : public MessageSink {
 public:
  explicit EventLoop(Clock& clock);
  ~EventLoop() override;
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  Clock& clock() { return clock_; }
  bool IsLoopThread() const { return std::this_thread::get_id() == thread_; }

  // Windows whose messages this loop dispatches (UI thread).
  void AddTarget(HWND hwnd, MessageTarget* target);
  // Also kills the window's timers and drops its queued messages when they come up.
  void RemoveTarget(HWND hwnd);
  // Calls the window's handler now (UI thread); 0 for an unknown window.
  LRESULT Dispatch(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam);

  // Any thread. WM_QUIT ends every running level (Quit(wParam)).
  void Post(const WindowMessage& message);
  void Post(std::function<void()> task);

  // Any thread. A period of 0 is taken as 1 ms. Setting an armed timer again
  // restarts it with the new period.
  bool SetTimer(HWND hwnd, uint32_t id, uint32_t periodMs);
  bool KillTimer(HWND hwnd, uint32_t id);
  bool HasTimer(HWND hwnd, uint32_t id) const;

  // Any thread: every running level returns as soon as its handler does.
  void Quit(int exitCode);
  bool IsQuitting() const { return quitting_.load(); }
  int QuitCode() const { return quitCode_.load(); }
  void ResetQuit() { quitting_.store(false); }

  // MessageSink (any thread). DeliverSync on the UI thread calls the handler
  // directly; from another thread it queues the call and waits, in unit time.
  void Deliver(const WindowMessage& message) override;
  bool DeliverSync(const WindowMessage& message, uint32_t timeoutMs, LRESULT* result) override;

  void AddAgent(LoopAgent* agent);
  void RemoveAgent(LoopAgent* agent);

  // Running (UI thread).
  // Runs until keepRunning() is false or Quit.
  void RunWhile(const std::function<bool()>& keepRunning);
  // Runs until done() or timeoutMs of unit time have passed; returns done().
  bool RunUntil(const std::function<bool()>& done, uint32_t timeoutMs);
  // Runs for `ms` of unit time, including what falls due at its end.
  void RunFor(uint32_t ms);
  // Dispatches at most one ready item without waiting; false when none was ready.
  bool RunOnce();
  // Number of running (nested) levels.
  int Depth() const { return depth_; }

 private:
  struct SyncCall {
    WindowMessage message;
    std::atomic<bool> done{false};
    std::atomic<bool> abandoned{false};
    LRESULT result = 0;
  };
  struct QueueItem {
    WindowMessage message;
    std::function<void()> task;
    std::shared_ptr<SyncCall> sync;
  };
  struct Timer {
    uint32_t period = 0;
    uint32_t due = 0;
    uint64_t order = 0;       // arming order, breaks ties between equal due times
    uint64_t generation = 0;  // changes when the timer is set again
  };
  using TimerKey = std::pair<HWND, uint32_t>;

  void Pump(const std::function<bool()>& keepRunning, bool hasDeadline, uint32_t deadline);
  uint32_t RunAgents();
  bool DispatchQueued();
  bool DispatchTimer();
  bool HasQueued() const;
  uint32_t NextTimerWait(uint32_t now) const;
  void Execute(QueueItem& item);

  Clock& clock_;
  std::thread::id thread_;
  mutable std::mutex mutex_;  // queue_ and timers_
  std::deque<QueueItem> queue_;
  std::map<TimerKey, Timer> timers_;
  uint64_t nextOrder_ = 1;
  std::atomic<size_t> queued_{0};
  std::atomic<bool> quitting_{false};
  std::atomic<int> quitCode_{0};
  std::map<HWND, MessageTarget*> targets_;
  std::vector<LoopAgent*> agents_;
  int depth_ = 0;
};

}  // namespace hu
