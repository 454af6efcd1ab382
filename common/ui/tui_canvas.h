#pragma once
#include <cstdint>
#include <string>

namespace hu {

// A rectangle of terminal cells.
struct CellRect {
  int col = 0, row = 0, cols = 0, rows = 0;
  int Right() const { return col + cols; }   // one past the last column
  int Bottom() const { return row + rows; }  // one past the last row
  bool Empty() const { return cols <= 0 || rows <= 0; }
  bool Contains(int r, int c) const { return r >= row && r < Bottom() && c >= col && c < Right(); }
  CellRect Intersect(const CellRect& o) const;
  bool operator==(const CellRect& o) const {
    return col == o.col && row == o.row && cols == o.cols && rows == o.rows;
  }
  bool operator!=(const CellRect& o) const { return !(*this == o); }
};

// How a cell is drawn; bits.
constexpr uint32_t kAttrBold = 1u << 0;
constexpr uint32_t kAttrDim = 1u << 1;
constexpr uint32_t kAttrReverse = 1u << 2;
constexpr uint32_t kAttrUnderline = 1u << 3;
constexpr uint32_t kAttrRed = 1u << 4;

enum class FrameSymbol { Horizontal, Vertical, TopLeft, TopRight, BottomLeft, BottomRight };

// Where the terminal front end draws: cells addressed by row and column, with
// a clip rectangle that every drawing call respects. The ncurses screen is one
// canvas, the tests draw on a text grid.
class TuiCanvas {
 public:
  virtual ~TuiCanvas() = default;

  virtual int Rows() const = 0;
  virtual int Cols() const = 0;

  // Blanks the whole canvas and resets the clip.
  void Clear();
  void SetClip(const CellRect& clip) { clip_ = clip; }
  // The clip within the canvas.
  CellRect Clip() const { return clip_.Intersect(Full()); }

  // Text from (row, col) on, one glyph after the other, inside the clip: a
  // wide glyph that would straddle a clip edge is shown as blanks. Returns the
  // column after the text.
  int Text(int row, int col, const std::string& utf8, uint32_t attrs = 0);
  // Blanks `cols` cells from (row, col), inside the clip.
  void Blank(int row, int col, int cols, uint32_t attrs = 0);
  void Fill(const CellRect& rect, uint32_t attrs = 0);
  // A frame around `rect` (its outer cells), inside the clip.
  void Frame(const CellRect& rect, uint32_t attrs = 0);

 protected:
  // One glyph of `width` cells at a position already known to be inside.
  virtual void PutGlyph(int row, int col, const std::string& bytes, int width, uint32_t attrs) = 0;
  virtual void PutSymbol(int row, int col, FrameSymbol symbol, uint32_t attrs) = 0;
  virtual void ClearAll() = 0;

 private:
  CellRect Full() const { return CellRect{0, 0, Cols(), Rows()}; }
  void Symbol(int row, int col, FrameSymbol symbol, uint32_t attrs);

  CellRect clip_{0, 0, 1 << 20, 1 << 20};
};

}  // namespace hu
