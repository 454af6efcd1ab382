#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/platform/processes.h"

namespace hu {

// The unit's process table in memory: the running program's own module path
// and command line, and the other programs, listed by Snapshot in start
// order. TerminateProcess removes an entry (false with ERROR_INVALID_PARAMETER
// for an unknown id); CreateProcess adds one. Both are recorded, and either
// can be made to fail. Thread-safe.
class FakeProcesses : public Processes {
 public:
  struct Termination {
    uint32_t pid = 0;
    std::string exePath;
    uint32_t exitCode = 0;
  };
  struct Start {
    std::string path;
    std::string commandLine;
  };

  explicit FakeProcesses(std::string modulePath = "\\StorageCard\\Program.exe", std::string commandLine = "");

  std::string GetModuleFileName() override;
  std::string GetCommandLine() override;
  std::vector<ProcessEntry> Snapshot() override;
  bool TerminateProcess(uint32_t pid, uint32_t exitCode) override;
  bool CreateProcess(const std::string& path, const std::string& commandLine, uint32_t* pid = nullptr) override;

  // Adds a running program; returns its id.
  uint32_t AddProcess(const std::string& exePath);
  // Running entries whose path equals `exePath` ignoring ASCII case.
  size_t CountRunning(const std::string& exePath) const;
  std::vector<Termination> Terminations() const;
  std::vector<Start> Starts() const;
  uint32_t SnapshotCalls() const;

  // Called (outside the table's lock) after an entry was terminated: a test
  // can make the program's resources go away with it.
  void OnTerminate(std::function<void(const Termination&)> hook);
  void FailTerminate(uint32_t count, uint32_t error);
  void FailCreate(uint32_t count, uint32_t error);

 private:
  mutable std::mutex mutex_;
  std::string modulePath_;
  std::string commandLine_;
  std::vector<ProcessEntry> running_;
  uint32_t nextPid_ = 0x100;
  std::vector<Termination> terminations_;
  std::vector<Start> starts_;
  uint32_t snapshotCalls_ = 0;
  std::function<void(const Termination&)> onTerminate_;
  uint32_t failTerminate_ = 0;
  uint32_t terminateError_ = 0;
  uint32_t failCreate_ = 0;
  uint32_t createError_ = 0;
};

}  // namespace hu
