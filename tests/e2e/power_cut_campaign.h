#pragma once
// Power failures at every point of an application update, through the unit's boots.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace hu::e2e {

struct PowerCutCampaignOptions {
  int maxPoints = 300;  // more operations than this: an evenly spread sample
  uint64_t seed = 1;    // where a cut write ends
  bool loosePack = false;  // the kit is a lone application pack, not a container
  std::vector<uint64_t> only;  // these points only (replaying failures)
  std::ostream* progress = nullptr;
};

struct PowerCutFailure {
  uint64_t point = 0;
  std::string step;  // the operation the power failed in
  std::string what;  // what was wrong afterwards
};

struct PowerCutReport {
  uint64_t operations = 0;  // mutating file operations of an uninterrupted update
  int runs = 0;
  int survived = 0;
  std::vector<PowerCutFailure> failures;
  std::string setupError;  // the campaign could not run at all
};

PowerCutReport RunPowerCutCampaign(const PowerCutCampaignOptions& options);

// The points to cut at: all of 1..operations, or `maxPoints` evenly spread.
std::vector<uint64_t> PowerCutPoints(uint64_t operations, int maxPoints);

}  // namespace hu::e2e
