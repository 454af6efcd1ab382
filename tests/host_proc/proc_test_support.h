#pragma once
// Units and helper programs for the tests of the unit's processes and windows.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/platform/host/host_registry.h"
#include "tests/host/temp_dir.h"

namespace hu {

// A unit folder with what HostPlatform needs: unit.ini, fs/, registry.db.
inline bool MakeTestUnit(const std::string& dir) {
  if (::mkdir(dir.c_str(), 0755) != 0 || ::mkdir((dir + "/fs").c_str(), 0755) != 0) return false;
  scratch::WriteFile(dir + "/unit.ini", "[unit]\ncode_page = 936\ntime_scale = 1\n");
  std::string error;
  return HostRegistry::Open(dir + "/registry.db", true, &error) != nullptr;
}

// Writes a host file and gives it the mode.
inline void WriteHostFileMode(const std::string& path, const std::string& content, mode_t mode) {
  scratch::WriteFile(path, content);
  ::chmod(path.c_str(), mode);
}

// Polls `done` every 2 ms for up to `ms` of real time.
inline bool WaitUntil(const std::function<bool()>& done, int ms = 5000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct CommandResult {
  int code = -1;  // -1: did not exit normally
  std::string out;
  std::string err;
};

// Runs argv through the shell with standard input from /dev/null.
inline CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& errFile) {
  std::string cmd;
  for (const auto& a : argv) cmd += (cmd.empty() ? "" : " ") + ShellQuote(a);
  cmd += " 2>" + ShellQuote(errFile) + " </dev/null";
  CommandResult r;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int status = ::pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.err = scratch::ReadFile(errFile);
  return r;
}

}  // namespace hu
