#include "canprobe/oper_page.h"

#include <cstdio>

#include "canprobe/link_center.h"
#include "canprobe/manager.h"
#include "canprobe/run_exe.h"
#include "common/platform/trace.h"

namespace hu {

namespace {
constexpr uint32_t kCloseTimeoutMs = 5000;
constexpr const char* kAppvisorPath = "\\Dravik\\$KVR$\\App\\Appvisor.exe";
constexpr const char* kZentrovaPath = "\\dravik\\$KVR$\\App\\Zentrova.exe";
constexpr const char* kStartdeckPath = "\\dravik\\$KVR$\\App\\Startdeck.exe";
constexpr const char* kExplorerPath = "\\Windows\\explorer.exe";
// 22 bytes, the count in front says 21: kept as the shell has always accepted it.
constexpr const char kShortcutText[] = "21#\"\\dravik\\$KVR$\\App\"";
constexpr uint32_t kLoaderBaud = 625000;

bool WriteWhole(Files& files, const std::string& path, const char* bytes, uint32_t size) {
  std::unique_ptr<File> file = files.Open(path, FileAccess::Write, FileCreate::CreateAlways);
  if (!file) return false;
  uint32_t done = 0;
  return file->Write(bytes, size, &done) && done == size;
}
}  // namespace

COperPage::COperPage(Desktop& desktop, const CanprobeServices& services)
    : Dialog(desktop, IDD), m_services(services) {
  Template().title = "Oper";
  Template().visible = false;
  Template().style = 0;
  DefineControl(ControlKind::Edit, IDC_STATUS, "", Rect{0, 0, 790, 200}).SetMultiLine(true);
  DefineControl(ControlKind::PushButton, IDC_SAVECONFIGE, "SaveConfige", Rect{0, 210, 150, 40});
  DefineControl(ControlKind::PushButton, IDC_KILLCANBUS, "KillCanBus", Rect{160, 210, 150, 40});
  DefineControl(ControlKind::PushButton, IDC_RUNCANBUS, "RunCanBus", Rect{320, 210, 150, 40});
  DefineControl(ControlKind::PushButton, IDC_KILLSTARTDECK, "KillStartdeck", Rect{0, 260, 150, 40});
  DefineControl(ControlKind::PushButton, IDC_RUNSTARTDECK, "RunStartdeck", Rect{160, 260, 150, 40});
  DefineControl(ControlKind::PushButton, IDC_READREG, "ReadReg", Rect{320, 260, 150, 40});
  DefineControl(ControlKind::PushButton, IDC_WRITEREG, "WriteReg", Rect{480, 260, 150, 40});
  DefineControl(ControlKind::PushButton, IDC_RUNPROGRAME, "RunPrograme", Rect{0, 310, 150, 40});
  DefineControl(ControlKind::PushButton, IDC_FILEREPLACE, "FileReplace", Rect{160, 310, 150, 40});
  DefineControl(ControlKind::PushButton, IDC_REPLACEBACKUP, "Replace&Backup", Rect{320, 310, 150, 40});
}

bool COperPage::OnCommand(int id) {
  switch (id) {
    case IDC_SAVECONFIGE:
      if (m_services.config != nullptr && !m_services.config->Save()) Trace("COperPage::OnSaveConfige failed\n");
      return true;
    case IDC_KILLSTARTDECK: KillStartdeck(); return true;
    case IDC_RUNSTARTDECK: RunStartdeck(); return true;
    case IDC_READREG: SendLoaderCommand(); return true;
    case IDC_FILEREPLACE: ReplaceFile(false); return true;
    case IDC_REPLACEBACKUP: ReplaceFile(true); return true;
    case IDC_KILLCANBUS:
    case IDC_RUNCANBUS:
    case IDC_WRITEREG:
    case IDC_RUNPROGRAME:
      return true;
    default:
      return false;
  }
}

void COperPage::CloseWindow(HWND hwnd) {
  LRESULT result = 0;
  // A time-out keeps a hung program from freezing the tool.
  m_services.windows.SendMessage(hwnd, WM_CLOSE, 0, 0, kCloseTimeoutMs, &result);
}

void COperPage::KillStartdeck() {
  Desktop& desktop = GetDesktop();
  Windows& windows = m_services.windows;
  Clock& clock = m_services.platform.clock();
  Processes& processes = m_services.platform.processes();
  desktop.BeginWaitCursor();
  if (HWND hwnd = windows.FindWindow("", "Startdeck_Window")) {
    CloseWindow(hwnd);
    clock.Sleep(2000);
  }
  if (uint32_t pid = FindProcess(processes, kAppvisorPath)) processes.TerminateProcess(pid, 0);
  if (HWND hwnd = windows.FindWindow("", "Zentrova")) {
    CloseWindow(hwnd);
    clock.Sleep(3000);
    if (HWND serial = windows.FindWindow("SERIAL_WINDOW_CLASS_NAME", "SERIAL_WINDOW_NAME")) CloseWindow(serial);
  }
  RunExe(m_services.platform.files(), processes, kExplorerPath);
  if (Dialog* main = GetParent()) main->SetWindowPos(HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
  Files& files = m_services.platform.files();
  const uint32_t size = sizeof(kShortcutText) - 1;
  if (!WriteWhole(files, "\\Windows\\桌面\\MyApp.lnk", kShortcutText, size))
    WriteWhole(files, "\\Windows\\desktop\\MyApp.lnk", kShortcutText, size);
  desktop.EndWaitCursor();
}

void COperPage::RunStartdeck() {
  if (LinkCenter* center = LinkCenter::Get()) center->CloseTransport();
  Files& files = m_services.platform.files();
  if (files.GetAttributes(kZentrovaPath) != INVALID_FILE_ATTRIBUTES)
    RunExe(files, m_services.platform.processes(), kZentrovaPath);
  else if (files.GetAttributes(kStartdeckPath) != INVALID_FILE_ATTRIBUTES)
    RunExe(files, m_services.platform.processes(), kStartdeckPath);
}

void COperPage::SendLoaderCommand() {
  LinkCenter* center = LinkCenter::Get();
  if (center == nullptr) return;
  std::unique_ptr<DataTransport> transport = center->MakeComTransport(center->DefaultRawPort(), kLoaderBaud);
  DataTransport* raw = transport.get();
  center->SetTransport(std::move(transport), kLinkRaw);
  if (raw != nullptr) raw->Open();
  if (Manager* manager = center->GetManager()) manager->SendLoaderCommand();
  center->CloseTransport();
}

void COperPage::ReplaceFile(bool backup) {
  SetDlgItemText(IDC_STATUS, "");
  if (m_services.config == nullptr) return;
  CodePage& codePage = m_services.platform.codePage();
  Files& files = m_services.platform.files();
  const std::string dest = codePage.ToUtf8(m_services.config->Get("FileReplaceDes").value_or(""));
  const std::string src = codePage.ToUtf8(m_services.config->Get("FileReplaceSrc").value_or(""));
  std::string backupText;
  if (backup) {
    const SystemTime t = m_services.platform.clock().GetLocalTime();
    char stamp[64];
    std::snprintf(stamp, sizeof(stamp), "_%4d%02d%02d_%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    const std::string backupName = dest + stamp;
    const bool ok = files.CopyFile(dest, backupName, false);
    backupText = "Backup file " + dest + " to " + backupName + " " + (ok ? "Succ" : "Fail") + "!!!";
  }
  const bool ok = files.CopyFile(src, dest, false);
  SetDlgItemText(IDC_STATUS, backupText + " Replace File " + src + " to " + dest + " " + (ok ? "Succ" : "Fail") +
                                 "!!!");
}

}  // namespace hu
