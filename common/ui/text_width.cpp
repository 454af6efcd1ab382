#include "common/ui/text_width.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace hu {

namespace {

struct Range {
  char32_t first;
  char32_t last;
};

// East-asian wide and full-width blocks, and the emoji that terminals draw
// two cells wide.
constexpr Range kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},   {0x23F0, 0x23F0},
    {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},   {0x2648, 0x2653},   {0x267F, 0x267F},
    {0x2693, 0x2693},   {0x26A1, 0x26A1},   {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},
    {0x26CE, 0x26CE},   {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},   {0x2728, 0x2728},
    {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},   {0x2757, 0x2757},   {0x2795, 0x2797},
    {0x27B0, 0x27B0},   {0x27BF, 0x27BF},   {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},
    {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},
    {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4}, {0x17000, 0x18CFF}, {0x1B000, 0x1B2FF},
    {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F251},
    {0x1F300, 0x1F64F}, {0x1F680, 0x1F6FF}, {0x1F7E0, 0x1F7EB}, {0x1F900, 0x1F9FF}, {0x1FA70, 0x1FAFF},
    {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

// Combining marks and format characters that take no cell of their own.
constexpr Range kZero[] = {
    {0x0300, 0x036F},   {0x0483, 0x0489},   {0x0591, 0x05BD},   {0x05BF, 0x05BF},   {0x05C1, 0x05C2},
    {0x05C4, 0x05C5},   {0x05C7, 0x05C7},   {0x0610, 0x061A},   {0x061C, 0x061C},   {0x064B, 0x065F},
    {0x0670, 0x0670},   {0x06D6, 0x06DC},   {0x06DF, 0x06E4},   {0x06E7, 0x06E8},   {0x06EA, 0x06ED},
    {0x0E31, 0x0E31},   {0x0E34, 0x0E3A},   {0x0E47, 0x0E4E},   {0x1160, 0x11FF},   {0x1AB0, 0x1AFF},
    {0x1DC0, 0x1DFF},   {0x200B, 0x200F},   {0x202A, 0x202E},   {0x2060, 0x2064},   {0x20D0, 0x20FF},
    {0x302A, 0x302D},   {0x3099, 0x309A},   {0xFE00, 0xFE0F},   {0xFE20, 0xFE2F},   {0xFEFF, 0xFEFF},
    {0xE0100, 0xE01EF},
};

template <size_t N>
bool InTable(const Range (&table)[N], char32_t cp) {
  const Range* end = table + N;
  const Range* it = std::upper_bound(table, end, cp, [](char32_t v, const Range& r) { return v < r.first; });
  return it != table && cp <= (it - 1)->last;
}

constexpr char kReplacement[] = "\xEF\xBF\xBD";

// Decodes one code point at `i`; false (with i advanced by one byte) for a
// byte that does not start a valid, shortest-form sequence.
bool Decode(const std::string& s, size_t* i, char32_t* cp, size_t* length) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  size_t at = *i;
  uint8_t b0 = byte(at);
  size_t n = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if (b0 < 0x80) {
    *cp = b0;
    *length = 1;
    *i = at + 1;
    return true;
  }
  if ((b0 & 0xE0) == 0xC0) {
    n = 2;
    value = b0 & 0x1F;
    minimum = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    n = 3;
    value = b0 & 0x0F;
    minimum = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    n = 4;
    value = b0 & 0x07;
    minimum = 0x10000;
  } else {
    *i = at + 1;
    return false;
  }
  if (at + n > s.size()) {
    *i = at + 1;
    return false;
  }
  for (size_t k = 1; k < n; ++k) {
    uint8_t b = byte(at + k);
    if ((b & 0xC0) != 0x80) {
      *i = at + 1;
      return false;
    }
    value = (value << 6) | (b & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    *i = at + 1;
    return false;
  }
  *cp = value;
  *length = n;
  *i = at + n;
  return true;
}

bool IsControl(char32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp < 0xA0); }

bool IsBlank(const Glyph& g) { return g.bytes == " "; }

std::string Join(std::vector<Glyph>::const_iterator first, std::vector<Glyph>::const_iterator last) {
  std::string out;
  for (auto it = first; it != last; ++it) out += it->bytes;
  return out;
}

void WrapLine(const std::string& line, int width, std::vector<std::string>* out) {
  std::vector<Glyph> glyphs = SplitGlyphs(line);
  size_t start = 0;
  while (true) {
    int used = 0;
    size_t end = start;
    while (end < glyphs.size() && used + glyphs[end].width <= width) used += glyphs[end++].width;
    if (end >= glyphs.size()) {
      out->push_back(Join(glyphs.begin() + static_cast<std::ptrdiff_t>(start), glyphs.end()));
      return;
    }
    size_t cut = end;
    size_t next = end;
    // Break after the last blank of the line when the next glyph does not
    // start a word of its own.
    if (!IsBlank(glyphs[end])) {
      size_t k = end;
      while (k > start && !IsBlank(glyphs[k - 1])) --k;
      if (k > start) cut = next = k;
    }
    while (cut > start && IsBlank(glyphs[cut - 1])) --cut;
    while (next < glyphs.size() && IsBlank(glyphs[next])) ++next;
    if (next == start) next = start + 1;  // a wide glyph in a one-cell column
    out->push_back(Join(glyphs.begin() + static_cast<std::ptrdiff_t>(start),
                        glyphs.begin() + static_cast<std::ptrdiff_t>(cut)));
    if (next >= glyphs.size()) return;
    start = next;
  }
}

}  // namespace

int CodePointWidth(char32_t cp) {
  if (cp < 0x300) return 1;
  if (InTable(kZero, cp)) return 0;
  if (InTable(kWide, cp)) return 2;
  return 1;
}

std::vector<Glyph> SplitGlyphs(const std::string& utf8) {
  std::vector<Glyph> glyphs;
  size_t i = 0;
  while (i < utf8.size()) {
    size_t at = i;
    char32_t cp = 0;
    size_t length = 0;
    if (!Decode(utf8, &i, &cp, &length)) {
      glyphs.push_back(Glyph{kReplacement, 1});
      continue;
    }
    if (IsControl(cp)) {
      glyphs.push_back(Glyph{" ", 1});
      continue;
    }
    int width = CodePointWidth(cp);
    if (width == 0) {
      if (!glyphs.empty()) glyphs.back().bytes.append(utf8, at, length);
      continue;
    }
    glyphs.push_back(Glyph{utf8.substr(at, length), width});
  }
  return glyphs;
}

int DisplayWidth(const std::string& utf8) {
  int width = 0;
  for (const Glyph& g : SplitGlyphs(utf8)) width += g.width;
  return width;
}

std::string CutToWidth(const std::string& utf8, int width) {
  std::string out;
  int used = 0;
  for (const Glyph& g : SplitGlyphs(utf8)) {
    if (used + g.width > width) break;
    used += g.width;
    out += g.bytes;
  }
  return out;
}

std::string FitToWidth(const std::string& utf8, int width) {
  std::string out = CutToWidth(utf8, width);
  int used = DisplayWidth(out);
  if (used < width) out.append(static_cast<size_t>(width - used), ' ');
  return out;
}

std::vector<std::string> WrapToWidth(const std::string& utf8, int width) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (true) {
    size_t br = utf8.find_first_of("\r\n", pos);
    std::string line = utf8.substr(pos, br == std::string::npos ? std::string::npos : br - pos);
    if (width <= 0) {
      lines.emplace_back();
    } else {
      WrapLine(line, width, &lines);
    }
    if (br == std::string::npos) break;
    pos = br + 1;
    if (utf8[br] == '\r' && pos < utf8.size() && utf8[pos] == '\n') ++pos;
  }
  return lines;
}

}  // namespace hu
