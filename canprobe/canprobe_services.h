#pragma once
#include <string>

#include "canprobe/tool_config.h"
#include "common/platform/platform.h"

namespace hu {

// What the main window's pages share: the unit's services, the windows of
// the unit and the tool.cfg store (owned by the application, outlives the pages).
struct CanprobeServices {
  Platform& platform;
  Windows& windows;
  CToolConfig* config = nullptr;
  std::string moduleDir;  // the program's folder, no trailing backslash
};

// The folder of a module path: everything before its last backslash.
inline std::string ModuleDirOf(const std::string& modulePath) {
  const size_t cut = modulePath.rfind('\\');
  return cut == std::string::npos ? std::string() : modulePath.substr(0, cut);
}

}  // namespace hu
