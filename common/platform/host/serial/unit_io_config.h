#pragma once
// How the unit's serial ports and devices are read from unit.ini.
#include <map>
#include <string>

#include "common/platform/host/serial/host_devices.h"
#include "common/platform/host/unit.h"

namespace hu {

// [ports] COM4 = /dev/ttyUSB0 (or a pseudo-terminal): the map HostSerial takes.
inline std::map<std::string, std::string> UnitPortMap(const Unit& unit) {
  IniMap ports = unit.ports();
  return std::map<std::string, std::string>(ports.begin(), ports.end());
}

// [devices] CON1 / MFC1 = yes|no and [drivers] console = driver path.
inline HostDevicesConfig UnitDevicesConfig(const Unit& unit) {
  HostDevicesConfig config;
  config.console = unit.deviceEnabled("CON1");
  config.mfc = unit.deviceEnabled("MFC1");
  config.consoleDriver = unit.Get("drivers", "console");
  return config;
}

}  // namespace hu
