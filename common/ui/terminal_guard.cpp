#include "common/ui/terminal_guard.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "common/platform/trace.h"

namespace hu {

namespace {

// Everything the handlers touch is prepared beforehand and plain data, since
// a signal handler (and the forked watcher) may only make async-signal-safe
// calls.
struct GuardState {
  int fd = -1;
  struct termios modes {};
  bool haveModes = false;
  char reset[512] = {};
  size_t resetLength = 0;
  volatile sig_atomic_t armed = 0;
  pid_t watcher = -1;
  int watcherPipe = -1;
  std::terminate_handler previousTerminate = nullptr;
  bool atExitRegistered = false;
};

GuardState gState;

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];
struct sigaction gPrevious[kSignalCount];
bool gInstalled[kSignalCount] = {};

void WriteAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    length -= static_cast<size_t>(n);
  }
}

void ResetTerminal() {
  if (gState.fd < 0) return;
  WriteAll(gState.fd, gState.reset, gState.resetLength);
  if (gState.haveModes) ::tcsetattr(gState.fd, TCSANOW, &gState.modes);
}

// Resets once; the watcher is told that the terminal is fine already.
void ResetNow() {
  if (!gState.armed) return;
  gState.armed = 0;
  ResetTerminal();
  if (gState.watcherPipe >= 0) WriteAll(gState.watcherPipe, "q", 1);
}

void OnSignal(int sig) {
  int saved = errno;
  ResetNow();
  for (size_t i = 0; i < kSignalCount; ++i) {
    if (kSignals[i] == sig && gInstalled[i]) {
      ::sigaction(sig, &gPrevious[i], nullptr);
      gInstalled[i] = false;
    }
  }
  errno = saved;
  // The signal takes the course it had before (usually ending the process).
  ::raise(sig);
}

void OnTerminate() {
  ResetNow();
  if (gState.previousTerminate != nullptr) gState.previousTerminate();
  std::abort();
}

void OnExit() { ResetNow(); }

void CloseAllBut(int keepA, int keepB) {
  int low = keepA < keepB ? keepA : keepB;
  int high = keepA < keepB ? keepB : keepA;
  auto closeRange = [](int from, int to) {
    return from > to || ::close_range(static_cast<unsigned>(from), static_cast<unsigned>(to), 0) == 0;
  };
  if (closeRange(0, low - 1) && closeRange(low + 1, high - 1) &&
      ::close_range(static_cast<unsigned>(high + 1), ~0u, 0) == 0) {
    return;
  }
  struct rlimit limit {};
  int last = 1024;
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    last = static_cast<int>(limit.rlim_cur < 65536 ? limit.rlim_cur : 65536);
  }
  for (int fd = 0; fd < last; ++fd) {
    if (fd != keepA && fd != keepB) ::close(fd);
  }
}

// The watcher: holds nothing of its parent's (so no lock or port stays held
// by it) and resets the terminal when the parent ends without saying so.
[[noreturn]] void RunWatcher(int pipeFd) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGTTOU, SIGTTIN, SIGPIPE}) ::sigaction(sig, &ignore, nullptr);
  CloseAllBut(pipeFd, gState.fd);
  char c = 0;
  ssize_t n = 0;
  do {
    n = ::read(pipeFd, &c, 1);
  } while (n < 0 && errno == EINTR);
  if (n != 1 || c != 'q') ResetTerminal();
  ::_exit(0);
}

void StartWatcher() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    Trace("hu::TerminalGuard no pipe for the watcher: %s\n", std::strerror(errno));
    return;
  }
  pid_t pid = ::fork();
  if (pid == 0) RunWatcher(fds[0]);
  ::close(fds[0]);
  if (pid < 0) {
    Trace("hu::TerminalGuard no watcher process: %s\n", std::strerror(errno));
    ::close(fds[1]);
    return;
  }
  gState.watcher = pid;
  gState.watcherPipe = fds[1];
}

}  // namespace

bool TerminalGuard::Begin(int fd) {
  if (gState.armed) return true;
  gState.fd = fd;
  gState.haveModes = ::tcgetattr(fd, &gState.modes) == 0;
  gState.resetLength = 0;
  gState.armed = 1;
  // Before curses starts: it leaves alone signals that already have a
  // handler, so an interrupt still ends the process as an interrupt.
  for (size_t i = 0; i < kSignalCount; ++i) {
    struct sigaction current {};
    if (::sigaction(kSignals[i], nullptr, &current) != 0) continue;
    // A signal the program was started to ignore stays ignored.
    if (current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    if (::sigaction(kSignals[i], &action, &gPrevious[i]) == 0) gInstalled[i] = true;
  }
  gState.previousTerminate = std::set_terminate(OnTerminate);
  if (!gState.atExitRegistered) gState.atExitRegistered = std::atexit(OnExit) == 0;
  return gState.haveModes;
}

void TerminalGuard::Arm(const std::string& reset) {
  if (!gState.armed || gState.watcher > 0) return;
  size_t length = reset.size() < sizeof gState.reset ? reset.size() : sizeof gState.reset;
  std::memcpy(gState.reset, reset.data(), length);
  gState.resetLength = length;
  StartWatcher();
}

void TerminalGuard::End() {
  if (!gState.armed) return;
  gState.armed = 0;
  for (size_t i = 0; i < kSignalCount; ++i) {
    if (gInstalled[i]) ::sigaction(kSignals[i], &gPrevious[i], nullptr);
    gInstalled[i] = false;
  }
  std::set_terminate(gState.previousTerminate);
  gState.previousTerminate = nullptr;
  if (gState.watcherPipe >= 0) {
    WriteAll(gState.watcherPipe, "q", 1);
    ::close(gState.watcherPipe);
    gState.watcherPipe = -1;
  }
  if (gState.watcher > 0) {
    while (::waitpid(gState.watcher, nullptr, 0) < 0 && errno == EINTR) {
    }
    gState.watcher = -1;
  }
}

bool TerminalGuard::Armed() { return gState.armed != 0; }

}  // namespace hu
