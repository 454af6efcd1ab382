#pragma once
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace hu {

// A thread that calls its owner's step function for as long as it runs. It is
// created suspended: Start makes it, Resume lets it go. Stop ends the loop
// after the current step; the owner first unblocks a step that waits (the
// sender's wake event, the port's event mask).
//
// A step that does not return cannot be cut off safely: the step works on its
// owner, which is freed once Stop has returned. So Stop waits for the done
// signal up to kStopWaitMs and, when that passes, traces it, asks the owner to
// unblock again and goes on waiting; it never returns while the step can still
// touch the owner.
class CWorkerThread {
 public:
  static constexpr uint32_t kStopWaitMs = 3000;
  static constexpr int kExitCode = -1;

  using Step = std::function<void()>;
  using Unblock = std::function<void()>;

  CWorkerThread(std::string name, Step step);
  ~CWorkerThread();
  CWorkerThread(const CWorkerThread&) = delete;
  CWorkerThread& operator=(const CWorkerThread&) = delete;

  // Creates the thread, suspended, with the running flag set. False when it
  // exists already or cannot be created.
  bool Start();
  void Resume();
  // Clears the running flag without waiting: the loop ends after its step.
  void RequestStop();
  // RequestStop, then waits for the thread to end (see above). `unblock` is
  // called again each time the wait runs out.
  void Stop(const Unblock& unblock = Unblock());

  bool IsRunning() const { return m_bRunning.load(); }
  bool IsSuspended() const;
  bool IsDone() const;
  bool Started() const { return m_thread.joinable(); }
  int ExitCode() const { return m_nExitCode.load(); }

 private:
  void Body();

  std::string m_strName;
  Step m_step;
  std::thread m_thread;
  std::atomic<bool> m_bRunning{false};
  std::atomic<int> m_nExitCode{0};
  // The done event (manual reset) and the suspension, under one lock.
  mutable std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_bSuspended = false;
  bool m_bDone = false;
};

}  // namespace hu
