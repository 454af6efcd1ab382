#pragma once
#include <cstdint>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "common/ui/desktop.h"
#include "common/ui/event_loop.h"
#include "common/ui/ui_observer.h"

namespace hu {

class Control;
class Dialog;

// Shows the dialogs of a desktop as text.
//
// Standard output: one line per change a person could see (of visible
// controls of shown dialogs, and visibility changes themselves). Every line
// starts with the dialog's resource id in brackets:
//
//   [102] open "TITLE" X,Y WxH              created, before its initialisation
//   [102] shown                             followed by one line per visible control
//                                           that has something to show
//   [102] hidden
//   [102] title "TITLE"
//   [102] move X,Y WxH
//   [102] topmost | not topmost
//   [102] close RESULT
//   [102] ID KIND "TEXT"[ disabled][ checked][ shown|hidden]
//                                           caption, enabled, check or visibility change;
//                                           KIND: button check radio static panel edit
//                                           progress list tree tab
//   [102] ID edit += "TEXT"                 text appended to an edit
//   [102] ID edit scroll LINE
//   [102] ID progress POS (MIN..MAX)
//   [102] ID rect X,Y WxH
//   [102] ID font "FACE" HEIGHT WEIGHT
//   [102] ID:LINE "TEXT"[ color=N][ bold]   panel line; N is the COLORREF (255: red)
//   [102] ID list row R + "CELL0" | "CELL1"  row inserted (= changed, - deleted)
//   [102] ID list cleared
//   [102] ID list column C "CAPTION" WIDTH
//   [102] ID tree item I (parent P) + "TEXT"[ expanded]
//   [102] ID tab T + "TEXT"
//   [102] ID list|tree|tab sel R "TEXT"     selection; "sel none" when cleared
//
// Texts are UTF-8 in double quotes with \\, \", \r, \n, \t and \xHH escapes.
//
// UI log (--ui-log): one JSON object per change, shown or not, per line. Every
// object has "t" (ms of unit time since the front end started), "event" and
// "dialog" (resource id).
//   dialog events ("open", "show", "hide", "title", "move", "topmost", "close"):
//     "text" (title), "visible", "x", "y", "w", "h", "topmost"; "result" on close
//   control events ("create", "text", "append", "enable", "visible", "check",
//   "range", "pos", "font", "rect", "item", "select", "column", "scroll"):
//     "control", "kind", "text", "enabled", "visible" (seen by a person);
//     check and radio: "checked"; progress: "pos", "min", "max";
//     list, tree, tab: "selection", "count", and for "item"/"select"/"column"
//     "item" (index), "op" (insert, change, delete, clear), "cells" (list),
//     "parent" and "expanded" (tree); "font": {"face","height","weight"};
//     "rect": "x","y","w","h"; on "append" "text" is the appended piece and
//     "length" the size of the whole text.
//   panel lines ("line"): "control", "kind" "panel", "line", "text", "color",
//     "bold", "x", "y", "w", "h", "enabled", "visible".
// Text that is not valid UTF-8 is written with U+FFFD in its place.
//
// Output is flushed at every flush hint (UpdateWindow) and once per loop
// iteration, never waited for by the loop otherwise.
class HeadlessFrontEnd : public UiObserver, public LoopAgent {
 public:
  // Either stream may be null.
  HeadlessFrontEnd(Desktop& desktop, std::ostream* out, std::ostream* uiLog);
  ~HeadlessFrontEnd() override;
  HeadlessFrontEnd(const HeadlessFrontEnd&) = delete;
  HeadlessFrontEnd& operator=(const HeadlessFrontEnd&) = delete;

  void OnUiEvent(const UiEvent& event) override;
  uint32_t Step() override;

  // The standard-output lines of one event ("" for none; lines end in '\n').
  static std::string FormatLines(const UiEvent& event);
  // The UI log object of one event.
  static nlohmann::json ToJson(const UiEvent& event, uint32_t t);
  static std::string Quote(const std::string& text);
  // "KIND "TEXT"[ disabled][ checked]" and the like: a control's state in short.
  static std::string Describe(const Control& control);

 private:
  void Flush();

  Desktop& desktop_;
  std::ostream* out_;
  std::ostream* uiLog_;
  uint32_t start_;
  bool dirty_ = false;
};

}  // namespace hu
