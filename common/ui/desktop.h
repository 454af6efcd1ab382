#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/platform/clock.h"
#include "common/platform/windows.h"
#include "common/ui/event_loop.h"
#include "common/ui/ui_observer.h"
#include "common/ui/ui_types.h"

namespace hu {

class Dialog;

// The dialogs of one UI thread: the services they use (clock, windows), the
// thread's event loop, the screen they are shown on, the dialogs open now in
// the order they opened, and the observers (front ends). Create it on the UI
// thread.
class Desktop {
 public:
  Desktop(Clock& clock, Windows& windows, ScreenSize screen = {});
  ~Desktop();
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  Clock& clock() { return clock_; }
  Windows& windows() { return windows_; }
  EventLoop& loop() { return loop_; }

  ScreenSize GetScreenSize() const { return screen_; }
  void SetScreenSize(ScreenSize screen) { screen_ = screen; }
  int GetSystemMetrics(int index) const;

  // hu::Windows has no way yet to rename a window, so a title set by
  // SetWindowText reaches FindWindow only through this hook.
  using TitleHook = std::function<void(HWND, const std::string&)>;
  void SetTitleHook(TitleHook hook) { titleHook_ = std::move(hook); }

  void AddObserver(UiObserver* observer);
  void RemoveObserver(UiObserver* observer);

  // Open dialogs, oldest first.
  const std::vector<Dialog*>& OpenDialogs() const { return open_; }
  // The dialog a person would act on: the newest open one that is not a child page.
  Dialog* TopDialog() const;
  Dialog* FindOpenDialog(int resourceId) const;

  // The wait cursor is state only.
  void BeginWaitCursor() { ++waitCursor_; }
  void EndWaitCursor() { if (waitCursor_ > 0) --waitCursor_; }
  bool IsWaitCursor() const { return waitCursor_ > 0; }

 private:
  friend class Dialog;
  void Emit(const UiEvent& event);
  void Opened(Dialog* dialog);
  void Closed(Dialog* dialog);
  void Retitle(HWND hwnd, const std::string& title);

  Clock& clock_;
  Windows& windows_;
  EventLoop loop_;
  ScreenSize screen_;
  TitleHook titleHook_;
  std::vector<UiObserver*> observers_;
  std::vector<Dialog*> open_;
  int waitCursor_ = 0;
};

}  // namespace hu
