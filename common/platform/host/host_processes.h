#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/platform/host/process_table.h"
#include "common/platform/processes.h"

namespace hu {

// Environment a program of the unit is started with.
constexpr const char* kUnitDirEnv = "HU_UNIT";           // the unit folder
constexpr const char* kUnitPidEnv = "HU_UNIT_PID";       // its entry, made by the starter
constexpr const char* kUnitFrontEndEnv = "HU_UI";        // front end of programs started by others

struct HostProcessesConfig {
  std::string unitDir;
  std::string modulePath;   // device path of the running program
  std::string commandLine;  // its device command line
  // Host path of a device path; empty with the last error set when the path
  // is not valid (HostFiles::HostPath).
  std::function<std::string(const std::string&)> hostPath;
  // Enter the running program in the process table (and leave it at the end).
  bool registerSelf = true;
};

// The unit's processes (UNIT/run/processes) for one program of the unit.
//
// The running program enters itself at construction and leaves at
// destruction; one that crashes or is ended at once (a reboot) leaves its
// entry behind, which every snapshot drops once the host process is gone.
//
// CreateProcess of a device path whose host file is a host executable (an
// ELF file or a "#!" script with an execute bit) runs it for real, with
// standard input from /dev/null, the environment HU_UNIT=<unit folder>,
// HU_UNIT_PID=<its entry> and HU_UI=headless (unless set), and the arguments
//     --unit UNIT --module DEVICEPATH -- ARGS...
// where ARGS is the command line split at blanks ("double quotes" group).
// That is the command line of every program of ours, so a program is
// installed at a device path as itself or as a "#!/bin/sh" wrapper that
// `exec`s it with "$@"; a program started so takes over the entry made for
// it instead of making a second one. Any other existing file becomes a
// virtual process, listed until it is terminated or the unit reboots.
//
// TerminateProcess ends a host process with SIGTERM and, when it is still
// there after a short grace, SIGKILL (the exit code cannot be passed on),
// and removes a virtual one; either way its entry goes.
class HostProcesses : public Processes {
 public:
  explicit HostProcesses(HostProcessesConfig config);
  ~HostProcesses() override;
  HostProcesses(const HostProcesses&) = delete;
  HostProcesses& operator=(const HostProcesses&) = delete;

  std::string GetModuleFileName() override { return config_.modulePath; }
  std::string GetCommandLine() override { return config_.commandLine; }
  std::vector<ProcessEntry> Snapshot() override;
  bool TerminateProcess(uint32_t pid, uint32_t exitCode) override;
  bool CreateProcess(const std::string& path, const std::string& commandLine, uint32_t* pid = nullptr) override;

  // The running program's id in the unit; 0 when it is not in the table.
  uint32_t CurrentProcessId() const { return self_; }
  ProcessTable& table() { return table_; }

  // The command line of a started program split as CreateProcess passes it on.
  static std::vector<std::string> SplitCommandLine(const std::string& commandLine);

 private:
  bool RegisterSelf();
  bool StartHostProgram(const std::string& devicePath, const std::string& hostPath,
                        const std::string& commandLine, uint32_t* pid);

  HostProcessesConfig config_;
  ProcessTable table_;
  uint32_t self_ = 0;
  int selfHostPid_ = 0;
};

}  // namespace hu
