#pragma once
#include <cstdint>
#include <vector>

#include "common/ui/tui_canvas.h"
#include "common/ui/ui_types.h"

namespace hu {

class Control;
class Dialog;

// Maps the pixels of one area (a dialog's client, a page, a panel) to cells:
// pixel (0, 0) of the area is cell `origin`, and every area of a dialog keeps
// the dialog's scale, so a panel line lands where it would on the device.
class PixelMapper {
 public:
  PixelMapper() = default;
  // `pixels` wide and high onto `cells`.
  PixelMapper(int pixelWidth, int pixelHeight, const CellRect& cells);

  int Col(int x) const;
  int Row(int y) const;
  // A pixel rectangle of the area; at least one cell each way when it has an
  // area at all, so that thin controls stay visible.
  CellRect Map(const Rect& px) const;
  // Cells taken by `w` pixels of width (columns of a list), at least one.
  int Cols(int w) const;
  // The same scale with pixel (0, 0) at `origin`.
  PixelMapper At(int originCol, int originRow) const;
  // The same scale for a sub-area whose pixel (0, 0) is (x, y) of this one.
  PixelMapper Sub(int x, int y) const { return At(Col(x), Row(y)); }

 private:
  int originCol_ = 0, originRow_ = 0;
  int64_t colNum_ = 1, colDen_ = 1, rowNum_ = 1, rowDen_ = 1;
};

// Where a shown dialog goes on the terminal.
struct DialogBox {
  CellRect outer;   // the cells it covers (blanked before drawing)
  CellRect client;  // where its controls go
  bool framed = false;
  bool titleBar = false;  // full-screen: the title takes the first row
  PixelMapper mapper;     // client pixels to cells
};

// A top-level dialog on a terminal of `cols` x `rows` showing a device screen
// of `screen` pixels. One that covers the screen fills the terminal with its
// title on the first row; a smaller one is a framed box (at least big enough
// for a title and a row of controls) with the title in its top border. A
// dialog without an area gets an empty box.
DialogBox LayoutTopDialog(const Dialog& dialog, ScreenSize screen, int cols, int rows);

// A child page inside its parent's box. A page without an area of its own
// fills `fallback` (the page area of the parent's tab control, else the
// parent's client); one whose area starts above `fallback` is fitted into
// the rows from its top on.
DialogBox LayoutChildPage(const Dialog& page, const DialogBox& parent, const CellRect& fallback);

// The cells of every control of `dialog`, in the order of Dialog::Controls().
// Controls with a rectangle are mapped; the others (never placed by the
// program) flow below the placed ones: buttons and check boxes side by side,
// texts and bars a row each, panels, lists, trees and multi-line edits
// sharing the rows left. Hidden controls take no room in the flow. A button,
// check box or radio button too narrow for its label is widened into the
// free cells to its right and the room a push button there does not need.
std::vector<CellRect> LayoutControls(const Dialog& dialog, const DialogBox& box);

// The rows of a tab control's pages: below its tabs.
CellRect TabPageArea(const CellRect& tabCells);

// A panel line placed on the screen.
struct PlacedLine {
  int line = 0;
  int row = 0, col = 0, cols = 0;
};

// The panel's lines with text, each at its rectangle (mapped with `mapper`,
// whose origin is the panel's first cell). A line without a rectangle goes on
// the panel's row of its number. A line that would cover part of one placed
// before it (lines in number order) moves down to the next free row, since
// cells cannot overlap text the way pixels do; lines pushed out of `panel`
// are left out, and so are lines outside it.
std::vector<PlacedLine> LayoutPanelLines(const Control& panel, const CellRect& panelCells, const PixelMapper& mapper);

}  // namespace hu
