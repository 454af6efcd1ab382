#include "common/platform/host/host_processes.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "common/platform/errors.h"
#include "common/platform/host/run_records.h"
#include "common/platform/host/serial/call_log.h"
#include "common/platform/host/standard_output.h"
#include "common/platform/text.h"
#include "common/platform/trace.h"

extern char** environ;

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

namespace hu {
namespace {

// How long a terminated program has to end on SIGTERM before SIGKILL, and
// how long SIGKILL may take to show.
constexpr auto kTerminateGrace = std::chrono::milliseconds(500);
constexpr auto kKillWait = std::chrono::milliseconds(2000);

std::string AbsolutePath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string out = resolved;
  std::free(resolved);
  return out;
}

bool IsHostExecutable(const std::string& hostPath, const struct stat& st) {
  if (!S_ISREG(st.st_mode) || (st.st_mode & 0111) == 0) return false;
  int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  unsigned char head[4] = {};
  ssize_t n = ::read(fd, head, sizeof head);
  ::close(fd);
  if (n >= 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F') return true;
  return n >= 2 && head[0] == '#' && head[1] == '!';
}

// Waits up to `limit` for the process to be gone.
bool WaitGone(int hostPid, uint64_t hostStart, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (!HostProcessAlive(hostPid, hostStart)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

uint32_t ExecErrorCode(int e) {
  switch (e) {
    case ENOENT:
    case ENOTDIR: return ERROR_FILE_NOT_FOUND;
    case ENOMEM:
    case E2BIG: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_ACCESS_DENIED;
  }
}

bool HasEnvName(const char* entry, const char* name) {
  size_t n = std::strlen(name);
  return std::strncmp(entry, name, n) == 0 && entry[n] == '=';
}

}  // namespace

HostProcesses::HostProcesses(HostProcessesConfig config)
    : config_(std::move(config)), table_(config_.unitDir + "/run") {
  if (config_.registerSelf && !RegisterSelf()) {
    Trace("HostProcesses: %s is not in the process table of %s\n", config_.modulePath.c_str(),
          config_.unitDir.c_str());
  }
}

HostProcesses::~HostProcesses() {
  // A forked copy of the program must not take the program's entry with it.
  if (self_ == 0 || ::getpid() != selfHostPid_) return;
  ProcessRecord record;
  if (table_.Read(self_, &record) && record.hostPid == selfHostPid_) table_.Remove(self_);
}

bool HostProcesses::RegisterSelf() {
  const int me = ::getpid();
  const char* given = std::getenv(kUnitPidEnv);
  if (given != nullptr) {
    std::string text = given;
    // Programs this one starts get their own; nothing else may take this entry.
    ::unsetenv(kUnitPidEnv);
    uint64_t pid = 0;
    ProcessRecord record;
    // The starter's child is this process itself or a wrapper script that
    // runs it without exec.
    if (ParseRunNumber(text, UINT32_MAX, &pid) && table_.Read(static_cast<uint32_t>(pid), &record) &&
        EqualsNoCase(record.path, config_.modulePath) && (record.hostPid == me || record.hostPid == ::getppid())) {
      record.hostPid = me;
      record.hostStart = HostProcessStartTime(me);
      if (table_.Write(record)) {
        self_ = record.pid;
        selfHostPid_ = me;
        return true;
      }
    }
  }
  ProcessRecord record;
  record.pid = table_.AllocatePid();
  if (record.pid == 0) return false;
  record.path = config_.modulePath;
  record.hostPid = me;
  record.hostStart = HostProcessStartTime(me);
  record.started = UnitLogTime();
  if (!table_.Write(record)) return false;
  self_ = record.pid;
  selfHostPid_ = me;
  return true;
}

std::vector<ProcessEntry> HostProcesses::Snapshot() {
  std::vector<ProcessEntry> out;
  for (const ProcessRecord& record : table_.List(true)) out.push_back(ProcessEntry{record.pid, record.path});
  SetLastError(ERROR_SUCCESS);
  return out;
}

bool HostProcesses::TerminateProcess(uint32_t pid, uint32_t exitCode) {
  ProcessRecord record;
  if (!table_.Read(pid, &record)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (record.IsVirtual() || !ProcessTable::IsLive(record)) {
    table_.Remove(pid);
    return true;
  }
  if (record.hostPid == ::getpid()) {
    table_.Remove(pid);
    FlushStandardOutput();
    ::_exit(static_cast<int>(exitCode & 0xFF));
  }
  if (::kill(record.hostPid, SIGTERM) != 0 && errno != ESRCH) {
    Trace("HostProcesses::TerminateProcess %u (host %d): %s\n", pid, record.hostPid, std::strerror(errno));
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (!WaitGone(record.hostPid, record.hostStart, kTerminateGrace)) {
    ::kill(record.hostPid, SIGKILL);
    if (!WaitGone(record.hostPid, record.hostStart, kKillWait)) {
      Trace("HostProcesses::TerminateProcess %u (host %d) does not end\n", pid, record.hostPid);
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
  }
  ProcessRecord now;
  if (table_.Read(pid, &now) && now.hostPid == record.hostPid) table_.Remove(pid);
  return true;
}

bool HostProcesses::CreateProcess(const std::string& path, const std::string& commandLine, uint32_t* pid) {
  if (!config_.hostPath) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  std::string hostPath = config_.hostPath(path);
  if (hostPath.empty()) {
    Trace("HostProcesses::CreateProcess %s: not a valid path (error %u)\n", path.c_str(), GetLastError());
    return false;
  }
  struct stat st {};
  if (::stat(hostPath.c_str(), &st) != 0) {
    int e = errno;
    SetLastError(e == ENOENT || e == ENOTDIR ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (IsHostExecutable(hostPath, st)) return StartHostProgram(path, hostPath, commandLine, pid);

  ProcessRecord record;
  record.pid = table_.AllocatePid();
  record.path = path;
  record.parent = self_;
  record.started = UnitLogTime();
  if (record.pid == 0 || !table_.Write(record)) {
    Trace("HostProcesses::CreateProcess %s: cannot write the process table %s\n", path.c_str(),
          table_.dir().c_str());
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (pid != nullptr) *pid = record.pid;
  SetLastError(ERROR_SUCCESS);
  return true;
}

std::vector<std::string> HostProcesses::SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> out;
  std::string cur;
  bool quoted = false, have = false;
  for (char c : commandLine) {
    if (c == '"') {
      quoted = !quoted;
      have = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (have) out.push_back(cur);
      cur.clear();
      have = false;
    } else {
      cur += c;
      have = true;
    }
  }
  if (have) out.push_back(cur);
  return out;
}

bool HostProcesses::StartHostProgram(const std::string& devicePath, const std::string& hostPath,
                                     const std::string& commandLine, uint32_t* pid) {
  ProcessRecord record;
  record.pid = table_.AllocatePid();
  if (record.pid == 0) {
    Trace("HostProcesses::CreateProcess %s: cannot write the process table %s\n", devicePath.c_str(),
          table_.dir().c_str());
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  const std::string unitDir = AbsolutePath(config_.unitDir);

  // Everything the child needs is built before fork: after it, only
  // async-signal-safe calls are allowed in a threaded process.
  std::vector<std::string> args = {hostPath, "--unit", unitDir, "--module", devicePath, "--"};
  for (std::string& a : SplitCommandLine(commandLine)) args.push_back(std::move(a));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> env;
  bool haveFrontEnd = false;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    if (HasEnvName(*e, kUnitDirEnv) || HasEnvName(*e, kUnitPidEnv)) continue;
    if (HasEnvName(*e, kUnitFrontEndEnv)) haveFrontEnd = true;
    env.emplace_back(*e);
  }
  env.push_back(std::string(kUnitDirEnv) + "=" + unitDir);
  env.push_back(std::string(kUnitPidEnv) + "=" + std::to_string(record.pid));
  // The starter owns the terminal, if any.
  if (!haveFrontEnd) env.push_back(std::string(kUnitFrontEndEnv) + "=headless");
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  int go[2], failed[2];
  if (::pipe2(go, O_CLOEXEC) != 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  if (::pipe2(failed, O_CLOEXEC) != 0) {
    ::close(go[0]);
    ::close(go[1]);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  // Output still buffered would be written twice, by the child as well.
  FlushStandardOutput();
  pid_t child = ::fork();
  if (child == 0) {
    ::close(go[1]);
    ::close(failed[0]);
    // The entry must exist before the program looks for it.
    char c = 0;
    ssize_t n;
    do {
      n = ::read(go[0], &c, 1);
    } while (n < 0 && errno == EINTR);
    if (n != 1) ::_exit(127);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, nullptr);
    int nul = ::open("/dev/null", O_RDONLY);
    if (nul >= 0 && nul != 0) {
      ::dup2(nul, 0);
      ::close(nul);
    }
    // Descriptors the starter forgot to mark stay with the starter.
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    ::execve(argv[0], argv.data(), envp.data());
    int e = errno;
    ssize_t ignored = ::write(failed[1], &e, sizeof e);
    (void)ignored;
    ::_exit(127);
  }
  ::close(go[0]);
  ::close(failed[1]);
  if (child < 0) {
    int e = errno;
    ::close(go[1]);
    ::close(failed[0]);
    Trace("HostProcesses::CreateProcess %s: fork failed: %s\n", devicePath.c_str(), std::strerror(e));
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  record.path = devicePath;
  record.hostPid = child;
  record.hostStart = HostProcessStartTime(child);
  record.parent = self_;
  record.started = UnitLogTime();
  bool written = table_.Write(record);
  if (written) {
    ssize_t n;
    do {
      n = ::write(go[1], "g", 1);
    } while (n < 0 && errno == EINTR);
  }
  ::close(go[1]);
  int childError = 0;
  ssize_t got;
  do {
    got = ::read(failed[0], &childError, sizeof childError);
  } while (got < 0 && errno == EINTR);
  ::close(failed[0]);
  if (!written || got == static_cast<ssize_t>(sizeof childError)) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    table_.Remove(record.pid);
    if (!written) {
      Trace("HostProcesses::CreateProcess %s: cannot write the process table %s\n", devicePath.c_str(),
            table_.dir().c_str());
      SetLastError(ERROR_ACCESS_DENIED);
    } else {
      Trace("HostProcesses::CreateProcess %s: cannot run %s: %s\n", devicePath.c_str(), hostPath.c_str(),
            std::strerror(childError));
      SetLastError(ExecErrorCode(childError));
    }
    return false;
  }
  // Reaped here so that an ended program leaves no zombie that still looks alive.
  const std::string runDir = config_.unitDir + "/run";
  const uint32_t unitPid = record.pid;
  try {
    std::thread([child, unitPid, runDir] {
      int status = 0;
      while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
      ProcessTable table(runDir);
      ProcessRecord now;
      if (table.Read(unitPid, &now) && now.hostPid == child) table.Remove(unitPid);
    }).detach();
  } catch (const std::exception& e) {
    Trace("HostProcesses::CreateProcess %s: no reaper thread: %s\n", devicePath.c_str(), e.what());
  }
  if (pid != nullptr) *pid = record.pid;
  SetLastError(ERROR_SUCCESS);
  return true;
}

}  // namespace hu
