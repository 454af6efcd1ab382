#include "common/ui/desktop.h"

#include <algorithm>
#include <exception>

#include "common/platform/trace.h"
#include "common/ui/dialog.h"

namespace hu {

Desktop::Desktop(Clock& clock, Windows& windows, ScreenSize screen)
    : clock_(clock), windows_(windows), loop_(clock), screen_(screen) {}

Desktop::~Desktop() = default;

int Desktop::GetSystemMetrics(int index) const {
  switch (index) {
    case SM_CXSCREEN: return screen_.width;
    case SM_CYSCREEN: return screen_.height;
    default: return 0;
  }
}

void Desktop::AddObserver(UiObserver* observer) {
  if (observer != nullptr && std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) {
    observers_.push_back(observer);
  }
}

void Desktop::RemoveObserver(UiObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

Dialog* Desktop::TopDialog() const {
  for (auto it = open_.rbegin(); it != open_.rend(); ++it) {
    if (!(*it)->IsChild()) return *it;
  }
  return nullptr;
}

Dialog* Desktop::FindOpenDialog(int resourceId) const {
  for (auto it = open_.rbegin(); it != open_.rend(); ++it) {
    if ((*it)->ResourceId() == resourceId) return *it;
  }
  return nullptr;
}

void Desktop::Emit(const UiEvent& event) {
  std::vector<UiObserver*> observers = observers_;
  for (UiObserver* observer : observers) {
    if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) continue;
    try {
      observer->OnUiEvent(event);
    } catch (const std::exception& e) {
      Trace("hu::Desktop observer failed: %s\n", e.what());
    } catch (...) {
      Trace("hu::Desktop observer failed\n");
    }
  }
}

void Desktop::Opened(Dialog* dialog) {
  open_.push_back(dialog);
  UiEvent event;
  event.kind = UiEventKind::DialogOpened;
  event.dialog = dialog;
  Emit(event);
}

void Desktop::Closed(Dialog* dialog) {
  open_.erase(std::remove(open_.begin(), open_.end(), dialog), open_.end());
  UiEvent event;
  event.kind = UiEventKind::DialogClosed;
  event.dialog = dialog;
  event.result = dialog->ended_ ? dialog->result_ : -1;
  Emit(event);
}

void Desktop::Retitle(HWND hwnd, const std::string& title) {
  if (titleHook_) titleHook_(hwnd, title);
}

}  // namespace hu
