#include "common/ui/tui_keys.h"

#include <gtest/gtest.h>

namespace hu {
namespace {

TuiKey Key(TuiKeyCode code, char32_t ch = 0) { return TuiKey{code, ch}; }

TEST(TuiKeys, ArrowsBelongToTheFocusedControlWhereItUsesThem) {
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Down), ControlKind::PushButton), TuiAction::FocusNext);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Up), ControlKind::CheckBox), TuiAction::FocusPrev);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Down), ControlKind::ListView), TuiAction::ItemNext);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Up), ControlKind::TreeView), TuiAction::ItemPrev);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Down), ControlKind::Edit), TuiAction::ItemNext);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Left), ControlKind::Tab), TuiAction::ItemPrev);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Right), ControlKind::Tab), TuiAction::ItemNext);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Down), ControlKind::Tab), TuiAction::FocusNext);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Right), ControlKind::TreeView), TuiAction::Expand);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Left), ControlKind::TreeView), TuiAction::Collapse);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Left), ControlKind::ListView), TuiAction::FocusPrev);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Right), std::nullopt), TuiAction::FocusNext);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Tab), ControlKind::ListView), TuiAction::FocusNext);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::BackTab), ControlKind::Tab), TuiAction::FocusPrev);
}

TEST(TuiKeys, EnterAndSpaceOnlyActivateWhatCanBeClicked) {
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Enter), ControlKind::PushButton), TuiAction::Activate);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Space), ControlKind::CheckBox), TuiAction::Activate);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Enter), ControlKind::RadioButton), TuiAction::Activate);
  // No default button: Enter elsewhere must not end a dialog; on a list it chooses the row.
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Enter), ControlKind::ListView), TuiAction::Activate);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Enter), ControlKind::TreeView), TuiAction::None);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Enter), std::nullopt), TuiAction::None);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Space), ControlKind::TreeView), TuiAction::Activate);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Escape), std::nullopt), TuiAction::Cancel);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::PageUp), ControlKind::Edit), TuiAction::PagePrev);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::PageDown), ControlKind::ListView), TuiAction::PageNext);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::PageDown), ControlKind::PushButton), TuiAction::None);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::End), ControlKind::Edit), TuiAction::ItemLast);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Char, 'U'), ControlKind::ListView), TuiAction::HotKey);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Char, '7'), std::nullopt), TuiAction::HotKey);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Char, '-'), std::nullopt), TuiAction::None);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Char, 0x8BFB), std::nullopt), TuiAction::None);
  EXPECT_EQ(MapKey(Key(TuiKeyCode::Redraw), std::nullopt), TuiAction::Redraw);
}

TEST(TuiKeys, HotKeysAreFirstLettersElseDigits) {
  EXPECT_EQ(AssignHotKeys({"Update", "Exit", "Format,It will set defaults"}), (std::vector<char>{'u', 'e', 'f'}));
  // A taken letter and a caption without ASCII get the free digits in order.
  EXPECT_EQ(AssignHotKeys({"Exit", "exit too", "\xE8\xAF\xBB\xE8\xBD\xA6\xE5\x9E\x8B", "1st"}),
            (std::vector<char>{'e', '2', '3', '1'}));
  // The first ASCII letter counts even after Chinese: "升级CAN盒".
  EXPECT_EQ(AssignHotKeys({"\xE5\x8D\x87\xE7\xBA\xA7" "CAN\xE7\x9B\x92"}), (std::vector<char>{'c'}));
  std::vector<std::string> many(12, "\xE9\x80\x80");
  std::vector<char> keys = AssignHotKeys(many);
  EXPECT_EQ(keys[0], '1');
  EXPECT_EQ(keys[8], '9');
  EXPECT_EQ(keys[9], 0);
}

}  // namespace
}  // namespace hu
