#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <string>

namespace hu {

// A loss of power at a chosen moment, for reliability runs of a unit. With
// HU_POWER_CUT_AFTER=N set, the unit's mutating file operations are counted
// across all its processes (in UNIT/power-cut.count) and the N-th one is the
// last thing the unit does: the process ends at once by SIGKILL, without
// flushing or destructors, and the unit is marked as rebooted. A write or
// copy in progress reaches its file only in part, at a length drawn from
// HU_POWER_CUT_SEED. N = 0 only counts. Each cut is logged in
// UNIT/power-cut.log as "cut at N: OPERATION PATH (PROGRAM)".
class PowerCut {
 public:
  // Null when HU_POWER_CUT_AFTER is not set (or not a number).
  static std::unique_ptr<PowerCut> FromEnvironment(const std::string& unitDir);

  PowerCut(const std::string& unitDir, uint64_t cutAfter, uint64_t seed);

  // Counts one operation; true when the power fails during it. The caller
  // then does what part of the operation it wants to leave and calls Cut.
  bool Step(const char* operation, const std::string& path);
  // A length in [0, size) for the part of a write that reaches the file.
  size_t PartialLength(size_t size);
  [[noreturn]] void Cut();

  static std::string CountPath(const std::string& unitDir);
  static std::string LogPath(const std::string& unitDir);

 private:
  std::string m_unitDir;
  uint64_t m_cutAfter;
  std::mt19937_64 m_random;
  std::string m_hit;  // the operation the power failed in
};

}  // namespace hu
