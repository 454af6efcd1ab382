#include "sysmend/app/auto_update_dlg.h"

#include <cstdio>

namespace hu {

CAutoUpdateDlg::CAutoUpdateDlg(Desktop& desktop, Dialog* parent, const std::string& caption)
    : Dialog(desktop, kDialogId, parent), m_strCaption(caption) {
  Template().title = caption;
  DefineControl(ControlKind::PushButton, IDOK, "Update Now");
  DefineControl(ControlKind::PushButton, IDCANCEL, "Cancel Update");
  DefineControl(ControlKind::Static, kCounterId, "5");
}

bool CAutoUpdateDlg::OnInitDialog() {
  SetDlgItemText(IDOK, "Update Now");
  SetDlgItemText(IDCANCEL, "Cancel Update");
  ModifyStyle(0, WS_CAPTION | WS_SYSMENU);
  SetWindowText(m_strCaption);
  int sw = GetSystemMetrics(SM_CXSCREEN);
  int sh = GetSystemMetrics(SM_CYSCREEN);
  MoveWindow(sw * 21 / 100, sh * 13 / 100, sw * 58 / 100, sh * 66 / 100);
  Rect client = GetClientRect();
  const int g = 25;
  int width = (client.w - g) / 2 - 2 * g;
  int height = (client.h - g) / 4;
  int y = client.h - height - g;
  int x1 = (client.w - 2 * width - 3 * g) / 2;
  int x2 = x1 + width + 3 * g;
  Font buttonFont{"Tahoma", 20, 400};
  if (Control* ok = GetDlgItem(IDOK)) {
    ok->MoveWindow(x1, y, width, height);
    ok->SetFont(buttonFont);
  }
  if (Control* cancel = GetDlgItem(IDCANCEL)) {
    cancel->MoveWindow(x2, y, width, height);
    cancel->SetFont(buttonFont);
  }
  if (Control* counter = GetDlgItem(kCounterId)) {
    counter->MoveWindow(10, 10, client.w - 20, y - 10 - 10);
    counter->SetFont(Font{"Tahoma", 72, 400});
  }
  ShowCounter();
  SetTimer(kCountTimer, 1000);
  return true;
}

void CAutoUpdateDlg::ShowCounter() {
  char text[16];
  std::snprintf(text, sizeof text, "%d", m_nCount);
  SetDlgItemText(kCounterId, text);
}

void CAutoUpdateDlg::OnTimer(uint32_t id) {
  if (id != kCountTimer) return;
  if (m_nCount <= 0) {
    OnOK();
    return;
  }
  --m_nCount;
  ShowCounter();
}

void CAutoUpdateDlg::OnOK() {
  KillTimer(kCountTimer);
  EndDialog(IDOK);
}

void CAutoUpdateDlg::OnCancel() {
  KillTimer(kCountTimer);
  EndDialog(IDCANCEL);
}

}  // namespace hu
