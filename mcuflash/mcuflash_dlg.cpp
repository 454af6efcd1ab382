#include "mcuflash/mcuflash_dlg.h"

#include <cstdio>

#include "common/platform/trace.h"
#include "mcuflash/transfer_owner.h"

namespace hu {

CMcuflashDlg::CMcuflashDlg(Desktop& desktop, const McuflashServices& services)
    : Dialog(desktop, IDD), m_services(services), m_keyDlg(desktop, this, services) {
  Template().title = "Mcuflash";
  // 426 x 226 dialog units of "MS Sans Serif" 9 point.
  Template().rect = Rect{0, 0, 639, 367};
  DefineControl(ControlKind::PushButton, IDC_UPDATE, "Mcuflash", Rect{60, 300, 140, 44});
  DefineControl(ControlKind::PushButton, IDC_EXIT, "Exit", Rect{440, 300, 140, 44});
  DefineControl(ControlKind::Edit, IDC_MESSAGE, "", Rect{16, 16, 607, 200}).SetMultiLine(true);
  DefineControl(ControlKind::Static, -1, "Progress:", Rect{16, 236, 80, 24});
  DefineControl(ControlKind::Edit, IDC_PERCENT, "", Rect{100, 232, 80, 28});
  DefineControl(ControlKind::Progress, IDC_PROGRESS, "", Rect{196, 232, 427, 28}).SetRange(0, 100);
  DefineControl(ControlKind::PushButton, IDC_KEYUPDATE, "KeyUpdate", Rect{250, 300, 140, 44});
  m_uUpdateNotifyMsg = m_services.windows.RegisterWindowMessage(kUpdateNotifyMsgName);
}

CMcuflashDlg::~CMcuflashDlg() = default;

void CMcuflashDlg::SetOneShot(OneShot job, const std::string& fileName) {
  m_oneShot = job;
  m_strOneShotFile = fileName;
  m_keyDlg.SetOneShot(job == OneShot::Key, job == OneShot::Key ? fileName : std::string());
}

void CMcuflashDlg::Fail(const std::string& text) {
  SetMessage(text);
  SetJobResult(kJobFailed, text);
  EndOneShot();
}

void CMcuflashDlg::EndOneShot() {
  if (m_oneShot != OneShot::None) PostMessage(WM_CLOSE);
}

bool CMcuflashDlg::OnInitDialog() {
  SetIcon(IDI_MAINFRAME, true);
  SetIcon(IDI_MAINFRAME, false);
  SetWindowText("McuflashV3.9");
  SetWindowPos(HWND_TOPMOST, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), SWP_SHOWWINDOW);
  SetTimer(kTopTimerId, kTopTimerMs);
  SetButtons(0, 0, 0);
  if (Control* message = GetDlgItem(IDC_MESSAGE)) {
    Font font = message->GetFont();
    if (font.face.empty()) font.face = "MS Sans Serif";
    font.height = kMessageFontHeight;
    message->SetFont(font);
  }
  m_pOwner = CTransferOwner::CreateOwner(m_services, GetDesktop().loop(), GetSafeHwnd());
  if (m_pOwner == nullptr) Trace("CMcuflashDlg::OnInitDialog a transfer exists already\n");
  PostMessage(m_uUpdateNotifyMsg, kNotifyInitialise, 0);
  return true;
}

bool CMcuflashDlg::OnCommand(int id) {
  switch (id) {
    case IDC_UPDATE:
      if (m_pOwner != nullptr) m_pOwner->StartFromButton();
      return true;
    case IDC_EXIT:
      PostMessage(WM_CLOSE);
      return true;
    case IDC_KEYUPDATE:
      m_keyDlg.DoModal();
      EndOneShot();
      return true;
    default:
      return false;
  }
}

void CMcuflashDlg::OnTimer(uint32_t id) {
  if (id == kTopTimerId) {
    KeepOnTop();
  } else if (id == CRetryTimer::kTimerId && m_pOwner != nullptr && m_pOwner->Transfer() != nullptr) {
    m_pOwner->Transfer()->OnResponseTimer(id);
  }
}

void CMcuflashDlg::KeepOnTop() {
  const Rect rect = GetWindowRect();
  SetWindowPos(HWND_TOPMOST, rect.x, rect.y, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
               SWP_SHOWWINDOW);
}

void CMcuflashDlg::OnClose() {
  KillTimer(kTopTimerId);
  EndDialog(IDCANCEL);
}

void CMcuflashDlg::OnDestroy() {
  if (m_pOwner == nullptr) return;
  if (m_pOwner->Transfer() != nullptr) m_pOwner->Transfer()->StopTransfer();
  CTransferOwner::DestroyOwner();
  m_pOwner = nullptr;
}

bool CMcuflashDlg::OnMessage(uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (message != m_uUpdateNotifyMsg || m_uUpdateNotifyMsg == 0) return false;
  OnUpdateNotify(wParam, lParam);
  return true;
}

void CMcuflashDlg::SetMessage(const std::string& text) {
  SetDlgItemText(IDC_MESSAGE, text);
}

void CMcuflashDlg::SetButtons(int exitOn, int updateOn, int keyOn) {
  if (keyOn > 0 && !KeyUpdateOffered()) keyOn = 0;
  const int ids[3] = {IDC_EXIT, IDC_UPDATE, IDC_KEYUPDATE};
  const int states[3] = {exitOn, updateOn, keyOn};
  for (int i = 0; i < 3; ++i) {
    Control* button = GetDlgItem(ids[i]);
    if (button != nullptr && states[i] >= 0) button->EnableWindow(states[i] != 0);
  }
}

bool CMcuflashDlg::KeyUpdateOffered() const {
  if (m_pOwner == nullptr || m_pOwner->Transfer() == nullptr) return false;
  const int type = m_pOwner->Transfer()->Platform().platformType;
  return type == 8 || type == 9 || type == 12;
}

void CMcuflashDlg::OnUpdateNotify(WPARAM code, LPARAM value) {
  CMcuTransfer* transfer = m_pOwner != nullptr ? m_pOwner->Transfer() : nullptr;
  char text[64];
  switch (code) {
    case kNotifyFound: {
      const std::string name = transfer != nullptr ? transfer->GetImageFileName() : std::string();
      SetMessage("Find a valid file: " + name +
                 "\r\n1:Please click 'McuStart' button to update\r\n2:if update successfully, machine should be reboot");
      SetButtons(1, 1, 1);
      if (m_oneShot == OneShot::Key) {
        PostMessage(WM_COMMAND, MakeWParam(IDC_KEYUPDATE, BN_CLICKED));
      } else if (m_oneShot == OneShot::Firmware && name != m_strOneShotFile) {
        // Another image beside the program would be sent instead.
        Fail(m_strOneShotFile + " is not the image the updater takes: it takes " + name +
             " first; remove that file from the unit's folder");
      } else if (m_oneShot == OneShot::Firmware) {
        PostMessage(WM_COMMAND, MakeWParam(IDC_UPDATE, BN_CLICKED));
      }
      break;
    }
    case kNotifyStarting:
      m_bUpdateStarted = true;
      SetMessage("Mcu is updating now, do not power off and ensure that the SD card is plugged in");
      SetButtons(0, 0, 0);
      break;
    case kNotifySucceeded:
      SetMessage("Mcu update successfully! Please restart the machine");
      SetButtons(1, 0, 1);
      SetJobResult(kJobDone);
      EndOneShot();
      break;
    case kNotifyFailed:
      SetButtons(1, 0, 1);
      // Before an update (no MCU version on the two-size platform) the
      // search still follows; only a started update ends with it.
      if (m_bUpdateStarted || m_oneShot == OneShot::None) {
        Fail("Sorry! Update unsuccessfully!Maybe serial communication problem");
      } else {
        SetMessage("Sorry! Update unsuccessfully!Maybe serial communication problem");
      }
      break;
    case kNotifyNoImage: {
      const std::string text =
          "Sorry! Can not find the updated file or the file is damaged.please put *.s19 in current path";
      SetButtons(0, 0, 1);
      if (m_oneShot == OneShot::Key) {
        SetMessage(text);
        PostMessage(WM_COMMAND, MakeWParam(IDC_KEYUPDATE, BN_CLICKED));
      } else if (m_oneShot == OneShot::Firmware || m_bUpdateStarted) {
        Fail(text);  // the file given was refused
      } else {
        SetMessage(text);
        SetJobResult(kJobNothingToDo);
      }
      break;
    }
    case kNotifyNoPort: {
      SetButtons(1, 0, 0);
      std::string text = "Sorry! Init unsuccessfully!The serial port may be busy";
      const std::string why = m_services.serial != nullptr ? m_services.serial->LastOpenFailure() : std::string();
      if (!why.empty()) text += "\r\n" + why;
      Fail(text);
      break;
    }
    case kNotifySendProgress:
      std::snprintf(text, sizeof text, "%d %c", static_cast<int>(value), '%');
      SetDlgItemText(IDC_PERCENT, text);
      if (Control* progress = GetDlgItem(IDC_PROGRESS)) progress->SetPos(static_cast<int>(value));
      break;
    case kNotifyInitialise:
      SetMessage("Data is being inited...");
      UpdateWindow();
      if (transfer != nullptr) {
        transfer->Initialise();
        m_keyDlg.SetPortHandle(transfer->PortHandle());
      }
      break;
    case kNotifyDecodeProgress:
      std::snprintf(text, sizeof text, "Data is being inited %d %c", static_cast<int>(value), '%');
      SetMessage(text);
      UpdateWindow();
      break;
    case kNotifyKeyReadBack:
      if (transfer != nullptr) {
        std::unique_ptr<KeyReadBack> record = transfer->TakeReadBack(value);
        if (record) m_keyDlg.CompareReadBack(*record);
      }
      break;
    default:
      break;
  }
}

}  // namespace hu
