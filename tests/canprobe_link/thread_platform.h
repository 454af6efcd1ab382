#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/platform/clock.h"
#include "common/platform/sync.h"

namespace hu {

// Unit time 100 times faster than real time, for tests with real threads;
// records the pauses it is asked for.
class FastClock : public Clock {
 public:
  static constexpr double kScale = 0.01;

  uint32_t GetTickCount() override {
    const auto real = std::chrono::steady_clock::now() - start_;
    return 1000 + static_cast<uint32_t>(std::chrono::duration<double, std::milli>(real).count() / kScale);
  }
  void Sleep(uint32_t ms) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sleeps_.push_back(ms);
    }
    std::this_thread::sleep_for(Real(ms));
  }
  SystemTime GetLocalTime() override { return SystemTime{}; }
  bool WaitFor(uint32_t ms, const std::function<bool()>& ready) override {
    const auto deadline = std::chrono::steady_clock::now() + Real(ms);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      const uint64_t seen = generation_;
      lock.unlock();
      if (ready()) return true;
      lock.lock();
      if (!cv_.wait_until(lock, deadline, [&] { return generation_ != seen; })) {
        lock.unlock();
        return ready();
      }
    }
  }
  void Notify() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++generation_;
    cv_.notify_all();
  }

  std::vector<uint32_t> Sleeps() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleeps_;
  }
  void ClearSleeps() {
    std::lock_guard<std::mutex> lock(mutex_);
    sleeps_.clear();
  }

 private:
  static std::chrono::nanoseconds Real(uint32_t ms) {
    if (ms == INFINITE) return std::chrono::hours(24);
    return std::chrono::nanoseconds(static_cast<int64_t>(ms * 1e6 * kScale));
  }

  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::mutex mutex_;
  std::condition_variable cv_;
  uint64_t generation_ = 0;
  std::vector<uint32_t> sleeps_;
};

// Private events that block for real (named objects are not needed here).
class ThreadSync : public Sync {
 public:
  std::unique_ptr<NamedMutex> CreateMutex(const std::string&) override { return nullptr; }
  std::unique_ptr<Event> CreateEvent(bool manualReset, bool initialState, const std::string& = "") override {
    return std::make_unique<ThreadEvent>(manualReset, initialState);
  }

 private:
  class ThreadEvent : public Event {
   public:
    ThreadEvent(bool manualReset, bool signalled) : manual_(manualReset), signalled_(signalled) {}
    void Set() override {
      std::lock_guard<std::mutex> lock(mutex_);
      signalled_ = true;
      cv_.notify_all();
    }
    void Reset() override {
      std::lock_guard<std::mutex> lock(mutex_);
      signalled_ = false;
    }
    uint32_t Wait(uint32_t timeoutMs) override {
      std::unique_lock<std::mutex> lock(mutex_);
      auto ready = [this] { return signalled_; };
      if (timeoutMs == INFINITE) {
        cv_.wait(lock, ready);
      } else if (!cv_.wait_for(lock, std::chrono::nanoseconds(static_cast<int64_t>(timeoutMs * 1e6 * FastClock::kScale)),
                               ready)) {
        return WAIT_TIMEOUT;
      }
      if (!manual_) signalled_ = false;
      return WAIT_OBJECT_0;
    }

   private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool manual_;
    bool signalled_;
  };
};

}  // namespace hu
