#pragma once
#include <string>
#include <vector>

#include "common/ui/tui_canvas.h"

namespace hu {

// A canvas of text for the tests: what a terminal of cols x rows would show,
// with the attributes of every cell.
class TextCanvas : public TuiCanvas {
 public:
  TextCanvas(int cols, int rows) : cols_(cols), rows_(rows) { ClearAll(); }

  int Rows() const override { return rows_; }
  int Cols() const override { return cols_; }

  // The row as text; a wide glyph appears once, for its two cells.
  std::string Row(int row) const {
    std::string out;
    for (const Cell& cell : cells_[static_cast<size_t>(row)]) out += cell.bytes;
    return out;
  }
  std::string Screen() const {
    std::string out;
    for (int r = 0; r < rows_; ++r) out += Row(r) + "\n";
    return out;
  }
  uint32_t AttrsAt(int row, int col) const { return cells_[static_cast<size_t>(row)][static_cast<size_t>(col)].attrs; }
  // The display column where `text` starts on `row`, -1 when it is not there.
  int ColumnOf(int row, const std::string& text) const {
    const auto& line = cells_[static_cast<size_t>(row)];
    for (size_t c = 0; c < line.size(); ++c) {
      std::string rest;
      for (size_t k = c; k < line.size() && rest.size() < text.size(); ++k) rest += line[k].bytes;
      if (!line[c].bytes.empty() && rest.compare(0, text.size(), text) == 0) return static_cast<int>(c);
    }
    return -1;
  }
  // The first row holding `text`, -1 when none does.
  int RowOf(const std::string& text) const {
    for (int r = 0; r < rows_; ++r) {
      if (Row(r).find(text) != std::string::npos) return r;
    }
    return -1;
  }

 protected:
  void PutGlyph(int row, int col, const std::string& bytes, int width, uint32_t attrs) override {
    auto& line = cells_[static_cast<size_t>(row)];
    // Overwriting half of a wide glyph blanks its other half, as terminals do.
    if (line[static_cast<size_t>(col)].bytes.empty() && col > 0) line[static_cast<size_t>(col) - 1].bytes = " ";
    if (col + width < cols_ && line[static_cast<size_t>(col + width)].bytes.empty()) {
      line[static_cast<size_t>(col + width)].bytes = " ";
    }
    line[static_cast<size_t>(col)] = Cell{bytes, attrs};
    if (width == 2) line[static_cast<size_t>(col) + 1] = Cell{"", attrs};
  }
  void PutSymbol(int row, int col, FrameSymbol symbol, uint32_t attrs) override {
    const char* text = symbol == FrameSymbol::Horizontal ? "-" : symbol == FrameSymbol::Vertical ? "|" : "+";
    cells_[static_cast<size_t>(row)][static_cast<size_t>(col)] = Cell{text, attrs};
  }
  void ClearAll() override {
    cells_.assign(static_cast<size_t>(rows_), std::vector<Cell>(static_cast<size_t>(cols_), Cell{" ", 0}));
  }

 private:
  struct Cell {
    std::string bytes;  // empty: the second cell of a wide glyph
    uint32_t attrs = 0;
  };
  int cols_;
  int rows_;
  std::vector<std::vector<Cell>> cells_;
};

}  // namespace hu
