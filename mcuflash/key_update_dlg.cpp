#include "mcuflash/key_update_dlg.h"

#include "mcuflash/mcu_transfer.h"

namespace hu {

CKeyUpdateDlg::CKeyUpdateDlg(Desktop& desktop, Dialog* parent, const McuflashServices& services)
    : Dialog(desktop, IDD, parent), m_services(services) {
  Template().title = "KeyUpdate";
  // 357 x 196 dialog units of "MS Shell Dlg" 8 point.
  Template().rect = Rect{0, 0, 536, 319};
  DefineControl(ControlKind::PushButton, IDC_START, "Start", Rect{80, 250, 120, 40});
  DefineControl(ControlKind::PushButton, IDC_EXIT, "Exit", Rect{336, 250, 120, 40});
  DefineControl(ControlKind::Edit, IDC_MESSAGE, "", Rect{16, 16, 504, 216}).SetMultiLine(true);
  m_uKeyNotifyMsg = m_services.windows.RegisterWindowMessage(kKeyNotifyMsgName);
}

CKeyUpdateDlg::~CKeyUpdateDlg() {
  m_pUpdater.reset();
}

bool CKeyUpdateDlg::OnInitDialog() {
  NewRun();
  return true;
}

void CKeyUpdateDlg::NewRun() {
  if (Control* message = GetDlgItem(IDC_MESSAGE)) {
    Font font = message->GetFont();
    if (font.face.empty()) font.face = "MS Shell Dlg";
    font.height = kMessageFontHeight;
    message->SetFont(font);
  }
  m_pUpdater.reset();
  m_pUpdater = std::make_unique<CKeyUpdater>(m_services.files, m_services.clock, m_services.windows,
                                             GetDesktop().loop(), GetSafeHwnd(), m_hPort, m_services.modulePath);
  m_pUpdater->Run();
}

bool CKeyUpdateDlg::OnCommand(int id) {
  switch (id) {
    case IDC_START:
      if (m_pUpdater) m_pUpdater->Start();
      SetButtons(false, false);
      return true;
    case IDC_EXIT:
      PostMessage(WM_CLOSE);
      return true;
    default:
      return false;
  }
}

void CKeyUpdateDlg::OnTimer(uint32_t id) {
  if (m_pUpdater) m_pUpdater->OnTimer(id);
}

void CKeyUpdateDlg::CompareReadBack(const KeyReadBack& record) {
  if (m_pUpdater) m_pUpdater->CompareReadBack(record);
}

bool CKeyUpdateDlg::OnMessage(uint32_t message, WPARAM wParam, LPARAM /*lParam*/) {
  if (message != m_uKeyNotifyMsg || m_uKeyNotifyMsg == 0) return false;
  OnKeyNotify(wParam);
  return true;
}

void CKeyUpdateDlg::SetButtons(bool exitOn, bool startOn) {
  if (Control* exit = GetDlgItem(IDC_EXIT)) exit->EnableWindow(exitOn);
  if (Control* start = GetDlgItem(IDC_START)) start->EnableWindow(startOn);
}

void CKeyUpdateDlg::Fail(const std::string& text) {
  SetDlgItemText(IDC_MESSAGE, text);
  SetJobResult(kJobFailed, text);
  EndOneShot();
}

void CKeyUpdateDlg::EndOneShot() {
  if (m_bOneShot) PostMessage(WM_CLOSE);
}

void CKeyUpdateDlg::OnKeyNotify(WPARAM code) {
  switch (code) {
    case kKeyNotifyFound: {
      const std::string name = m_pUpdater ? m_pUpdater->KeyFileName() : std::string();
      SetDlgItemText(IDC_MESSAGE, "Find a valid file: " + name + "\r\nPlease click 'Start' button to update");
      SetButtons(true, true);
      if (m_bOneShot && name != m_strOneShotFile) {
        Fail(m_strOneShotFile + " is not the key file the updater takes: it takes " + name +
             " first; remove that file from the unit's folder");
      } else if (m_bOneShot) {
        PostMessage(WM_COMMAND, MakeWParam(IDC_START, BN_CLICKED));
      }
      break;
    }
    case kKeyNotifySucceeded:
      SetDlgItemText(IDC_MESSAGE, "Mcu Key update successfully!");
      SetButtons(true, true);
      SetJobResult(kJobDone);
      EndOneShot();
      break;
    case kKeyNotifyNoFile: {
      const std::string text =
          "Sorry! Can not find the updated file or the file is damaged.\r\nplease put *.key in current path";
      SetButtons(true, false);
      if (m_bOneShot) {
        Fail(text);
      } else {
        SetDlgItemText(IDC_MESSAGE, text);
        SetJobResult(kJobNothingToDo);
      }
      break;
    }
    case kKeyNotifyFailed:
      SetButtons(true, true);
      Fail("Sorry! Update unsuccessfully!Maybe serial communication problem");
      break;
    case kKeyNotifyWriting:
      SetDlgItemText(IDC_MESSAGE, "Key Config File is Being Upated...");
      SetButtons(false, false);
      break;
    default:
      break;
  }
}

void CKeyUpdateDlg::OnClose() {
  if (m_pUpdater) m_pUpdater->KillTimer();
  EndDialog(IDCANCEL);
  m_pUpdater.reset();
}

void CKeyUpdateDlg::OnDestroy() {
  m_pUpdater.reset();
}

}  // namespace hu
