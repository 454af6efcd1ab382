// The update sequence of CSysmendDlg: search, verdicts, confirmation, image
// writes, the application step and the ending.
#include <cstdio>

#include "common/platform/errors.h"
#include "common/platform/trace.h"
#include "sysmend/app/auto_update_dlg.h"
#include "sysmend/app/storage_roots.h"
#include "sysmend/app/sysmend_dlg.h"
#include "sysmend/packages/ini_text.h"

namespace hu {

void CSysmendDlg::SearchUpdateFiles() {
  m_plan = UpdatePlan();
  m_panel.Clear();
  m_panel.SetTitleLine(0, "Search update files...");
  EnableButtons(false);
  std::string packsPath = GetUpdatePacksPath(platform_.processes().GetModuleFileName());
  if (m_shearcher.ShearchPacksInfoVec(packsPath) && CheckUpdatePacks() && PreparePackSlots()) {
    if (!m_plan.slots[kSlotApp].present && !m_plan.loosePack) m_appUpdater.RollBackPendingPhase();
    EnableButtons(true);
    if (m_bAutoUpdate) {
      ShowFullScreenTopmost();
      SetTimer(kTimerUpdate, 200);
    }
    m_bPacksReady = true;
    SetTimer(kTimerTopmost, 500);
    return;
  }
  m_bPacksReady = false;
  SetJobResult(kJobNothingToDo);
  // An application moved aside by a first phase whose second will not come
  // (the kit is gone or now refused) goes back in place.
  m_appUpdater.RollBackPendingPhase();
  if (m_bAutoUpdate) {
    if (!m_plan.slots[kSlotApp].present) NoticeAppUdpateResult(2);
    CloseDialog();
    return;
  }
  if (Control* c = GetDlgItem(IDC_BTN_UPDATE)) c->EnableWindow(false);
  if (Control* c = GetDlgItem(IDCANCEL)) c->EnableWindow(true);
  m_panel.SetTitleLine(0, "No invalid update files found !!!", true);
  SetTimer(kTimerTopmost, 500);
}

bool CSysmendDlg::CheckUpdatePacks() { return m_checker.CheckUpdatePacks(FoundPacks(), m_bAutoUpdate); }

bool CSysmendDlg::PreparePackSlots() {
  std::string packsPath = GetUpdatePacksPath(platform_.processes().GetModuleFileName());
  bool ok = m_checker.PreparePackSlots(FoundPacks(), packsPath, &m_plan);
  for (const StatusLine& line : m_plan.lines) m_panel.AppendLine(line.text, line.color, false, false, true);
  Control* check = GetDlgItem(IDC_CHECK_FORMAT);
  if (check != nullptr) {
    if (m_plan.formatBox == UpdatePlan::FormatBox::Ticked) check->SetCheck(BST_CHECKED);
    if (m_plan.formatBox == UpdatePlan::FormatBox::Disabled) check->EnableWindow(false);
  }
  m_panel.SetStepLayout(m_plan.stepLayout);
  m_panel.SelectStep(m_plan.selectedStep);
  m_directUpdate = m_plan.directUpdate;
  Repaint();
  return ok;
}

void CSysmendDlg::OnBnClickedBtnUpdate() {
  if (NeedAppRecovery()) {
    m_panel.SetStepLayout(5);
    m_panel.SelectStep(6);
    ShowUpdateControls(true);
    m_panel.AppendLine("App is updating now ... ( recovery ) ", StepPanel::kBlack, true, false, true);
    m_appUpdater.RecoverApp();
    m_appUpdater.WriteAppUpdatedFlags();
    Trace("\r\nApp Updated OK !!!!");
    m_panel.AppendLine("App Updated OK, it will run APP after 3 second!", StepPanel::kBlack, true, false, true);
    SetJobResult(kJobDone);
    platform_.clock().Sleep(3000);
    ExecuteProgram(kAppvisor);
    CloseDialog();
    return;
  }
  bool formatTicked = IsDlgButtonChecked(IDC_CHECK_FORMAT) == BST_CHECKED;
  if (!m_bPacksReady && !formatTicked) return;
  CAutoUpdateDlg confirm(GetDesktop(), this, "Are you sure to Update ?");
  if (confirm.DoModal() != IDOK) {
    ShowUpdateControls(false);
    EnableButtons(true);
    return;
  }
  if (!m_bPacksReady && formatTicked) {
    FormatAppDir(true);
    m_panel.Clear();
    m_panel.SetTitleLine(0, "system will reboot after 3 seconds !");
    m_flasher.HardReboot(false, GlobalStorageRoots().dravik);
    return;
  }
  m_panel.Clear();
  m_panel.AppendLine("System is updating now,please don't power off or plug out sd card !!!", StepPanel::kBlack,
                     true, true, true);
  EnableButtons(false);
  Trace("CSysmendDlg::OnBnClickedBtnUpdate m_directUpdate = %d \n", m_directUpdate ? 1 : 0);
  if (m_directUpdate) ShowUpdateControls(true);
  Repaint();
  DoSystemUpdate();
}

void CSysmendDlg::FormatAppDir(bool fromButton) {
  auto show = [&](const char* text) {
    if (fromButton) {
      m_panel.Clear();
      m_panel.SetTitleLine(0, text);
    } else {
      m_panel.AppendLine(text, StepPanel::kBlack, true, false, true);
    }
    Repaint();
  };
  show("System will Format App directory ...");
  m_flasher.EraseAppDir();
  show("System format App director finish !");
}

void CSysmendDlg::DoSystemUpdate() {
  bool flashed = false, appDone = false, logoOrCopy = false;
  const PackSlot* slots = m_plan.slots;
  bool appSlot = slots[kSlotApp].present;
  GetDesktop().BeginWaitCursor();
  Repaint();
  m_panel.SelectStep(m_plan.OnlyAppSlot() && !AppDirExists() ? 6 : 2);

  bool mstar = GetCPUType() == 1;
  if (slots[kSlotOs].present && !mstar && m_flasher.UpdateOS(slots[kSlotOs])) flashed = true;
  if (slots[kSlotBoot].present && !mstar && m_flasher.UpdateBoot(slots[kSlotBoot])) flashed = true;
  if (slots[kSlotConf].present && m_flasher.UpdateConf(slots[kSlotConf])) flashed = true;
  if (flashed) {
    const std::string& nand = GlobalStorageRoots().nandFlash;
    struct {
      const char* name;
      const char* trace;
    } const configs[] = {
        {"\\$KVR$\\AppConfig\\DeviceConfigEx.ini", "DeleteFile strDeivceExPath = %s bDel = %d \r\n"},
        {"\\$KVR$\\AppConfig\\DeviceConfig.cfg", "DeleteFile strDevicePath_old = %s bDel = %d \r\n"},
        {"\\$KVR$\\AppConfig\\DeviceConfigEx.cfg", "DeleteFile strDeivceExPath_old = %s bDel = %d \r\n"},
    };
    for (const auto& c : configs) {
      std::string path = nand + c.name;
      bool deleted = platform_.files().DeleteFile(path);
      Trace(c.trace, path.c_str(), deleted ? 1 : 0);
    }
  }
  for (int n = 1; n <= 3; ++n) {
    const PackSlot& logo = slots[kSlotLogo1 + n - 1];
    if (logo.present && m_flasher.UpdateLogo(logo, n)) {
      flashed = true;
      logoOrCopy = true;
    }
  }
  if (appSlot) {
    CAppUpdater::Outcome outcome = m_appUpdater.Run(slots[kSlotApp], m_plan.loosePack, m_plan.loosePacks);
    if (outcome == CAppUpdater::Outcome::kBackupFailed || outcome == CAppUpdater::Outcome::kStuck) {
      TellJobResult();
      GetDesktop().EndWaitCursor();
      if (flashed) {
        m_panel.AppendLine("system will reboot after 3 seconds !", StepPanel::kBlack, true, false, false);
        platform_.clock().Sleep(3000);
        m_flasher.HardReboot(true, GlobalStorageRoots().dravik);
      } else {
        m_panel.AppendLine("App systerm will run  after 3 seconds.!", StepPanel::kBlack, true, false, false);
        platform_.clock().Sleep(3000);
        ExecuteProgram(kAppvisor);
      }
      CloseDialog();
      return;
    }
    if (outcome == CAppUpdater::Outcome::kRenamed) flashed = true;
    if (outcome == CAppUpdater::Outcome::kInstalled) appDone = true;
  } else {
    NoticeAppUdpateResult(2);
  }

  if (m_plan.kvrappCount > 0 && AppDirExists()) {
    m_panel.AppendLine("Copy files from kvrapp dir to app dir ...", StepPanel::kBlack, true, false, true);
    std::string kvrapp = GetUpdatePacksPath(platform_.processes().GetModuleFileName()) + "\\kvrapp";
    bool copied = CopyKvrappDir(kvrapp, CAppUpdater::kAppDir);
    m_panel.AppendLine(copied ? "Copy files from kvrapp dir to app dir OK !" : "Copy files from kvrapp dir to app dir failed !",
                       StepPanel::kBlack, true, false, true);
    if (!appDone) {
      flashed = true;
      logoOrCopy = true;
    }
  }
  GetDesktop().EndWaitCursor();
  EnableButtons(true);
  TellJobResult();

  if (flashed) {
    if (IsDlgButtonChecked(IDC_CHECK_FORMAT) == BST_CHECKED) FormatAppDir(false);
    if (!appSlot) {
      m_panel.SetLine(9, "SysUpdate finished, the follow is the update result");
      m_panel.SelectStep(4);
      platform_.clock().Sleep(1000);
      m_panel.SelectStep(6);
    } else {
      m_panel.SelectStep(4);
    }
    if (logoOrCopy && (!appSlot || appDone)) {
      m_panel.AppendLine("system will reboot after 3 seconds ! please put out the sd card !", StepPanel::kRed, true,
                         false, true);
    } else {
      m_panel.AppendLine("system will reboot after 3 seconds !", StepPanel::kRed, true, false, true);
    }
    if (!appSlot) DeleUpdatePackPaths();
    Repaint();
    m_flasher.HardReboot(true, GlobalStorageRoots().dravik);
  } else if (appDone) {
    if (m_appUpdater.m_nAppUpdateErr != 2) DeleUpdatePackPaths();
    m_panel.SelectStep(8);
    m_panel.SetLine(10, "SysUpdate finished, the follow is the update result");
    m_panel.AppendLine("App systerm will run  after 3 seconds.", StepPanel::kRed, true, false, true);
    platform_.clock().Sleep(3000);
    ExecuteProgram(kAppvisor);
    CloseDialog();
  }
}

void CSysmendDlg::TellJobResult() {
  // Every step that failed said so in its line; a run with none of them did its job.
  std::string failures;
  for (int n = StepPanel::kFirstMessageLine; n < StepPanel::kLines; ++n) {
    const PanelLine* line = m_panel.Line(n);
    if (line == nullptr || AsciiLower(line->text).find("failed") == std::string::npos) continue;
    failures += (failures.empty() ? "" : "\n") + line->text;
  }
  SetJobResult(failures.empty() ? kJobDone : kJobFailed, failures);
}

bool CSysmendDlg::CopyKvrappDir(const std::string& source, const std::string& target) {
  Files& files = platform_.files();
  uint32_t a = files.GetAttributes(target);
  if (a == INVALID_FILE_ATTRIBUTES && !files.CreateDirectory(target)) return false;
  FindData entry;
  std::unique_ptr<FindHandle> find = files.FindFirst(source + "\\*.*", &entry);
  if (!find) return true;
  bool ok = true;
  bool folderFailed = false;
  do {
    std::string from = source + "\\" + entry.name;
    std::string to = target + "\\" + entry.name;
    if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A failure inside a subfolder does not stop its parent.
      if (!CopyKvrappDir(from, to)) ok = false;
      continue;
    }
    if (folderFailed) continue;
    for (const std::string& p : {from, to}) {
      uint32_t attributes = files.GetAttributes(p);
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        files.SetAttributes(p, attributes & ~FILE_ATTRIBUTE_READONLY);
      }
    }
    if (!files.CopyFile(from, to, false)) {
      Trace("Copy File  \" %s \"  Failed ! Error Code : 0x%x\r\n", from.c_str(), GetLastError());
      folderFailed = true;
      ok = false;
    }
  } while (find->Next(&entry));
  return ok;
}

void CSysmendDlg::DeleUpdatePackPaths() {
  Files& files = platform_.files();
  std::string iniPath = GetModuleFolder(platform_.processes().GetModuleFileName()) + "UpdatePathInfo.ini";
  std::unique_ptr<File> f = files.Open(iniPath, FileAccess::Read, FileCreate::OpenExisting, FILE_SHARE_READ);
  if (!f) return;
  std::string bytes;
  // The list is a small text written by the head unit application; bound what is read.
  const uint64_t kMaxIniBytes = 1 << 20;
  uint64_t size = f->Size();
  bytes.resize(static_cast<size_t>(size < kMaxIniBytes ? size : kMaxIniBytes));
  uint32_t done = 0;
  if (!bytes.empty() && f->Read(&bytes[0], static_cast<uint32_t>(bytes.size()), &done)) bytes.resize(done);
  f.reset();
  std::string text = platform_.codePage().ToUtf8(bytes);
  std::string version;
  if (IniValue(text, "Ver", "Version", &version) && version == "1.0") {
    for (const auto& entry : IniEntries(text, "Q7UpdatePacks")) {
      Trace("CSysmendDlg::DeleUpdatePackPaths delete pack = %s \n", entry.second.c_str());
      files.DeleteFile(entry.second);
    }
  }
  files.DeleteFile(iniPath);
}

}  // namespace hu
