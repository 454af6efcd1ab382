// MCU image transfer over a pseudo-terminal, whole process: the real updater
// (mcuflash) sends a 64 KiB block-family image to `unitctl serve --pace`, whose
// simulated MCU answers at line speed.
//
//   cmake --build build --target bench_mcu_transfer unitctl mcuflash portmaster && build/bin/bench_mcu_transfer
//
// The unit (MSTAR786, project type 19) runs at time scale 1, so the pacing is
// real line speed. Reports the transfer time (from "Mcu is updating now" to
// "Mcu update successfully!" in the dialog's change log), the bytes on the wire
// both ways as the server counted them, their wire time at 115200 baud
// (8N1: 10 bits a byte) and the ratio of the measured time to it. Without
// faults every byte on the wire is a frame or an answer the protocol needs.
// A pty has no line speed of its own: only the simulator's answers are paced,
// the program's frames pass at once, so a ratio below 1 is expected; the
// "answers only" ratio compares with the paced part alone.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr size_t kImageBytes = 64 * 1024;
constexpr double kBaud = 115200.0;

std::string BinDir() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  buf[n] = 0;
  std::string path(buf);
  return path.substr(0, path.rfind('/'));
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string Hex(unsigned v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, v);
  return buf;
}

// S1 below 0x10000, S2 (24-bit address) above: 64 KiB from 0xA000 passes it.
std::string Record(unsigned address, const std::vector<unsigned char>& data) {
  const int width = address > 0xFFFF ? 3 : 2;
  unsigned count = static_cast<unsigned>(width + data.size() + 1);
  unsigned sum = count;
  std::string s = std::string(width == 3 ? "S2" : "S1") + Hex(count, 2);
  for (int i = width - 1; i >= 0; --i) {
    unsigned b = (address >> (8 * i)) & 0xFF;
    sum += b;
    s += Hex(b, 2);
  }
  for (unsigned char b : data) {
    sum += b;
    s += Hex(b, 2);
  }
  return s + Hex((sum & 0xFF) ^ 0xFF, 2) + "\r\n";
}

// Runs argv with stdin from `inPath` (or /dev/null) and stdout/stderr to
// `outPath`; returns the pid.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& inPath, const std::string& outPath) {
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(inPath.empty() ? "/dev/null" : inPath.c_str(), O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in >= 0) dup2(in, 0);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

int WaitExit(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The "t" of the first change-log line holding `text`; -1 when none.
long TimeOf(const std::string& log, const std::string& text) {
  size_t at = log.find(text);
  if (at == std::string::npos) return -1;
  size_t start = log.rfind('\n', at);
  start = start == std::string::npos ? 0 : start + 1;
  size_t t = log.find("\"t\":", start);
  if (t == std::string::npos || t > at) return -1;
  return std::strtol(log.c_str() + t + 4, nullptr, 10);
}

}  // namespace

int main() {
  const std::string bin = BinDir();
  char tmpl[] = "/tmp/hu_mcu_bench_XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return 1;
  const std::string temp = tmpl;
  const std::string unit = temp + "/unit";
  int rc = 1;
  do {
    if (WaitExit(Spawn({bin + "/unitctl", "init", unit, "--cpu", "MSTAR786", "--project", "19"}, "",
                       temp + "/init.out")) != 0) {
      std::fprintf(stderr, "unitctl init failed: %s\n", ReadAll(temp + "/init.out").c_str());
      break;
    }
    std::filesystem::create_directories(unit + "/fs/StorageCard/Mcuflash");
    {
      std::string s19 = Record(0x9FE0, {0, 0, 'S', 'T', 'M', '8', 'Q', 'X', '4', 'B'});
      for (size_t at = 0; at < kImageBytes; at += 32) {
        std::vector<unsigned char> data;
        for (size_t i = at; i < at + 32; ++i) data.push_back(static_cast<unsigned char>(i * 7 + 3));
        s19 += Record(static_cast<unsigned>(0xA000 + at), data);
      }
      s19 += "S9030000FC\r\n";
      std::ofstream(unit + "/fs/StorageCard/Mcuflash/bench.s19", std::ios::binary) << s19;
      std::ofstream(temp + "/script", std::ios::binary)
          << "expect \"Find a valid file\" 20000\nclick 1000\nexpect \"Mcu update successfully!\" 600000\nclose\n";
    }
    pid_t serve = Spawn({bin + "/unitctl", "serve", unit, "--pace"}, "", temp + "/serve.out");
    bool ready = false;
    for (int i = 0; i < 400 && !ready; ++i) {
      ready = ReadAll(temp + "/serve.out").find("ready\n") != std::string::npos;
      if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (!ready) {
      kill(serve, SIGTERM);
      WaitExit(serve);
      std::fprintf(stderr, "unitctl serve did not get ready: %s\n", ReadAll(temp + "/serve.out").c_str());
      break;
    }
    const auto start = std::chrono::steady_clock::now();
    int flashRc = WaitExit(Spawn({bin + "/mcuflash", "--unit", unit, "--ui", "script", "--input", temp + "/script",
                                  "--ui-log", temp + "/ui.jsonl"},
                                 "", temp + "/mcuflash.out"));
    const double whole = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    kill(serve, SIGTERM);
    WaitExit(serve);
    const std::string log = ReadAll(temp + "/ui.jsonl");
    const long t0 = TimeOf(log, "Mcu is updating now");
    const long t1 = TimeOf(log, "Mcu update successfully!");
    const std::string served = ReadAll(temp + "/serve.out");
    unsigned long long in = 0, out = 0;
    size_t at = served.find("COM4: ");
    if (at != std::string::npos) std::sscanf(served.c_str() + at, "COM4: %llu bytes in, %llu bytes out", &in, &out);
    if (flashRc != 0 || t0 < 0 || t1 < 0) {
      std::fprintf(stderr, "transfer failed (mcuflash %d)\n%s", flashRc, ReadAll(temp + "/mcuflash.out").c_str());
      break;
    }
    const double seconds = (t1 - t0) / 1000.0;
    const double wire = static_cast<double>(in + out) * 10.0 / kBaud;
    std::printf("image            %zu bytes (block family, 128-byte blocks)\n", kImageBytes);
    std::printf("mcuflash run     %.3f s (whole process, with the port hand-over)\n", whole);
    std::printf("transfer         %.3f s\n", seconds);
    std::printf("on the wire      %llu bytes sent, %llu bytes answered\n", in, out);
    std::printf("wire time        %.3f s at 115200 baud 8N1\n", wire);
    const double answerWire = static_cast<double>(out) * 10.0 / kBaud;
    std::printf("ratio            %.2f (transfer / wire time)\n", wire > 0 ? seconds / wire : 0.0);
    std::printf("answers only     %.2f (transfer / wire time of the answers, %.3f s)\n",
                answerWire > 0 ? seconds / answerWire : 0.0, answerWire);
    rc = 0;
  } while (false);
  std::filesystem::remove_all(temp);
  return rc;
}
