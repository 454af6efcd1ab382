// CAN-box firmware upgrade over a pseudo-terminal, whole process: the real
// tool (canprobe) upgrades the raw box that `unitctl serve --canbox-only
// --pace` simulates, both directions at 115200 baud (10 bit times a byte).
//
//   cmake --build build --target bench_canbox_upgrade unitctl canprobe && build/bin/bench_canbox_upgrade [RUNS]
//
// The image is the largest a ".canbox" file can carry, 57344 bytes (16-bit
// record addresses from 0x2000): 448 blocks of 128 bytes. The unit (S3C6410,
// project type 18) runs at time scale 1. Measured: from "正在初始化" to
// "升级完成!" in the page's change log, that is the whole upgrade worker.
//
// The floor is what the upgrade itself spends waiting plus the wire time:
//   stage 0 (enter IAP)      3 tries 1000 ms apart, nothing to await: 3000 ms, then 1000 ms
//   stage 1 (erase)          one 20 ms poll for the answer, then 500 ms
//   stage 2 (program)        20 ms after each block before its answer is looked at
//   stages 3 and 4           one 20 ms poll each
//   vehicle type afterwards  100 ms + 400 ms for the first request pair
// and every byte the server counted both ways at 10 bits / 115200 baud. As
// each block's wire time (about 12 ms) passes within its 20 ms pause, the
// ratio to the waits alone is printed too: the tighter of the two.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "canprobe/canbox_file_maker.h"

namespace {

using namespace hu::bench;

constexpr size_t kImageBytes = 57344;
constexpr size_t kBlock = 128;
constexpr double kBaud = 115200.0;
constexpr char kModuleDir[] = "/fs/SDMMC/Canprobe/";

double WaitsSeconds() {
  const double blocks = static_cast<double>((kImageBytes + kBlock - 1) / kBlock);
  return (3000 + 1000) / 1000.0 + (20 + 500) / 1000.0 + blocks * 0.020 + 2 * 0.020 + (100 + 400) / 1000.0;
}

struct Result {
  double seconds = -1;
  double wire = 0;
};

Result OneRun(const std::string& bin, const std::string& temp, int run, const std::string& canbox,
              const std::vector<uint8_t>& image) {
  Result result;
  const std::string unit = temp + "/unit" + std::to_string(run);
  if (Run({bin + "/unitctl", "init", unit, "--cpu", "S3C6410", "--project", "18"}, temp + "/init.out") != 0) {
    std::fprintf(stderr, "unitctl init failed: %s\n", ReadFile(temp + "/init.out").c_str());
    return result;
  }
  WriteFile(unit + kModuleDir + "box.canbox", canbox);
  WriteFile(temp + "/script", "click 1019\nselect 1044 0\nclick 1\nexpect \"升级完成!\" 300000\nclose\n");
  const ServedRun r = RunServed(unit, {"--canbox-only", "--pace"}, "canprobe", temp);
  if (!r.served) return result;
  const long t0 = UiLogTime(r.uiLog, "正在初始化");
  const long t1 = UiLogTime(r.uiLog, "升级完成!");
  unsigned long long in = 0, out = 0;
  const std::string flash = ReadFile(unit + "/flash/canbox.bin");
  // The box must hold the image afterwards, or the run measured nothing.
  const bool flashed = flash.size() >= image.size() && std::equal(image.begin(), image.end(), flash.begin(),
                                                                  [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); });
  if (r.exitCode != 0 || t0 < 0 || t1 < 0 || !ServedBytes(r.serveOutput, "COM4", &in, &out) || !flashed) {
    std::fprintf(stderr, "upgrade failed (canprobe %d)\n%s\n%s", r.exitCode, r.programOutput.c_str(),
                 r.serveOutput.c_str());
    return result;
  }
  result.seconds = (t1 - t0) / 1000.0;
  result.wire = static_cast<double>(in + out) * 10.0 / kBaud;
  std::printf("run %d: upgrade %.3f s, %llu bytes sent, %llu answered, wire time %.3f s\n", run, result.seconds, in,
              out, result.wire);
  std::fflush(stdout);
  std::filesystem::remove_all(unit);
  return result;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  TempDir temp("hu_canbox_bench");
  if (!temp.ok()) return 1;
  std::mt19937 random(57344);
  std::vector<uint8_t> image(kImageBytes);
  for (uint8_t& b : image) b = static_cast<uint8_t>(random());
  std::string canbox, error;
  if (!hu::MakeCanboxFile(image, &canbox, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const double waits = WaitsSeconds();
  std::printf("image %zu bytes (%zu blocks), both directions paced at 115200 baud 8N1; the upgrade's own waits %.3f s\n",
              kImageBytes, (kImageBytes + kBlock - 1) / kBlock, waits);
  std::vector<double> toFloor, toWaits;
  for (int run = 1; run <= runs; ++run) {
    const Result r = OneRun(BinDir(), temp.path(), run, canbox, image);
    if (r.seconds < 0) return 1;
    toFloor.push_back(r.seconds / (waits + r.wire));
    toWaits.push_back(r.seconds / waits);
  }
  std::printf("CAN-box upgrade / (waits + wire time): median ratio %.3f over %d runs (target at most 1.1)\n",
              Median(toFloor), runs);
  std::printf("CAN-box upgrade / waits alone: median ratio %.3f\n", Median(toWaits));
  return 0;
}
