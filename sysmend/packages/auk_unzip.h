#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/platform/clock.h"
#include "common/platform/files.h"
#include "common/platform/text.h"
#include "sysmend/packages/pack_unzip.h"

namespace hu {

// Extracts a whole pack into a target directory after making sure the
// target's volume has room for it, reporting progress.
class CAukUnzip {
 public:
  static constexpr uint64_t kSpareRoom = 0x100000;  // 1 MiB beyond the pack's size

  CAukUnzip(Files& files, Clock& clock, CodePage& codePage);

  void SetCallback(PackCallback callback, void* context);
  void SetOffset(uint32_t offset) { m_nOffset = offset; }

  uint32_t Unzip(const std::string& packPath, const std::string& targetDir);
  // The same for a list of incremental packs, ordered highest version first,
  // merged as ExtractIncrementalPacks does; the room check asks for the sum of
  // their declared sizes.
  uint32_t UnzipList(const std::vector<std::string>& packPaths, const std::string& targetDir);
  uint32_t CheckDiskRoom();

  // Bytes of files that stayed below the target after it was cleared.
  uint64_t RunningTotal() const { return m_ullRunningTotal; }

 private:
  void Report(uint32_t result);
  bool QueryRoom(DiskSpace* space);
  void AddLeftovers(const std::string& dir);

  Files& files_;
  Clock& clock_;
  CodePage& codePage_;
  PackCallback m_pCallback;
  void* m_pContext = nullptr;
  std::unique_ptr<CPackUnzip> m_pPackUnzip;
  uint64_t m_nTotalSize = 0;
  uint64_t m_ullRunningTotal = 0;
  std::string m_strTargetDir;
  uint32_t m_nOffset = 0;
};

}  // namespace hu
