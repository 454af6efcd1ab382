#include "common/platform/host/host_processes.h"

#include "common/platform/errors.h"

namespace hu {

std::vector<ProcessEntry> HostProcesses::Snapshot() {
  SetLastError(ERROR_NOT_SUPPORTED);
  return {};
}

bool HostProcesses::TerminateProcess(uint32_t, uint32_t) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

bool HostProcesses::CreateProcess(const std::string&, const std::string&, uint32_t*) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

}  // namespace hu
