#include "common/ui/control.h"

#include <algorithm>

#include "common/ui/dialog.h"

namespace hu {

namespace {
constexpr int kDefaultPanelLines = 64;
}  // namespace

const char* ControlKindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::PushButton: return "button";
    case ControlKind::CheckBox: return "check";
    case ControlKind::RadioButton: return "radio";
    case ControlKind::Static: return "static";
    case ControlKind::Panel: return "panel";
    case ControlKind::Edit: return "edit";
    case ControlKind::Progress: return "progress";
    case ControlKind::ListView: return "list";
    case ControlKind::TreeView: return "tree";
    case ControlKind::Tab: return "tab";
  }
  return "control";
}

Control::Control(ControlKind kind, int id, std::string text, Rect rect)
    : kind_(kind), id_(id), text_(std::move(text)), rect_(rect) {
  if (kind_ == ControlKind::Panel) lines_.resize(kDefaultPanelLines);
}

void Control::Changed(uint32_t changes, int index, ItemOp op, const std::string& text) {
  if (owner_ != nullptr) owner_->ControlChanged(*this, changes, index, op, text);
}

bool Control::HasRows() const {
  return kind_ == ControlKind::ListView || kind_ == ControlKind::Tab;
}

void Control::SetWindowText(const std::string& text) {
  if (text == text_) return;
  text_ = text;
  if (kind_ == ControlKind::Edit) scrollLine_ = std::min(scrollLine_, GetLineCount() - 1);
  Changed(kChangeText);
}

void Control::EnableWindow(bool enable) {
  if (enable == enabled_) return;
  enabled_ = enable;
  Changed(kChangeEnabled);
}

void Control::ShowWindow(int showCommand) {
  bool visible = showCommand != SW_HIDE;
  if (visible == visible_) return;
  visible_ = visible;
  Changed(kChangeVisible);
}

void Control::MoveWindow(const Rect& rect) {
  if (rect == rect_) return;
  rect_ = rect;
  Changed(kChangeRect);
}

void Control::SetFont(const Font& font) {
  if (font == font_) return;
  font_ = font;
  Changed(kChangeFont);
}

void Control::SetCheck(int check) {
  bool checked = check != BST_UNCHECKED;
  if (checked == checked_) return;
  checked_ = checked;
  Changed(kChangeChecked);
}

void Control::SetRange(int lower, int upper) {
  if (lower == rangeMin_ && upper == rangeMax_) return;
  rangeMin_ = lower;
  rangeMax_ = upper;
  Changed(kChangeRange);
  // The bar keeps its position inside the new range.
  SetPos(pos_);
}

void Control::SetPos(int pos) {
  int lo = std::min(rangeMin_, rangeMax_);
  int hi = std::max(rangeMin_, rangeMax_);
  pos = std::clamp(pos, lo, hi);
  if (pos == pos_) return;
  pos_ = pos;
  Changed(kChangePos);
}

void Control::SetReadOnly(bool readOnly) { readOnly_ = readOnly; }

void Control::AppendText(const std::string& text) {
  if (text.empty()) return;
  text_ += text;
  scrollLine_ = GetLineCount() - 1;
  Changed(kChangeAppend, -1, ItemOp::None, text);
}

int Control::GetLineCount() const {
  return 1 + static_cast<int>(std::count(text_.begin(), text_.end(), '\n'));
}

void Control::LineScroll(int lines) {
  int target = std::clamp(scrollLine_ + lines, 0, GetLineCount() - 1);
  if (target == scrollLine_) return;
  scrollLine_ = target;
  Changed(kChangeScroll);
}

void Control::ScrollToEnd() { LineScroll(GetLineCount()); }

Control& Control::SetPanelLineCount(int count) {
  lines_.resize(static_cast<size_t>(std::max(0, count)));
  return *this;
}

const PanelLine* Control::GetPanelLine(int line) const {
  if (line < 0 || line >= static_cast<int>(lines_.size())) return nullptr;
  return &lines_[static_cast<size_t>(line)];
}

bool Control::SetPanelLine(int line, const PanelLine& value) {
  if (line < 0 || line >= static_cast<int>(lines_.size())) return false;
  PanelLine& current = lines_[static_cast<size_t>(line)];
  if (current.text == value.text && current.color == value.color &&
      current.emphasised == value.emphasised && current.rect == value.rect) {
    return true;
  }
  current = value;
  Changed(kChangeLine, line);
  return true;
}

bool Control::SetPanelLineText(int line, const std::string& text) {
  const PanelLine* current = GetPanelLine(line);
  if (current == nullptr) return false;
  PanelLine value = *current;
  value.text = text;
  return SetPanelLine(line, value);
}

int Control::InsertColumn(int index, const std::string& caption, int width) {
  if (kind_ != ControlKind::ListView) return -1;
  index = std::clamp(index, 0, static_cast<int>(columns_.size()));
  columns_.insert(columns_.begin() + index, ListColumn{caption, width});
  Changed(kChangeColumns, index, ItemOp::Inserted);
  return index;
}

int Control::InsertItem(int index, const std::string& text) {
  if (!HasRows()) return -1;
  index = std::clamp(index, 0, static_cast<int>(items_.size()));
  ControlItem item;
  item.cells.push_back(text);
  items_.insert(items_.begin() + index, std::move(item));
  if (selection_ >= index) ++selection_;
  Changed(kChangeItems, index, ItemOp::Inserted);
  return index;
}

int Control::InsertTreeItem(const std::string& text, int parent) {
  if (kind_ != ControlKind::TreeView) return -1;
  if (parent != -1 && !ValidItem(parent)) return -1;
  ControlItem item;
  item.cells.push_back(text);
  item.parent = parent;
  items_.push_back(std::move(item));
  int handle = static_cast<int>(items_.size()) - 1;
  Changed(kChangeItems, handle, ItemOp::Inserted);
  return handle;
}

bool Control::SetItemText(int item, int column, const std::string& text) {
  if (!ValidItem(item) || column < 0 || column > 255) return false;
  std::vector<std::string>& cells = items_[static_cast<size_t>(item)].cells;
  if (static_cast<size_t>(column) < cells.size() && cells[static_cast<size_t>(column)] == text) return true;
  if (static_cast<size_t>(column) >= cells.size()) cells.resize(static_cast<size_t>(column) + 1);
  cells[static_cast<size_t>(column)] = text;
  Changed(kChangeItems, item, ItemOp::Changed);
  return true;
}

std::string Control::GetItemText(int item, int column) const {
  if (!ValidItem(item) || column < 0) return {};
  const std::vector<std::string>& cells = items_[static_cast<size_t>(item)].cells;
  return static_cast<size_t>(column) < cells.size() ? cells[static_cast<size_t>(column)] : std::string();
}

bool Control::DeleteItem(int item) {
  if (!HasRows() || !ValidItem(item)) return false;
  items_.erase(items_.begin() + item);
  if (selection_ == item) {
    selection_ = -1;
  } else if (selection_ > item) {
    --selection_;
  }
  Changed(kChangeItems, item, ItemOp::Deleted);
  return true;
}

void Control::DeleteAllItems() {
  if (items_.empty()) return;
  items_.clear();
  selection_ = -1;
  Changed(kChangeItems, -1, ItemOp::Cleared);
}

int Control::GetItemParent(int item) const {
  return ValidItem(item) ? items_[static_cast<size_t>(item)].parent : -1;
}

bool Control::Expand(int item, bool expand) {
  if (kind_ != ControlKind::TreeView || !ValidItem(item)) return false;
  ControlItem& it = items_[static_cast<size_t>(item)];
  if (it.expanded != expand) {
    it.expanded = expand;
    Changed(kChangeItems, item, ItemOp::Changed);
  }
  return true;
}

bool Control::IsExpanded(int item) const {
  return ValidItem(item) && items_[static_cast<size_t>(item)].expanded;
}

bool Control::SetItemChecked(int item, bool checked) {
  if (kind_ != ControlKind::ListView || !ValidItem(item)) return false;
  ControlItem& it = items_[static_cast<size_t>(item)];
  if (it.checked != checked) {
    it.checked = checked;
    Changed(kChangeItems, item, ItemOp::Changed);
  }
  return true;
}

bool Control::GetItemChecked(int item) const {
  return ValidItem(item) && items_[static_cast<size_t>(item)].checked;
}

bool Control::SetCurSel(int item) {
  if (item != -1 && !ValidItem(item)) return false;
  if (item == selection_) return true;
  selection_ = item;
  Changed(kChangeSelection, item);
  return true;
}

}  // namespace hu
