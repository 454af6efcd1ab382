#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace hu {

// What makes a folder a unit: the part that `unitctl init` and the serial
// programs' one-shot runs share. An option left out keeps an existing unit's
// value and gives a new unit the default.
struct UnitSetup {
  std::optional<std::string> cpu;        // CPU_TYPE, "S3C6410"
  std::optional<uint32_t> project;       // PROJECTTYPE, 18
  std::optional<std::string> hwVersion;  // HW_VERSION, none
  std::optional<uint32_t> codePage;      // [unit] code_page, 936
  bool force = false;                    // allow an existing unit
  // [ports] of unit.ini: "COM4" -> "/dev/ttyUSB0".
  std::map<std::string, std::string> ports;
  // [versions] of unit.ini.
  std::optional<std::string> osVersion, bootVersion, confVersion;
};

// Makes DIR a unit: unit.ini, fs/ with the storage folders, run/, flash/ and
// the registry with the OS values and the storage-manager profiles. An
// existing unit is refused ("unit exists") unless `force`, which completes
// it without touching anything else. A CPU type or project type the platform
// table does not know is refused before anything is made. False with a
// one-line *error.
bool CreateUnit(const std::string& dir, const UnitSetup& setup, std::string* error);

// Empty when the platform table knows the CPU type and the project type and
// has a row for the pair; otherwise why not, naming the values it knows.
std::string CheckPlatformChoice(const std::string& cpu, uint32_t project);

// The rows of the platform table, one per line: "  MSTAR786 19 -> PlatformType 9".
std::string PlatformChoicesText();

}  // namespace hu
