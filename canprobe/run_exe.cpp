#include "canprobe/run_exe.h"

#include <cctype>

#include "common/platform/trace.h"

namespace hu {

namespace {
bool SamePath(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}
}  // namespace

uint32_t FindProcess(Processes& processes, const std::string& path) {
  for (const ProcessEntry& entry : processes.Snapshot()) {
    if (SamePath(entry.exePath, path)) return entry.pid;
  }
  return 0;
}

bool RunExe(Files& files, Processes& processes, const std::string& path) {
  if (files.GetAttributes(path) == INVALID_FILE_ATTRIBUTES) {
    Trace("pordo***[%s][%d][%s]*****************:\"%s\" not exist!#\n", "RunExe", 99, ".\\Define", path.c_str());
    return false;
  }
  if (FindProcess(processes, path) != 0) {
    Trace("pordo***[%s][%d][%s]*****************:\"%s\" already exist!#\n", "RunExe", 104, ".\\Define",
          path.c_str());
    return false;
  }
  return processes.CreateProcess(path, "");
}

}  // namespace hu
