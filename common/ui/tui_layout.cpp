#include "common/ui/tui_layout.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "common/ui/control.h"
#include "common/ui/dialog.h"
#include "common/ui/text_width.h"

namespace hu {

namespace {

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

bool IsInline(ControlKind kind) {
  return kind == ControlKind::PushButton || kind == ControlKind::CheckBox || kind == ControlKind::RadioButton;
}

bool IsArea(const Control& c) {
  switch (c.Kind()) {
    case ControlKind::Panel:
    case ControlKind::ListView:
    case ControlKind::TreeView:
    case ControlKind::Tab:
      return true;
    case ControlKind::Edit:
      return c.IsMultiLine();
    default:
      return false;
  }
}

bool HasArea(const Rect& r) { return r.w > 0 && r.h > 0; }

// Cells a button or check box asks for in the flow, with a gap after it.
int InlineWidth(const Control& c) { return DisplayWidth(c.GetWindowText()) + 6; }

bool HasAsciiAlnum(const std::string& text) {
  for (char ch : text) {
    if (static_cast<unsigned char>(ch) < 0x80 && std::isalnum(static_cast<unsigned char>(ch))) return true;
  }
  return false;
}

// Cells the whole label of a button, check box or radio button takes: the
// brackets or the mark, the caption, and a digit hot key shown before a
// caption that has no letter of its own.
int LabelWidth(const Control& c) {
  const std::string& caption = c.GetWindowText();
  return DisplayWidth(caption) + 4 + (HasAsciiAlnum(caption) ? 0 : 2);
}

// Pixels on the device fit a caption that cells cut: a label too long for
// its cells takes the free cells to its right, and then the room a push
// button to its right does not need (its label is centred, so it gives up
// cells on its left), keeping a blank between the two.
void FitLabels(const Dialog& dialog, const CellRect& client, std::vector<CellRect>* cells) {
  const auto& controls = dialog.Controls();
  auto shown = [&](size_t i) {
    return controls[i]->IsWindowVisible() && HasArea(controls[i]->GetRect()) && !(*cells)[i].Empty();
  };
  std::vector<size_t> order;
  for (size_t i = 0; i < controls.size(); ++i) {
    if (shown(i)) order.push_back(i);
  }
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return (*cells)[a].col < (*cells)[b].col; });
  for (size_t i : order) {
    const Control& c = *controls[i];
    if (!IsInline(c.Kind())) continue;
    CellRect& own = (*cells)[i];
    int need = LabelWidth(c);
    if (own.cols >= need) continue;
    int right = std::min(own.col + need, client.Right());
    for (size_t j : order) {
      CellRect& other = (*cells)[j];
      if (j == i || other.col <= own.col || other.row >= own.Bottom() || own.row >= other.Bottom()) continue;
      if (other.col > right) continue;
      bool button = controls[j]->Kind() == ControlKind::PushButton;
      int limit = button ? std::max(other.col, other.Right() - LabelWidth(*controls[j])) - 1 : other.col - 1;
      right = std::min(right, std::max(own.Right(), limit));
    }
    if (right <= own.Right()) continue;
    own.cols = right - own.col;
    for (size_t j : order) {
      CellRect& other = (*cells)[j];
      if (j == i || other.col <= own.col || other.row >= own.Bottom() || own.row >= other.Bottom()) continue;
      if (controls[j]->Kind() != ControlKind::PushButton || other.col > own.Right()) continue;
      int moved = own.Right() + 1 - other.col;
      other.col += moved;
      other.cols -= moved;
    }
  }
}

}  // namespace

PixelMapper::PixelMapper(int pixelWidth, int pixelHeight, const CellRect& cells)
    : originCol_(cells.col),
      originRow_(cells.row),
      colNum_(std::max(0, cells.cols)),
      colDen_(std::max(1, pixelWidth)),
      rowNum_(std::max(0, cells.rows)),
      rowDen_(std::max(1, pixelHeight)) {}

int PixelMapper::Col(int x) const { return originCol_ + static_cast<int>(FloorDiv(int64_t{x} * colNum_, colDen_)); }

int PixelMapper::Row(int y) const { return originRow_ + static_cast<int>(FloorDiv(int64_t{y} * rowNum_, rowDen_)); }

CellRect PixelMapper::Map(const Rect& px) const {
  CellRect cells{Col(px.x), Row(px.y), 0, 0};
  if (!HasArea(px)) return cells;
  cells.cols = std::max(1, Col(px.x + px.w) - cells.col);
  cells.rows = std::max(1, Row(px.y + px.h) - cells.row);
  return cells;
}

int PixelMapper::Cols(int w) const {
  if (w <= 0) return 0;
  return std::max<int>(1, static_cast<int>(FloorDiv(int64_t{w} * colNum_ + colDen_ / 2, colDen_)));
}

PixelMapper PixelMapper::At(int originCol, int originRow) const {
  PixelMapper m = *this;
  m.originCol_ = originCol;
  m.originRow_ = originRow;
  return m;
}

DialogBox LayoutTopDialog(const Dialog& dialog, ScreenSize screen, int cols, int rows) {
  DialogBox box;
  const Rect& r = dialog.GetWindowRect();
  if (!HasArea(r) || cols <= 0 || rows <= 0) return box;
  const CellRect terminal{0, 0, cols, rows};
  PixelMapper screenMap(std::max(1, screen.width), std::max(1, screen.height), terminal);
  CellRect outer = screenMap.Map(r);
  // A cell of slack: a window a few pixels short of the screen still fills it.
  if (outer.col <= 0 && outer.row <= 0 && outer.Right() >= cols - 1 && outer.Bottom() >= rows - 1) {
    box.outer = terminal;
    box.titleBar = true;
    box.client = CellRect{0, std::min(1, rows), cols, std::max(0, rows - 1)};
    box.mapper = PixelMapper(r.w, r.h, box.client);
    return box;
  }
  int minCols = std::min(cols, std::max(DisplayWidth(dialog.GetWindowText()) + 6, 16));
  int minRows = std::min(rows, 4);
  if (outer.cols < minCols) {
    outer.col -= (minCols - outer.cols) / 2;
    outer.cols = minCols;
  }
  if (outer.rows < minRows) {
    outer.row -= (minRows - outer.rows) / 2;
    outer.rows = minRows;
  }
  outer.cols = std::min(outer.cols, cols);
  outer.rows = std::min(outer.rows, rows);
  outer.col = std::clamp(outer.col, 0, cols - outer.cols);
  outer.row = std::clamp(outer.row, 0, rows - outer.rows);
  box.outer = outer;
  box.framed = true;
  box.client = CellRect{outer.col + 1, outer.row + 1, std::max(0, outer.cols - 2), std::max(0, outer.rows - 2)};
  box.mapper = PixelMapper(r.w, r.h, box.client);
  return box;
}

DialogBox LayoutChildPage(const Dialog& page, const DialogBox& parent, const CellRect& fallback) {
  DialogBox box;
  const Rect& r = page.GetWindowRect();
  if (HasArea(r)) {
    box.client = parent.mapper.Map(r).Intersect(parent.client);
    box.mapper = parent.mapper.Sub(r.x, r.y);
    // A page placed just under the tabs would cover their line, which takes
    // a whole row here: it is fitted into the rows under it instead.
    CellRect area = fallback.Intersect(parent.client);
    if (!area.Empty() && box.client.row < area.row && box.client.Bottom() > area.row) {
      box.client.rows = box.client.Bottom() - area.row;
      box.client.row = area.row;
      box.mapper = PixelMapper(r.w, r.h, box.client);
    }
  } else {
    box.client = fallback.Intersect(parent.client);
    box.mapper = parent.mapper.At(fallback.col, fallback.row);
  }
  box.outer = box.client;
  return box;
}

CellRect TabPageArea(const CellRect& tab) {
  int skip = tab.rows >= 3 ? 2 : 1;
  return CellRect{tab.col, tab.row + skip, tab.cols, std::max(0, tab.rows - skip)};
}

std::vector<CellRect> LayoutControls(const Dialog& dialog, const DialogBox& box) {
  const auto& controls = dialog.Controls();
  std::vector<CellRect> cells(controls.size());
  const CellRect& client = box.client;
  int flowTop = client.row;
  std::vector<size_t> unplaced;
  for (size_t i = 0; i < controls.size(); ++i) {
    const Control& c = *controls[i];
    if (HasArea(c.GetRect())) {
      cells[i] = box.mapper.Map(c.GetRect());
      if (c.IsWindowVisible() && !cells[i].Intersect(client).Empty()) flowTop = std::max(flowTop, cells[i].Bottom());
    } else if (c.IsWindowVisible()) {
      unplaced.push_back(i);
    } else {
      cells[i] = CellRect{client.col, client.row, 0, 0};
    }
  }
  FitLabels(dialog, client, &cells);
  if (unplaced.empty()) return cells;

  // First pass: the rows that buttons, texts and bars need; areas share the rest.
  int fixedRows = 0;
  int areas = 0;
  int rowUsed = 0;
  bool inRow = false;
  for (size_t i : unplaced) {
    const Control& c = *controls[i];
    if (IsInline(c.Kind())) {
      int w = std::min(InlineWidth(c), client.cols);
      if (!inRow || rowUsed + w > client.cols) {
        ++fixedRows;
        rowUsed = 0;
        inRow = true;
      }
      rowUsed += w;
      continue;
    }
    inRow = false;
    if (IsArea(c)) {
      ++areas;
    } else {
      ++fixedRows;
    }
  }
  int left = std::max(0, client.Bottom() - flowTop - fixedRows);
  int areaRows = areas > 0 ? std::max(3, left / areas) : 0;

  int row = flowTop;
  int col = client.col;
  inRow = false;
  for (size_t i : unplaced) {
    const Control& c = *controls[i];
    if (IsInline(c.Kind())) {
      int w = std::min(InlineWidth(c), client.cols);
      if (inRow && col + w > client.Right()) {
        ++row;
        col = client.col;
      }
      cells[i] = CellRect{col, row, std::max(1, w - 2), 1};
      col += w;
      inRow = true;
      continue;
    }
    if (inRow) {
      ++row;
      col = client.col;
      inRow = false;
    }
    int h = IsArea(c) ? areaRows : 1;
    cells[i] = CellRect{client.col, row, client.cols, h};
    row += h;
  }
  return cells;
}

std::vector<PlacedLine> LayoutPanelLines(const Control& panel, const CellRect& panelCells, const PixelMapper& mapper) {
  std::vector<PlacedLine> placed;
  // Per row of the panel, the column spans already taken.
  std::vector<std::vector<std::pair<int, int>>> taken(static_cast<size_t>(std::max(0, panelCells.rows)));
  auto overlaps = [&](int row, int first, int last) {
    for (const auto& span : taken[static_cast<size_t>(row - panelCells.row)]) {
      if (first < span.second && span.first < last) return true;
    }
    return false;
  };
  for (int i = 0; i < panel.GetPanelLineCount(); ++i) {
    const PanelLine* line = panel.GetPanelLine(i);
    if (line == nullptr || line->text.empty()) continue;
    CellRect cells = HasArea(line->rect) ? mapper.Map(line->rect)
                                         : CellRect{panelCells.col, panelCells.row + i, panelCells.cols, 1};
    int col = std::max(cells.col, panelCells.col);
    int right = std::min(cells.Right(), panelCells.Right());
    int row = cells.row;
    if (right <= col || row < panelCells.row || row >= panelCells.Bottom()) continue;
    int used = std::min(right - col, std::max(1, DisplayWidth(line->text)));
    while (row < panelCells.Bottom() && overlaps(row, col, col + used)) ++row;
    if (row >= panelCells.Bottom()) continue;
    taken[static_cast<size_t>(row - panelCells.row)].emplace_back(col, col + used);
    placed.push_back(PlacedLine{i, row, col, right - col});
  }
  return placed;
}

}  // namespace hu
