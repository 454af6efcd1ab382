#include "common/ui/tui_canvas.h"

#include <algorithm>

#include "common/ui/text_width.h"

namespace hu {

CellRect CellRect::Intersect(const CellRect& o) const {
  int left = std::max(col, o.col);
  int top = std::max(row, o.row);
  int right = std::min(Right(), o.Right());
  int bottom = std::min(Bottom(), o.Bottom());
  if (right <= left || bottom <= top) return CellRect{left, top, 0, 0};
  return CellRect{left, top, right - left, bottom - top};
}

void TuiCanvas::Clear() {
  clip_ = CellRect{0, 0, 1 << 20, 1 << 20};
  ClearAll();
}

int TuiCanvas::Text(int row, int col, const std::string& utf8, uint32_t attrs) {
  CellRect clip = Clip();
  if (row < clip.row || row >= clip.Bottom()) return col + DisplayWidth(utf8);
  for (const Glyph& g : SplitGlyphs(utf8)) {
    int end = col + g.width;
    if (col >= clip.col && end <= clip.Right()) {
      PutGlyph(row, col, g.bytes, g.width, attrs);
    } else {
      // Half of a wide glyph inside the clip: keep the cell blank.
      for (int c = std::max(col, clip.col); c < std::min(end, clip.Right()); ++c) PutGlyph(row, c, " ", 1, attrs);
    }
    col = end;
  }
  return col;
}

void TuiCanvas::Blank(int row, int col, int cols, uint32_t attrs) {
  CellRect clip = Clip();
  if (row < clip.row || row >= clip.Bottom()) return;
  for (int c = std::max(col, clip.col); c < std::min(col + cols, clip.Right()); ++c) PutGlyph(row, c, " ", 1, attrs);
}

void TuiCanvas::Fill(const CellRect& rect, uint32_t attrs) {
  for (int r = rect.row; r < rect.Bottom(); ++r) Blank(r, rect.col, rect.cols, attrs);
}

void TuiCanvas::Symbol(int row, int col, FrameSymbol symbol, uint32_t attrs) {
  if (Clip().Contains(row, col)) PutSymbol(row, col, symbol, attrs);
}

void TuiCanvas::Frame(const CellRect& rect, uint32_t attrs) {
  if (rect.cols < 2 || rect.rows < 2) return;
  int right = rect.Right() - 1;
  int bottom = rect.Bottom() - 1;
  for (int c = rect.col + 1; c < right; ++c) {
    Symbol(rect.row, c, FrameSymbol::Horizontal, attrs);
    Symbol(bottom, c, FrameSymbol::Horizontal, attrs);
  }
  for (int r = rect.row + 1; r < bottom; ++r) {
    Symbol(r, rect.col, FrameSymbol::Vertical, attrs);
    Symbol(r, right, FrameSymbol::Vertical, attrs);
  }
  Symbol(rect.row, rect.col, FrameSymbol::TopLeft, attrs);
  Symbol(rect.row, right, FrameSymbol::TopRight, attrs);
  Symbol(bottom, rect.col, FrameSymbol::BottomLeft, attrs);
  Symbol(bottom, right, FrameSymbol::BottomRight, attrs);
}

}  // namespace hu
