// The CAN box tool run for real against `unitctl serve`: the vehicle type read
// on each way the box is reached, and one firmware upgrade.
#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"

namespace hu::e2e {
namespace {

constexpr char kBoxType[] = "VZD3A000105";
constexpr char kModuleDir[] = "SDMMC/Canprobe/";

// The simulated box answers with this type.
std::vector<std::string> WithBoxType(std::vector<std::string> args) {
  args.insert(args.begin(), {"--canbox-type", kBoxType});
  return args;
}

RunResult Canprobe(const TestUnit& unit, const std::string& script, int timeoutMs = 20000) {
  return RunProgram({Bin("canprobe"), "--unit", unit.dir(), "--ui", "script", "--input", "-"}, script, timeoutMs);
}

std::string Diagnose(const TestUnit& unit, const RunResult& r) {
  return "stdout:\n" + r.out + "\nstderr:\n" + r.err + "\ntrace.log:\n" + unit.Read("trace.log");
}

struct Family {
  const char* name;
  std::vector<std::string> init;
  std::vector<std::string> serve;
  const char* portLine;  // what serve says of the port the box answers on
  bool siblings = false;  // the unit's own programs run, and the tool closes them
};

std::string Processes(const TestUnit& unit) { return RunProgram({Bin("unitctl"), "ps", unit.dir()}).out; }

// Before the tool takes COM4 it closes the front end, the launcher and the
// serial arbiter, and starts the shell.
void ExpectFrontEndClosed(const TestUnit& unit) {
  const std::string ps = Processes(unit);
  for (const char* gone : {"Zentrova.exe", "Startdeck.exe", "Appvisor.exe", "Portmaster.exe"}) {
    EXPECT_EQ(ps.find(gone), std::string::npos) << gone << " still runs:\n" << ps;
  }
  EXPECT_NE(ps.find("\\Windows\\explorer.exe"), std::string::npos) << ps;
}

class CanprobeReadTypeE2E : public ::testing::TestWithParam<Family> {};

TEST_P(CanprobeReadTypeE2E, ShowsTypeDateAndDescription) {
  const Family& family = GetParam();
  TestUnit unit(family.init, 0.1);
  unit.Put(std::string(kModuleDir) + "CarInfoDescription.txt", std::string(kBoxType) + "=Cruze e2e\n");
  Served serve(unit, WithBoxType(family.serve));
  ASSERT_TRUE(serve.ready()) << serve.Output();
  EXPECT_NE(serve.Output().find(family.portLine), std::string::npos) << serve.Output();
  if (family.siblings) {
    const std::string ps = Processes(unit);
    for (const char* running : {"Zentrova.exe", "Startdeck.exe", "Appvisor.exe", "Portmaster.exe"}) {
      ASSERT_NE(ps.find(running), std::string::npos) << running << " not started:\n" << ps;
    }
  }
  RunResult r = Canprobe(unit,
                         "click 1038\n"
                         "expect \"VersionId:VZD3A000105\" 60000\n"
                         "expect \"CarId:0105\"\n"
                         "expect \"Data:2013-03-10\"\n"
                         "expect \"Car:Cruze e2e\"\n"
                         "close\n");
  EXPECT_FALSE(r.timedOut) << Diagnose(unit, r);
  EXPECT_EQ(r.exitCode, 0) << Diagnose(unit, r);
  EXPECT_NE(r.out.find("Car:Cruze e2e"), std::string::npos) << Diagnose(unit, r);
  if (family.siblings) ExpectFrontEndClosed(unit);
}

// On 17/19 the serial arbiter holds COM4: the tool closes it only while the
// head unit application ("Zentrova") runs, so these units run their own programs.
INSTANTIATE_TEST_SUITE_P(
    Platforms, CanprobeReadTypeE2E,
    ::testing::Values(
        Family{"Project18RawOnCom4", {"--cpu", "S3C6410", "--project", "18"}, {"--canbox-only"}, "COM4 -> "},
        Family{"PlatformThirteenRawOnCom14", {"--cpu", "MSTAR786", "--project", "18"}, {}, "COM14 -> "},
        Family{"Project19BehindTheMcuKind4", {"--cpu", "S3C6410", "--project", "19"}, {"--siblings"}, "kind 4)", true},
        Family{"Project19BehindTheMcuKind5", {"--cpu", "MSTAR786", "--project", "19"}, {"--siblings"}, "kind 5)", true}),
    [](const ::testing::TestParamInfo<Family>& info) { return std::string(info.param.name); });

// A random image packed as box.canbox beside the program (where the file
// dialog first looks), taken through the upgrade; the box's flash must then
// hold it.
void UpgradeAndCheckFlash(const TestUnit& unit, const std::vector<std::string>& serveArgs, uint32_t seed,
                          bool siblings) {
  std::mt19937 random(seed);
  std::string image(4096, '\0');
  for (char& c : image) c = static_cast<char>(random() & 0xFF);
  TempDir work;
  WriteFile(work.path() + "/image.bin", image);
  RunResult pack = RunProgram({Bin("kitpack"), "canbox", work.path() + "/box.canbox", work.path() + "/image.bin"});
  ASSERT_EQ(pack.exitCode, 0) << pack.out << pack.err;
  unit.Put(std::string(kModuleDir) + "box.canbox", ReadFile(work.path() + "/box.canbox"));

  Served serve(unit, WithBoxType(serveArgs));
  ASSERT_TRUE(serve.ready()) << serve.Output();
  RunResult r = Canprobe(unit,
                         "click 1019\n"
                         "select 1044 0\n"
                         "click 1\n"
                         "expect \"升级完成!\" 120000\n"
                         "close\n",
                         30000);
  EXPECT_FALSE(r.timedOut) << Diagnose(unit, r);
  EXPECT_EQ(r.exitCode, 0) << Diagnose(unit, r);
  EXPECT_NE(unit.Read("trace.log").find("HexFileName: box.canbox\n"), std::string::npos);
  if (siblings) ExpectFrontEndClosed(unit);
  const std::string flash = unit.Read("flash/canbox.bin");
  ASSERT_GE(flash.size(), image.size()) << Diagnose(unit, r);
  EXPECT_EQ(flash.substr(0, image.size()), image);
  // What follows the image is the box's erased flash.
  EXPECT_EQ(flash.substr(image.size()).find_first_not_of('\xFF'), std::string::npos);
}

TEST(CanprobeUpgradeE2E, RawBoxTakesTheImageFromTheFileDialog) {
  TestUnit unit({"--cpu", "S3C6410", "--project", "18"}, 0.1);
  UpgradeAndCheckFlash(unit, {"--canbox-only"}, 18, false);
}

// The loader commands go out unframed on COM4 and the MCU hands them to the
// box; the image then travels in the MCU's relay frames.
TEST(CanprobeUpgradeE2E, BoxBehindTheMcuKind4WithTheArbiter) {
  TestUnit unit({"--cpu", "S3C6410", "--project", "19"}, 0.1);
  UpgradeAndCheckFlash(unit, {"--siblings"}, 19, true);
}

// Field use: the jobs of the command line against a box on the device given
// with --port, on a unit made for the run.
std::vector<std::string> CanprobeField(const std::string& tmp, const std::string& port,
                                       std::vector<std::string> job) {
  std::vector<std::string> argv = {Bin("canprobe"), "--port", port, "--cpu", "S3C6410", "--project", "19"};
  argv.insert(argv.end(), job.begin(), job.end());
  return FieldRun(tmp, 0.1, argv);
}

TEST(CanprobeFieldE2E, UpgradeOnThePortProgramsTheImageAndReadsTheType) {
  TestUnit peer({"--cpu", "S3C6410", "--project", "19"}, 0.1);
  Served serve(peer, WithBoxType({"--no-arbiter"}));
  ASSERT_TRUE(serve.ready()) << serve.Output();
  TempDir work, tmp;
  const std::string image = ImageBytes(3000, 12);
  WriteFile(work.path() + "/image.bin", image);
  RunResult pack = RunProgram({Bin("kitpack"), "canbox", work.path() + "/fw.canbox", work.path() + "/image.bin"});
  ASSERT_EQ(pack.exitCode, 0) << pack.out << pack.err;
  RunResult r = RunProgram(CanprobeField(tmp.path(), serve.Pty("COM4"), {"--upgrade", work.path() + "/fw.canbox"}),
                           "", 60000);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::string flash = peer.Read("flash/canbox.bin");
  ASSERT_GE(flash.size(), image.size());
  EXPECT_EQ(flash.substr(0, image.size()), image);
  RunResult read = RunProgram(CanprobeField(tmp.path(), serve.Pty("COM4"), {"--read-type"}), "", 60000);
  EXPECT_EQ(read.exitCode, 0) << read.out << read.err;
  EXPECT_NE(read.out.find("VersionId:VZD3A000105"), std::string::npos) << read.out;
}

// A box that never answers and a device that does not exist both end in 1,
// the product's text on stderr and, for the device, its path and reason.
TEST(CanprobeFieldE2E, SilentBoxAndMissingDeviceFail) {
  TestUnit peer({"--cpu", "S3C6410", "--project", "19"}, 0.1);
  Served serve(peer, WithBoxType({"--no-arbiter", "--silent-after", "0"}));
  ASSERT_TRUE(serve.ready()) << serve.Output();
  TempDir tmp;
  const std::string missing = peer.dir() + "/ttyUSB9";
  for (const std::string& port : {serve.Pty("COM4"), missing}) {
    RunResult r = RunProgram(CanprobeField(tmp.path(), port, {"--read-type"}), "", 60000);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(r.err.find("没有收到CAN数据！"), 0u) << r.err;
    EXPECT_EQ(r.err.find(missing + ": No such file or directory") != std::string::npos, port == missing) << r.err;
  }
}

}  // namespace
}  // namespace hu::e2e
