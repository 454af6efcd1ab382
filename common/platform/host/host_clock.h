#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "common/platform/clock.h"

namespace hu {

// Unit time on the host: real time divided by the unit's time scale, so a
// scale of 0.01 makes Sleep(3000) last 30 ms and the tick count run 100 times
// faster. Local time is the host's own, unscaled.
class HostClock : public Clock {
 public:
  // Scales that are not positive mean real time.
  explicit HostClock(double timeScale = 1.0);

  double timeScale() const { return scale_; }
  // Real duration of `ms` of unit time (INFINITE stays unbounded in callers).
  std::chrono::nanoseconds RealDuration(uint32_t ms) const;

  uint32_t GetTickCount() override;
  void Sleep(uint32_t ms) override;
  SystemTime GetLocalTime() override;
  bool WaitFor(uint32_t ms, const std::function<bool()>& ready) override;
  void Notify() override;

 private:
  double scale_;
  std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  std::condition_variable cv_;
  uint64_t generation_ = 0;
};

}  // namespace hu
