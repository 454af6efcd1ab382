#include "common/platform/host/host_clock.h"

#include <sys/time.h>

#include <ctime>
#include <thread>

#include "common/platform/sync.h"

namespace hu {
namespace {
// The device's tick count is small after boot; so is ours after start.
constexpr uint32_t kStartTick = 1000;
}  // namespace

HostClock::HostClock(double timeScale)
    : scale_(timeScale > 0 ? timeScale : 1.0), start_(std::chrono::steady_clock::now()) {}

std::chrono::nanoseconds HostClock::RealDuration(uint32_t ms) const {
  return std::chrono::nanoseconds(static_cast<int64_t>(static_cast<double>(ms) * 1e6 * scale_));
}

uint32_t HostClock::GetTickCount() {
  auto real = std::chrono::steady_clock::now() - start_;
  double unitMs = std::chrono::duration<double, std::milli>(real).count() / scale_;
  // Wraps like the device's 32-bit counter.
  return kStartTick + static_cast<uint32_t>(static_cast<uint64_t>(unitMs));
}

void HostClock::Sleep(uint32_t ms) {
  if (ms == INFINITE) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  std::this_thread::sleep_for(RealDuration(ms));
}

SystemTime HostClock::GetLocalTime() {
  struct timeval tv {};
  ::gettimeofday(&tv, nullptr);
  struct tm tm {};
  time_t secs = tv.tv_sec;
  ::localtime_r(&secs, &tm);
  SystemTime t;
  t.year = static_cast<uint16_t>(tm.tm_year + 1900);
  t.month = static_cast<uint16_t>(tm.tm_mon + 1);
  t.dayOfWeek = static_cast<uint16_t>(tm.tm_wday);
  t.day = static_cast<uint16_t>(tm.tm_mday);
  t.hour = static_cast<uint16_t>(tm.tm_hour);
  t.minute = static_cast<uint16_t>(tm.tm_min);
  t.second = static_cast<uint16_t>(tm.tm_sec);
  t.milliseconds = static_cast<uint16_t>(tv.tv_usec / 1000);
  return t;
}

bool HostClock::WaitFor(uint32_t ms, const std::function<bool()>& ready) {
  const bool forever = ms == INFINITE;
  const auto deadline = std::chrono::steady_clock::now() + (forever ? std::chrono::nanoseconds(0) : RealDuration(ms));
  for (;;) {
    uint64_t seen;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      seen = generation_;
    }
    // `ready` runs unlocked: it may take locks that a notifier holds.
    if (ready()) return true;
    std::unique_lock<std::mutex> lock(mutex_);
    if (forever) {
      cv_.wait(lock, [&] { return generation_ != seen; });
    } else if (!cv_.wait_until(lock, deadline, [&] { return generation_ != seen; })) {
      lock.unlock();
      return ready();
    }
  }
}

void HostClock::Notify() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++generation_;
  }
  cv_.notify_all();
}

}  // namespace hu
