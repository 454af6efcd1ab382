#pragma once
#include <cstdint>
#include <string>

#include "common/platform/windows.h"

namespace hu {

// Colours are COLORREF values as on the device: 0x00BBGGRR, so 255 is pure red.
using COLORREF = uint32_t;
constexpr COLORREF Rgb(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}

// Dialog results.
enum : int { IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7 };

// What a program's job came to (Dialog::SetJobResult); it becomes the exit
// code. 2 (usage) and 3 (script expectation) belong to the runner.
enum : int { kJobDone = 0, kJobFailed = 1, kJobNothingToDo = 4 };

// Messages the dialog model adds to the ones of the platform seam.
enum : uint32_t {
  WM_SETTEXT = 0x000C,
  WM_NOTIFY = 0x004E,  // wParam: control id, lParam: notification code
};

// HIWORD of a WM_COMMAND wParam.
enum : int { BN_CLICKED = 0, EN_CHANGE = 0x0300, EN_UPDATE = 0x0400 };

// Notification codes delivered through OnNotify.
enum : int {
  NM_CLICK = -2,
  LVN_ITEMCHANGED = -101,
  TVN_SELCHANGED = -402,
  TCN_SELCHANGE = -551,
};

enum : int { SW_HIDE = 0, SW_SHOWNORMAL = 1, SW_NORMAL = 1, SW_SHOW = 5, SW_SHOWNA = 8, SW_RESTORE = 9 };
enum : int { BST_UNCHECKED = 0, BST_CHECKED = 1 };
enum : int { SM_CXSCREEN = 0, SM_CYSCREEN = 1 };

// SetWindowPos: where to put the window in the Z order.
constexpr int HWND_TOP = 0;
constexpr int HWND_BOTTOM = 1;
constexpr int HWND_TOPMOST = -1;
constexpr int HWND_NOTOPMOST = -2;
enum : uint32_t {
  SWP_NOSIZE = 0x0001,
  SWP_NOMOVE = 0x0002,
  SWP_NOZORDER = 0x0004,
  SWP_NOACTIVATE = 0x0010,
  SWP_SHOWWINDOW = 0x0040,
  SWP_HIDEWINDOW = 0x0080,
};

// Window styles are kept as data only.
enum : uint32_t {
  WS_VISIBLE = 0x10000000u,
  WS_CAPTION = 0x00C00000u,
  WS_SYSMENU = 0x00080000u,
  WS_VSCROLL = 0x00200000u,
  WS_EX_TOPMOST = 0x00000008u,
  WS_EX_NODRAG = 0x40000000u,
};

inline int LoWord(uint64_t v) { return static_cast<int>(v & 0xFFFFu); }
inline int HiWord(uint64_t v) { return static_cast<int>((v >> 16) & 0xFFFFu); }
inline WPARAM MakeWParam(int lo, int hi) {
  return (static_cast<WPARAM>(static_cast<uint16_t>(hi)) << 16) | static_cast<uint16_t>(lo);
}
inline LPARAM MakeLParam(int lo, int hi) {
  return static_cast<LPARAM>((static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16) |
                             static_cast<uint16_t>(lo));
}

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
  bool operator==(const Rect& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
  bool operator!=(const Rect& o) const { return !(*this == o); }
};

struct Font {
  std::string face;
  int height = 0;
  int weight = 400;
  bool operator==(const Font& o) const { return face == o.face && height == o.height && weight == o.weight; }
  bool operator!=(const Font& o) const { return !(*this == o); }
};

struct ScreenSize {
  int width = 800;
  int height = 480;
};

enum class ControlKind {
  PushButton,
  CheckBox,  // auto check box: a click toggles it
  RadioButton,
  Static,
  Panel,  // owner-drawn static with numbered text lines
  Edit,
  Progress,
  ListView,
  TreeView,
  Tab,
};

// Stable short names, used by the front ends' output.
const char* ControlKindName(ControlKind kind);

// What changed, as bits of UiEvent::changes.
enum : uint32_t {
  kChangeText = 1u << 0,       // caption / text / dialog title
  kChangeAppend = 1u << 1,     // text appended to an edit
  kChangeEnabled = 1u << 2,
  kChangeVisible = 1u << 3,
  kChangeChecked = 1u << 4,
  kChangeRange = 1u << 5,
  kChangePos = 1u << 6,
  kChangeFont = 1u << 7,
  kChangeRect = 1u << 8,       // control rectangle / dialog geometry
  kChangeItems = 1u << 9,      // list rows, tree items, tabs
  kChangeSelection = 1u << 10,
  kChangeColumns = 1u << 11,
  kChangeLine = 1u << 12,      // a panel line
  kChangeTopmost = 1u << 13,
  kChangeScroll = 1u << 14,
};

// What happened to the item named by UiEvent::index on kChangeItems.
enum class ItemOp { None, Inserted, Changed, Deleted, Cleared };

}  // namespace hu
