#pragma once
#include <cstdint>
#include <functional>

namespace hu {

struct SystemTime {
  uint16_t year = 0, month = 0, dayOfWeek = 0, day = 0;
  uint16_t hour = 0, minute = 0, second = 0, milliseconds = 0;
};

// Time as the unit sees it: milliseconds of unit time, which the unit's time
// scale may shorten against real time. The manual clock of the tests advances
// only when something sleeps or waits.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t GetTickCount() = 0;
  virtual void Sleep(uint32_t ms) = 0;
  virtual SystemTime GetLocalTime() = 0;
  // Waits up to `ms` of unit time until `ready()` is true; `ready` is checked
  // again after every Notify(). Returns the last value of ready().
  virtual bool WaitFor(uint32_t ms, const std::function<bool()>& ready) = 0;
  // Wakes WaitFor callers so they re-check their condition (any thread).
  virtual void Notify() = 0;
};

}  // namespace hu
