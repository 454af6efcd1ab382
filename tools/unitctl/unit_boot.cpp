#include "tools/unitctl/unit_boot.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <set>
#include <thread>

#include "common/platform/host/host_processes.h"
#include "common/platform/host/process_table.h"
#include "common/platform/host/run_records.h"
#include "common/platform/host/serial/unit_reboot.h"
#include "common/platform/host/unit.h"

extern char** environ;

namespace hu {
namespace {

constexpr auto kTerminateGrace = std::chrono::milliseconds(500);
constexpr auto kKillWait = std::chrono::milliseconds(2000);

struct RunOutcome {
  bool signaled = false;
  int code = 0;    // exit code, or the signal
  int execError = 0;
};

bool HasEnvName(const char* entry, const char* name) {
  size_t n = std::strlen(name);
  return std::strncmp(entry, name, n) == 0 && entry[n] == '=';
}

std::string Describe(const BootOptions& o) {
  size_t slash = o.program.rfind('/');
  std::string text = slash == std::string::npos ? o.program : o.program.substr(slash + 1);
  for (const std::string& a : o.args) text += " " + a;
  return text;
}

// Runs the program once and waits for its end. False when it could not be started.
bool RunProgram(const BootOptions& o, RunOutcome* outcome) {
  std::vector<std::string> args = {o.program, "--unit", o.unitDir};
  args.insert(args.end(), o.args.begin(), o.args.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    // Started by the unit itself, not by one of its programs.
    if (HasEnvName(*e, kUnitDirEnv) || HasEnvName(*e, kUnitPidEnv)) continue;
    env.emplace_back(*e);
  }
  env.push_back(std::string(kUnitDirEnv) + "=" + o.unitDir);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  int failed[2];
  if (::pipe2(failed, O_CLOEXEC) != 0) {
    outcome->execError = errno;
    return false;
  }
  std::fflush(nullptr);
  pid_t child = ::fork();
  if (child == 0) {
    ::close(failed[0]);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execvpe(argv[0], argv.data(), envp.data());
    int e = errno;
    ssize_t ignored = ::write(failed[1], &e, sizeof e);
    (void)ignored;
    ::_exit(127);
  }
  ::close(failed[1]);
  if (child < 0) {
    outcome->execError = errno;
    ::close(failed[0]);
    return false;
  }
  int childError = 0;
  ssize_t got;
  do {
    got = ::read(failed[0], &childError, sizeof childError);
  } while (got < 0 && errno == EINTR);
  ::close(failed[0]);
  int status = 0;
  for (;;) {
    // Orphans of the unit's programs come to this process too: reap them on the way.
    pid_t pid = ::waitpid(o.adoptOrphans ? -1 : child, &status, 0);
    if (pid == child) break;
    if (pid < 0 && errno != EINTR) {
      outcome->execError = errno;
      return false;
    }
  }
  if (got == static_cast<ssize_t>(sizeof childError)) {
    outcome->execError = childError;
    return false;
  }
  if (WIFSIGNALED(status)) {
    outcome->signaled = true;
    outcome->code = WTERMSIG(status);
  } else {
    outcome->code = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
  }
  return true;
}

bool AllGone(const std::vector<ProcessRecord>& records) {
  bool gone = true;
  for (const ProcessRecord& r : records) {
    // Reaps those that are this process's children; others' parents do that.
    int status = 0;
    ::waitpid(r.hostPid, &status, WNOHANG);
    if (HostProcessAlive(r.hostPid, r.hostStart)) gone = false;
  }
  return gone;
}

bool WaitAllGone(const std::vector<ProcessRecord>& records, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!AllGone(records)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Removes everything below `dir`, not following symbolic links.
bool RemoveContents(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return errno == ENOENT;
  bool ok = true;
  while (struct dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = dir + "/" + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      ok = RemoveContents(path) && ok;
      if (::rmdir(path.c_str()) != 0 && errno != ENOENT) ok = false;
    } else if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      ok = false;
    }
  }
  ::closedir(d);
  return ok;
}

}  // namespace

bool RebootUnitRun(const std::string& unitDir, std::string* error) {
  const std::string runDir = unitDir + "/run";
  ProcessTable table(runDir);
  std::vector<ProcessRecord> running;
  for (const ProcessRecord& r : table.List(true)) {
    if (!r.IsVirtual() && r.hostPid != ::getpid()) running.push_back(r);
  }
  // A reboot ends every program of the unit.
  for (const ProcessRecord& r : running) ::kill(r.hostPid, SIGTERM);
  if (!WaitAllGone(running, kTerminateGrace)) {
    for (const ProcessRecord& r : running) {
      if (HostProcessAlive(r.hostPid, r.hostStart)) ::kill(r.hostPid, SIGKILL);
    }
    WaitAllGone(running, kKillWait);
  }
  if (!RemoveContents(runDir)) {
    if (error) *error = "cannot empty " + runDir + ": " + std::strerror(errno);
    return false;
  }
  if (!MakeRunDirs(runDir)) {
    if (error) *error = "cannot create " + runDir + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

int BootUnit(const BootOptions& options, std::FILE* out, std::string* error) {
  std::unique_ptr<Unit> unit = Unit::Load(options.unitDir, error);
  if (!unit) return 1;
  if (options.adoptOrphans) ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  const std::string desc = Describe(options);
  if (ReadUnitReboot(options.unitDir, nullptr)) {
    // The unit went down outside this tool: this is its next boot.
    ::unlink(UnitRebootFlagPath(options.unitDir).c_str());
    if (!RebootUnitRun(options.unitDir, error)) return 1;
  }
  ProcessTable table(unit->runDir());
  for (int boot = 1; boot <= options.maxBoots; ++boot) {
    std::set<uint32_t> before;
    for (const ProcessRecord& r : table.List(true)) before.insert(r.pid);
    RunOutcome outcome;
    if (!RunProgram(options, &outcome)) {
      if (error) *error = "cannot run " + options.program + ": " + std::strerror(outcome.execError);
      return 1;
    }
    UnitReboot reboot;
    if (ReadUnitReboot(options.unitDir, &reboot)) {
      ::unlink(UnitRebootFlagPath(options.unitDir).c_str());
      // A simulated power failure reboots the unit just as a reset does.
      std::fprintf(out, "boot %d: %s -> %s\n", boot, desc.c_str(),
                   reboot.reason == "PowerCut" ? "power lost, rebooted" : "rebooted");
      std::fflush(out);
      if (!RebootUnitRun(options.unitDir, error)) return 1;
      continue;
    }
    std::string how;
    if (outcome.signaled) {
      const char* name = ::strsignal(outcome.code);
      how = "crashed (signal " + std::to_string(outcome.code) + ": " + (name ? name : "?") + ")";
    } else if (outcome.code != 0) {
      how = "exited with code " + std::to_string(outcome.code);
    } else {
      how = "closed";
    }
    std::string started;
    for (const ProcessRecord& r : table.List(true)) {
      if (before.count(r.pid) == 0) started += (started.empty() ? "" : ", ") + r.path;
    }
    if (!started.empty()) how += ", started " + started;
    std::fprintf(out, "boot %d: %s -> %s\n", boot, desc.c_str(), how.c_str());
    std::fflush(out);
    // The last program's own code tells a caller what the job came to.
    return outcome.signaled ? 1 : outcome.code;
  }
  if (error) *error = "the unit rebooted again after " + std::to_string(options.maxBoots) + " boots; stopped";
  return 1;
}

}  // namespace hu
