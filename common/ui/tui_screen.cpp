#include "common/ui/tui_screen.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "common/ui/control.h"
#include "common/ui/control_actions.h"
#include "common/ui/desktop.h"
#include "common/ui/dialog.h"
#include "common/ui/text_width.h"

namespace hu {

namespace {

constexpr COLORREF kRed = 255;

bool IsClickable(ControlKind kind) {
  return kind == ControlKind::PushButton || kind == ControlKind::CheckBox || kind == ControlKind::RadioButton;
}

bool HasItems(ControlKind kind) {
  return kind == ControlKind::ListView || kind == ControlKind::TreeView || kind == ControlKind::Tab;
}

// A piece of a label with its own look.
struct Segment {
  std::string text;
  uint32_t attrs = 0;
};

int SegmentsWidth(const std::vector<Segment>& segments) {
  int width = 0;
  for (const Segment& s : segments) width += DisplayWidth(s.text);
  return width;
}

// Draws the segments one after the other, cut after `maxCols` cells.
void DrawSegments(TuiCanvas& canvas, int row, int col, int maxCols, const std::vector<Segment>& segments) {
  int used = 0;
  for (const Segment& s : segments) {
    if (used >= maxCols) break;
    std::string piece = CutToWidth(s.text, maxCols - used);
    canvas.Text(row, col + used, piece, s.attrs);
    used += DisplayWidth(piece);
  }
}

// The caption split around its hot key: the byte of the first ASCII letter or
// digit when it is the hot key, so it can be underlined.
void CaptionSegments(const std::string& caption, char hot, uint32_t attrs, std::vector<Segment>* out) {
  size_t at = std::string::npos;
  for (size_t i = 0; i < caption.size(); ++i) {
    unsigned char ch = static_cast<unsigned char>(caption[i]);
    if (ch < 0x80 && std::isalnum(ch)) {
      if (hot != 0 && std::tolower(ch) == hot) at = i;
      break;
    }
  }
  if (at == std::string::npos) {
    out->push_back(Segment{caption, attrs});
    return;
  }
  out->push_back(Segment{caption.substr(0, at), attrs});
  out->push_back(Segment{caption.substr(at, 1), attrs | kAttrUnderline});
  out->push_back(Segment{caption.substr(at + 1), attrs});
}

// A hot key that is not in the caption is shown before it.
std::string HotPrefix(const std::string& caption, char hot) {
  if (hot == 0) return {};
  for (char raw : caption) {
    unsigned char ch = static_cast<unsigned char>(raw);
    if (ch < 0x80 && std::isalnum(ch)) return std::tolower(ch) == hot ? std::string() : std::string(1, hot) + ":";
  }
  return std::string(1, hot) + ":";
}

// A multi-line edit as display rows: its lines (split at line feeds, as the
// model counts them) wrapped to the width, and the first row shown. The
// model's first visible line is honoured unless that would leave rows empty
// at the bottom, so the latest lines stay in view after appending.
struct EditLines {
  std::vector<std::string> rows;
  std::vector<int> firstRow;  // per line of the text
  int start = 0;
  bool overflow = false;
};

EditLines LayoutEditLines(const Control& c, int cols, int rows) {
  std::vector<std::string> lines;
  const std::string& text = c.GetWindowText();
  size_t pos = 0;
  while (true) {
    size_t nl = text.find('\n', pos);
    std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }
  EditLines out;
  auto wrap = [&](int width) {
    out.rows.clear();
    out.firstRow.clear();
    for (const std::string& line : lines) {
      out.firstRow.push_back(static_cast<int>(out.rows.size()));
      for (std::string& piece : WrapToWidth(line, width)) out.rows.push_back(std::move(piece));
    }
  };
  wrap(cols);
  if (static_cast<int>(out.rows.size()) > rows && cols > 1) {
    // Room for the scroll marks.
    out.overflow = true;
    wrap(cols - 1);
  }
  int total = static_cast<int>(out.rows.size());
  int first = std::clamp(c.GetFirstVisibleLine(), 0, static_cast<int>(lines.size()) - 1);
  out.start = std::min(out.firstRow[static_cast<size_t>(first)], std::max(0, total - rows));
  return out;
}

int ProgressPercent(const Control& c) {
  int64_t lo = c.GetRangeMin();
  int64_t hi = c.GetRangeMax();
  if (hi == lo) return 0;
  int64_t pct = (int64_t{c.GetPos()} - lo) * 100 / (hi - lo);
  return static_cast<int>(std::clamp<int64_t>(pct, 0, 100));
}

}  // namespace

std::vector<std::pair<int, int>> VisibleTreeItems(const Control& tree) {
  const auto& items = tree.Items();
  const int count = static_cast<int>(items.size());
  std::vector<std::vector<int>> children(static_cast<size_t>(count));
  std::vector<int> roots;
  for (int i = 0; i < count; ++i) {
    int parent = items[static_cast<size_t>(i)].parent;
    // Parents come before their children; anything else is taken as a root.
    if (parent >= 0 && parent < i) {
      children[static_cast<size_t>(parent)].push_back(i);
    } else {
      roots.push_back(i);
    }
  }
  std::vector<std::pair<int, int>> visible;
  std::vector<std::pair<int, int>> stack;
  for (auto it = roots.rbegin(); it != roots.rend(); ++it) stack.emplace_back(*it, 0);
  while (!stack.empty()) {
    auto [item, depth] = stack.back();
    stack.pop_back();
    visible.emplace_back(item, depth);
    if (!items[static_cast<size_t>(item)].expanded) continue;
    const auto& kids = children[static_cast<size_t>(item)];
    for (auto it = kids.rbegin(); it != kids.rend(); ++it) stack.emplace_back(*it, depth + 1);
  }
  return visible;
}

TuiScreen::TuiScreen(Desktop& desktop) : desktop_(desktop) {}

const TuiTarget* TuiScreen::Focused() const {
  if (focusIndex_ < 0 || focusIndex_ >= static_cast<int>(focusOrder_.size())) return nullptr;
  return &focusOrder_[static_cast<size_t>(focusIndex_)];
}

bool TuiScreen::TakeRedrawRequest() {
  bool redraw = redraw_;
  redraw_ = false;
  return redraw;
}

void TuiScreen::Paint(TuiCanvas& canvas) {
  views_.clear();
  spots_.clear();
  Dialog* top = desktop_.TopDialog();
  top_ = top != nullptr ? top->GetSafeHwnd() : 0;
  // The last row tells the keys, where the terminal has rows to spare.
  const bool help = canvas.Rows() >= kKeyHelpMinRows;
  const int rows = help ? canvas.Rows() - 1 : canvas.Rows();
  const CellRect terminal{0, 0, canvas.Cols(), rows};
  for (Dialog* dialog : desktop_.OpenDialogs()) {
    if (dialog->IsChild() || !dialog->IsShown()) continue;
    DialogBox box = LayoutTopDialog(*dialog, desktop_.GetScreenSize(), canvas.Cols(), rows);
    if (box.outer.Empty()) continue;
    LayoutDialog(*dialog, box, terminal, dialog == top);
  }
  CollectFocus();
  ResolveFocus();
  canvas.Clear();
  for (const View& view : views_) DrawView(canvas, view);
  if (help) DrawKeyHelp(canvas, canvas.Rows() - 1);
  needsPaint_ = false;
}

void TuiScreen::LayoutDialog(Dialog& dialog, const DialogBox& box, const CellRect& clip, bool active) {
  View view;
  view.dialog = &dialog;
  view.box = box;
  view.cells = LayoutControls(dialog, box);
  view.clip = box.client.Intersect(clip);
  view.active = active;
  CellRect pageArea = box.client;
  const auto& controls = dialog.Controls();
  for (size_t i = 0; i < controls.size(); ++i) {
    if (controls[i]->Kind() == ControlKind::Tab && controls[i]->IsWindowVisible()) {
      pageArea = TabPageArea(view.cells[i]);
      break;
    }
  }
  CellRect pageClip = view.clip;
  views_.push_back(std::move(view));
  for (Dialog* page : dialog.GetChildren()) {
    if (page->IsShown()) LayoutDialog(*page, LayoutChildPage(*page, box, pageArea), pageClip, active);
  }
}

void TuiScreen::CollectFocus() {
  focusOrder_.clear();
  disabled_.clear();
  first_.reset();
  hotKeys_.clear();
  std::vector<std::string> captions;
  std::vector<ControlKey> captioned;
  for (const View& view : views_) {
    if (!view.active) continue;
    const auto& controls = view.dialog->Controls();
    HWND hwnd = view.dialog->GetSafeHwnd();
    for (size_t i = 0; i < controls.size(); ++i) {
      const Control& c = *controls[i];
      if (!view.dialog->IsControlShown(c)) continue;
      const CellRect& cells = view.cells[i];
      if (cells.Intersect(view.clip).Empty()) continue;
      ControlKind kind = c.Kind();
      if (IsClickable(kind)) {
        // Disabled buttons keep their keys, so keys do not move as buttons come and go.
        captions.push_back(c.GetWindowText());
        captioned.emplace_back(hwnd, c.GetDlgCtrlID());
      }
      TuiTarget target;
      target.dialog = hwnd;
      target.control = c.GetDlgCtrlID();
      target.kind = kind;
      target.cells = cells;
      if (!c.IsWindowEnabled()) {
        target.enabled = false;
        if (IsClickable(kind) || (HasItems(kind) && c.GetItemCount() > 0)) {
          disabled_.push_back(target);
          if (!first_) first_ = target;
        }
        continue;
      }
      bool focusable = IsClickable(kind);
      if (HasItems(kind)) {
        focusable = c.GetItemCount() > 0;
        bool header = false;
        for (const ListColumn& col : c.Columns()) header = header || !col.caption.empty();
        target.pageRows = std::max(1, cells.rows - (header ? 1 : 0));
      } else if (kind == ControlKind::Edit && c.IsMultiLine()) {
        focusable = LayoutEditLines(c, cells.cols, cells.rows).overflow;
        target.pageRows = cells.rows;
      }
      if (!focusable) continue;
      focusOrder_.push_back(target);
      if (!first_) first_ = target;
    }
  }
  std::vector<char> keys = AssignHotKeys(captions);
  for (size_t i = 0; i < keys.size(); ++i) {
    if (keys[i] != 0) hotKeys_[captioned[i]] = keys[i];
  }
  for (TuiTarget& target : focusOrder_) target.hotKey = HotKeyOf(target.dialog, target.control);
}

void TuiScreen::ResolveFocus() {
  for (auto it = focusByTop_.begin(); it != focusByTop_.end();) {
    it = FindOpenDialogByHwnd(desktop_, it->first) == nullptr ? focusByTop_.erase(it) : std::next(it);
  }
  focusIndex_ = -1;
  held_.reset();
  if (top_ == 0) return;
  auto it = focusByTop_.find(top_);
  auto disabled = [&](HWND dialog, int control) -> const TuiTarget* {
    for (const TuiTarget& t : disabled_) {
      if (t.dialog == dialog && t.control == control) return &t;
    }
    return nullptr;
  };
  if (it == focusByTop_.end() && first_ && !first_->enabled) {
    // A dialog's first control has the focus from the start, also when the
    // dialog disabled it before the first paint (the updater's search).
    held_ = first_;
    focusByTop_[top_] = FocusRef{first_->dialog, first_->control, 0};
    return;
  }
  if (focusOrder_.empty()) {
    if (it == focusByTop_.end()) return;
    if (const TuiTarget* t = disabled(it->second.dialog, it->second.control)) held_ = *t;
    return;
  }
  int n = static_cast<int>(focusOrder_.size());
  int index = 0;
  if (it != focusByTop_.end()) {
    for (int i = 0; i < n; ++i) {
      if (focusOrder_[static_cast<size_t>(i)].dialog == it->second.dialog &&
          focusOrder_[static_cast<size_t>(i)].control == it->second.control) {
        focusIndex_ = i;
        it->second.index = i;
        return;
      }
    }
    // A control disabled for a while (work under way) keeps the focus, as
    // on the device, so it does not wander off and back.
    if (const TuiTarget* t = disabled(it->second.dialog, it->second.control)) {
      held_ = *t;
      return;
    }
    // The focused control went (hidden): the one now in its place.
    index = std::min(it->second.index, n - 1);
  }
  focusIndex_ = index;
  const TuiTarget& t = focusOrder_[static_cast<size_t>(index)];
  focusByTop_[top_] = FocusRef{t.dialog, t.control, index};
}

void TuiScreen::SetFocus(int index) {
  if (index < 0 || index >= static_cast<int>(focusOrder_.size())) return;
  if (index != focusIndex_) needsPaint_ = true;
  focusIndex_ = index;
  const TuiTarget& t = focusOrder_[static_cast<size_t>(index)];
  focusByTop_[top_] = FocusRef{t.dialog, t.control, index};
}

char TuiScreen::HotKeyOf(HWND dialog, int control) const {
  auto it = hotKeys_.find(ControlKey{dialog, control});
  return it != hotKeys_.end() ? it->second : 0;
}

bool TuiScreen::IsFocused(const View& view, const Control& c) const {
  const TuiTarget* f = held_ ? &*held_ : Focused();
  return view.active && f != nullptr && f->dialog == view.dialog->GetSafeHwnd() && f->control == c.GetDlgCtrlID();
}

int TuiScreen::ScrollTop(const ControlKey& key, int selection, int count, int rows) {
  int& top = listTop_[key];
  rows = std::max(1, rows);
  if (selection >= 0) {
    if (selection < top) top = selection;
    if (selection >= top + rows) top = selection - rows + 1;
  }
  top = std::clamp(top, 0, std::max(0, count - rows));
  return top;
}

void TuiScreen::DrawView(TuiCanvas& canvas, const View& view) {
  const Dialog& dialog = *view.dialog;
  const DialogBox& box = view.box;
  canvas.SetClip(box.outer);
  canvas.Fill(box.outer);
  if (box.titleBar) {
    canvas.Fill(CellRect{box.outer.col, box.outer.row, box.outer.cols, 1}, kAttrReverse);
    std::string busy = desktop_.IsWaitCursor() ? " busy " : "";
    int room = std::max(0, box.outer.cols - 2 - DisplayWidth(busy));
    canvas.Text(box.outer.row, box.outer.col + 1, CutToWidth(dialog.GetWindowText(), room), kAttrReverse | kAttrBold);
    if (!busy.empty()) canvas.Text(box.outer.row, box.outer.Right() - DisplayWidth(busy), busy, kAttrReverse);
  } else if (box.framed) {
    canvas.Frame(box.outer, view.active ? kAttrBold : 0);
    std::string title = dialog.GetWindowText();
    if (!title.empty() && box.outer.cols > 6) {
      canvas.Text(box.outer.row, box.outer.col + 2, " " + CutToWidth(title, box.outer.cols - 6) + " ",
                  view.active ? kAttrBold : 0);
    }
  }
  const auto& controls = dialog.Controls();
  for (size_t i = 0; i < controls.size(); ++i) {
    const Control& c = *controls[i];
    if (!dialog.IsControlShown(c)) continue;
    CellRect clip = view.cells[i].Intersect(view.clip);
    if (clip.Empty()) continue;
    canvas.SetClip(clip);
    DrawControl(canvas, view, c, view.cells[i]);
  }
  canvas.SetClip(view.clip);
}

void TuiScreen::DrawControl(TuiCanvas& canvas, const View& view, const Control& c, const CellRect& cells) {
  const bool enabled = c.IsWindowEnabled();
  const bool focused = IsFocused(view, c);
  uint32_t base = enabled ? 0 : kAttrDim;
  if (c.GetFont().weight >= 700) base |= kAttrBold;
  const HWND hwnd = view.dialog->GetSafeHwnd();
  const int id = c.GetDlgCtrlID();
  const int middle = cells.row + (cells.rows - 1) / 2;
  auto addSpot = [&](ControlKind kind) {
    if (!view.active) return;
    TuiTarget spot;
    spot.dialog = hwnd;
    spot.control = id;
    spot.kind = kind;
    spot.cells = cells.Intersect(view.clip);
    spot.enabled = enabled;
    spots_.push_back(spot);
  };
  switch (c.Kind()) {
    case ControlKind::PushButton: {
      uint32_t attrs = base | (focused ? kAttrReverse | kAttrBold : 0);
      char hot = HotKeyOf(hwnd, id);
      std::string caption = c.GetWindowText();
      std::string prefix = HotPrefix(caption, hot);
      int inner = cells.cols - 2;
      bool spaced = DisplayWidth(prefix + caption) + 2 <= inner;
      if (!spaced) caption = CutToWidth(caption, std::max(0, inner - DisplayWidth(prefix)));
      std::vector<Segment> label{{spaced ? "[ " : "[", attrs}, {prefix, attrs}};
      CaptionSegments(caption, hot, attrs, &label);
      label.push_back(Segment{spaced ? " ]" : "]", attrs});
      int width = SegmentsWidth(label);
      DrawSegments(canvas, middle, cells.col + std::max(0, (cells.cols - width) / 2), cells.cols, label);
      addSpot(c.Kind());
      break;
    }
    case ControlKind::CheckBox:
    case ControlKind::RadioButton: {
      uint32_t attrs = base | (focused ? kAttrReverse | kAttrBold : 0);
      bool checked = c.GetCheck() != 0;
      const char* mark = c.Kind() == ControlKind::CheckBox ? (checked ? "[x] " : "[ ] ") : (checked ? "(*) " : "( ) ");
      char hot = HotKeyOf(hwnd, id);
      std::vector<Segment> label{{mark, attrs}, {HotPrefix(c.GetWindowText(), hot), attrs}};
      CaptionSegments(c.GetWindowText(), hot, attrs, &label);
      DrawSegments(canvas, middle, cells.col, cells.cols, label);
      addSpot(c.Kind());
      break;
    }
    case ControlKind::Static: {
      std::vector<std::string> lines = WrapToWidth(c.GetWindowText(), cells.cols);
      for (int r = 0; r < cells.rows && r < static_cast<int>(lines.size()); ++r) {
        canvas.Text(cells.row + r, cells.col, lines[static_cast<size_t>(r)], base);
      }
      break;
    }
    case ControlKind::Panel: {
      PixelMapper mapper = c.GetRect().w > 0 && c.GetRect().h > 0 ? view.box.mapper.Sub(c.GetRect().x, c.GetRect().y)
                                                                 : view.box.mapper.At(cells.col, cells.row);
      for (const PlacedLine& placed : LayoutPanelLines(c, cells, mapper)) {
        const PanelLine* line = c.GetPanelLine(placed.line);
        uint32_t attrs = base | (line->color == kRed ? kAttrRed : 0) | (line->emphasised ? kAttrBold : 0);
        canvas.Text(placed.row, placed.col, CutToWidth(line->text, placed.cols), attrs);
      }
      break;
    }
    case ControlKind::Edit:
      DrawEdit(canvas, c, cells, focused);
      if (c.IsMultiLine()) addSpot(c.Kind());
      break;
    case ControlKind::Progress: {
      int pct = ProgressPercent(c);
      std::string text = std::to_string(pct) + "%";
      // A dialog that writes the percent beside its bar shows it once.
      bool told = false;
      for (const auto& other : view.dialog->Controls()) {
        told = told || (other->Kind() == ControlKind::Static && view.dialog->IsControlShown(*other) &&
                         other->GetWindowText() == text);
      }
      int bar = told ? cells.cols : cells.cols - 5;
      if (bar >= 3) {
        int inner = bar - 2;
        int filled = inner * pct / 100;
        canvas.Text(middle, cells.col,
                    "[" + std::string(static_cast<size_t>(filled), '#') +
                        std::string(static_cast<size_t>(inner - filled), '.') + "]",
                    base);
        if (!told) canvas.Text(middle, cells.col + bar + 1 + (4 - static_cast<int>(text.size())), text, base);
      } else if (!told) {
        canvas.Text(middle, cells.col, text, base);
      }
      break;
    }
    case ControlKind::ListView:
      addSpot(c.Kind());
      DrawList(canvas, view, c, cells, focused);
      break;
    case ControlKind::TreeView:
      addSpot(c.Kind());
      DrawTree(canvas, view, c, cells, focused);
      break;
    case ControlKind::Tab:
      DrawTabs(canvas, view, c, cells, focused);
      break;
  }
}

void TuiScreen::DrawEdit(TuiCanvas& canvas, const Control& c, const CellRect& cells, bool focused) {
  uint32_t base = c.IsWindowEnabled() ? 0 : kAttrDim;
  if (c.GetFont().weight >= 700) base |= kAttrBold;
  if (!c.IsMultiLine()) {
    std::string text = c.GetWindowText();
    text = text.substr(0, text.find_first_of("\r\n"));
    canvas.Text(cells.row, cells.col, CutToWidth(text, cells.cols), base);
    return;
  }
  EditLines lines = LayoutEditLines(c, cells.cols, cells.rows);
  int total = static_cast<int>(lines.rows.size());
  for (int r = 0; r < cells.rows && lines.start + r < total; ++r) {
    canvas.Text(cells.row + r, cells.col, lines.rows[static_cast<size_t>(lines.start + r)], base);
  }
  if (!lines.overflow) return;
  uint32_t mark = base | (focused ? kAttrReverse | kAttrBold : 0);
  int right = cells.Right() - 1;
  canvas.Text(cells.row, right, lines.start > 0 ? "^" : " ", mark);
  canvas.Text(cells.Bottom() - 1, right, lines.start + cells.rows < total ? "v" : " ", mark);
  for (int r = 1; r < cells.rows - 1; ++r) canvas.Text(cells.row + r, right, focused ? "|" : " ", mark);
}

void TuiScreen::DrawList(TuiCanvas& canvas, const View& view, const Control& c, const CellRect& cells,
                         bool focused) {
  uint32_t base = c.IsWindowEnabled() ? 0 : kAttrDim;
  const HWND hwnd = view.dialog->GetSafeHwnd();
  const auto& columns = c.Columns();
  bool header = false;
  for (const ListColumn& col : columns) header = header || !col.caption.empty();
  std::vector<int> widths;
  for (const ListColumn& col : columns) widths.push_back(view.box.mapper.Cols(col.width));
  if (widths.empty()) widths.push_back(cells.cols);
  bool checks = false;
  for (const ControlItem& item : c.Items()) checks = checks || item.checked;

  int row = cells.row;
  if (header) {
    int x = cells.col;
    for (size_t j = 0; j < columns.size(); ++j) {
      canvas.Text(row, x, FitToWidth(columns[j].caption, widths[j]),
                  base | kAttrUnderline | (focused ? kAttrReverse | kAttrBold : 0));
      x += widths[j] + 1;
    }
    ++row;
  }
  int rows = cells.Bottom() - row;
  int count = c.GetItemCount();
  int sel = c.GetCurSel();
  int top = ScrollTop(ControlKey{hwnd, c.GetDlgCtrlID()}, sel, count, rows);
  // The row Enter would choose stands out while the list has the focus;
  // otherwise the chosen row is only underlined, so the focus shows.
  int cursor = focused ? (sel >= 0 ? sel : top) : -1;
  for (int r = 0; r < rows && top + r < count; ++r) {
    int index = top + r;
    const ControlItem& item = c.Items()[static_cast<size_t>(index)];
    uint32_t attrs = base;
    if (index == cursor) {
      attrs |= kAttrReverse | kAttrBold;
    } else if (index == sel) {
      attrs |= kAttrUnderline;
    }
    canvas.Blank(row + r, cells.col, cells.cols, attrs);
    int x = cells.col;
    if (checks) x = canvas.Text(row + r, x, item.checked ? "[x] " : "[ ] ", attrs);
    for (size_t j = 0; j < widths.size(); ++j) {
      std::string cell = j < item.cells.size() ? item.cells[j] : std::string();
      canvas.Text(row + r, x, CutToWidth(cell, widths[j]), attrs);
      x += widths[j] + 1;
    }
    if (view.active) {
      TuiTarget spot;
      spot.dialog = hwnd;
      spot.control = c.GetDlgCtrlID();
      spot.kind = ControlKind::ListView;
      spot.cells = CellRect{cells.col, row + r, cells.cols, 1}.Intersect(view.clip);
      spot.item = index;
      spot.enabled = c.IsWindowEnabled();
      spots_.push_back(spot);
    }
  }
}

void TuiScreen::DrawTree(TuiCanvas& canvas, const View& view, const Control& c, const CellRect& cells,
                         bool focused) {
  uint32_t base = c.IsWindowEnabled() ? 0 : kAttrDim;
  const HWND hwnd = view.dialog->GetSafeHwnd();
  std::vector<std::pair<int, int>> visible = VisibleTreeItems(c);
  std::vector<bool> parents(static_cast<size_t>(c.GetItemCount()), false);
  for (int i = 0; i < c.GetItemCount(); ++i) {
    int p = c.GetItemParent(i);
    if (p >= 0 && p < i) parents[static_cast<size_t>(p)] = true;
  }
  int sel = c.GetCurSel();
  int selPos = -1;
  for (size_t k = 0; k < visible.size(); ++k) {
    if (visible[k].first == sel) selPos = static_cast<int>(k);
  }
  int count = static_cast<int>(visible.size());
  int top = ScrollTop(ControlKey{hwnd, c.GetDlgCtrlID()}, selPos, count, cells.rows);
  for (int r = 0; r < cells.rows && top + r < count; ++r) {
    auto [item, depth] = visible[static_cast<size_t>(top + r)];
    int row = cells.row + r;
    int x = cells.col + 2 * depth;
    bool hasChildren = parents[static_cast<size_t>(item)];
    canvas.Text(row, x, hasChildren ? (c.IsExpanded(item) ? "- " : "+ ") : "  ", base);
    uint32_t attrs = base | (item == sel ? (focused ? kAttrReverse | kAttrBold : kAttrUnderline) : 0);
    canvas.Text(row, x + 2, c.GetItemText(item), attrs);
    if (!view.active) continue;
    TuiTarget spot;
    spot.dialog = hwnd;
    spot.control = c.GetDlgCtrlID();
    spot.kind = ControlKind::TreeView;
    spot.cells = CellRect{cells.col, row, cells.cols, 1}.Intersect(view.clip);
    spot.item = item;
    spot.enabled = c.IsWindowEnabled();
    spots_.push_back(spot);
    if (hasChildren) {
      spot.cells = CellRect{x, row, 1, 1}.Intersect(view.clip);
      spot.expander = true;
      spots_.push_back(spot);
    }
  }
}

void TuiScreen::DrawTabs(TuiCanvas& canvas, const View& view, const Control& c, const CellRect& cells,
                         bool focused) {
  uint32_t base = c.IsWindowEnabled() ? 0 : kAttrDim;
  const HWND hwnd = view.dialog->GetSafeHwnd();
  int sel = c.GetCurSel();
  int x = cells.col;
  for (int i = 0; i < c.GetItemCount(); ++i) {
    std::string text = c.GetItemText(i);
    std::string label = i == sel ? "[" + text + "]" : " " + text + " ";
    uint32_t attrs = base | (i == sel ? kAttrBold | (focused ? kAttrReverse : 0) : 0);
    int end = canvas.Text(cells.row, x, label, attrs);
    if (view.active) {
      TuiTarget spot;
      spot.dialog = hwnd;
      spot.control = c.GetDlgCtrlID();
      spot.kind = ControlKind::Tab;
      spot.cells = CellRect{x, cells.row, end - x, 1}.Intersect(view.clip);
      spot.item = i;
      spot.enabled = c.IsWindowEnabled();
      spots_.push_back(spot);
    }
    x = end + 1;
  }
  if (cells.rows >= 3) {
    for (int col = cells.col; col < cells.Right(); ++col) canvas.Text(cells.row + 1, col, "-", base);
  }
}

void TuiScreen::DrawKeyHelp(TuiCanvas& canvas, int row) const {
  canvas.SetClip(CellRect{0, row, canvas.Cols(), 1});
  std::optional<ControlKind> kind;
  if (Focused() != nullptr) kind = Focused()->kind;
  std::vector<std::pair<std::string, std::string>> keys{{"Tab", "next"}};
  switch (kind.value_or(ControlKind::PushButton)) {
    case ControlKind::ListView: keys.push_back({"Up/Down", "row"}); keys.push_back({"Enter", "choose"}); break;
    case ControlKind::TreeView: keys.push_back({"Up/Down", "item"}); keys.push_back({"Space", "open"}); break;
    case ControlKind::Tab: keys.push_back({"Left/Right", "page"}); break;
    case ControlKind::Edit: keys.push_back({"Up/Down/PgUp/PgDn", "scroll"}); break;
    default: keys.push_back({"Enter", "press"}); break;
  }
  if (CanCancel()) keys.push_back({"Esc", "cancel"});
  if (!hotKeys_.empty()) keys.push_back({"1-9 a-z", "the button with that key"});
  std::vector<Segment> line;
  for (const auto& [key, what] : keys) {
    line.push_back(Segment{" " + key, kAttrBold});
    line.push_back(Segment{" " + what + " ", 0});
  }
  canvas.Fill(CellRect{0, row, canvas.Cols(), 1});
  DrawSegments(canvas, row, 0, canvas.Cols(), line);
}

int TuiScreen::SpotAt(int row, int col) const {
  for (int i = static_cast<int>(spots_.size()) - 1; i >= 0; --i) {
    if (spots_[static_cast<size_t>(i)].cells.Contains(row, col)) return i;
  }
  return -1;
}

bool TuiScreen::Click(const TuiTarget& target) {
  if (!IsClickable(target.kind)) return false;
  Desktop& desktop = desktop_;
  HWND hwnd = target.dialog;
  int id = target.control;
  desktop_.loop().Post([&desktop, hwnd, id] { ClickDialogControl(desktop, hwnd, id); });
  return true;
}

bool TuiScreen::Post(const TuiTarget& target, int item) {
  Desktop& desktop = desktop_;
  HWND hwnd = target.dialog;
  int id = target.control;
  desktop_.loop().Post([&desktop, hwnd, id, item] { SelectDialogItem(desktop, hwnd, id, item); });
  return true;
}

bool TuiScreen::CanCancel() const {
  Dialog* top = desktop_.TopDialog();
  if (top == nullptr) return false;
  // Only where a person could press Cancel: a dialog whose cancel button is
  // disabled or hidden (an update under way) must not end on a key.
  Control* cancel = top->GetDlgItem(IDCANCEL);
  return cancel != nullptr && top->IsControlShown(*cancel) && cancel->IsWindowEnabled();
}

bool TuiScreen::Cancel() {
  if (!CanCancel()) return false;
  Dialog* top = desktop_.TopDialog();
  TuiTarget target;
  target.dialog = top->GetSafeHwnd();
  target.control = IDCANCEL;
  target.kind = ControlKind::PushButton;
  return Click(target);
}

bool TuiScreen::MoveItem(const TuiTarget& target, TuiAction action) {
  Dialog* dialog = FindOpenDialogByHwnd(desktop_, target.dialog);
  Control* c = dialog != nullptr ? dialog->GetDlgItem(target.control) : nullptr;
  if (c == nullptr) return false;
  std::vector<int> order;  // the items in the order the keys walk them
  if (c->Kind() == ControlKind::TreeView) {
    for (const auto& entry : VisibleTreeItems(*c)) order.push_back(entry.first);
  } else {
    for (int i = 0; i < c->GetItemCount(); ++i) order.push_back(i);
  }
  if (order.empty()) return false;
  int n = static_cast<int>(order.size());
  int pos = static_cast<int>(std::find(order.begin(), order.end(), c->GetCurSel()) - order.begin());
  bool none = pos >= n;
  int page = std::max(1, target.pageRows - 1);
  int next = pos;
  if (c->Kind() == ControlKind::Tab) {
    if (action != TuiAction::ItemPrev && action != TuiAction::ItemNext) return false;
    next = none ? 0 : pos + (action == TuiAction::ItemNext ? 1 : -1);
  } else {
    switch (action) {
      case TuiAction::ItemPrev: next = none ? 0 : pos - 1; break;
      case TuiAction::ItemNext: next = none ? 0 : pos + 1; break;
      case TuiAction::PagePrev: next = none ? 0 : pos - page; break;
      case TuiAction::PageNext: next = none ? 0 : pos + page; break;
      case TuiAction::ItemFirst: next = 0; break;
      case TuiAction::ItemLast: next = n - 1; break;
      default: return false;
    }
  }
  next = std::clamp(next, 0, n - 1);
  if (!none && next == pos) return false;
  return Post(target, order[static_cast<size_t>(next)]);
}

bool TuiScreen::ScrollEdit(const TuiTarget& target, TuiAction action) {
  Dialog* dialog = FindOpenDialogByHwnd(desktop_, target.dialog);
  Control* c = dialog != nullptr ? dialog->GetDlgItem(target.control) : nullptr;
  if (c == nullptr) return false;
  EditLines lines = LayoutEditLines(*c, target.cells.cols, target.cells.rows);
  int rows = std::max(1, target.cells.rows);
  int maxStart = std::max(0, static_cast<int>(lines.rows.size()) - rows);
  int start = lines.start;
  int page = std::max(1, rows - 1);
  int wanted = start;
  switch (action) {
    case TuiAction::ItemPrev: wanted = start - 1; break;
    case TuiAction::ItemNext: wanted = start + 1; break;
    case TuiAction::PagePrev: wanted = start - page; break;
    case TuiAction::PageNext: wanted = start + page; break;
    case TuiAction::ItemFirst: wanted = 0; break;
    case TuiAction::ItemLast: wanted = maxStart; break;
    default: return false;
  }
  wanted = std::clamp(wanted, 0, maxStart);
  if (wanted == start) return false;
  // The model scrolls by lines of the text; a wrapped line moves as a whole.
  const std::vector<int>& first = lines.firstRow;
  int line = 0;
  if (wanted < start) {
    for (int i = 0; i < static_cast<int>(first.size()); ++i) {
      if (first[static_cast<size_t>(i)] <= wanted) line = i;
    }
  } else {
    line = static_cast<int>(first.size()) - 1;
    for (int i = 0; i < static_cast<int>(first.size()); ++i) {
      if (first[static_cast<size_t>(i)] >= wanted) {
        line = i;
        break;
      }
    }
  }
  c->LineScroll(line - c->GetFirstVisibleLine());
  needsPaint_ = true;
  return false;
}

bool TuiScreen::ExpandTreeItem(const TuiTarget& target, TuiAction action) {
  Dialog* dialog = FindOpenDialogByHwnd(desktop_, target.dialog);
  Control* c = dialog != nullptr ? dialog->GetDlgItem(target.control) : nullptr;
  if (c == nullptr || c->Kind() != ControlKind::TreeView) return false;
  int sel = c->GetCurSel();
  if (sel < 0) return MoveItem(target, TuiAction::ItemFirst);
  int firstChild = -1;
  for (int i = sel + 1; i < c->GetItemCount(); ++i) {
    if (c->GetItemParent(i) == sel) {
      firstChild = i;
      break;
    }
  }
  bool expanded = c->IsExpanded(sel);
  switch (action) {
    case TuiAction::Activate:
      if (firstChild < 0) return false;
      c->Expand(sel, !expanded);
      break;
    case TuiAction::Expand:
      if (firstChild < 0) return false;
      if (expanded) return Post(target, firstChild);
      c->Expand(sel, true);
      break;
    case TuiAction::Collapse:
      if (firstChild >= 0 && expanded) {
        c->Expand(sel, false);
      } else if (c->GetItemParent(sel) >= 0) {
        return Post(target, c->GetItemParent(sel));
      }
      break;
    default:
      return false;
  }
  needsPaint_ = true;
  return false;
}

bool TuiScreen::HandleKey(const TuiKey& key) {
  // A copy: the actions below change the model, and with it what a paint finds.
  std::optional<TuiTarget> focused;
  if (Focused() != nullptr) focused = *Focused();
  std::optional<ControlKind> kind;
  if (focused) kind = focused->kind;
  const int n = static_cast<int>(focusOrder_.size());
  switch (TuiAction action = MapKey(key, kind)) {
    case TuiAction::None:
      return false;
    case TuiAction::FocusNext:
      if (n == 0) return false;
      if (held_) {
        // The control after a disabled one has taken its place in the order.
        SetFocus(std::min(focusByTop_[top_].index, n) % n);
        held_.reset();
      } else {
        SetFocus(focusIndex_ < 0 ? 0 : (focusIndex_ + 1) % n);
      }
      return false;
    case TuiAction::FocusPrev:
      if (n == 0) return false;
      if (held_) {
        int after = std::min(focusByTop_[top_].index, n);
        SetFocus(after == 0 ? n - 1 : after - 1);
        held_.reset();
      } else {
        SetFocus(focusIndex_ <= 0 ? n - 1 : focusIndex_ - 1);
      }
      return false;
    case TuiAction::Activate:
      if (!focused) return false;
      if (focused->kind == ControlKind::TreeView) return ExpandTreeItem(*focused, action);
      if (focused->kind == ControlKind::ListView) return ChooseRow(*focused, -1);
      return Click(*focused);
    case TuiAction::Cancel:
      return Cancel();
    case TuiAction::ItemPrev:
    case TuiAction::ItemNext:
    case TuiAction::PagePrev:
    case TuiAction::PageNext:
    case TuiAction::ItemFirst:
    case TuiAction::ItemLast:
      if (!focused) return false;
      if (focused->kind == ControlKind::Edit) return ScrollEdit(*focused, action);
      return MoveItem(*focused, action);
    case TuiAction::Expand:
    case TuiAction::Collapse:
      return focused && ExpandTreeItem(*focused, action);
    case TuiAction::HotKey: {
      char wanted = static_cast<char>(std::tolower(static_cast<int>(key.ch)));
      for (int i = 0; i < n; ++i) {
        if (focusOrder_[static_cast<size_t>(i)].hotKey == wanted) {
          TuiTarget target = focusOrder_[static_cast<size_t>(i)];
          SetFocus(i);
          return Click(target);
        }
      }
      return false;
    }
    case TuiAction::Redraw:
      redraw_ = true;
      needsPaint_ = true;
      return false;
  }
  return false;
}

bool TuiScreen::HandleClick(int row, int col) {
  int index = SpotAt(row, col);
  if (index < 0) return false;
  TuiTarget spot = spots_[static_cast<size_t>(index)];
  if (!spot.enabled) return false;
  for (int i = 0; i < static_cast<int>(focusOrder_.size()); ++i) {
    const TuiTarget& t = focusOrder_[static_cast<size_t>(i)];
    if (t.dialog == spot.dialog && t.control == spot.control) {
      SetFocus(i);
      spot.pageRows = t.pageRows;
      break;
    }
  }
  if (IsClickable(spot.kind)) return Click(spot);
  if (spot.item < 0) return false;
  Dialog* dialog = FindOpenDialogByHwnd(desktop_, spot.dialog);
  Control* c = dialog != nullptr ? dialog->GetDlgItem(spot.control) : nullptr;
  if (c == nullptr) return false;
  if (spot.expander) {
    c->Expand(spot.item, !c->IsExpanded(spot.item));
    needsPaint_ = true;
    return false;
  }
  if (spot.kind == ControlKind::Tab) return spot.item != c->GetCurSel() && Post(spot, spot.item);
  return ChooseRow(spot, spot.item);
}

bool TuiScreen::ChooseRow(const TuiTarget& target, int item) {
  // The row is chosen (when it is not the chosen one already) and then
  // clicked, in the order a list control reports them; -1 stands for the
  // row under the cursor: the chosen one, else the first shown.
  if (item < 0) {
    Dialog* dialog = FindOpenDialogByHwnd(desktop_, target.dialog);
    Control* c = dialog != nullptr ? dialog->GetDlgItem(target.control) : nullptr;
    if (c == nullptr || c->GetItemCount() == 0) return false;
    item = c->GetCurSel() >= 0 ? c->GetCurSel() : listTop_[ControlKey{target.dialog, target.control}];
  }
  Desktop& desktop = desktop_;
  HWND hwnd = target.dialog;
  int id = target.control;
  desktop_.loop().Post([&desktop, hwnd, id, item] {
    Dialog* d = FindOpenDialogByHwnd(desktop, hwnd);
    Control* control = d != nullptr ? d->GetDlgItem(id) : nullptr;
    if (control == nullptr) return;
    if (control->GetCurSel() != item) SelectDialogItem(desktop, hwnd, id, item);
    NotifyDialog(desktop, hwnd, id, NM_CLICK);
  });
  return true;
}

}  // namespace hu
