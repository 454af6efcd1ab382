#include "tests/reliability/campaign.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "tests/e2e/e2e_support.h"

namespace hu::reliability {
namespace {

const char* const kSanitizerMarks[] = {"AddressSanitizer", "LeakSanitizer", "ThreadSanitizer",
                                       "UndefinedBehaviorSanitizer", "runtime error:"};

// Writes all of `text`; a reader that is gone ends the writing.
void WriteAll(int fd, const std::string& text) {
  for (size_t at = 0; at < text.size();) {
    const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
    if (n <= 0) return;
    at += static_cast<size_t>(n);
  }
}

// Moves what is waiting on the non-blocking `fd` into `into`: the bytes
// moved, 0 at its end, -1 when nothing is waiting.
ssize_t Drain(int fd, std::string* into) {
  char buf[4096];
  const ssize_t n = ::read(fd, buf, sizeof buf);
  if (n > 0) into->append(buf, static_cast<size_t>(n));
  return n < 0 ? -1 : n;
}

}  // namespace

void UseBinFolder(const std::string& dir) { ::setenv(e2e::kBinVariable, dir.c_str(), 1); }

std::string SanitizerReport(const std::string& err) {
  for (const char* mark : kSanitizerMarks) {
    const size_t at = err.find(mark);
    if (at == std::string::npos) continue;
    const size_t begin = err.rfind('\n', at);
    const size_t from = begin == std::string::npos ? 0 : begin + 1;
    return "sanitizer: " + err.substr(from, err.find('\n', at) - from);
  }
  return std::string();
}

std::string CrashOf(int waitStatus, const std::string& err) {
  if (WIFSIGNALED(waitStatus)) {
    return std::string("killed by signal ") + std::to_string(WTERMSIG(waitStatus)) + " (" +
           ::strsignal(WTERMSIG(waitStatus)) + ")";
  }
  const std::string report = SanitizerReport(err);
  if (!report.empty()) return report;
  if (WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) != 0) {
    return "exit code " + std::to_string(WEXITSTATUS(waitStatus));
  }
  return std::string();
}

Ending RunToResult(const std::vector<std::string>& argv, const std::string& script,
                   const std::vector<std::string>& results, const std::string& closing, int timeoutMs) {
  Ending ending;
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    ending.kind = Ending::Kind::Crashed;
    ending.detail = std::string("no pipes: ") + ::strerror(errno);
    return ending;
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  ::fcntl(out[0], F_SETFL, O_NONBLOCK);
  ::fcntl(err[0], F_SETFL, O_NONBLOCK);
  // The program may end before it reads its input.
  ::signal(SIGPIPE, SIG_IGN);
  WriteAll(in[1], script);
  int input = in[1];

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  bool exited = false;
  bool outOpen = true, errOpen = true;
  while (!exited) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    // A pipe at its end is polled no more (it would wake the poll at once).
    pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
    if (::poll(fds, 2, 20) > 0) {
      if (fds[0].revents & (POLLIN | POLLHUP)) outOpen = Drain(out[0], &ending.out) != 0;
      if (fds[1].revents & (POLLIN | POLLHUP)) errOpen = Drain(err[0], &ending.err) != 0;
    }
    if (input >= 0 && ending.result.empty()) {
      for (const std::string& r : results) {
        if (ending.out.find(r) != std::string::npos) {
          ending.result = r;
          break;
        }
      }
      if (!ending.result.empty()) {
        WriteAll(input, closing);
        ::close(input);
        input = -1;
      }
    }
    exited = ::waitpid(pid, &status, WNOHANG) == pid;
  }
  // What the program wrote last; its children may hold the pipes open.
  while (outOpen && Drain(out[0], &ending.out) > 0) {
  }
  while (errOpen && Drain(err[0], &ending.err) > 0) {
  }
  if (input >= 0) ::close(input);
  ::close(out[0]);
  ::close(err[0]);
  if (!exited) {
    ending.kind = Ending::Kind::Hung;
    ending.detail = "still running after " + std::to_string(timeoutMs) + " ms" +
                    (ending.result.empty() ? std::string() : ", result \"" + ending.result + "\" seen");
    return ending;
  }
  ending.detail = CrashOf(status, ending.err);
  // A job that ended in its failure (1) or found nothing to do (4) says so by
  // its exit code; with its result shown that is no crash.
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (!ending.result.empty() && (code == 1 || code == 4) && SanitizerReport(ending.err).empty()) ending.detail.clear();
  if (ending.detail.empty() && ending.result.empty()) ending.detail = "ended without a result";
  ending.kind = ending.detail.empty() ? Ending::Kind::Result : Ending::Kind::Crashed;
  return ending;
}

Tally::Tally(std::vector<std::string> outcomes) : order_(std::move(outcomes)) {
  for (const std::string& o : order_) counts_[o] = 0;
}

void Tally::Fail(const std::string& outcome, const std::string& what) {
  Add(outcome);
  failures_.push_back(outcome + ": " + what);
}

std::string Tally::Line(const std::string& name) const {
  std::string line = name + ": " + std::to_string(runs_) + " runs";
  for (const std::string& o : order_) line += ", " + std::to_string(counts_.at(o)) + " " + o;
  return line;
}

void CopyTree(const std::string& from, const std::string& to) {
  namespace fs = std::filesystem;
  fs::create_directories(to);
  for (const auto& e : fs::recursive_directory_iterator(from)) {
    const fs::path target = fs::path(to) / fs::relative(e.path(), from);
    if (e.is_directory()) fs::create_directories(target);
    if (e.is_regular_file()) fs::copy_file(e.path(), target);
  }
}

std::string RandomBytes(std::mt19937& random, size_t n) {
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

uint32_t Between(std::mt19937& random, uint32_t low, uint32_t high) {
  return std::uniform_int_distribution<uint32_t>(low, high)(random);
}

}  // namespace hu::reliability
