#include "common/ui/text_width.h"

#include <gtest/gtest.h>

#include "common/ui/tui_canvas.h"
#include "tests/ui_tui/text_canvas.h"

namespace hu {
namespace {

const std::string kAttention = "\xE6\xB3\xA8\xE6\x84\x8F";  // 注意, two wide characters

TEST(TextWidth, CountsCellsOfMixedText) {
  EXPECT_EQ(DisplayWidth("Update"), 6);
  EXPECT_EQ(DisplayWidth(kAttention), 4);
  EXPECT_EQ(DisplayWidth("ab" + kAttention + "c"), 7);
  EXPECT_EQ(DisplayWidth("\xEF\xBC\x9A"), 2);        // full-width colon
  EXPECT_EQ(DisplayWidth("e\xCC\x81"), 1);            // e with a combining acute
  EXPECT_EQ(DisplayWidth("\xCC\x81x"), 1);            // a mark with nothing before it is dropped
  EXPECT_EQ(DisplayWidth("a\tb\r\n"), 5);             // controls become blanks
  EXPECT_EQ(DisplayWidth("\xE6\xB3"), 2);             // a cut sequence: two stand-ins
  EXPECT_EQ(DisplayWidth("\xC0\xAF"), 2);             // overlong form of '/'
  EXPECT_EQ(DisplayWidth("\xED\xA0\x80"), 3);         // a surrogate is no character
}

TEST(TextWidth, CutsWithoutSplittingACharacter) {
  std::string text = "ab" + kAttention + "cd";
  EXPECT_EQ(CutToWidth(text, 3), "ab");
  EXPECT_EQ(CutToWidth(text, 4), "ab\xE6\xB3\xA8");
  EXPECT_EQ(CutToWidth(text, 5), "ab\xE6\xB3\xA8");
  EXPECT_EQ(CutToWidth(text, 7), "ab" + kAttention + "c");
  EXPECT_EQ(CutToWidth(text, 100), text);
  EXPECT_EQ(CutToWidth(text, 0), "");
  EXPECT_EQ(CutToWidth("x\xFFy", 3), "x\xEF\xBF\xBDy");
  EXPECT_EQ(FitToWidth(kAttention, 3), "\xE6\xB3\xA8 ");
  EXPECT_EQ(FitToWidth("ab", 4), "ab  ");
}

TEST(TextWidth, WrapsAtBlanksThenInsideWords) {
  EXPECT_EQ(WrapToWidth("Mcu update successfully! Please restart", 12),
            (std::vector<std::string>{"Mcu update", "successfully", "! Please", "restart"}));
  EXPECT_EQ(WrapToWidth("one\r\ntwo\nthree\rfour", 10),
            (std::vector<std::string>{"one", "two", "three", "four"}));
  EXPECT_EQ(WrapToWidth("", 10), (std::vector<std::string>{""}));
  // Chinese has no blanks: it breaks between characters, never inside one.
  std::vector<std::string> lines = WrapToWidth(kAttention + kAttention + "x", 5);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], kAttention);
  EXPECT_EQ(lines[1], kAttention + "x");
  for (const std::string& line : WrapToWidth("a " + kAttention + kAttention + kAttention, 3)) {
    EXPECT_LE(DisplayWidth(line), 3) << line;
  }
}

TEST(TuiCanvasClip, KeepsWideGlyphsWhole) {
  TextCanvas canvas(10, 2);
  canvas.SetClip(CellRect{0, 0, 5, 2});
  canvas.Text(0, 0, "ab" + kAttention);  // the second wide glyph would straddle column 5
  EXPECT_EQ(canvas.Row(0), "ab\xE6\xB3\xA8      ");
  canvas.SetClip(CellRect{3, 0, 7, 2});
  canvas.Text(1, 2, kAttention + "z");  // the first one starts left of the clip
  EXPECT_EQ(canvas.Row(1), "    \xE6\x84\x8Fz   ");
}

}  // namespace
}  // namespace hu
