#include "tests/e2e/e2e_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "common/platform/host/host_files.h"
#include "common/platform/host/host_platform.h"
#include "common/platform/host/unit.h"
#include "tests/support/s19_text.h"

namespace hu::e2e {
namespace fs = std::filesystem;

std::string BinDir() {
  const char* chosen = std::getenv(kBinVariable);
  return chosen != nullptr && *chosen != 0 ? chosen : HU_BIN_DIR;
}
std::string Bin(const std::string& name) { return BinDir() + "/" + name; }

namespace {

int Spawn(const std::vector<std::string>& argv, const std::string& inPath, const std::string& outPath,
          const std::string& errPath) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  setpgid(0, 0);
  int in = open(inPath.c_str(), O_RDONLY);
  int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

// Waits for `pid` up to `timeoutMs`; kills its process group on time-out.
bool WaitPid(int pid, int timeoutMs, int* status) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    int rc = waitpid(pid, status, WNOHANG);
    if (rc == pid) return true;
    if (std::chrono::steady_clock::now() > end) {
      kill(-pid, SIGKILL);
      waitpid(pid, status, 0);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

using testing_s19::Record;

}  // namespace

std::string ImageBytes(size_t size, int salt) {
  std::string out;
  for (size_t i = 0; i < size; ++i) out += static_cast<char>((i * 7 + 3 + salt) & 0xFF);
  return out;
}

std::string S19Text(const std::string& image) {
  std::vector<uint8_t> tag{0, 0};
  for (char c : std::string("STM8QX4B")) tag.push_back(static_cast<uint8_t>(c));
  std::string s = Record(1, 0x9FE0, tag);
  for (size_t at = 0; at < image.size(); at += 32) {
    std::vector<uint8_t> data(image.begin() + at, image.begin() + std::min(image.size(), at + 32));
    s += Record(1, static_cast<uint32_t>(0xA000 + at), data);
  }
  return s + "S9030000FC\r\n";
}


Served::Served(const TestUnit& unit, std::vector<std::string> args) : unitDir_(unit.dir()) {
  std::vector<std::string> argv = {Bin("unitctl"), "serve", unit.dir()};
  argv.insert(argv.end(), args.begin(), args.end());
  process_ = std::make_unique<Background>(argv);
  for (int i = 0; i < 200 && process_->Running(); ++i) {
    if (process_->Output().find("ready\n") != std::string::npos) {
      ready_ = true;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
}

std::string Served::Pty(const std::string& port) {
  const std::string output = Output();
  const size_t at = output.find(port + " -> ");
  if (at == std::string::npos) return {};
  const size_t start = at + port.size() + 4;
  return output.substr(start, output.find(' ', start) - start);
}

std::vector<std::string> FieldRun(const std::string& tmpDir, double timeScale, std::vector<std::string> argv) {
  argv.insert(argv.begin(), {"/usr/bin/env", "HU_TIME_SCALE=" + std::to_string(timeScale), "TMPDIR=" + tmpDir});
  return argv;
}

Served::~Served() {
  HostOptions options;
  options.registerProcess = false;
  std::string error;
  if (std::unique_ptr<HostPlatform> platform = HostPlatform::Open(unitDir_, options, &error)) {
    for (const ProcessEntry& e : platform->processes().Snapshot()) platform->processes().TerminateProcess(e.pid, 0);
  }
}

RunResult RunProgram(const std::vector<std::string>& argv, const std::string& input, int timeoutMs) {
  TempDir io;
  WriteFile(io.path() + "/in", input);
  int pid = Spawn(argv, io.path() + "/in", io.path() + "/out", io.path() + "/err");
  RunResult r;
  int status = 0;
  r.timedOut = !WaitPid(pid, timeoutMs, &status);
  r.exitCode = !r.timedOut && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = ReadFile(io.path() + "/out");
  r.err = ReadFile(io.path() + "/err");
  return r;
}

Background::Background(const std::vector<std::string>& argv, const std::string& input) {
  char name[] = "/tmp/hu_bg_XXXXXX";
  int fd = mkstemp(name);
  if (fd >= 0) close(fd);
  outPath_ = name;
  WriteFile(outPath_ + ".in", input);
  pid_ = Spawn(argv, outPath_ + ".in", outPath_, outPath_ + ".err");
}

Background::~Background() {
  if (!done_ && pid_ > 0) {
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  unlink(outPath_.c_str());
  unlink((outPath_ + ".in").c_str());
  unlink((outPath_ + ".err").c_str());
}

bool Background::Running() {
  if (done_) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    done_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return !done_;
}

int Background::Wait(int timeoutMs) {
  if (done_) return status_;
  int status = 0;
  bool ended = WaitPid(pid_, timeoutMs, &status);
  done_ = true;
  status_ = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return status_;
}

std::string Background::Output() { return ReadFile(outPath_); }

TempDir::TempDir() : ScratchDir("hu_e2e") {
  if (!ok()) throw std::runtime_error("mkdtemp failed");
}

TestUnit::TestUnit(const std::vector<std::string>& initArgs, double timeScale) : dir_(temp_.path() + "/unit") {
  std::vector<std::string> argv = {Bin("unitctl"), "init", dir_};
  argv.insert(argv.end(), initArgs.begin(), initArgs.end());
  RunResult r = RunProgram(argv);
  if (r.exitCode != 0) throw std::runtime_error("unitctl init failed: " + r.err);
  std::ostringstream scale;
  scale << timeScale;
  SetIni("unit", "time_scale", scale.str());
}

void TestUnit::Put(const std::string& relative, const std::string& bytes) const { WriteFile(Fs(relative), bytes); }

std::string TestUnit::Read(const std::string& relative) const { return ReadFile(dir_ + "/" + relative); }

std::string TestUnit::ReadDevice(const std::string& devicePath) const {
  HostFiles files(dir_ + "/fs");
  return ReadFile(files.HostPath(devicePath));
}

bool TestUnit::Exists(const std::string& relative) const { return fs::exists(dir_ + "/" + relative); }

void TestUnit::SetIni(const std::string& section, const std::string& key, const std::string& value) const {
  IniFile ini;
  std::string error;
  if (!ini.Load(dir_ + "/unit.ini", &error)) throw std::runtime_error(error);
  ini.Set(section, key, value);
  if (!ini.Save(dir_ + "/unit.ini", &error)) throw std::runtime_error(error);
}

}  // namespace hu::e2e
