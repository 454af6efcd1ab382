#include "manual_clock.h"

namespace hu {

void ManualClock::Sleep(uint32_t ms) {
  slept_.fetch_add(ms);
  sleepCalls_.fetch_add(1);
  now_.fetch_add(ms);
}

SystemTime ManualClock::GetLocalTime() {
  // Advances the seconds of the base time by the elapsed virtual time, within the day.
  SystemTime t = base_;
  uint32_t secs = t.hour * 3600u + t.minute * 60u + t.second + now_.load() / 1000u;
  secs %= 86400u;
  t.hour = static_cast<uint16_t>(secs / 3600u);
  t.minute = static_cast<uint16_t>((secs / 60u) % 60u);
  t.second = static_cast<uint16_t>(secs % 60u);
  t.milliseconds = static_cast<uint16_t>(now_.load() % 1000u);
  return t;
}

bool ManualClock::WaitFor(uint32_t ms, const std::function<bool()>& ready) {
  if (ready()) return true;
  now_.fetch_add(ms);
  return ready();
}

}  // namespace hu
