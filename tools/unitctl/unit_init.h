#pragma once
#include <cstdint>
#include <optional>
#include <vector>
#include <string>

namespace hu {

// What `unitctl init` sets; an option left out keeps an existing unit's
// value and gives a new unit the default.
struct UnitInitOptions {
  std::optional<std::string> cpu;        // CPU_TYPE, "S3C6410"
  std::optional<uint32_t> project;       // PROJECTTYPE, 18
  std::optional<uint32_t> codePage;      // [unit] code_page, 936
  bool force = false;                    // allow an existing unit
  // The simulated platform: the substitute driver library (less the entries
  // named) and the console device.
  bool halbridge = true;
  std::vector<std::string> halbridgeWithout;
  bool console = true;
  // Installed versions: [versions] of unit.ini, and the application's
  // "\Dravik\$KVR$\App\AppVerInfo.cfg".
  std::optional<std::string> osVersion, bootVersion, confVersion, appVersion;
};

// Makes DIR a unit: unit.ini, fs/ with the storage folders, run/, flash/ and
// the registry with the OS values and the storage-manager profiles. An
// existing unit is refused ("unit exists") unless `force`, which completes
// it without touching anything else. False with a one-line *error.
bool InitUnit(const std::string& dir, const UnitInitOptions& options, std::string* error);

}  // namespace hu
