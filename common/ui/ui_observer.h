#pragma once
#include <cstdint>
#include <string>

#include "common/ui/ui_types.h"

namespace hu {

class Control;
class Dialog;

enum class UiEventKind {
  DialogOpened,   // created, before OnInitDialog; not shown yet
  DialogChanged,  // title (kChangeText), visibility (kChangeVisible), geometry (kChangeRect), topmost
  DialogClosed,   // after OnDestroy; `result` holds the end result (-1 when none)
  ControlChanged,
  PanelLineChanged,  // `index` is the line
  Flush,             // Invalidate/UpdateWindow: show what you have now
};

// One change of the model. Observers read the current state through `dialog`
// and `control`; both stay valid for the duration of the call only.
struct UiEvent {
  UiEventKind kind = UiEventKind::ControlChanged;
  const Dialog* dialog = nullptr;
  const Control* control = nullptr;
  uint32_t changes = 0;  // kChange* bits
  int index = -1;        // panel line, list row, tree item, tab or column; -1 when none
  ItemOp op = ItemOp::None;
  std::string text;      // the appended piece for kChangeAppend
  int result = -1;       // DialogClosed
};

// Observers run on the UI thread inside the change itself, so they must be
// quick: copy what is needed and render elsewhere, never wait.
class UiObserver {
 public:
  virtual ~UiObserver() = default;
  virtual void OnUiEvent(const UiEvent& event) = 0;
};

}  // namespace hu
