#include "mcuflash/worker_thread.h"

#include <chrono>
#include <exception>
#include <system_error>
#include <utility>

#include "common/platform/trace.h"

namespace hu {

CWorkerThread::CWorkerThread(std::string name, Step step)
    : m_strName(std::move(name)), m_step(std::move(step)) {}

CWorkerThread::~CWorkerThread() {
  Stop();
}

bool CWorkerThread::Start() {
  if (m_thread.joinable() || !m_step) return false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bSuspended = true;
    m_bDone = false;
  }
  m_bRunning.store(true);
  try {
    m_thread = std::thread(&CWorkerThread::Body, this);
  } catch (const std::system_error& e) {
    m_bRunning.store(false);
    Trace("CWorkerThread::Start %s CreateThread failed: %s\n", m_strName.c_str(), e.what());
    return false;
  }
  return true;
}

void CWorkerThread::Resume() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bSuspended = false;
  }
  m_cv.notify_all();
}

void CWorkerThread::RequestStop() {
  m_bRunning.store(false);
}

bool CWorkerThread::IsSuspended() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bSuspended;
}

bool CWorkerThread::IsDone() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bDone;
}

void CWorkerThread::Body() {
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait(lock, [this] { return !m_bSuspended; });
  }
  while (m_bRunning.load()) {
    try {
      m_step();
    } catch (const std::exception& e) {
      Trace("CWorkerThread %s step failed: %s\n", m_strName.c_str(), e.what());
    } catch (...) {
      Trace("CWorkerThread %s step failed\n", m_strName.c_str());
    }
  }
  m_nExitCode.store(kExitCode);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bDone = true;
  }
  m_cv.notify_all();
}

void CWorkerThread::Stop(const Unblock& unblock) {
  m_bRunning.store(false);
  if (!m_thread.joinable()) return;
  if (m_thread.get_id() == std::this_thread::get_id()) {
    Trace("CWorkerThread::Stop %s called from its own thread\n", m_strName.c_str());
    return;
  }
  // A thread stopped before it was resumed leaves at once.
  Resume();
  std::unique_lock<std::mutex> lock(m_mutex);
  while (!m_cv.wait_for(lock, std::chrono::milliseconds(kStopWaitMs), [this] { return m_bDone; })) {
    Trace("CWorkerThread::Stop %s did not end within %u ms, waiting on\n", m_strName.c_str(), kStopWaitMs);
    if (unblock) {
      lock.unlock();
      unblock();
      lock.lock();
    }
  }
  lock.unlock();
  m_thread.join();
}

}  // namespace hu
