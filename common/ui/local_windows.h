#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "common/platform/windows.h"
#include "common/ui/desktop.h"

namespace hu {

// The named windows of this process (hu::Windows without other processes).
// Posting and sending go to the MessageSink the window was created with: its
// owner's event loop, which calls a same-thread SendMessage directly and makes
// another thread wait in unit time. Window handles are never reused. Names
// compare ignoring ASCII case, as FindWindow and RegisterWindowMessage do on
// the device. Thread-safe.
class LocalWindows : public Windows {
 public:
  LocalWindows() = default;

  HWND CreateWindow(const std::string& className, const std::string& title, MessageSink* sink) override;
  void DestroyWindow(HWND hwnd) override;
  HWND FindWindow(const std::string& className, const std::string& title) override;
  bool PostMessage(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam) override;
  bool SendMessage(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam, uint32_t timeoutMs,
                   LRESULT* result) override;
  uint32_t RegisterWindowMessage(const std::string& name) override;
  HWND GetForegroundWindow() override;
  bool SetForegroundWindow(HWND hwnd) override;

  // Renames a window for FindWindow; Desktop::SetTitleHook(TitleHook()) wires
  // dialogs' SetWindowText to it.
  bool SetWindowTitle(HWND hwnd, const std::string& title);
  Desktop::TitleHook TitleHook();
  bool IsWindow(HWND hwnd);

 private:
  struct Entry {
    std::string className;
    std::string title;
    MessageSink* sink = nullptr;
  };
  MessageSink* SinkOf(HWND hwnd);

  std::mutex mutex_;
  std::map<HWND, Entry> windows_;
  HWND next_ = 0x10010;
  HWND foreground_ = 0;
  std::map<std::string, uint32_t> messages_;
  uint32_t nextMessage_ = 0xC000;
};

}  // namespace hu
