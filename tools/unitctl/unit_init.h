#pragma once
#include <optional>
#include <string>
#include <vector>

#include "common/runner/unit_setup.h"

namespace hu {

// What `unitctl init` sets: the unit itself (see CreateUnit) and the
// simulated platform installed into it.
struct UnitInitOptions : UnitSetup {
  // The simulated platform: the substitute driver library (less the entries
  // named) and the console device.
  bool halbridge = true;
  std::vector<std::string> halbridgeWithout;
  bool console = true;
  // Installed application version: "\Dravik\$KVR$\App\AppVerInfo.cfg".
  std::optional<std::string> appVersion;
};

// CreateUnit, then the simulated platform and the application version.
// False with a one-line *error.
bool InitUnit(const std::string& dir, const UnitInitOptions& options, std::string* error);

}  // namespace hu
