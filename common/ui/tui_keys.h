#pragma once
#include <optional>
#include <string>
#include <vector>

#include "common/ui/ui_types.h"

namespace hu {

// A key as the terminal front end sees it, whatever terminal it came from.
enum class TuiKeyCode {
  None,
  Char,  // `ch` holds the character
  Tab,
  BackTab,
  Up,
  Down,
  Left,
  Right,
  Enter,
  Space,
  Escape,
  PageUp,
  PageDown,
  Home,
  End,
  Redraw,  // Ctrl-L
};

struct TuiKey {
  TuiKeyCode code = TuiKeyCode::None;
  char32_t ch = 0;
};

// What a key asks for, given the kind of the focused control.
enum class TuiAction {
  None,
  FocusNext,
  FocusPrev,
  Activate,   // click a button or check box; toggle a tree item
  Cancel,     // IDCANCEL
  ItemPrev,   // previous row, tree item or tab; a line up in an edit
  ItemNext,
  PagePrev,   // a page up in a list or tree, or scrolling an edit
  PageNext,
  ItemFirst,
  ItemLast,
  Expand,     // tree item
  Collapse,
  HotKey,     // the button or check box whose hot key is the key's character
  Redraw,
};

// Arrows move the focus except where the focused control uses them: up and
// down in lists, trees and edits, left and right on tabs and trees. Enter and Space
// activate buttons and check boxes, and Enter chooses a list's row (Enter
// never stands for a default button, so it cannot end a dialog by surprise). Page keys, Home and End only mean
// something to lists, trees and edits.
TuiAction MapKey(const TuiKey& key, std::optional<ControlKind> focused);

// Hot keys of buttons and check boxes, by caption, in focus order: the first
// ASCII letter or digit of a caption when no earlier caption took it, else the
// first free digit 1..9; 0 when none is left. Lower case.
std::vector<char> AssignHotKeys(const std::vector<std::string>& captions);

}  // namespace hu
