#pragma once
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/platform/windows.h"
#include "common/ui/tui_canvas.h"
#include "common/ui/tui_keys.h"
#include "common/ui/tui_layout.h"
#include "common/ui/ui_types.h"

namespace hu {

class Control;
class Desktop;
class Dialog;

// A control the last paint found on the screen: one that takes the focus, or
// a spot a click acts on (a whole control, a list row, a tree item, a tab).
struct TuiTarget {
  HWND dialog = 0;
  int control = 0;
  ControlKind kind = ControlKind::PushButton;
  CellRect cells;
  int item = -1;     // list row, tree item or tab of a spot; -1 for the control
  int pageRows = 0;  // rows a list, tree or edit shows at once
  char hotKey = 0;
  bool enabled = true;
  bool expander = false;  // the +/- of a tree item
};

// The terminal view of a desktop, without the terminal: draws every shown
// dialog onto a canvas (oldest first, so a modal dialog lies on its owner)
// and turns keys and clicks on the top dialog into what a person's actions do.
// Actions that run dialog handlers are posted to the loop, never run inside
// the caller. Keeps the view's own state: the focus (per top dialog) and how
// far lists are scrolled. A control keeps the focus while it is disabled
// (it shows it, keys that act on it do nothing) and loses it when hidden.
// On a terminal of kKeyHelpMinRows rows or more, the last row tells the keys.
// UI thread only.
class TuiScreen {
 public:
  static constexpr int kKeyHelpMinRows = 12;

  explicit TuiScreen(Desktop& desktop);
  TuiScreen(const TuiScreen&) = delete;
  TuiScreen& operator=(const TuiScreen&) = delete;

  void Paint(TuiCanvas& canvas);

  // Input, in terms of the last paint. True when work for the dialogs was
  // posted: the caller lets the loop run it before it passes on more input,
  // so that every key sees what the one before did.
  bool HandleKey(const TuiKey& key);
  bool HandleClick(int row, int col);
  // The spot under a cell (an index into Spots()), -1 for none.
  int SpotAt(int row, int col) const;

  // Something of the view's own (focus, list scrolling) changed since the
  // last paint; model changes reach the front end as events.
  bool NeedsPaint() const { return needsPaint_; }
  // Ctrl-L: the terminal should be drawn afresh, not only its changes.
  bool TakeRedrawRequest();

  // What the last paint found.
  const std::vector<TuiTarget>& FocusOrder() const { return focusOrder_; }
  const std::vector<TuiTarget>& Spots() const { return spots_; }
  // Index into FocusOrder(), -1 for none (also while the focused control is
  // disabled).
  int FocusIndex() const { return focusIndex_; }
  const TuiTarget* Focused() const;
  // The disabled control that keeps the focus, if any.
  const std::optional<TuiTarget>& HeldFocus() const { return held_; }

 private:
  struct View {
    Dialog* dialog = nullptr;
    DialogBox box;
    std::vector<CellRect> cells;  // per control
    CellRect clip;
    bool active = false;  // the top dialog or a page shown in it
  };
  struct FocusRef {
    HWND dialog = 0;
    int control = 0;
    int index = 0;  // where it was in the focus order, for when it goes
  };
  using ControlKey = std::pair<HWND, int>;

  void LayoutDialog(Dialog& dialog, const DialogBox& box, const CellRect& clip, bool active);
  void CollectFocus();
  void ResolveFocus();
  void DrawView(TuiCanvas& canvas, const View& view);
  void DrawControl(TuiCanvas& canvas, const View& view, const Control& c, const CellRect& cells);
  void DrawList(TuiCanvas& canvas, const View& view, const Control& c, const CellRect& cells, bool focused);
  void DrawTree(TuiCanvas& canvas, const View& view, const Control& c, const CellRect& cells, bool focused);
  void DrawTabs(TuiCanvas& canvas, const View& view, const Control& c, const CellRect& cells, bool focused);
  void DrawEdit(TuiCanvas& canvas, const Control& c, const CellRect& cells, bool focused);
  void DrawKeyHelp(TuiCanvas& canvas, int row) const;
  bool IsFocused(const View& view, const Control& c) const;
  char HotKeyOf(HWND dialog, int control) const;
  int ScrollTop(const ControlKey& key, int selection, int count, int rows);
  void SetFocus(int index);

  bool Post(const TuiTarget& target, int item);
  bool MoveItem(const TuiTarget& target, TuiAction action);
  bool ScrollEdit(const TuiTarget& target, TuiAction action);
  bool ExpandTreeItem(const TuiTarget& target, TuiAction action);
  bool CanCancel() const;
  bool Cancel();
  bool Click(const TuiTarget& target);
  // Chooses a list row and reports the click on it; -1: the row under the cursor.
  bool ChooseRow(const TuiTarget& target, int item);

  Desktop& desktop_;
  std::vector<View> views_;
  std::vector<TuiTarget> focusOrder_;
  std::vector<TuiTarget> spots_;
  std::vector<TuiTarget> disabled_;   // shown but disabled controls that could take the focus
  std::optional<TuiTarget> first_;    // the first control that could, enabled or not
  std::optional<TuiTarget> held_;     // the disabled one keeping the focus
  std::map<HWND, FocusRef> focusByTop_;
  std::map<ControlKey, int> listTop_;
  std::map<ControlKey, char> hotKeys_;
  HWND top_ = 0;
  int focusIndex_ = -1;
  bool needsPaint_ = true;
  bool redraw_ = false;
};

// The items of a tree a person can see (those whose ancestors are all
// expanded) in display order, with their depth.
std::vector<std::pair<int, int>> VisibleTreeItems(const Control& tree);

}  // namespace hu
