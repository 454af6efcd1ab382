#pragma once
// Power failures at every point of an application update, through the unit's
// boots: an update that succeeds, one whose unpack fails, one whose unpack
// fills the disk and one whose boot write fails after the OS was written.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/power_cut_scenario.h"

namespace hu::e2e {

struct PowerCutCampaignOptions {
  PowerCutScenario scenario = PowerCutScenario::Success;
  int maxPoints = 300;  // more operations than this: an evenly spread sample
  uint64_t seed = 1;    // where a cut write ends
  bool loosePack = false;  // the kit is a lone application pack, not a container
  std::vector<uint64_t> only;  // these points only (replaying failures)
  std::string keepDir;         // the unit of each failed run is copied here
  std::ostream* progress = nullptr;
};

struct PowerCutFailure {
  uint64_t point = 0;  // 0: the uninterrupted update
  std::string step;    // the operation the power failed in
  std::string what;    // what was wrong afterwards
};

struct PowerCutReport {
  std::string name;         // "boot-fails (container)"
  uint64_t operations = 0;  // mutating file operations of an uninterrupted update
  std::string ending;       // which application the uninterrupted update ends with
  int runs = 0;             // power cuts
  int survived = 0;
  std::vector<PowerCutFailure> failures;  // the uninterrupted update's first, if it failed
  std::string setupError;  // the campaign could not run at all
  std::string skipped;     // this machine does not allow the scenario
  bool passed() const { return setupError.empty() && skipped.empty() && failures.empty() && survived == runs; }
};

PowerCutReport RunPowerCutCampaign(const PowerCutCampaignOptions& options);

// The points to cut at: all of 1..operations, or `maxPoints` evenly spread.
std::vector<uint64_t> PowerCutPoints(uint64_t operations, int maxPoints);

}  // namespace hu::e2e
