#include "common/ui/local_windows.h"

#include "common/platform/errors.h"
#include "common/platform/text.h"
#include "common/platform/trace.h"

namespace hu {

namespace {
// The device's ERROR_INVALID_WINDOW_HANDLE.
constexpr uint32_t kErrorInvalidWindowHandle = 1400;
}  // namespace

HWND LocalWindows::CreateWindow(const std::string& className, const std::string& title, MessageSink* sink) {
  std::lock_guard<std::mutex> lock(mutex_);
  HWND hwnd = next_;
  next_ += 0x10;
  windows_[hwnd] = Entry{className, title, sink};
  return hwnd;
}

void LocalWindows::DestroyWindow(HWND hwnd) {
  std::lock_guard<std::mutex> lock(mutex_);
  windows_.erase(hwnd);
  if (foreground_ == hwnd) foreground_ = 0;
}

HWND LocalWindows::FindWindow(const std::string& className, const std::string& title) {
  std::lock_guard<std::mutex> lock(mutex_);
  // The newest match, as the top of the Z order would be.
  for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) {
    if (!className.empty() && !EqualsNoCase(className, it->second.className)) continue;
    if (!title.empty() && !EqualsNoCase(title, it->second.title)) continue;
    return it->first;
  }
  return 0;
}

MessageSink* LocalWindows::SinkOf(HWND hwnd) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = windows_.find(hwnd);
  return it != windows_.end() ? it->second.sink : nullptr;
}

bool LocalWindows::IsWindow(HWND hwnd) {
  std::lock_guard<std::mutex> lock(mutex_);
  return windows_.count(hwnd) > 0;
}

bool LocalWindows::PostMessage(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam) {
  MessageSink* sink = SinkOf(hwnd);
  if (sink == nullptr) {
    SetLastError(kErrorInvalidWindowHandle);
    return false;
  }
  sink->Deliver(WindowMessage{hwnd, message, wParam, lParam});
  return true;
}

bool LocalWindows::SendMessage(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam, uint32_t timeoutMs,
                               LRESULT* result) {
  MessageSink* sink = SinkOf(hwnd);
  if (sink == nullptr) {
    SetLastError(kErrorInvalidWindowHandle);
    return false;
  }
  if (!sink->DeliverSync(WindowMessage{hwnd, message, wParam, lParam}, timeoutMs, result)) {
    SetLastError(ERROR_TIMEOUT);
    return false;
  }
  return true;
}

uint32_t LocalWindows::RegisterWindowMessage(const std::string& name) {
  if (name.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  std::string key = AsciiLower(name);
  auto it = messages_.find(key);
  if (it != messages_.end()) return it->second;
  if (nextMessage_ > 0xFFFF) {
    Trace("hu::LocalWindows::RegisterWindowMessage no id left for %s\n", name.c_str());
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  uint32_t id = nextMessage_++;
  messages_[key] = id;
  return id;
}

HWND LocalWindows::GetForegroundWindow() {
  std::lock_guard<std::mutex> lock(mutex_);
  return foreground_;
}

bool LocalWindows::SetForegroundWindow(HWND hwnd) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (windows_.count(hwnd) == 0) return false;
  foreground_ = hwnd;
  return true;
}

bool LocalWindows::SetWindowTitle(HWND hwnd, const std::string& title) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = windows_.find(hwnd);
  if (it == windows_.end()) return false;
  it->second.title = title;
  return true;
}

Desktop::TitleHook LocalWindows::TitleHook() {
  return [this](HWND hwnd, const std::string& title) { SetWindowTitle(hwnd, title); };
}

}  // namespace hu
