#pragma once
#include <cstdint>
#include <string>

namespace hu {

using HWND = uint64_t;  // 0: no window
using WPARAM = uint64_t;
using LPARAM = int64_t;
using LRESULT = int64_t;

enum : uint32_t {
  WM_NULL = 0x0000,
  WM_DESTROY = 0x0002,
  WM_SIZE = 0x0005,
  WM_PAINT = 0x000F,
  WM_CLOSE = 0x0010,
  WM_QUIT = 0x0012,
  WM_SHOWWINDOW = 0x0018,
  WM_COPYDATA = 0x004A,
  WM_COMMAND = 0x0111,
  WM_TIMER = 0x0113,
  WM_LBUTTONDOWN = 0x0201,
  WM_LBUTTONUP = 0x0202,
  WM_USER = 0x0400,
  WM_APP = 0x8000,
};

struct WindowMessage {
  HWND hwnd = 0;
  uint32_t message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

// Where a window's messages go: its owner's event loop. Deliver may be called
// from any thread; the owner handles the message on its UI thread.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void Deliver(const WindowMessage& msg) = 0;
  // Handles the message synchronously on the owner's thread and returns its result
  // (SendMessage); false when it cannot be handled within timeoutMs.
  virtual bool DeliverSync(const WindowMessage& msg, uint32_t timeoutMs, LRESULT* result) = 0;
};

// Named windows of every process of the unit.
class Windows {
 public:
  virtual ~Windows() = default;
  virtual HWND CreateWindow(const std::string& className, const std::string& title,
                            MessageSink* sink) = 0;
  virtual void DestroyWindow(HWND hwnd) = 0;
  // Empty class or title matches any.
  virtual HWND FindWindow(const std::string& className, const std::string& title) = 0;
  virtual bool PostMessage(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam) = 0;
  virtual bool SendMessage(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam,
                           uint32_t timeoutMs, LRESULT* result) = 0;
  // Same name, same id (0xC000..0xFFFF) in every process of the unit.
  virtual uint32_t RegisterWindowMessage(const std::string& name) = 0;
  virtual HWND GetForegroundWindow() = 0;
  virtual bool SetForegroundWindow(HWND hwnd) = 0;
  // SetWindowText of a window: FindWindow looks for the new title.
  virtual bool SetWindowTitle(HWND hwnd, const std::string& title) {
    (void)hwnd;
    (void)title;
    return false;
  }
};

}  // namespace hu
