#pragma once
#include <string>

namespace hu {

// A reboot of the unit as recorded in UNIT/reboot.flag, one "key = value"
// line each:
//   reason = SysSoftReset
//   clean = yes
//   time = 2024-05-01 12:00:00.123
// The boot tool reads it (and removes it) to start the next boot.
struct UnitReboot {
  std::string reason;
  bool clean = false;
  std::string time;
};

std::string UnitRebootFlagPath(const std::string& unitDir);

// SetCleanRebootFlag: the next reboot is a clean one. The mark lives in
// UNIT/run/clean_reboot, kernel state that a reboot empties, until the
// reboot record takes it in.
bool MarkUnitCleanReboot(const std::string& unitDir);

// Writes UNIT/reboot.flag (whole or not at all) with the reason, the clean
// mark and the time, and removes the mark. Shared by the host's
// KernelIoControl and the substitute driver library.
bool RecordUnitReboot(const std::string& unitDir, const std::string& reason);

// False when the unit has no reboot record.
bool ReadUnitReboot(const std::string& unitDir, UnitReboot* out);

// Records the reboot and ends the process at once, as the device would: no
// destructors run; only standard output and error are flushed so that output
// already printed is not lost.
[[noreturn]] void RebootUnit(const std::string& unitDir, const std::string& reason);

}  // namespace hu
