// The MCU updater run for real against `unitctl serve`: the simulated MCU on a
// pseudo-terminal and the serial arbiter started on the unit.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"

namespace hu::e2e {
namespace {

// The bytes from 0xA000 that the S1 records of a text carry.
std::string DecodeFromA000(const std::string& text) {
  std::string image;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? text.size() : end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (line.size() < 10 || line[0] != 'S' || line[1] != '1') continue;
    const uint32_t count = std::stoul(line.substr(2, 2), nullptr, 16);
    const uint32_t address = std::stoul(line.substr(4, 4), nullptr, 16);
    if (address < 0xA000 || line.size() < 4 + 2 * count) continue;
    const size_t at = address - 0xA000;
    const size_t n = count - 3;
    if (image.size() < at + n) image.resize(at + n, '\0');
    for (size_t i = 0; i < n; ++i) image[at + i] = static_cast<char>(std::stoul(line.substr(8 + 2 * i, 2), nullptr, 16));
  }
  return image;
}

RunResult Mcuflash(const TestUnit& unit, const std::string& script, int timeoutMs = 30000) {
  return RunProgram({Bin("mcuflash"), "--unit", unit.dir(), "--ui", "script", "--input", "-"}, script, timeoutMs);
}

const char kUpdateScript[] =
    "expect \"Find a valid file\"\n"
    "click 1000\n"
    "expect \"Mcu update successfully!\" 60000\n"
    "close\n";

TEST(McuflashE2E, BlockFamilyImageArrivesWhole) {
  TestUnit unit({"--cpu", "MSTAR786", "--project", "19"}, 0.1);
  const std::string image = ImageBytes(3000, 1);
  unit.Put("StorageCard/Mcuflash/app.s19", S19Text(image));
  Served serve(unit, {});
  ASSERT_TRUE(serve.ready()) << serve.Output();
  EXPECT_NE(serve.Output().find("(mcu, block family, 115200, can box behind it, kind 5)"), std::string::npos);
  RunResult r = Mcuflash(unit, kUpdateScript);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  // The last block goes whole: the image up to the next 128 bytes, filled with zeros.
  const std::string written = unit.Read("flash/mcu.bin");
  ASSERT_EQ(written.size(), 3072u);
  EXPECT_EQ(written.substr(0, image.size()), image);
  EXPECT_EQ(written.substr(image.size()), std::string(3072 - image.size(), '\0'));
}

TEST(McuflashE2E, LineFamilyKeepsTheRecordLines) {
  TestUnit unit({}, 0.1);
  const std::string image = ImageBytes(2048, 2);
  unit.Put("StorageCard/Mcuflash/app.s19", S19Text(image));
  Served serve(unit, {});
  ASSERT_TRUE(serve.ready()) << serve.Output();
  EXPECT_NE(serve.Output().find("(mcu, line family, 115200)"), std::string::npos);
  RunResult r = Mcuflash(unit, kUpdateScript);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  ASSERT_TRUE(unit.Exists("flash/mcu.s19"));
  EXPECT_EQ(DecodeFromA000(unit.Read("flash/mcu.s19")), image);
  EXPECT_FALSE(unit.Exists("flash/mcu.bin"));
}

TEST(McuflashE2E, TwoSizePlatformPicksThe128KFileAndWritesTheFlag) {
  TestUnit unit({"--cpu", "MSTAR2521", "--project", "19"}, 0.1);
  const std::string small = ImageBytes(1024, 3);
  const std::string large = ImageBytes(1536, 4);
  unit.Put("StorageCard/Mcuflash/3900R_64K.s19", S19Text(small));
  unit.Put("StorageCard/Mcuflash/3900R_128K.s19", S19Text(large));
  Served serve(unit, {"--mcu-version", "3900R20130101"});
  ASSERT_TRUE(serve.ready()) << serve.Output();
  RunResult r = Mcuflash(unit, kUpdateScript);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("3900R_128K.s19"), std::string::npos) << r.out;
  EXPECT_EQ(unit.Read("flash/mcu.bin"), large);
  EXPECT_FALSE(unit.ReadDevice("\\StorageCard\\Mcuflash\\McuflashFlag.cfg").empty());
}

TEST(McuflashE2E, LostAndDamagedAnswersAreRecovered) {
  TestUnit unit({"--cpu", "MSTAR786", "--project", "19"}, 0.1);
  const std::string image = ImageBytes(4096, 5);
  unit.Put("StorageCard/Mcuflash/app.s19", S19Text(image));
  Served serve(unit, {"--loss", "0.05", "--corrupt", "0.02", "--seed", "7"});
  ASSERT_TRUE(serve.ready()) << serve.Output();
  RunResult r = Mcuflash(unit, kUpdateScript, 60000);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(unit.Read("flash/mcu.bin"), image);
}

TEST(McuflashE2E, SilentMcuEndsInTheFailureAndTheProgramStillCloses) {
  TestUnit unit({"--cpu", "MSTAR786", "--project", "19"}, 0.1);
  unit.Put("StorageCard/Mcuflash/app.s19", S19Text(ImageBytes(4096, 6)));
  Served serve(unit, {"--silent-after", "10"});
  ASSERT_TRUE(serve.ready()) << serve.Output();
  RunResult r = Mcuflash(unit,
                         "expect \"Find a valid file\"\n"
                         "click 1000\n"
                         "expect \"Sorry! Update unsuccessfully!Maybe serial communication problem\" 600000\n"
                         "close\n",
                         60000);
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.out.find("Mcu update successfully!"), std::string::npos);
}

TEST(McuflashE2E, StubbornArbiterIsEndedAndThePortTaken) {
  // Half speed: the pause after ending the arbiter must let its port go even on a busy machine.
  TestUnit unit({"--cpu", "MSTAR786", "--project", "19"}, 0.5);
  const std::string image = ImageBytes(1024, 7);
  unit.Put("StorageCard/Mcuflash/app.s19", S19Text(image));
  Served serve(unit, {"--arbiter", "stubborn"});
  ASSERT_TRUE(serve.ready()) << serve.Output();
  RunResult before = RunProgram({Bin("unitctl"), "ps", unit.dir()});
  EXPECT_NE(before.out.find("Portmaster.exe"), std::string::npos) << before.out;
  auto start = std::chrono::steady_clock::now();
  RunResult r = Mcuflash(unit, kUpdateScript, 60000);
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(unit.Read("flash/mcu.bin"), image);
  // The hand-over waits out its retries (about 7 s of unit time) before ending the arbiter.
  EXPECT_GT(seconds, 2.5);
  RunResult after = RunProgram({Bin("unitctl"), "ps", unit.dir()});
  EXPECT_EQ(after.out.find("Portmaster.exe"), std::string::npos) << after.out;
}

TEST(McuflashE2E, KeyConfigurationIsWrittenAndReadBack) {
  TestUnit unit({"--cpu", "MSTAR786", "--project", "19"}, 0.1);
  unit.Put("StorageCard/Mcuflash/app.s19", S19Text(ImageBytes(512, 8)));
  std::string key(1032, 'h');
  std::string config;
  for (int i = 0; i < 119; ++i) config += static_cast<char>(0x20 + (i * 5) % 90);
  key += config;
  unit.Put("StorageCard/Mcuflash/unit.key", key);
  Served serve(unit, {});
  ASSERT_TRUE(serve.ready()) << serve.Output();
  RunResult r = Mcuflash(unit,
                         "expect \"Find a valid file\"\n"
                         "click 1011\n"
                         "expect \"Please click 'Start' button to update\"\n"
                         "click 1008\n"
                         "expect \"Mcu Key update successfully!\" 60000\n"
                         "close\n"
                         "close\n");
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(unit.Read("flash/mcu.key"), config);
}

// Field use: the image given on the command line goes to the device given
// with --port, with no unit prepared; the unit made for it is gone afterwards.
TEST(McuflashFieldE2E, ImageOnThePortArrivesWholeAndTheRunLeavesNothing) {
  TestUnit peer({"--cpu", "MSTAR786", "--project", "19"}, 0.1);
  Served serve(peer, {"--no-arbiter"});
  ASSERT_TRUE(serve.ready()) << serve.Output();
  TempDir work, tmp;
  const std::string image = ImageBytes(3000, 9);
  WriteFile(work.path() + "/app.s19", S19Text(image));
  RunResult r = RunProgram(FieldRun(tmp.path(), 0.1,
                                    {Bin("mcuflash"), "--port", serve.Pty("COM4"), "--cpu", "MSTAR786", "--project",
                                     "19", work.path() + "/app.s19"}),
                           "", 60000);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Mcu update successfully!"), std::string::npos) << r.out;
  const std::string written = peer.Read("flash/mcu.bin");
  ASSERT_EQ(written.size(), 3072u);
  EXPECT_EQ(written.substr(0, image.size()), image);
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
}

struct FieldFailure {
  const char* name;
  std::vector<std::string> serve;  // empty: no peer, a device that does not exist
  const char* says;                // on stderr
};

class McuflashFieldFailureE2E : public ::testing::TestWithParam<FieldFailure> {};

TEST_P(McuflashFieldFailureE2E, EndsWithOneAndTheReasonOnStderr) {
  const FieldFailure& failure = GetParam();
  TestUnit peer({"--cpu", "MSTAR786", "--project", "19"}, 0.1);
  std::unique_ptr<Served> serve;
  std::string port = peer.dir() + "/ttyUSB9";
  if (!failure.serve.empty()) {
    serve = std::make_unique<Served>(peer, failure.serve);
    ASSERT_TRUE(serve->ready()) << serve->Output();
    port = serve->Pty("COM4");
  }
  TempDir work, tmp;
  WriteFile(work.path() + "/app.s19", S19Text(ImageBytes(2048, 10)));
  RunResult r = RunProgram(
      FieldRun(tmp.path(), 0.1,
               {Bin("mcuflash"), "--port", port, "--cpu", "MSTAR786", "--project", "19", work.path() + "/app.s19"}),
      "", 60000);
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  std::string says = failure.says;
  if (failure.serve.empty()) says += port + ": No such file or directory";
  EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Peers, McuflashFieldFailureE2E,
    ::testing::Values(
        FieldFailure{"SilentMcu", {"--no-arbiter", "--silent-after", "0"},
                     "Sorry! Update unsuccessfully!Maybe serial communication problem"},
        FieldFailure{"MissingDevice", {}, "Sorry! Init unsuccessfully!The serial port may be busy\n"}),
    [](const ::testing::TestParamInfo<FieldFailure>& info) { return std::string(info.param.name); });

// On a prepared unit whose port is not mapped: the image given goes beside
// the program, and `unitctl boot` hands on the updater's code.
TEST(McuflashFieldE2E, BootReturnsTheCodeOfAnUpdateWithoutAPort) {
  TestUnit unit({"--cpu", "MSTAR786", "--project", "19"}, 0.01);
  TempDir work;
  WriteFile(work.path() + "/app.s19", S19Text(ImageBytes(512, 11)));
  RunResult r = RunProgram({Bin("unitctl"), "boot", unit.dir(), "--", Bin("mcuflash"), work.path() + "/app.s19"});
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("COM4: not in [ports] of unit.ini"), std::string::npos) << r.err;
  EXPECT_FALSE(unit.ReadDevice("\\StorageCard\\Mcuflash\\app.s19").empty());
}

}  // namespace
}  // namespace hu::e2e
