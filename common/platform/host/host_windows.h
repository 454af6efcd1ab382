#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "common/platform/host/host_clock.h"
#include "common/platform/windows.h"

namespace hu {

// The named windows of every process of a unit, for one process.
//
// A window is an entry UNIT/run/windows/HWND.win (class, title, owner and
// the address of its socket) and a Unix datagram socket bound by its owner:
// UNIT/run/windows/HWND.sock, or an abstract socket named after the unit
// when that path is too long for a socket address. A reader thread per
// window hands what arrives to the window's MessageSink (the owner's event
// loop): a posted message with Deliver; a sent one with DeliverSync on a
// thread of its own (so that posts behind it are not held up), whose result
// goes back to the sender's reply socket. A sender waits for the reply in
// unit time and gives up early when the window or its owner goes away.
// Windows of this process are delivered to their sink directly.
//
// Handles are unique in the unit until it reboots (a shared counter) and
// never reused. FindWindow compares ignoring ASCII case, returns the newest
// match and drops entries whose owner has ended; RegisterWindowMessage keeps
// its names in UNIT/run/messages under a lock, so one name gives one id
// (from 0xC000) in every process; the foreground window is
// UNIT/run/windows/foreground. Only the owner may rename or destroy a
// window. Messages carry numbers only: a pointer in wParam/lParam means
// nothing in another process. Thread-safe.
class HostWindows : public Windows {
 public:
  // `runDir` is UNIT/run; `clock` times SendMessage; `ownerPid` is this
  // process's id in the unit (0 when it has none).
  HostWindows(const std::string& runDir, HostClock& clock, uint32_t ownerPid);
  // Destroys the windows this process still has.
  ~HostWindows() override;
  HostWindows(const HostWindows&) = delete;
  HostWindows& operator=(const HostWindows&) = delete;

  HWND CreateWindow(const std::string& className, const std::string& title, MessageSink* sink) override;
  void DestroyWindow(HWND hwnd) override;
  HWND FindWindow(const std::string& className, const std::string& title) override;
  bool PostMessage(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam) override;
  bool SendMessage(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam, uint32_t timeoutMs,
                   LRESULT* result) override;
  uint32_t RegisterWindowMessage(const std::string& name) override;
  HWND GetForegroundWindow() override;
  bool SetForegroundWindow(HWND hwnd) override;
  bool SetWindowTitle(HWND hwnd, const std::string& title) override;

  // A window of any process of the unit whose owner runs.
  bool IsWindow(HWND hwnd);

  // Defined with the implementation: a window's entry, and one of this process.
  struct Entry;
  struct Local;

 private:
  static void ReadLoop(std::shared_ptr<Local> w);

  std::string EntryPath(HWND hwnd) const;
  bool WriteEntry(const Entry& entry);
  bool ReadEntry(HWND hwnd, Entry* entry) const;
  // The entry of a live window; a stale one is removed.
  bool LiveEntry(HWND hwnd, Entry* entry);
  void RemoveStale(const Entry& entry);
  std::shared_ptr<Local> FindLocal(HWND hwnd);
  bool SendRemote(const Entry& entry, uint32_t message, WPARAM wParam, LPARAM lParam, uint32_t timeoutMs,
                  LRESULT* result);

  std::string runDir_;
  std::string windowsDir_;
  HostClock& clock_;
  uint32_t ownerPid_;
  int sendFd_ = -1;  // unbound, for posts
  std::mutex mutex_;
  std::map<HWND, std::shared_ptr<Local>> locals_;
  std::map<std::string, uint32_t> messages_;  // lower-case name -> id, as registered
};

}  // namespace hu
