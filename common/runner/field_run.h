#pragma once
#include <string>
#include <vector>

#include "common/platform/files.h"

namespace hu {

// A one-shot run in the field: a unit made for it, as `unitctl init` makes
// one, with the program's ports on the cable's device.
struct FieldUnitRequest {
  std::string port;                // host device: /dev/ttyUSB0
  std::vector<std::string> ports;  // the unit's ports it serves: COM4
  std::string cpu;
  uint32_t project = 0;
  std::string hwVersion;           // empty: none
  std::string keepDir;             // empty: a temporary folder, removed afterwards
};

// Makes the unit; its folder in *dir. False with a one-line *error (an
// unknown CPU or project type, a folder that cannot be made).
bool MakeFieldUnit(const std::string& program, const FieldUnitRequest& request, std::string* dir,
                   std::string* error);
// Removes a folder MakeFieldUnit made (not a kept one).
void RemoveFieldUnit(const std::string& dir);

// Copies the host file into the unit's folder `deviceDir` (made when
// missing), keeping its name, which goes to *name. False with *error.
bool PlaceJobFile(Files& files, const std::string& hostFile, const std::string& deviceDir, std::string* name,
                  std::string* error);

// The folder of a device path, with its trailing backslash.
std::string DeviceDirOf(const std::string& devicePath);

}  // namespace hu
