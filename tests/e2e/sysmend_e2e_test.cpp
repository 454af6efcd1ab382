// The updater run for real against a unit with the simulated platform.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"

namespace hu::e2e {
namespace {

const char kOs[] = "3A1F0C01234567";

std::vector<std::string> Sysmend(const TestUnit& unit, std::vector<std::string> args) {
  std::vector<std::string> argv = {Bin("sysmend"), "--unit", unit.dir()};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

TestUnit UnitWithVersions(std::vector<std::string> extra = {}, double timeScale = 0.01) {
  std::vector<std::string> args = {"--os-version", kOs, "--boot-version", "12345678", "--conf-version",
                                   "00A100000001"};
  args.insert(args.end(), extra.begin(), extra.end());
  return TestUnit(args, timeScale);
}

void PutMixedKit(const TestUnit& unit) {
  unit.Put(std::string("StorageCard/UpdateKitM/") + kOs + ".nb0", "OS IMAGE");
  unit.Put("StorageCard/UpdateKitM/LOGO2.BMP", "LOGO TWO");
  unit.Put("StorageCard/UpdateKitM/logo4.bmp", "not a logo slot");
  unit.Put("StorageCard/UpdateKitM/22345678.bin", "boot of another cpu");
  unit.Put("StorageCard/UpdateKitM/00A100000002.kvr", "configuration");
}

TEST(SysmendE2E, ManualRunShowsEveryVerdict) {
  TestUnit unit = UnitWithVersions();
  PutMixedKit(unit);
  std::string log = unit.dir() + "/ui.jsonl";
  RunResult r = RunProgram(Sysmend(unit, {"--ui", "script", "--ui-log", log, "--input", "-"}),
                    "expect \"os File is valid ! (ver: 3A1F0C01234567)\"\n"
                    "expect \"logo File is valid ! (ver: LOGO2)\"\n"
                    "expect \"boot File is invalid, boot cpu invalid ! (ver: 22345678)\"\n"
                    "expect \"kvr File is valid ! (ver: 00A100000002)\"\n"
                    "click 2\n");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.find("logo4"), std::string::npos);
  std::string ui = ReadFile(log);
  size_t boot = ui.find("boot File is invalid");
  ASSERT_NE(boot, std::string::npos);
  size_t lineStart = ui.rfind('\n', boot) + 1;
  size_t lineEnd = ui.find('\n', boot);
  EXPECT_NE(ui.substr(lineStart, lineEnd - lineStart).find("\"color\":255"), std::string::npos);
  EXPECT_FALSE(unit.Exists("reboot.flag"));
}

TEST(SysmendE2E, AutomaticLogoUpdateRefusesTheSameOsAndReboots) {
  TestUnit unit = UnitWithVersions();
  PutMixedKit(unit);
  RunResult r = RunProgram(Sysmend(unit, {"auto"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("os File is invalid, the same ver of os with local (ver: 3A1F0C01234567)"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("system will reboot after 3 seconds ! please put out the sd card !"), std::string::npos);
  EXPECT_TRUE(unit.Exists("reboot.flag"));
  EXPECT_EQ(unit.Read("flash/logo2.img"), "LOGO TWO");
  EXPECT_EQ(unit.Read("flash/conf.img"), "configuration");
  EXPECT_FALSE(unit.Exists("flash/os.img"));
  EXPECT_FALSE(unit.Exists("flash/boot.img"));
}

TEST(SysmendE2E, AutomaticRunWithNothingUsableEndsAndReportsNoApplication) {
  TestUnit unit = UnitWithVersions();
  unit.Put(std::string("StorageCard/UpdateKitM/") + kOs + ".nb0", "OS IMAGE");
  RunResult r = RunProgram(Sysmend(unit, {"auto"}), "", 10000);
  EXPECT_EQ(r.exitCode, 4) << r.err;  // every file refused: nothing to do
  EXPECT_FALSE(r.timedOut);
  std::string calls = unit.Read("flash/calls.log");
  EXPECT_NE(calls.find("UpdateState code=2"), std::string::npos) << calls;
  EXPECT_FALSE(unit.Exists("reboot.flag"));
}

// Reads what arrives on a pty master for `ms` milliseconds.
std::string Drain(int fd, int ms) {
  std::string bytes;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) > 0 && (p.revents & POLLIN)) {
      char buf[256];
      ssize_t n = read(fd, buf, sizeof buf);
      if (n > 0) bytes.append(buf, static_cast<size_t>(n));
    }
  }
  return bytes;
}

std::string HeartbeatBytes(const std::vector<std::string>& initArgs) {
  TestUnit unit(initArgs);
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  EXPECT_GE(master, 0);
  grantpt(master);
  unlockpt(master);
  unit.SetIni("ports", "COM4", ptsname(master));
  Background run(Sysmend(unit, {"auto"}));
  std::string bytes = Drain(master, 1500);
  EXPECT_EQ(run.Wait(10000), 4);
  close(master);
  return bytes;
}

TEST(SysmendE2E, HeartbeatStopFramesReachTheMcuPort) {
  const std::string frame("\x21\x23\x41\x4F\x09\x00\x43\x31\x77\x0D", 10);
  EXPECT_EQ(HeartbeatBytes({}), frame + frame + frame);
  const std::string frame10("\x21\x23\x41\x57\x08\x00\x07\x1B\x0D", 9);
  EXPECT_EQ(HeartbeatBytes({"--cpu", "S5P6450", "--project", "20"}), frame10 + frame10 + frame10);
}

TEST(SysmendE2E, WithoutTheLibraryImagesGoToTheConsoleAndTheKernelReboots) {
  TestUnit unit = UnitWithVersions({"--no-halbridge"});
  unit.Put("StorageCard/UpdateKitM/LOGO2.BMP", "LOGO TWO");
  RunResult r = RunProgram(Sysmend(unit, {"auto"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::string calls = unit.Read("flash/calls.log");
  EXPECT_NE(calls.find("code=0x800020D8 kind=logo2"), std::string::npos) << calls;
  EXPECT_EQ(unit.Read("flash/logo2.img"), "LOGO TWO");
  EXPECT_NE(calls.find("IOCTL_HAL_REBOOT"), std::string::npos);
  EXPECT_NE(unit.Read("reboot.flag").find("clean = yes"), std::string::npos);
}

TEST(SysmendE2E, ExitEventFromAnotherProgramCancelsTheReboot) {
  TestUnit unit = UnitWithVersions({}, 0.5);
  unit.Put("StorageCard/UpdateKitM/LOGO1.bmp", "LOGO ONE");
  Background run(Sysmend(unit, {"--input", "-", "auto"}),
                 "expect \"system will reboot after 3 seconds\" 60000\nclose\n");
  bool signalled = false;
  for (int i = 0; i < 400 && !signalled && run.Running(); ++i) {
    signalled = RunProgram({Bin("unitctl"), "event", unit.dir(), "Exit"}).exitCode == 0;
    if (!signalled) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  EXPECT_TRUE(signalled);
  EXPECT_EQ(run.Wait(20000), 0);
  EXPECT_FALSE(unit.Exists("reboot.flag"));
  EXPECT_EQ(unit.Read("flash/logo1.img"), "LOGO ONE");
}

TEST(SysmendE2E, SecondInstanceEndsAtOnceAndLeavesTheFirstRunning) {
  TestUnit unit = UnitWithVersions();
  Background first(Sysmend(unit, {"--input", "-"}), "wait 600000\n");
  for (int i = 0; i < 200 && unit.Read("trace.log").find("has not running") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  RunResult second = RunProgram(Sysmend(unit, {}), "", 5000);
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_FALSE(second.timedOut);
  EXPECT_NE(unit.Read("trace.log").find("CSysmendApp::IsRunning-->has running"), std::string::npos);
  EXPECT_TRUE(first.Running());
}

}  // namespace
}  // namespace hu::e2e
