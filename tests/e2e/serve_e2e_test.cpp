// `unitctl serve`: the ports it serves per platform, the port map it writes
// and gives back, the simulated CAN box on a raw port.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sim/canbox/canbox_relay.h"
#include "sim/canbox/canbox_simulator.h"
#include "sim/mcu/mcu_simulator.h"
#include "tests/e2e/e2e_support.h"

namespace hu::e2e {
namespace {

// The tool as its own process group, so that a SIGTERM reaches it alone and
// its clean-up can be watched.
class ServeProcess {
 public:
  ServeProcess(const TestUnit& unit, std::vector<std::string> args) : outPath_(unit.dir() + "/serve.out") {
    std::vector<std::string> argv = {Bin("unitctl"), "serve", unit.dir()};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      int fd = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
      }
      std::vector<char*> cargv;
      for (std::string& a : argv) cargv.push_back(a.data());
      cargv.push_back(nullptr);
      execv(cargv[0], cargv.data());
      _exit(127);
    }
  }
  ~ServeProcess() {
    if (pid_ > 0 && !done_) {
      kill(-pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  std::string Output() const { return ReadFile(outPath_); }
  // Waits for "ready" or the end.
  bool WaitReady() {
    for (int i = 0; i < 200; ++i) {
      if (Output().find("ready\n") != std::string::npos) return true;
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        done_ = true;
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
  }
  // SIGTERM, then the exit code (-1 when it had to be killed).
  int Stop() {
    if (done_) return exitCode_;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 400; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        done_ = true;
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return exitCode_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return -1;
  }
  int exitCode() const { return exitCode_; }

 private:
  std::string outPath_;
  int pid_ = -1;
  bool done_ = false;
  int exitCode_ = -1;
};

// The slave name served for `port`, from the tool's line for it.
std::string SlaveOf(const std::string& output, const std::string& port) {
  size_t at = output.find(port + " -> ");
  if (at == std::string::npos) return std::string();
  at += port.size() + 4;
  return output.substr(at, output.find(' ', at) - at);
}

// Sends `request` on a raw terminal and collects the answer for up to 2 s.
std::string Exchange(const std::string& slave, const std::string& request, size_t want) {
  int fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return std::string();
  termios tio{};
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  tcsetattr(fd, TCSANOW, &tio);
  std::string answer;
  if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (answer.size() < want && std::chrono::steady_clock::now() < end) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 50) > 0) {
        char buf[256];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) answer.append(buf, static_cast<size_t>(n));
      }
    }
  }
  close(fd);
  return answer;
}

std::string IniPorts(const TestUnit& unit) {
  std::string ini = unit.Read("unit.ini");
  size_t at = ini.find("[ports]");
  size_t end = ini.find('[', at + 1);
  return at == std::string::npos ? std::string() : ini.substr(at, end - at);
}

TEST(ServeE2E, PlatformThirteenServesTheRawBoxOnCom14AndGivesThePortsBack) {
  TestUnit unit({"--cpu", "MSTAR786", "--project", "18"}, 0.1);
  unit.SetIni("ports", "COM4", "/dev/ttyUSB0");
  ServeProcess serve(unit, {"--canbox-type", "VTESTBOX001"});
  ASSERT_TRUE(serve.WaitReady()) << serve.Output();
  const std::string out = serve.Output();
  EXPECT_NE(out.find("(mcu, block family, 115200)"), std::string::npos) << out;
  EXPECT_NE(out.find("(can box, raw, 115200)"), std::string::npos) << out;
  const std::string com4 = SlaveOf(out, "COM4");
  const std::string com14 = SlaveOf(out, "COM14");
  ASSERT_FALSE(com14.empty()) << out;
  EXPECT_NE(IniPorts(unit).find("COM4 = " + com4), std::string::npos) << IniPorts(unit);
  EXPECT_NE(IniPorts(unit).find("COM14 = " + com14), std::string::npos) << IniPorts(unit);
  RunResult ps = RunProgram({Bin("unitctl"), "ps", unit.dir()});
  EXPECT_NE(ps.out.find("Portmaster.exe"), std::string::npos) << ps.out;

  const std::string answer = Exchange(com14, "\r$Z2N0\r\n", 17);
  EXPECT_EQ(answer.substr(0, 15), std::string("\r$Z") + static_cast<char>('0' + 11) + "VTESTBOX001") << answer;

  EXPECT_EQ(serve.Stop(), 0) << serve.Output();
  const std::string ports = IniPorts(unit);
  EXPECT_NE(ports.find("COM4 = /dev/ttyUSB0"), std::string::npos) << ports;
  EXPECT_EQ(ports.find("COM14"), std::string::npos) << ports;
  ps = RunProgram({Bin("unitctl"), "ps", unit.dir()});
  EXPECT_EQ(ps.out.find("Portmaster.exe"), std::string::npos) << ps.out;
}

TEST(ServeE2E, CanBoxOnlyTakesCom4WithoutAnMcuOrArbiter) {
  TestUnit unit({}, 0.1);
  ServeProcess serve(unit, {"--canbox-only", "--loss", "0"});
  ASSERT_TRUE(serve.WaitReady()) << serve.Output();
  const std::string out = serve.Output();
  EXPECT_NE(out.find("COM4 -> "), std::string::npos);
  EXPECT_NE(out.find("(can box, raw, 115200)"), std::string::npos) << out;
  EXPECT_EQ(out.find("mcu"), std::string::npos) << out;
  EXPECT_EQ(out.find("arbiter"), std::string::npos) << out;
  const std::string answer = Exchange(SlaveOf(out, "COM4"), "\r$Z220\r\n", 17);
  EXPECT_EQ(answer.substr(0, 15), std::string("\r$Z") + static_cast<char>('0' + 11) + "VZD3A000105") << answer;
  EXPECT_EQ(serve.Stop(), 0);
  EXPECT_EQ(IniPorts(unit).find("COM4"), std::string::npos) << IniPorts(unit);
}

TEST(ServeE2E, ProjectSeventeenReachesTheBoxThroughTheMcu) {
  TestUnit unit({"--project", "17"}, 0.1);
  ServeProcess serve(unit, {"--no-arbiter", "--canbox-type", "VRELAYBOX17"});
  ASSERT_TRUE(serve.WaitReady()) << serve.Output();
  const std::string out = serve.Output();
  EXPECT_NE(out.find("(mcu, line family, 115200, can box behind it, kind 4)"), std::string::npos) << out;
  EXPECT_EQ(out.find("arbiter"), std::string::npos) << out;
  const std::string request = "\r$Z2N0\r\n";
  const std::vector<uint8_t> frame = BuildSumFrame(0x33, 0x08, std::vector<uint8_t>(request.begin(), request.end()));
  const std::vector<uint8_t> reply = WrapCanBoxAnswer(4, CanBoxSimulator::TypeReply("VRELAYBOX17"));
  const std::string answer = Exchange(SlaveOf(out, "COM4"), std::string(frame.begin(), frame.end()), reply.size());
  EXPECT_EQ(answer, std::string(reply.begin(), reply.end()));
  EXPECT_EQ(serve.Stop(), 0);
}

TEST(ServeE2E, RefusesWhatThePlatformCannotReach) {
  TestUnit unit({"--cpu", "MSTAR786", "--project", "19"}, 0.1);
  RunResult r = RunProgram({Bin("unitctl"), "serve", unit.dir(), "--canbox-only"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("through the MCU"), std::string::npos) << r.err;
  EXPECT_EQ(IniPorts(unit).find("COM4"), std::string::npos);
  r = RunProgram({Bin("unitctl"), "serve", unit.dir(), "--loss", "1.5"});
  EXPECT_EQ(r.exitCode, 2);
}

}  // namespace
}  // namespace hu::e2e
