#pragma once
#include <string>
#include <vector>

#include "common/platform/processes.h"

namespace hu {

// The running program as the unit sees it. The unit's process table is not
// there yet: Snapshot is empty and TerminateProcess / CreateProcess fail with
// ERROR_NOT_SUPPORTED.
class HostProcesses : public Processes {
 public:
  HostProcesses(const std::string& modulePath, const std::string& commandLine)
      : modulePath_(modulePath), commandLine_(commandLine) {}

  std::string GetModuleFileName() override { return modulePath_; }
  std::string GetCommandLine() override { return commandLine_; }
  std::vector<ProcessEntry> Snapshot() override;
  bool TerminateProcess(uint32_t pid, uint32_t exitCode) override;
  bool CreateProcess(const std::string& path, const std::string& commandLine, uint32_t* pid = nullptr) override;

 private:
  std::string modulePath_;
  std::string commandLine_;
};

}  // namespace hu
