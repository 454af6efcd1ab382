#include "back_up_dir.h"

#include "common/platform/errors.h"
#include "common/platform/trace.h"

namespace hu {

CBackUpDir::CBackUpDir(Files& files, Clock& clock, const std::string& sourceDir,
                       const std::string& backupDir)
    : files_(files), m_strSourceDir(sourceDir), m_strBackupDir(backupDir), m_dirOper(files, clock) {
  m_dirOper.SetCallback([this](const DirWalkProgress& r, void*) { OnWalk(r); }, nullptr);
}

void CBackUpDir::SetCallback(BackUpCallback callback, void* context) {
  m_pCallback = std::move(callback);
  m_pContext = context;
}

void CBackUpDir::Start(uint32_t kind) {
  m_nKind = kind;
  // Each walk reports its percentages afresh, even one that repeats the last run's.
  m_nLastPercentage = 0;
}

void CBackUpDir::OnWalk(const DirWalkProgress& r) {
  if (r.handled == 0) m_nLastPercentage = 0;
  uint32_t percentage =
      r.total == 0 ? 0 : static_cast<uint32_t>(static_cast<uint64_t>(r.handled) * 100u / r.total);
  if (percentage == m_nLastPercentage) return;
  m_nLastPercentage = percentage;
  if (m_pCallback) m_pCallback(m_nKind, BackUpProgress{r.operation, percentage}, m_pContext);
}

uint32_t CBackUpDir::Backup() {
  if (!CheckLeftRoom()) return 0;
  Start(kBackup);
  // The room check has just counted the source: no second walk for the total.
  return m_dirOper.CopyDir(m_strSourceDir, m_strBackupDir, true, m_nSourceFiles);
}

uint32_t CBackUpDir::Restore(bool overwrite) {
  Start(kRestore);
  return m_dirOper.CopyDir(m_strBackupDir, m_strSourceDir, overwrite);
}

uint32_t CBackUpDir::DeleteSource() {
  Start(kDeleteSource);
  return m_dirOper.DeleteDir(m_strSourceDir);
}

uint32_t CBackUpDir::DeleteBackup() {
  Start(kDeleteBackup);
  return m_dirOper.DeleteDir(m_strBackupDir);
}

bool CBackUpDir::CheckLeftRoom() {
  if (!m_dirOper.CreateDirTree(m_strBackupDir)) return false;
  const DirMeasure source = m_dirOper.Measure(m_strSourceDir, false);
  const uint32_t size = source.size;
  m_nSourceFiles = source.files;
  DiskSpace space;
  bool ok = files_.GetDiskFreeSpace(m_strBackupDir, &space);
  Trace("\r\nGetDiskFreeSpaceEx strTemp = %s bDisk = %d Err = %d \n", m_strBackupDir.c_str(), ok ? 1 : 0,
        static_cast<int>(GetLastError()));
  Trace("\r\nCBackUpDir::CheckLeftRoom left room disk size = %d \n",
        static_cast<int>(static_cast<uint32_t>(space.freeToCaller)));
  Trace("\r\nCheckDiskRoom::file temp file len  =%u \n", size);
  // The sum is taken in 64 bits so a source near 4 GiB cannot wrap it.
  if (ok && ((space.freeToCaller >> 32) != 0 ||
             (space.freeToCaller & 0xFFFFFFFFu) >= static_cast<uint64_t>(size) + kSpareRoom)) {
    return true;
  }
  m_dirOper.DeleteDir(m_strBackupDir);
  return false;
}

}  // namespace hu
