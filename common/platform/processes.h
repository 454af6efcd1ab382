#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace hu {

struct ProcessEntry {
  uint32_t pid = 0;
  std::string exePath;  // device path of the program
};

class Processes {
 public:
  virtual ~Processes() = default;
  // GetModuleFileNameW(NULL): device path of the running program.
  virtual std::string GetModuleFileName() = 0;
  virtual std::string GetCommandLine() = 0;
  // Tool-help snapshot of the unit's processes.
  virtual std::vector<ProcessEntry> Snapshot() = 0;
  virtual bool TerminateProcess(uint32_t pid, uint32_t exitCode) = 0;
  // CreateProcessW with a device path; `pid` optional.
  virtual bool CreateProcess(const std::string& path, const std::string& commandLine,
                             uint32_t* pid = nullptr) = 0;
};

}  // namespace hu
