#include "common/ui/tui_keys.h"

#include <cctype>

namespace hu {

namespace {

bool IsList(ControlKind kind) { return kind == ControlKind::ListView || kind == ControlKind::TreeView; }

}  // namespace

TuiAction MapKey(const TuiKey& key, std::optional<ControlKind> focused) {
  const bool list = focused && IsList(*focused);
  const bool tree = focused && *focused == ControlKind::TreeView;
  const bool tab = focused && *focused == ControlKind::Tab;
  const bool edit = focused && *focused == ControlKind::Edit;
  const bool clickable = focused && (*focused == ControlKind::PushButton || *focused == ControlKind::CheckBox ||
                                     *focused == ControlKind::RadioButton);
  switch (key.code) {
    case TuiKeyCode::Tab: return TuiAction::FocusNext;
    case TuiKeyCode::BackTab: return TuiAction::FocusPrev;
    case TuiKeyCode::Up: return list || edit ? TuiAction::ItemPrev : TuiAction::FocusPrev;
    case TuiKeyCode::Down: return list || edit ? TuiAction::ItemNext : TuiAction::FocusNext;
    case TuiKeyCode::Left:
      return tab ? TuiAction::ItemPrev : tree ? TuiAction::Collapse : TuiAction::FocusPrev;
    case TuiKeyCode::Right:
      return tab ? TuiAction::ItemNext : tree ? TuiAction::Expand : TuiAction::FocusNext;
    case TuiKeyCode::Enter:
      return clickable || (focused && *focused == ControlKind::ListView) ? TuiAction::Activate : TuiAction::None;
    case TuiKeyCode::Space: return clickable || tree ? TuiAction::Activate : TuiAction::None;
    case TuiKeyCode::Escape: return TuiAction::Cancel;
    case TuiKeyCode::PageUp: return list || edit ? TuiAction::PagePrev : TuiAction::None;
    case TuiKeyCode::PageDown: return list || edit ? TuiAction::PageNext : TuiAction::None;
    case TuiKeyCode::Home: return list || edit ? TuiAction::ItemFirst : TuiAction::None;
    case TuiKeyCode::End: return list || edit ? TuiAction::ItemLast : TuiAction::None;
    case TuiKeyCode::Redraw: return TuiAction::Redraw;
    case TuiKeyCode::Char:
      return key.ch < 0x80 && std::isalnum(static_cast<int>(key.ch)) ? TuiAction::HotKey : TuiAction::None;
    case TuiKeyCode::None: break;
  }
  return TuiAction::None;
}

std::vector<char> AssignHotKeys(const std::vector<std::string>& captions) {
  std::vector<char> keys(captions.size(), 0);
  bool taken[128] = {};
  for (size_t i = 0; i < captions.size(); ++i) {
    for (char raw : captions[i]) {
      unsigned char c = static_cast<unsigned char>(raw);
      if (c >= 0x80 || !std::isalnum(c)) continue;
      char k = static_cast<char>(std::tolower(c));
      if (!taken[static_cast<int>(k)]) {
        taken[static_cast<int>(k)] = true;
        keys[i] = k;
      }
      break;
    }
  }
  for (size_t i = 0; i < captions.size(); ++i) {
    if (keys[i] != 0) continue;
    for (char d = '1'; d <= '9'; ++d) {
      if (!taken[static_cast<int>(d)]) {
        taken[static_cast<int>(d)] = true;
        keys[i] = d;
        break;
      }
    }
  }
  return keys;
}

}  // namespace hu
