#include "mcuflash/retry_timer.h"

#include "common/ui/event_loop.h"

namespace hu {

CRetryTimer::CRetryTimer(EventLoop& loop, HWND window, uint32_t id) : m_loop(loop), m_hWnd(window), m_dwId(id) {}

CRetryTimer::~CRetryTimer() {
  Cancel();
}

void CRetryTimer::Arm(uint32_t periodMs, uint32_t limit) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_hWnd == 0) return;
  if (m_bArmed) m_loop.KillTimer(m_hWnd, m_dwId);
  m_bArmed = m_loop.SetTimer(m_hWnd, m_dwId, periodMs);
  m_dwPeriod = periodMs;
  m_dwCount = 0;
  m_dwLimit = limit;
}

void CRetryTimer::Cancel() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_hWnd != 0 && m_bArmed) m_loop.KillTimer(m_hWnd, m_dwId);
  m_bArmed = false;
}

CRetryTimer::TickResult CRetryTimer::Tick(uint32_t id) {
  std::lock_guard<std::mutex> lock(m_mutex);
  // A tick that was already queued when the timer was cancelled must not
  // restart a finished exchange.
  if (!m_bArmed || id != m_dwId) return TickResult::Stale;
  ++m_dwCount;
  if (m_dwCount < m_dwLimit) return TickResult::Retry;
  m_loop.KillTimer(m_hWnd, m_dwId);
  m_bArmed = false;
  return TickResult::Exhausted;
}

bool CRetryTimer::IsArmed() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bArmed;
}

uint32_t CRetryTimer::TickCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_dwCount;
}

}  // namespace hu
