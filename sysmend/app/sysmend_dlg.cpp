#include "sysmend/app/sysmend_dlg.h"

#include <cstdio>

#include "common/platform/trace.h"
#include "sysmend/app/auto_update_dlg.h"
#include "sysmend/app/com_operate.h"
#include "sysmend/app/storage_roots.h"
#include "sysmend/packages/ini_text.h"

namespace hu {
namespace {

// Inverted by every click of the format check box, for the whole process.
int gFormatToggle = 1;

const Font kButtonFont{"Tahoma", 20, 400};

}  // namespace

void CSysmendDlg::ResetFormatToggle() { gFormatToggle = 1; }

CSysmendDlg::CSysmendDlg(Desktop& desktop, Platform& platform)
    : Dialog(desktop, kDialogId),
      platform_(platform),
      m_updaterAPI(platform.library()),
      m_panel(*this, IDC_STEP_PANEL, desktop.GetScreenSize().width),
      m_shearcher(platform.files(), platform.codePage()),
      m_installed(platform.files(), platform.registry(), platform.library(), platform.devices()),
      m_checker(platform.files(), platform.codePage(), platform.registry(), m_installed),
      m_appUpdater(platform.files(), platform.clock(), platform.codePage(), *this,
                   GetModuleFolder(platform.processes().GetModuleFileName())),
      m_flasher(m_updaterAPI, platform.devices(), platform.sync(), platform.clock(), platform.files(), m_panel) {
  Template().title = "";
  Template().rect = Rect{0, 0, 532, 270};  // 266 x 135 dialog units
  DefineControl(ControlKind::PushButton, IDC_BTN_UPDATE, "Update");
  DefineControl(ControlKind::PushButton, IDCANCEL, "Exit");
  DefineControl(ControlKind::CheckBox, IDC_CHECK_FORMAT, "Format,It will set defaults");
  DefineControl(ControlKind::Panel, IDC_STEP_PANEL).SetPanelLineCount(StepPanel::kLines);
  DefineControl(ControlKind::Progress, IDC_PROGRESS);
  DefineControl(ControlKind::Static, IDC_PERCENT);
}

CSysmendDlg::~CSysmendDlg() = default;

bool CSysmendDlg::OnInitDialog() {
  SetTimer(kTimerHeartBeat, 5);
  SetIcon(128, true);
  SetIcon(128, false);
  ModifyStyleEx(0, WS_EX_TOPMOST | WS_EX_NODRAG);
  ModifyStyle(0, WS_CAPTION | WS_SYSMENU);
  SetWindowPos(HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  m_nScreenWidth = GetSystemMetrics(SM_CXSCREEN);
  m_nScreenHeight = GetSystemMetrics(SM_CYSCREEN);
  m_updaterAPI.LoadSysmendAPI();
  char title[64];
  std::snprintf(title, sizeof title, "Z1 System Updater(%s)", kVersion);
  SetWindowText(title);
  if (Control* c = GetDlgItem(IDCANCEL)) c->SetFont(kButtonFont);
  if (Control* c = GetDlgItem(IDC_BTN_UPDATE)) c->SetFont(kButtonFont);
  m_bFontsCreated = true;

  StorageRoots& roots = GlobalStorageRoots();
  SetDefaultStorageRoots(roots);
  // The unit is a Windows CE device of major version 5 or above.
  Trace("OS ver is five\n");
  GetDiskInfo(platform_.registry(), roots, 6);

  std::string cmdLine = platform_.processes().GetCommandLine();
  Trace("\nCSysmendDlg::OnInitDialog strCmdLine = %s \n", cmdLine.c_str());
  if (EqualsNoCase(cmdLine, "auto")) {
    m_bAutoUpdate = true;
    MoveWindow(0, 0, 0, 0);
  } else if (cmdLine.empty()) {
    m_bAutoUpdate = false;
    MoveWindow(0, 0, m_nScreenWidth, m_nScreenHeight);
  }
  Trace("\nCSysmendDlg::OnInitDialog m_bAutoUpdate = %d \n", m_bAutoUpdate ? 1 : 0);

  if (Control* bar = GetDlgItem(IDC_PROGRESS)) {
    bar->ShowWindow(SW_HIDE);
    bar->SetRange(0, 100);
    bar->SetPos(1);
  }
  if (Control* percent = GetDlgItem(IDC_PERCENT)) {
    percent->ShowWindow(SW_HIDE);
    percent->SetWindowText("");
    percent->SetFont(kButtonFont);
  }
  Rect client = GetClientRect();
  LayoutControls(client.w, client.h);
  SetTimer(kTimerStart, 5);
  return true;
}

void CSysmendDlg::LayoutControls(int cx, int cy) {
  // The panel fills the upper part; the bar and its percent text lie under it
  // and the buttons and check box along the bottom.
  int w = cx > 0 ? cx : m_nScreenWidth;
  int h = cy > 0 ? cy : m_nScreenHeight;
  int buttonH = h / 8 > 40 ? h / 8 : 40;
  int bottom = h - buttonH - 8;
  if (Control* panel = GetDlgItem(IDC_STEP_PANEL)) panel->MoveWindow(0, 0, w, bottom - buttonH - 8);
  if (Control* bar = GetDlgItem(IDC_PROGRESS)) bar->MoveWindow(8, bottom - buttonH, w * 3 / 4, buttonH / 2);
  if (Control* percent = GetDlgItem(IDC_PERCENT)) percent->MoveWindow(w * 3 / 4 + 16, bottom - buttonH, w / 4 - 24, buttonH / 2);
  if (Control* check = GetDlgItem(IDC_CHECK_FORMAT)) check->MoveWindow(8, bottom, w / 3, buttonH);
  if (Control* update = GetDlgItem(IDC_BTN_UPDATE)) update->MoveWindow(w / 3 + 16, bottom, w / 3 - 24, buttonH);
  if (Control* exitButton = GetDlgItem(IDCANCEL)) exitButton->MoveWindow(w * 2 / 3 + 8, bottom, w / 3 - 16, buttonH);
}

void CSysmendDlg::OnSize(int cx, int cy) { LayoutControls(cx, cy); }

void CSysmendDlg::OnDestroy() {
  Trace("++++++++CSysmendDlg::OnDestroy.\n");
  m_bFontsCreated = false;
  m_updaterAPI.Unload();
}

void CSysmendDlg::ShowUpdateControls(bool updating) {
  int hideWhenUpdating = updating ? SW_HIDE : SW_SHOW;
  int showWhenUpdating = updating ? SW_SHOW : SW_HIDE;
  for (int id : {static_cast<int>(IDCANCEL), static_cast<int>(IDC_BTN_UPDATE), static_cast<int>(IDC_CHECK_FORMAT)}) {
    if (Control* c = GetDlgItem(id)) c->ShowWindow(hideWhenUpdating);
  }
  for (int id : {static_cast<int>(IDC_PROGRESS), static_cast<int>(IDC_PERCENT)}) {
    if (Control* c = GetDlgItem(id)) c->ShowWindow(showWhenUpdating);
  }
}

void CSysmendDlg::EnableButtons(bool enable) {
  if (Control* c = GetDlgItem(IDC_BTN_UPDATE)) c->EnableWindow(enable);
  if (Control* c = GetDlgItem(IDCANCEL)) c->EnableWindow(enable);
}

void CSysmendDlg::SetProgress(int percent) {
  if (Control* bar = GetDlgItem(IDC_PROGRESS)) bar->SetPos(percent);
  char text[16];
  std::snprintf(text, sizeof text, "%d%%", percent);
  SetDlgItemText(IDC_PERCENT, text);
  UpdateWindow();
}

void CSysmendDlg::Repaint() {
  Invalidate();
  UpdateWindow();
}

void CSysmendDlg::ShowFullScreenTopmost() {
  MoveWindow(0, 0, m_nScreenWidth, m_nScreenHeight);
  SetWindowPos(HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  ShowWindow(SW_SHOW);
  ModifyStyle(0, WS_CAPTION | WS_SYSMENU);
}

bool CSysmendDlg::OnCommand(int id) {
  switch (id) {
    case IDC_BTN_UPDATE:
      OnBnClickedBtnUpdate();
      return true;
    case IDC_CHECK_FORMAT:
      OnFormatClicked();
      return true;
    case IDCANCEL:
      // Leaving by hand between the two phases must not leave the unit
      // without its application.
      m_appUpdater.RollBackPendingPhase();
      return false;  // and the dialog closes
    default:
      return false;
  }
}

void CSysmendDlg::OnFormatClicked() {
  int before = gFormatToggle;
  gFormatToggle = gFormatToggle ? 0 : 1;
  Control* update = GetDlgItem(IDC_BTN_UPDATE);
  if (update == nullptr) return;
  if (m_plan.slots[kSlotApp].present && before == 1) {
    update->EnableWindow(true);
    update->SetWindowText("Format");
  } else if (m_bPacksReady) {
    update->EnableWindow(true);
    update->SetWindowText("Update");
  } else {
    update->EnableWindow(false);
  }
}

void CSysmendDlg::OnTimer(uint32_t id) {
  if (id != kTimerTopmost) KillTimer(id);
  switch (id) {
    case kTimerHeartBeat:
      for (int i = 0; i < 3; ++i) {
        CloseHeartBeat(platform_.serial(), platform_.registry(), platform_.clock());
        platform_.clock().Sleep(500);
      }
      break;
    case kTimerStart:
      if (NeedAppRecovery()) {
        ShowFullScreenTopmost();
        SetTimer(kTimerUpdate, 200);
      } else {
        SearchUpdateFiles();
      }
      break;
    case kTimerUpdate:
      OnBnClickedBtnUpdate();
      break;
    case kTimerRepaintUpdate:
      Repaint();
      OnBnClickedBtnUpdate();
      break;
    case kTimerTopmost:
      OnTopmostTimer();
      break;
    case kTimerHold:
      OnHoldTimer();
      break;
    default:
      break;
  }
}

void CSysmendDlg::OnTopmostTimer() {
  if (!m_bAutoUpdate) KillTimer(kTimerTopmost);
  Dialog* confirm = GetDesktop().FindOpenDialog(CAutoUpdateDlg::kDialogId);
  HWND foreground = platform_.windows() ? platform_.windows()->GetForegroundWindow() : 0;
  if (confirm != nullptr && foreground == confirm->GetSafeHwnd()) return;
  if (confirm == nullptr) {
    SetWindowPos(HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  } else {
    confirm->SetWindowPos(HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }
}

uint32_t CSysmendDlg::GetTouchType() {
  uint32_t type = 0;
  if (std::unique_ptr<RegKey> key = platform_.registry().OpenKey("SoftWare\\Dravik\\Os")) {
    if (key->QueryDword("TOUCHTYPE", &type) != 0) type = 0;
  }
  Trace("GetTouchType nRet = %d \r\n", static_cast<int>(type));
  return type;
}

void CSysmendDlg::OnHoldTimer() {
  if (m_bHeld) {
    Trace("CSysmendDlg::OnTimer exceed 5 seconds,will start touch.\n");
    if (GetTouchType() == 0 && platform_.devices() != nullptr) platform_.devices()->TouchCalibrate();
    ExecuteProgram("\\windows\\explorer.exe");
    platform_.clock().Sleep(800);
    ExecuteProgram("\\windows\\explorer.exe");
    CloseDialog();
  }
  m_bHeld = false;
}

void CSysmendDlg::OnLButtonDown(int, int) {
  m_bHeld = true;
  SetTimer(kTimerHold, 5000);
}

void CSysmendDlg::OnLButtonUp(int, int) {
  KillTimer(kTimerHold);
  if (m_bHeld) m_bHeld = false;
}

void CSysmendDlg::ExecuteProgram(const std::string& path) {
  if (!platform_.processes().CreateProcess(path, "")) {
    Trace("CSysmendDlg::ExecuteProgram %s failed errcode = %d \r\n", path.c_str(), static_cast<int>(GetLastError()));
  }
}

void CSysmendDlg::NoticeAppUdpateResult(uint32_t code) {
  CSysmendAPI updterAPI(platform_.library());
  updterAPI.LoadSysmendAPI();
  Trace("CSysmendDlg::NoticeAppUdpateResult !!!!!!!\n");
  if (updterAPI.m_UpdateState != nullptr) {
    updterAPI.m_UpdateState(code & 0xFF);
    Trace("updterAPI.m_UpdateState(%d) !!!!! \n", static_cast<int>(code & 0xFF));
  }
  updterAPI.Unload();
}

bool CSysmendDlg::AppDirExists() {
  uint32_t a = platform_.files().GetAttributes(CAppUpdater::kAppDir);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace hu
