#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace hu {

// One program of a running unit. Host processes run for real; a virtual one
// is a program file that only appears in snapshots (its entry is all there is).
struct ProcessRecord {
  uint32_t pid = 0;          // process id in the unit
  std::string path;          // device path of its program
  int hostPid = 0;           // 0: virtual
  uint64_t hostStart = 0;    // HostProcessStartTime of hostPid, 0 when unknown
  uint32_t parent = 0;       // unit pid of the process that started it, 0 for none
  std::string started;       // local time "2024-05-01 12:00:00.123"

  bool IsVirtual() const { return hostPid == 0; }
};

// The process table of a unit: UNIT/run/processes/PID.proc, one record per
// process, shared by every process of the unit. Ids come from a counter
// file in the same folder, so they are unique until the unit reboots (which
// empties UNIT/run).
class ProcessTable {
 public:
  explicit ProcessTable(const std::string& runDir);

  const std::string& dir() const { return dir_; }

  // A new process id; 0 when the table cannot be written.
  uint32_t AllocatePid();
  bool Write(const ProcessRecord& record);
  bool Read(uint32_t pid, ProcessRecord* record) const;
  bool Remove(uint32_t pid);
  // Every entry, by id. With `dropDead` a host entry whose process has ended
  // is removed from the table and left out (a crash leaves its entry behind).
  std::vector<ProcessRecord> List(bool dropDead = true);
  // True for a virtual entry and for a host entry whose process runs.
  static bool IsLive(const ProcessRecord& record);

 private:
  std::string EntryPath(uint32_t pid) const;
  std::string dir_;
};

}  // namespace hu
