#pragma once
#include <atomic>
#include <cstdint>

#include "common/platform/clock.h"

namespace hu {

// Virtual time for tests: Sleep and WaitFor advance it at once, so logic that
// pauses or times out runs instantly and deterministically.
class ManualClock : public Clock {
 public:
  explicit ManualClock(uint32_t startTick = 1000) : now_(startTick) {}

  uint32_t GetTickCount() override { return now_.load(); }
  void Sleep(uint32_t ms) override;
  SystemTime GetLocalTime() override;
  bool WaitFor(uint32_t ms, const std::function<bool()>& ready) override;
  void Notify() override {}

  void Advance(uint32_t ms) { now_.fetch_add(ms); }
  void SetLocalTime(const SystemTime& t) { base_ = t; }
  // Total of all Sleep calls, for checking pauses.
  uint64_t SleptMs() const { return slept_.load(); }
  uint32_t SleepCalls() const { return sleepCalls_.load(); }

 private:
  std::atomic<uint32_t> now_;
  std::atomic<uint64_t> slept_{0};
  std::atomic<uint32_t> sleepCalls_{0};
  SystemTime base_{2026, 12, 2, 8, 9, 30, 0, 0};
};

}  // namespace hu
