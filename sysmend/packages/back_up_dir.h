#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/platform/clock.h"
#include "common/platform/files.h"
#include "sysmend/packages/dir_oper.h"

namespace hu {

struct BackUpProgress {
  uint32_t operation = 0;   // walk operation: 0 copy, 1 delete
  uint32_t percentage = 0;  // files handled x 100 / total
};

// Called as callback(operation kind, report, context).
using BackUpCallback = std::function<void(uint32_t kind, const BackUpProgress& report, void* context)>;

// A source directory and its backup directory: back up, restore, delete,
// and check that the backup volume has room.
class CBackUpDir {
 public:
  enum : uint32_t { kNone = 0, kBackup = 1, kRestore = 2, kDeleteSource = 3, kDeleteBackup = 4 };
  static constexpr uint32_t kSpareRoom = 0x80000;  // 512 KiB beyond the source's size

  CBackUpDir(Files& files, Clock& clock, const std::string& sourceDir, const std::string& backupDir);

  void SetCallback(BackUpCallback callback, void* context);
  // Folders inside the source that backups, restores and deletions leave alone.
  void SetKept(std::vector<std::string> folders) { m_dirOper.SetKept(std::move(folders)); }

  uint32_t Backup();
  uint32_t Restore(bool overwrite);
  uint32_t DeleteSource();
  uint32_t DeleteBackup();
  bool CheckLeftRoom();

  uint32_t Kind() const { return m_nKind; }

 private:
  void Start(uint32_t kind);
  void OnWalk(const DirWalkProgress& report);

  Files& files_;
  std::string m_strSourceDir;
  std::string m_strBackupDir;
  CDirOper m_dirOper;
  BackUpCallback m_pCallback;
  void* m_pContext = nullptr;
  uint32_t m_nKind = kNone;
  uint32_t m_nLastPercentage = 0;
  uint32_t m_nSourceFiles = 0;  // counted by the last room check
};

}  // namespace hu
