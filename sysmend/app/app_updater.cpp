#include "sysmend/app/app_updater.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "common/platform/errors.h"
#include "common/platform/file_tree.h"
#include "common/platform/trace.h"
#include "sysmend/app/step_panel.h"
#include "sysmend/packages/auk_unzip.h"
#include "sysmend/packages/back_up_dir.h"
#include "sysmend/packages/delete_tree.h"
#include "sysmend/packages/dir_oper.h"
#include "sysmend/packages/incremental_packs.h"
#include "sysmend/packages/pack_unzip.h"
#include "sysmend/packages/public_ver_checker.h"

namespace hu {
namespace {

const char kDravik[] = "\\dravik";
const char kNandFlash[] = "\\NandFlash";

}  // namespace

CAppUpdater::CAppUpdater(Files& files, Clock& clock, CodePage& codePage, UpdateView& view,
                         const std::string& moduleFolder)
    : files_(files), clock_(clock), codePage_(codePage), view_(view), moduleFolder_(moduleFolder) {}

CBackUpDir CAppUpdater::MakePair(const std::string& source, const std::string& backup) {
  CBackUpDir pair(files_, clock_, source, backup);
  pair.SetCallback([this](uint32_t kind, const BackUpProgress& r, void*) { BackupProgress(kind, r.operation, r.percentage); },
                   nullptr);
  // The updater's folder holds the backups and the flags: when it lies in a
  // partition, that partition's backup must not copy it, nor clearing delete it.
  pair.SetKept({ModuleDir()});
  return pair;
}

std::string CAppUpdater::ModuleDir() const {
  std::string dir = moduleFolder_;
  while (dir.size() > 1 && dir.back() == '\\') dir.pop_back();
  return dir;
}

bool CAppUpdater::Exists(const std::string& path) { return files_.GetAttributes(path) != INVALID_FILE_ATTRIBUTES; }

bool CAppUpdater::IsPlainDir(const std::string& path) {
  return files_.GetAttributes(path) == FILE_ATTRIBUTE_DIRECTORY;
}

bool CAppUpdater::BackupHoldsOldApp() {
  std::string backedUp = DravikBackup() + "\\$KVR$\\App";
  if (!Exists(backedUp)) return false;
  if (!Exists(kAppOldDir)) return true;
  CDirOper walk(files_, clock_);
  DirMeasure old = walk.Measure(kAppOldDir, false);
  DirMeasure copy = walk.Measure(backedUp, false);
  return old.files == copy.files && old.size == copy.size;
}

void CAppUpdater::RestoreBackups(CBackUpDir& dravik, CBackUpDir& nand, bool overwrite) {
  // A flag taken along by an older backup must not come back before the
  // restore is complete.
  files_.DeleteFile(BackedUpSuccessFlag());
  m_bFirstRestore = true;
  dravik.Restore(overwrite);
  m_bFirstRestore = false;
  nand.Restore(overwrite);
}

void CAppUpdater::DeleteBackups(CBackUpDir& dravik, CBackUpDir& nand) {
  m_bFirstDelete = true;
  dravik.DeleteBackup();
  m_bFirstDelete = false;
  nand.DeleteBackup();
}

bool CAppUpdater::WriteFlag(const std::string& path, const char* text, size_t bytes) {
  std::unique_ptr<File> f = files_.Open(path, FileAccess::ReadWrite, FileCreate::CreateAlways, 0);
  if (!f) {
    Trace("##### create flag file = %s failed errcode = %d \r\n", path.c_str(), static_cast<int>(GetLastError()));
    return false;
  }
  uint32_t done = 0;
  bool ok = f->Write(text, static_cast<uint32_t>(bytes), &done) && done == bytes && f->Flush();
  if (!ok) {
    Trace("##### write flag file = %s failed errcode = %d \r\n", path.c_str(), static_cast<int>(GetLastError()));
  }
  return ok;
}

bool CAppUpdater::WriteAppUpdatedFlags() {
  static const char kScreen[] = "Screen Check Flag!";
  static const char kSuccess[] = "app Update Flag!";
  if (!WriteFlag(kScreenCheckFlag, kScreen, sizeof kScreen)) return false;
  if (!WriteFlag(kSuccessFlag, kSuccess, sizeof kSuccess)) return false;
  Trace("##### create App_Update_Flag_File = %s suc \r\n", kSuccessFlag);
  return true;
}

bool CAppUpdater::WriteAppFailedFlag() {
  static const char kFailed[] = "App_Update_Failed_Flag!";
  return WriteFlag(FailureFlag(), kFailed, sizeof kFailed);
}

void CAppUpdater::DeleteAppFailedFlag() {
  if (!files_.DeleteFile(FailureFlag())) files_.DeleteFile(FailureFlag());
}

bool CAppUpdater::NeedAppRecovery() {
  return !Exists(kSuccessFlag) && Exists(FailureFlag()) && (Exists(DravikBackup()) || Exists(NandFlashBackup()));
}

void CAppUpdater::BackupProgress(uint32_t mode, uint32_t first, uint32_t second) {
  bool nandExists = Exists(kNandFlash);
  bool nandBackupExists = Exists(NandFlashBackup());
  uint32_t p = 0;
  switch (mode) {
    case 0: {
      if (second != 0) {
        Trace("\r\nApp Updated Error !!!!");
        return;
      }
      p = first;
      if (Exists(DravikBackup()) || nandBackupExists) p = p * 80 / 100;
      view_.SetProgress(static_cast<int>(p < 2 ? 2 : p));
      return;
    }
    case 1: {
      uint32_t v = second;
      if (m_bFirstBackup) {
        p = nandExists ? v * 80 / 100 : v * 100 / 100;
      } else {
        p = v * 20 / 100 + 80;
      }
      char text[64];
      if (p != 100) {
        std::snprintf(text, sizeof text, "Back up APP now ( %d%% )", static_cast<int>(p));
      } else {
        std::snprintf(text, sizeof text, "Back up APP OK!");
      }
      view_.Panel().AppendLine(text, StepPanel::kBlack, true, false, false);
      return;
    }
    case 2: {
      uint32_t v = second;
      if (m_bFirstRestore) {
        p = nandBackupExists ? v * 6 / 100 + 80 : v * 10 / 100 + 80;
      } else {
        p = v * 4 / 100 + 86;
      }
      break;
    }
    case 4: {
      uint32_t v = second;
      if (m_bFirstDelete) {
        p = nandBackupExists ? v * 6 / 100 + 90 : v * 10 / 100 + 90;
      } else {
        p = v * 4 / 100 + 96;
      }
      break;
    }
    default:
      return;  // clearing a partition shows nothing
  }
  view_.SetProgress(static_cast<int>(p));
}

bool CAppUpdater::UpdateApp(const PackSlot& slot, bool loosePack, const std::vector<std::string>& loosePacks) {
  std::string version = slot.version;
  if (loosePack && !loosePacks.empty()) version = ReadPackAppVer(files_, codePage_, loosePacks.front());
  char text[400];
  std::snprintf(text, sizeof text, "App is updating now ... (version: %s ) ", version.c_str());
  view_.Panel().AppendLine(text, StepPanel::kBlack, true, false, false);
  view_.SetProgress(2);
  view_.Repaint();
  // The previous application stays in App_old until the new one is complete
  // unless the backup holds it (see PhaseTwo), so that a failed unpack never
  // leaves the unit without an application.
  uint32_t result = 0;
  CAukUnzip unzip(files_, clock_, codePage_);
  unzip.SetCallback(
      [this](uint32_t, const PackProgress& report, void*) { BackupProgress(0, report.percentage, report.result); },
      nullptr);
  if (loosePack) {
    std::vector<std::string> ordered = loosePacks;
    SortPacksByVersion(ordered);
    result = unzip.UnzipList(ordered, kAppDir);
  } else {
    unzip.SetOffset(slot.offset);
    result = unzip.Unzip(slot.path, kAppDir);
  }
  m_nAppUpdateErr = result;
  return result == 0;
}

bool CAppUpdater::RoomBesideOldApp(const PackSlot& slot, bool loosePack, const std::vector<std::string>& loosePacks) {
  uint64_t need = CAukUnzip::kSpareRoom;
  std::vector<std::pair<std::string, uint32_t>> packs;
  if (loosePack) {
    for (const std::string& p : loosePacks) packs.emplace_back(p, 0);
  } else {
    packs.emplace_back(slot.path, slot.offset);
  }
  for (const auto& [path, offset] : packs) {
    CPackUnzip pack(files_, codePage_, path);
    pack.SetOffset(offset);
    uint32_t total = 0;
    if (!pack.GetTotalSize(&total)) return true;  // the unpack itself reports a pack it cannot read
    need += total;
  }
  DiskSpace space;
  if (!files_.GetDiskFreeSpace(ParentPath(kAppDir), &space) || space.freeToCaller >= need) return true;
  Trace("\r\nCheckDiskRoom::disk is not enough");
  return false;
}

CAppUpdater::Outcome CAppUpdater::PhaseOne(const PackSlot& slot, bool loosePack,
                                           const std::vector<std::string>& loosePacks) {
  CBackUpDir dravik = MakePair(kDravik, DravikBackup());
  CBackUpDir nand = MakePair(kNandFlash, NandFlashBackup());
  // Left by an earlier completed update (the success flag is there): junk,
  // not worth a place in the backup.
  if (Exists(kAppOldDir) && Exists(kSuccessFlag)) PurgeTree(files_, clock_, kAppOldDir);
  // App_old still there without a success flag: the folder in App is an
  // interrupted unpack and App_old the application to keep; the second
  // phase starts again after the reboot.
  if (Exists(kAppOldDir) && !Exists(kSuccessFlag) && PurgeTree(files_, clock_, kAppDir)) return Outcome::kRenamed;
  if (Exists(kSuccessFlag) && Exists(PackListFile())) {
    StepPanel& panel = view_.Panel();
    panel.AppendLine("Back up APP now...", StepPanel::kBlack, true, false, false);
    files_.DeleteFile(BackedUpSuccessFlag());
    m_bFirstBackup = true;
    bool ok = dravik.Backup() != 0;
    // The flag came along again: a restore must never bring it back before
    // the restore is complete, or a power loss in the middle goes unrecovered.
    files_.DeleteFile(BackedUpSuccessFlag());
    if (!ok) {
      dravik.DeleteBackup();
      panel.AppendLine("dravik prartition back up failed!", StepPanel::kRed, true, false, true);
    }
    m_bFirstBackup = false;
    if (ok && nand.Backup() == 0) {
      ok = false;
      nand.DeleteBackup();
      dravik.DeleteBackup();
      panel.AppendLine("nandflash prartition back up failed!", StepPanel::kRed, true, false, true);
    }
    if (!ok) return Outcome::kBackupFailed;
  } else {
    if (Exists(DravikBackup()) || Exists(NandFlashBackup())) {
      // Left by an earlier run: they belong to no update now, and a failure
      // of this one must not put them over the partitions.
      DeleteBackups(dravik, nand);
    }
    // Without a backup the old application stays until the new one is
    // complete: when both cannot fit, the second phase could only fail, and
    // every start with the kit would reboot for nothing.
    if (!RoomBesideOldApp(slot, loosePack, loosePacks)) {
      view_.Panel().AppendLine("App updated Failed! ", StepPanel::kRed, true, false, true);
      return Outcome::kStuck;
    }
  }
  if (Exists(kAppOldDir) || !files_.MoveFile(kAppDir, kAppOldDir)) {
    Trace(" MoveFile  Update_KitPath =%s Update_KitPath_OLD = %s failed!! errcode = %d \r\n", kAppDir, kAppOldDir,
          static_cast<int>(Exists(kAppOldDir) ? ERROR_ALREADY_EXISTS : GetLastError()));
    // Rebooting would only bring the same refusal at every start.
    if (Exists(DravikBackup()) || Exists(NandFlashBackup())) DeleteBackups(dravik, nand);
    view_.Panel().AppendLine("App updated Failed! ", StepPanel::kRed, true, false, true);
    return Outcome::kStuck;
  }
  return Outcome::kRenamed;
}

bool CAppUpdater::PutBackOldApp() {
  if (!Exists(kAppOldDir)) return false;
  PurgeTree(files_, clock_, kAppDir);
  if (!files_.MoveFile(kAppOldDir, kAppDir)) {
    Trace(" MoveFile  Update_KitPath =%s Update_KitPath_OLD = %s failed!! errcode = %d \r\n", kAppOldDir, kAppDir,
          static_cast<int>(GetLastError()));
    return false;
  }
  return true;
}

bool CAppUpdater::PendingAppPhase() {
  if (!Exists(kAppOldDir)) return false;
  // Moved aside and not replaced, or replaced only in part (an unpack cut
  // short leaves no success flag).
  return !IsPlainDir(kAppDir) || !Exists(kSuccessFlag);
}

void CAppUpdater::RollBackPendingPhase() {
  if (!PendingAppPhase()) return;
  Trace("CAppUpdater::RollBackPendingPhase no second phase for %s, putting it back\r\n", kAppOldDir);
  if (!PutBackOldApp()) return;
  if (!WriteAppUpdatedFlags()) return;
  CBackUpDir dravik = MakePair(kDravik, DravikBackup());
  CBackUpDir nand = MakePair(kNandFlash, NandFlashBackup());
  if (Exists(DravikBackup()) || Exists(NandFlashBackup())) DeleteBackups(dravik, nand);
}

void CAppUpdater::RecoverFromFailedUnpack(bool flagged) {
  StepPanel& panel = view_.Panel();
  // What the failed unpack wrote goes first: on a full disk the flags below
  // need its room.
  PurgeTree(files_, clock_, kAppDir);
  CBackUpDir dravik = MakePair(kDravik, DravikBackup());
  CBackUpDir nand = MakePair(kNandFlash, NandFlashBackup());
  bool haveBackups = Exists(DravikBackup() + "\\$KVR$\\App");
  // With the failure flag down, a power loss from here on is recovered at the
  // next start; without it the partitions are not cleared.
  bool recoverable = haveBackups && (flagged || WriteAppFailedFlag());
  view_.NoticeAppUdpateResult(2);
  panel.AppendLine("Recovering App...!", StepPanel::kRed, true, false, false);
  if (recoverable) {
    dravik.DeleteSource();
    nand.DeleteSource();
    RestoreBackups(dravik, nand, false);
    if (WriteAppUpdatedFlags()) {
      DeleteBackups(dravik, nand);
      PurgeTree(files_, clock_, kAppOldDir);
      DeleteAppFailedFlag();
    }
  } else {
    // The previous application is still in App_old.
    PutBackOldApp();
    if (WriteAppUpdatedFlags() && haveBackups) DeleteBackups(dravik, nand);
  }
}

CAppUpdater::Outcome CAppUpdater::PhaseTwo(const PackSlot& slot, bool loosePack,
                                           const std::vector<std::string>& loosePacks) {
  StepPanel& panel = view_.Panel();
  view_.ShowUpdateControls(true);
  if (Exists(kSuccessFlag) && !files_.DeleteFile(kSuccessFlag)) {
    Trace("DeleteFile %s failed errcode = %d \r\n", kSuccessFlag, static_cast<int>(GetLastError()));
  }
  CBackUpDir dravik = MakePair(kDravik, DravikBackup());
  CBackUpDir nand = MakePair(kNandFlash, NandFlashBackup());
  // The old application's room is wanted for the new one; it may go once the
  // backup holds it and the failure flag says to recover from the backups.
  bool flagged = BackupHoldsOldApp() && WriteAppFailedFlag();
  if (flagged) PurgeTree(files_, clock_, kAppOldDir);

  if (UpdateApp(slot, loosePack, loosePacks)) {
    DeleteTree(files_, clock_, "\\NANDFlash\\$KVR$");
    view_.NoticeAppUdpateResult(1);
    bool haveBackups = Exists(DravikBackup()) || Exists(NandFlashBackup());
    if (loosePack && haveBackups) {
      RestoreBackups(dravik, nand, false);
    }
    // Until the success flag is down, an interruption recovers the old
    // application; after it, nothing of the old one is needed.
    if (WriteAppUpdatedFlags()) {
      if (haveBackups) DeleteBackups(dravik, nand);
      PurgeTree(files_, clock_, kAppOldDir);
      if (flagged) DeleteAppFailedFlag();
    }
    panel.AppendLine("App updated OK ! ", StepPanel::kBlack, true, false, true);
  } else {
    RecoverFromFailedUnpack(flagged);
    panel.AppendLine("App updated Failed! ", StepPanel::kRed, true, false, true);
  }
  clock_.Sleep(1000);
  Trace("\r\nApp Updated OK !!!!");
  return Outcome::kInstalled;
}

bool CAppUpdater::RunsInTwoPhases(Files& files) {
  return files.GetAttributes(kAppDir) == FILE_ATTRIBUTE_DIRECTORY;
}

CAppUpdater::Outcome CAppUpdater::Run(const PackSlot& slot, bool loosePack, const std::vector<std::string>& loosePacks) {
  if (RunsInTwoPhases(files_)) return PhaseOne(slot, loosePack, loosePacks);
  return PhaseTwo(slot, loosePack, loosePacks);
}

void CAppUpdater::RecoverApp() {
  CBackUpDir dravik = MakePair(kDravik, DravikBackup());
  CBackUpDir nand = MakePair(kNandFlash, NandFlashBackup());
  // The backup holds the whole old application: files of a new one cut short
  // must not stay mixed into it.
  if (Exists(DravikBackup() + "\\$KVR$\\App")) PurgeTree(files_, clock_, kAppDir);
  RestoreBackups(dravik, nand, true);
  // The backups go only once the flags say the recovery is done: a power
  // loss before that recovers again from whole backups.
  if (!WriteAppUpdatedFlags()) return;
  DeleteBackups(dravik, nand);
  PurgeTree(files_, clock_, kAppOldDir);
  DeleteAppFailedFlag();
}

}  // namespace hu
