#pragma once
#include <cstdint>
#include <mutex>

#include "common/platform/windows.h"

namespace hu {

class EventLoop;

// A window timer that counts its ticks: armed after a frame goes out, it
// answers each tick with "retry" until the limit, then kills itself. The
// sender arms it, the reader cancels it and the UI thread ticks it, so its
// state is guarded.
class CRetryTimer {
 public:
  static constexpr uint32_t kTimerId = 1324;

  enum class TickResult {
    Retry,      // below the limit: send again
    Exhausted,  // the limit was reached; the timer is gone
    Stale,      // a tick of a timer that is no longer armed (or of another id)
  };

  // `window` 0 (no dialog) arms nothing.
  CRetryTimer(EventLoop& loop, HWND window, uint32_t id = kTimerId);
  ~CRetryTimer();
  CRetryTimer(const CRetryTimer&) = delete;
  CRetryTimer& operator=(const CRetryTimer&) = delete;

  // (Re)starts the window timer with `periodMs`; the count starts at 0.
  void Arm(uint32_t periodMs, uint32_t limit);
  // Kills the timer when armed.
  void Cancel();
  TickResult Tick(uint32_t id);

  bool IsArmed() const;
  uint32_t TickCount() const;
  uint32_t Id() const { return m_dwId; }

 private:
  EventLoop& m_loop;
  HWND m_hWnd;
  uint32_t m_dwId;
  mutable std::mutex m_mutex;
  uint32_t m_dwPeriod = 0;
  uint32_t m_dwLimit = 0;
  uint32_t m_dwCount = 0;
  bool m_bArmed = false;
};

}  // namespace hu
