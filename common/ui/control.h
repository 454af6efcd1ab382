#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "common/ui/ui_observer.h"
#include "common/ui/ui_types.h"

namespace hu {

class Dialog;

struct PanelLine {
  std::string text;
  COLORREF color = 0;
  bool emphasised = false;
  Rect rect;
};

struct ListColumn {
  std::string caption;
  int width = 0;
};

// A list row (cells), a tree item (cells[0], parent) or a tab (cells[0]).
struct ControlItem {
  std::vector<std::string> cells;
  int parent = -1;
  bool expanded = false;
  bool checked = false;
};

// One control of a dialog: its state as data. Every kind keeps the common
// state (text, enabled, visible, rectangle, font); the kind decides which of the
// rest is meaningful. A control created by Dialog::DefineControl is a prototype:
// it reports nothing until the dialog is created from it. Controls belong to the
// UI thread; worker threads post to the dialog instead.
class Control {
 public:
  Control(ControlKind kind, int id, std::string text = {}, Rect rect = {});

  ControlKind Kind() const { return kind_; }
  int GetDlgCtrlID() const { return id_; }
  const Dialog* Owner() const { return owner_; }

  const std::string& GetWindowText() const { return text_; }
  void SetWindowText(const std::string& text);
  bool IsWindowEnabled() const { return enabled_; }
  void EnableWindow(bool enable);
  // The control's own flag; Dialog::IsControlShown also looks at the dialogs.
  bool IsWindowVisible() const { return visible_; }
  void ShowWindow(int showCommand);
  const Rect& GetRect() const { return rect_; }
  void MoveWindow(const Rect& rect);
  void MoveWindow(int x, int y, int w, int h) { MoveWindow(Rect{x, y, w, h}); }
  const Font& GetFont() const { return font_; }
  void SetFont(const Font& font);

  // Check boxes and radio buttons.
  int GetCheck() const { return checked_ ? BST_CHECKED : BST_UNCHECKED; }
  void SetCheck(int check);
  // Radio buttons of one group in a dialog uncheck each other when clicked.
  int GetGroup() const { return group_; }
  Control& SetGroup(int group) { group_ = group; return *this; }

  // Progress bar; the position is kept within the range.
  void SetRange(int lower, int upper);
  int GetRangeMin() const { return rangeMin_; }
  int GetRangeMax() const { return rangeMax_; }
  void SetPos(int pos);
  int GetPos() const { return pos_; }

  // Edit. The scroll position is the first visible line; appending keeps it on
  // the last line.
  bool IsMultiLine() const { return multiLine_; }
  Control& SetMultiLine(bool multiLine) { multiLine_ = multiLine; return *this; }
  bool IsReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly);
  void AppendText(const std::string& text);
  int GetLineCount() const;
  int GetFirstVisibleLine() const { return scrollLine_; }
  void LineScroll(int lines);
  void ScrollToEnd();

  // Owner-drawn panel of numbered lines (0 .. GetPanelLineCount()-1).
  int GetPanelLineCount() const { return static_cast<int>(lines_.size()); }
  // Sets the number of lines; meant for prototypes (existing lines are kept).
  Control& SetPanelLineCount(int count);
  const PanelLine* GetPanelLine(int line) const;
  bool SetPanelLine(int line, const PanelLine& value);
  bool SetPanelLineText(int line, const std::string& text);

  // List view (report mode), tree view, tab control.
  int InsertColumn(int index, const std::string& caption, int width);
  const std::vector<ListColumn>& Columns() const { return columns_; }
  // List row or tab at `index` (clamped to the end); returns its index, -1 for
  // a kind without rows.
  int InsertItem(int index, const std::string& text);
  // Tree item under `parent` (-1: a root); returns its handle, the index in
  // insertion order, or -1 for a bad parent.
  int InsertTreeItem(const std::string& text, int parent = -1);
  bool SetItemText(int item, int column, const std::string& text);
  std::string GetItemText(int item, int column = 0) const;
  int GetItemCount() const { return static_cast<int>(items_.size()); }
  const std::vector<ControlItem>& Items() const { return items_; }
  // Removes one list row or tab (tree items only go all at once).
  bool DeleteItem(int item);
  void DeleteAllItems();
  int GetItemParent(int item) const;
  bool Expand(int item, bool expand);
  bool IsExpanded(int item) const;
  bool SetItemChecked(int item, bool checked);
  bool GetItemChecked(int item) const;
  // Selected row, tree item or tab; -1 for none. Setting it by program raises
  // no notification, as on the device.
  int GetCurSel() const { return selection_; }
  bool SetCurSel(int item);

 private:
  friend class Dialog;
  void Changed(uint32_t changes, int index = -1, ItemOp op = ItemOp::None, const std::string& text = {});
  bool ValidItem(int item) const { return item >= 0 && item < static_cast<int>(items_.size()); }
  bool HasRows() const;

  ControlKind kind_;
  int id_;
  Dialog* owner_ = nullptr;
  std::string text_;
  bool enabled_ = true;
  bool visible_ = true;
  Rect rect_;
  Font font_;
  bool checked_ = false;
  int group_ = 0;
  int rangeMin_ = 0;
  int rangeMax_ = 100;
  int pos_ = 0;
  bool multiLine_ = false;
  bool readOnly_ = false;
  int scrollLine_ = 0;
  std::vector<PanelLine> lines_;
  std::vector<ListColumn> columns_;
  std::vector<ControlItem> items_;
  int selection_ = -1;
};

}  // namespace hu
