#pragma once
#include "common/platform/windows.h"
#include "common/ui/ui_types.h"

namespace hu {

class Desktop;
class Dialog;

// What a person's actions on a control do to the model, shared by the front
// ends that act for a person (script, terminal). Call them on the UI thread
// from posted work, never from inside a loop agent's Step: the handlers they
// run may open modal dialogs.

// The open dialog with this window, or null once it has gone.
Dialog* FindOpenDialogByHwnd(Desktop& desktop, HWND hwnd);

// A click on control `id` of dialog `hwnd`: a check box toggles (with `toggle`
// false it becomes checked), a radio button is checked with its group
// unchecked, then the dialog gets WM_COMMAND with BN_CLICKED. Nothing when the
// dialog has gone.
void ClickDialogControl(Desktop& desktop, HWND hwnd, int id, bool toggle = true);

// The notification a person's choice of an item raises on a control of this
// kind: LVN_ITEMCHANGED, TVN_SELCHANGED or TCN_SELCHANGE; 0 for other kinds.
int SelectionNotification(ControlKind kind);

// Selects item `row` of list, tree or tab control `id` and sends the dialog
// its selection notification. False when the dialog, control or row is gone.
bool SelectDialogItem(Desktop& desktop, HWND hwnd, int id, int row);

// WM_NOTIFY with `code` from control `id`; false when the dialog has gone.
bool NotifyDialog(Desktop& desktop, HWND hwnd, int id, int code);

}  // namespace hu
