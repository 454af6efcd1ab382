#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "common/platform/clock.h"
#include "common/platform/files.h"
#include "common/platform/text.h"
#include "sysmend/app/pack_types.h"
#include "sysmend/app/update_view.h"

namespace hu {

class CBackUpDir;

// Replaces the application folder in two phases separated by a reboot, with
// backups of both partitions and recovery after an interrupted update.
class CAppUpdater {
 public:
  static constexpr const char* kAppDir = "\\dravik\\$KVR$\\App";
  static constexpr const char* kAppOldDir = "\\dravik\\$KVR$\\App_old";
  static constexpr const char* kSuccessFlag = "\\dravik\\$KVR$\\KitUpdated.flg";
  static constexpr const char* kScreenCheckFlag = "\\dravik\\$KVR$\\ScreenCheckFlag.dat";

  // How the application step ended.
  enum class Outcome {
    kRenamed,        // phase 1 done: the application was moved aside, reboot next
    kInstalled,      // phase 2 ran: new application in place, or the old one restored
    kBackupFailed,   // phase 1 could not back up; the installed application is untouched
    kStuck,          // phase 1 could not move the application aside; untouched, no reboot
  };

  CAppUpdater(Files& files, Clock& clock, CodePage& codePage, UpdateView& view, const std::string& moduleFolder);

  // The application step of the update. `slot` and `loosePacks` say where the
  // new application comes from.
  Outcome Run(const PackSlot& slot, bool loosePack, const std::vector<std::string>& loosePacks);
  // Whether Run starts with the first phase (the application folder is a
  // plain folder to move aside) rather than unpacking at once.
  static bool RunsInTwoPhases(Files& files);

  bool UpdateApp(const PackSlot& slot, bool loosePack, const std::vector<std::string>& loosePacks);
  void BackupProgress(uint32_t mode, uint32_t first, uint32_t second);
  bool NeedAppRecovery();
  void RecoverApp();
  // Whether an application update was left between its phases: the
  // application moved aside and not (or not wholly) replaced.
  bool PendingAppPhase();
  // Puts the application moved aside back when no second phase will come.
  void RollBackPendingPhase();
  bool WriteAppUpdatedFlags();
  bool WriteAppFailedFlag();
  void DeleteAppFailedFlag();

  uint32_t m_nAppUpdateErr = 17;

  std::string DravikBackup() const { return moduleFolder_ + "Dravik_BK"; }
  std::string NandFlashBackup() const { return moduleFolder_ + "Nandflash_BK"; }
  std::string FailureFlag() const { return moduleFolder_ + "AppUpdateFailed.dat"; }
  std::string PackListFile() const { return moduleFolder_ + "UpdatePathInfo.ini"; }
  std::string BackedUpSuccessFlag() const { return DravikBackup() + "\\$KVR$\\KitUpdated.flg"; }

 private:
  CBackUpDir MakePair(const std::string& source, const std::string& backup);
  bool Exists(const std::string& path);
  bool IsPlainDir(const std::string& path);
  // Whether the Dravik backup holds the whole application moved aside.
  bool BackupHoldsOldApp();
  void RestoreBackups(CBackUpDir& dravik, CBackUpDir& nand, bool overwrite);
  void DeleteBackups(CBackUpDir& dravik, CBackUpDir& nand);
  std::string ModuleDir() const;
  bool WriteFlag(const std::string& path, const char* text, size_t bytes);
  Outcome PhaseOne(const PackSlot& slot, bool loosePack, const std::vector<std::string>& loosePacks);
  // Whether the application's volume holds the new application beside the
  // old one, which stays until the new one is complete when no backup holds it.
  bool RoomBesideOldApp(const PackSlot& slot, bool loosePack, const std::vector<std::string>& loosePacks);
  Outcome PhaseTwo(const PackSlot& slot, bool loosePack, const std::vector<std::string>& loosePacks);
  bool PutBackOldApp();
  void RecoverFromFailedUnpack(bool haveBackups);

  Files& files_;
  Clock& clock_;
  CodePage& codePage_;
  UpdateView& view_;
  std::string moduleFolder_;
  bool m_bFirstBackup = false;
  bool m_bFirstRestore = false;
  bool m_bFirstDelete = false;
};

}  // namespace hu
