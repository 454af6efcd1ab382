#include "common/ui/event_loop.h"

#include <algorithm>
#include <exception>

#include "common/platform/sync.h"
#include "common/platform/trace.h"

namespace hu {

namespace {
// Even with nothing due the loop looks around now and then; a real clock wakes
// it earlier through Notify.
constexpr uint32_t kMaxIdleWaitMs = 60000;

int32_t Diff(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b); }
}  // namespace

EventLoop::EventLoop(Clock& clock) : clock_(clock), thread_(std::this_thread::get_id()) {}

EventLoop::~EventLoop() = default;

void EventLoop::AddTarget(HWND hwnd, MessageTarget* target) {
  if (hwnd == 0 || target == nullptr) return;
  targets_[hwnd] = target;
}

void EventLoop::RemoveTarget(HWND hwnd) {
  targets_.erase(hwnd);
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = timers_.begin(); it != timers_.end();) {
    it = it->first.first == hwnd ? timers_.erase(it) : std::next(it);
  }
}

LRESULT EventLoop::Dispatch(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam) {
  auto it = targets_.find(hwnd);
  if (it == targets_.end()) return 0;
  try {
    return it->second->HandleMessage(message, wParam, lParam);
  } catch (const std::exception& e) {
    Trace("hu::EventLoop::Dispatch message 0x%x of window %llu failed: %s\n", message,
          static_cast<unsigned long long>(hwnd), e.what());
  } catch (...) {
    Trace("hu::EventLoop::Dispatch message 0x%x of window %llu failed\n", message,
          static_cast<unsigned long long>(hwnd));
  }
  return 0;
}

void EventLoop::Post(const WindowMessage& message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    QueueItem item;
    item.message = message;
    queue_.push_back(std::move(item));
    queued_.store(queue_.size());
  }
  clock_.Notify();
}

void EventLoop::Post(std::function<void()> task) {
  if (!task) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    QueueItem item;
    item.task = std::move(task);
    queue_.push_back(std::move(item));
    queued_.store(queue_.size());
  }
  clock_.Notify();
}

bool EventLoop::SetTimer(HWND hwnd, uint32_t id, uint32_t periodMs) {
  if (hwnd == 0) return false;
  if (periodMs == 0) periodMs = 1;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Timer& timer = timers_[TimerKey(hwnd, id)];
    timer.period = periodMs;
    timer.due = clock_.GetTickCount() + periodMs;
    timer.order = nextOrder_++;
    timer.generation = nextOrder_++;
  }
  clock_.Notify();
  return true;
}

bool EventLoop::KillTimer(HWND hwnd, uint32_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  return timers_.erase(TimerKey(hwnd, id)) > 0;
}

bool EventLoop::HasTimer(HWND hwnd, uint32_t id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timers_.count(TimerKey(hwnd, id)) > 0;
}

void EventLoop::Quit(int exitCode) {
  quitCode_.store(exitCode);
  quitting_.store(true);
  clock_.Notify();
}

void EventLoop::Deliver(const WindowMessage& message) { Post(message); }

bool EventLoop::DeliverSync(const WindowMessage& message, uint32_t timeoutMs, LRESULT* result) {
  if (IsLoopThread()) {
    LRESULT r = Dispatch(message.hwnd, message.message, message.wParam, message.lParam);
    if (result != nullptr) *result = r;
    return true;
  }
  auto call = std::make_shared<SyncCall>();
  call->message = message;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    QueueItem item;
    item.sync = call;
    queue_.push_back(std::move(item));
    queued_.store(queue_.size());
  }
  clock_.Notify();
  clock_.WaitFor(timeoutMs, [&call] { return call->done.load(); });
  call->abandoned.store(true);
  // The loop may have finished just after the wait gave up.
  if (!call->done.load()) {
    Trace("hu::EventLoop::DeliverSync message 0x%x timed out after %u ms\n", message.message, timeoutMs);
    return false;
  }
  if (result != nullptr) *result = call->result;
  return true;
}

void EventLoop::AddAgent(LoopAgent* agent) {
  if (agent != nullptr && std::find(agents_.begin(), agents_.end(), agent) == agents_.end()) {
    agents_.push_back(agent);
  }
}

void EventLoop::RemoveAgent(LoopAgent* agent) {
  agents_.erase(std::remove(agents_.begin(), agents_.end(), agent), agents_.end());
}

uint32_t EventLoop::RunAgents() {
  uint32_t wait = INFINITE;
  std::vector<LoopAgent*> agents = agents_;
  for (LoopAgent* agent : agents) {
    // An agent may have removed another one.
    if (std::find(agents_.begin(), agents_.end(), agent) == agents_.end()) continue;
    try {
      wait = std::min(wait, agent->Step());
    } catch (const std::exception& e) {
      Trace("hu::EventLoop::RunAgents agent failed: %s\n", e.what());
    } catch (...) {
      Trace("hu::EventLoop::RunAgents agent failed\n");
    }
  }
  return wait;
}

bool EventLoop::HasQueued() const { return queued_.load() > 0; }

void EventLoop::Execute(QueueItem& item) {
  if (item.task) {
    try {
      item.task();
    } catch (const std::exception& e) {
      Trace("hu::EventLoop task failed: %s\n", e.what());
    } catch (...) {
      Trace("hu::EventLoop task failed\n");
    }
    return;
  }
  if (item.sync) {
    if (item.sync->abandoned.load()) return;
    const WindowMessage& m = item.sync->message;
    item.sync->result = Dispatch(m.hwnd, m.message, m.wParam, m.lParam);
    item.sync->done.store(true);
    clock_.Notify();
    return;
  }
  if (item.message.message == WM_QUIT) {
    Quit(static_cast<int>(item.message.wParam));
    return;
  }
  Dispatch(item.message.hwnd, item.message.message, item.message.wParam, item.message.lParam);
}

bool EventLoop::DispatchQueued() {
  QueueItem item;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty()) return false;
    item = std::move(queue_.front());
    queue_.pop_front();
    queued_.store(queue_.size());
  }
  Execute(item);
  return true;
}

bool EventLoop::DispatchTimer() {
  uint32_t now = clock_.GetTickCount();
  TimerKey key;
  uint64_t generation = 0;
  uint32_t period = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto best = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
      if (Diff(now, it->second.due) < 0) continue;
      if (best == timers_.end() || Diff(it->second.due, best->second.due) < 0 ||
          (it->second.due == best->second.due && it->second.order < best->second.order)) {
        best = it;
      }
    }
    if (best == timers_.end()) return false;
    key = best->first;
    Timer& timer = best->second;
    generation = timer.generation;
    period = timer.period;
    // Re-armed when taken, so a nested loop inside the handler sees the next tick
    // at its proper time.
    timer.due = now + period;
    timer.order = nextOrder_++;
  }
  Dispatch(key.first, WM_TIMER, key.second, 0);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = timers_.find(key);
    if (it != timers_.end() && it->second.generation == generation) {
      uint32_t fromEnd = clock_.GetTickCount() + period;
      if (Diff(fromEnd, it->second.due) > 0) it->second.due = fromEnd;
    }
  }
  return true;
}

uint32_t EventLoop::NextTimerWait(uint32_t now) const {
  std::lock_guard<std::mutex> lock(mutex_);
  uint32_t wait = INFINITE;
  for (const auto& entry : timers_) {
    int32_t left = Diff(entry.second.due, now);
    wait = std::min(wait, left <= 0 ? 0u : static_cast<uint32_t>(left));
  }
  return wait;
}

void EventLoop::Pump(const std::function<bool()>& keepRunning, bool hasDeadline, uint32_t deadline) {
  ++depth_;
  while (!quitting_.load() && keepRunning()) {
    uint32_t agentWait = RunAgents();
    if (quitting_.load() || !keepRunning()) break;
    if (DispatchQueued() || DispatchTimer()) continue;
    uint32_t now = clock_.GetTickCount();
    uint32_t wait = std::min(agentWait, NextTimerWait(now));
    if (hasDeadline) {
      int32_t left = Diff(deadline, now);
      if (left <= 0) break;
      wait = std::min(wait, static_cast<uint32_t>(left));
    }
    if (wait == 0) continue;
    wait = std::min(wait, kMaxIdleWaitMs);
    clock_.WaitFor(wait, [this] { return queued_.load() > 0 || quitting_.load(); });
  }
  --depth_;
}

void EventLoop::RunWhile(const std::function<bool()>& keepRunning) { Pump(keepRunning, false, 0); }

bool EventLoop::RunUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
  uint32_t deadline = clock_.GetTickCount() + timeoutMs;
  Pump([&done] { return !done(); }, true, deadline);
  return done();
}

void EventLoop::RunFor(uint32_t ms) {
  uint32_t deadline = clock_.GetTickCount() + ms;
  Pump([] { return true; }, true, deadline);
}

bool EventLoop::RunOnce() { return DispatchQueued() || DispatchTimer(); }

}  // namespace hu
