#include "common/ui/control_actions.h"

#include "common/ui/control.h"
#include "common/ui/desktop.h"
#include "common/ui/dialog.h"

namespace hu {

Dialog* FindOpenDialogByHwnd(Desktop& desktop, HWND hwnd) {
  if (hwnd == 0) return nullptr;
  for (Dialog* dialog : desktop.OpenDialogs()) {
    if (dialog->GetSafeHwnd() == hwnd) return dialog;
  }
  return nullptr;
}

void ClickDialogControl(Desktop& desktop, HWND hwnd, int id, bool toggle) {
  Dialog* dialog = FindOpenDialogByHwnd(desktop, hwnd);
  if (dialog == nullptr) return;
  Control* control = dialog->GetDlgItem(id);
  if (control != nullptr && control->Kind() == ControlKind::CheckBox) {
    control->SetCheck(toggle && control->GetCheck() != 0 ? BST_UNCHECKED : BST_CHECKED);
  } else if (control != nullptr && control->Kind() == ControlKind::RadioButton) {
    dialog->CheckRadio(*control);
  }
  desktop.loop().Dispatch(hwnd, WM_COMMAND, MakeWParam(id, BN_CLICKED), 0);
}

int SelectionNotification(ControlKind kind) {
  switch (kind) {
    case ControlKind::Tab: return TCN_SELCHANGE;
    case ControlKind::ListView: return LVN_ITEMCHANGED;
    case ControlKind::TreeView: return TVN_SELCHANGED;
    default: return 0;
  }
}

bool SelectDialogItem(Desktop& desktop, HWND hwnd, int id, int row) {
  Dialog* dialog = FindOpenDialogByHwnd(desktop, hwnd);
  Control* control = dialog != nullptr ? dialog->GetDlgItem(id) : nullptr;
  if (control == nullptr) return false;
  int code = SelectionNotification(control->Kind());
  if (code == 0 || row < 0 || row >= control->GetItemCount() || !control->SetCurSel(row)) return false;
  desktop.loop().Dispatch(hwnd, WM_NOTIFY, static_cast<WPARAM>(id), code);
  return true;
}

bool NotifyDialog(Desktop& desktop, HWND hwnd, int id, int code) {
  if (FindOpenDialogByHwnd(desktop, hwnd) == nullptr) return false;
  desktop.loop().Dispatch(hwnd, WM_NOTIFY, static_cast<WPARAM>(id), code);
  return true;
}

}  // namespace hu
