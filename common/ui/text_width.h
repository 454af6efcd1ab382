#pragma once
#include <string>
#include <vector>

namespace hu {

// Terminal cells taken by UTF-8 text. The terminal front end lays text out by
// these widths instead of the locale's wcwidth so that a screen looks the same
// whatever locale the program was started in.

// One character as it is put on the screen: its bytes (valid UTF-8; control
// characters and broken sequences are already replaced, combining marks ride
// with the character before them) and its cells: 1, or 2 for east-asian wide
// characters.
struct Glyph {
  std::string bytes;
  int width = 1;
};

// Cells of one code point: 0 for combining marks and zero-width characters,
// 2 for east-asian wide and full-width ones, 1 otherwise. Control characters
// count 1 because they are shown as a blank.
int CodePointWidth(char32_t cp);

// Splits text into glyphs. Tabs, line breaks and other control characters
// become one blank each; a byte that does not start a valid sequence becomes
// U+FFFD; a mark of width 0 with nothing before it is dropped.
std::vector<Glyph> SplitGlyphs(const std::string& utf8);

int DisplayWidth(const std::string& utf8);

// The longest prefix of `utf8` that takes at most `width` cells, never ending
// inside a character (a wide character that would only half fit is left out).
// Sanitised like SplitGlyphs.
std::string CutToWidth(const std::string& utf8, int width);

// Cuts or pads with blanks to exactly `width` cells (one more blank stands in
// for a wide character that did not fit).
std::string FitToWidth(const std::string& utf8, int width);

// Breaks text into display lines of at most `width` cells: at line feeds
// ("\r\n", "\n" and a lone "\r"), then at the last blank that keeps the line
// within the width, else in the middle of a word. Always at least one line.
std::vector<std::string> WrapToWidth(const std::string& utf8, int width);

}  // namespace hu
