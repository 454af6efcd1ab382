#include "auk_unzip.h"

#include <new>

#include "common/platform/errors.h"
#include "common/platform/trace.h"
#include "sysmend/packages/delete_tree.h"
#include "common/platform/file_tree.h"
#include "sysmend/packages/incremental_packs.h"

namespace hu {

CAukUnzip::CAukUnzip(Files& files, Clock& clock, CodePage& codePage)
    : files_(files), clock_(clock), codePage_(codePage) {}

void CAukUnzip::SetCallback(PackCallback callback, void* context) {
  m_pCallback = std::move(callback);
  m_pContext = context;
}

void CAukUnzip::Report(uint32_t result) {
  if (m_pCallback) m_pCallback(0, PackProgress{0, result}, m_pContext);
}

uint32_t CAukUnzip::Unzip(const std::string& packPath, const std::string& targetDir) {
  m_strTargetDir = targetDir;
  uint32_t result = kPackOk;
  if (packPath.empty()) {
    result = kPackNoIndex;
  } else {
    m_pPackUnzip.reset(new (std::nothrow) CPackUnzip(files_, codePage_, packPath));
    if (!m_pPackUnzip) {
      result = kPackNoMemory;
    } else {
      m_pPackUnzip->SetOffset(m_nOffset);
      result = m_pPackUnzip->CheckZipPack();
    }
  }
  if (result != kPackOk) {
    Report(result);
    return result;
  }
  uint32_t total = 0;
  result = kPackNoInfo;
  if (m_pPackUnzip->GetTotalSize(&total)) {
    m_nTotalSize = total;
    result = CheckDiskRoom();
  }
  if (result != kPackOk) {
    Report(result);
    return result;
  }
  m_pPackUnzip->SetCallback(m_pCallback, m_pContext);
  return m_pPackUnzip->DoUnzipPack(m_strTargetDir);
}

uint32_t CAukUnzip::UnzipList(const std::vector<std::string>& packPaths, const std::string& targetDir) {
  m_strTargetDir = targetDir;
  uint32_t result = packPaths.empty() ? kPackNoIndex : kPackOk;
  m_nTotalSize = 0;
  for (const std::string& path : packPaths) {
    if (result != kPackOk) break;
    CPackUnzip pack(files_, codePage_, path);
    uint32_t total = 0;
    result = pack.CheckZipPack();
    if (result == kPackOk && !pack.GetTotalSize(&total)) result = kPackNoInfo;
    m_nTotalSize += total;
  }
  if (result == kPackOk) result = CheckDiskRoom();
  if (result != kPackOk) {
    Report(result);
    return result;
  }
  return ExtractIncrementalPacks(files_, codePage_, packPaths, targetDir, [this](uint32_t percentage, uint32_t r) {
    if (m_pCallback) m_pCallback(0, PackProgress{percentage, r}, m_pContext);
  });
}

bool CAukUnzip::QueryRoom(DiskSpace* space) {
  bool ok = files_.GetDiskFreeSpace(m_strTargetDir, space);
  Trace("\r\nGetDiskFreeSpaceEx strTemp = %s bDisk = %d Err = %d", m_strTargetDir.c_str(), ok ? 1 : 0,
        static_cast<int>(GetLastError()));
  Trace("\r\nCAukUnzip::CheckDiskRoom disk size = %d", static_cast<int>(static_cast<uint32_t>(space->total)));
  Trace("\r\nCheckDiskRoom::file temp file len  =%d", static_cast<int>(m_nTotalSize));
  return ok;
}

void CAukUnzip::AddLeftovers(const std::string& dir) {
  FindData fd;
  auto find = files_.FindFirst(JoinPath(dir, "*.*"), &fd);
  if (!find) return;
  do {
    if (fd.name == "." || fd.name == "..") continue;
    if (fd.attributes == FILE_ATTRIBUTE_DIRECTORY) {
      AddLeftovers(JoinPath(dir, fd.name));
    } else {
      m_ullRunningTotal += fd.size;
    }
  } while (find->Next(&fd));
}

uint32_t CAukUnzip::CheckDiskRoom() {
  if (!CreateDirTree(files_, m_strTargetDir)) return kPackNoTarget;
  uint64_t need = static_cast<uint64_t>(m_nTotalSize) + kSpareRoom;
  DiskSpace space;
  if (!QueryRoom(&space) || space.total < need) return kPackNoRoom;

  DeleteTree(files_, clock_, m_strTargetDir);
  if (!CreateDirTree(files_, m_strTargetDir)) return kPackNoTarget;
  AddLeftovers(m_strTargetDir);

  DiskSpace after;
  bool ok = QueryRoom(&after);
  Trace("\r\nCheckDiskRoom::file disk size  =%d", static_cast<int>(static_cast<uint32_t>(after.freeToCaller)));
  Trace("\r\nCheckDiskRoom::file ttf file size  =%d", static_cast<int>(static_cast<uint32_t>(m_ullRunningTotal)));
  // Files that stayed behind are space already taken; more of them than needed means no more is needed.
  uint64_t stillNeeded = m_ullRunningTotal >= need ? 0 : need - m_ullRunningTotal;
  if (ok && after.freeToCaller >= stillNeeded) return kPackOk;
  Trace("\r\nCheckDiskRoom::disk is not enough");
  return kPackNoRoom;
}

}  // namespace hu
