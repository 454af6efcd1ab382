#include "common/platform/testing/fake_processes.h"

#include <utility>

#include "common/platform/errors.h"
#include "common/platform/text.h"

namespace hu {

FakeProcesses::FakeProcesses(std::string modulePath, std::string commandLine)
    : modulePath_(std::move(modulePath)), commandLine_(std::move(commandLine)) {}

std::string FakeProcesses::GetModuleFileName() {
  std::lock_guard<std::mutex> lock(mutex_);
  return modulePath_;
}

std::string FakeProcesses::GetCommandLine() {
  std::lock_guard<std::mutex> lock(mutex_);
  return commandLine_;
}

std::vector<ProcessEntry> FakeProcesses::Snapshot() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++snapshotCalls_;
  return running_;
}

bool FakeProcesses::TerminateProcess(uint32_t pid, uint32_t exitCode) {
  Termination done;
  std::function<void(const Termination&)> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failTerminate_ > 0) {
      --failTerminate_;
      SetLastError(terminateError_);
      return false;
    }
    auto it = running_.begin();
    while (it != running_.end() && it->pid != pid) ++it;
    if (it == running_.end()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    done = Termination{pid, it->exePath, exitCode};
    running_.erase(it);
    terminations_.push_back(done);
    hook = onTerminate_;
  }
  if (hook) hook(done);
  return true;
}

bool FakeProcesses::CreateProcess(const std::string& path, const std::string& commandLine, uint32_t* pid) {
  std::lock_guard<std::mutex> lock(mutex_);
  starts_.push_back(Start{path, commandLine});
  if (failCreate_ > 0) {
    --failCreate_;
    SetLastError(createError_);
    return false;
  }
  const uint32_t id = nextPid_++;
  running_.push_back(ProcessEntry{id, path});
  if (pid != nullptr) *pid = id;
  return true;
}

uint32_t FakeProcesses::AddProcess(const std::string& exePath) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint32_t id = nextPid_++;
  running_.push_back(ProcessEntry{id, exePath});
  return id;
}

size_t FakeProcesses::CountRunning(const std::string& exePath) const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t n = 0;
  for (const ProcessEntry& e : running_) {
    if (EqualsNoCase(e.exePath, exePath)) ++n;
  }
  return n;
}

std::vector<FakeProcesses::Termination> FakeProcesses::Terminations() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return terminations_;
}

std::vector<FakeProcesses::Start> FakeProcesses::Starts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return starts_;
}

uint32_t FakeProcesses::SnapshotCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return snapshotCalls_;
}

void FakeProcesses::OnTerminate(std::function<void(const Termination&)> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  onTerminate_ = std::move(hook);
}

void FakeProcesses::FailTerminate(uint32_t count, uint32_t error) {
  std::lock_guard<std::mutex> lock(mutex_);
  failTerminate_ = count;
  terminateError_ = error;
}

void FakeProcesses::FailCreate(uint32_t count, uint32_t error) {
  std::lock_guard<std::mutex> lock(mutex_);
  failCreate_ = count;
  createError_ = error;
}

}  // namespace hu
