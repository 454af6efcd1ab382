// MCU image transfer over a pseudo-terminal, whole process: the real updater
// (mcuflash) sends a 64 KiB block-family image to `unitctl serve --pace`,
// whose simulated MCU takes the frames and answers at line speed.
//
//   cmake --build build --target bench_mcu_transfer unitctl mcuflash portmaster && build/bin/bench_mcu_transfer [RUNS]
//
// The unit (MSTAR786, project type 19) runs at time scale 1, so the pacing is
// real line speed both ways: 10 bit times a byte at 115200 baud. Each run
// reports the transfer time (from "Mcu is updating now" to "Mcu update
// successfully!" in the dialog's change log), the bytes on the wire both ways
// as the server counted them and their wire time. Without faults every byte
// on the wire is a frame or an answer the protocol needs, so the wire time is
// the floor; the last line gives the median ratio over the runs (default 3).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"

namespace {

using namespace hu::bench;

constexpr size_t kImageBytes = 64 * 1024;
constexpr double kBaud = 115200.0;

std::string ImageText() {
  std::string s19 = S19Record(0x9FE0, {0, 0, 'S', 'T', 'M', '8', 'Q', 'X', '4', 'B'});
  for (size_t at = 0; at < kImageBytes; at += 32) {
    std::vector<unsigned char> data;
    for (size_t i = at; i < at + 32; ++i) data.push_back(static_cast<unsigned char>(i * 7 + 3));
    s19 += S19Record(static_cast<unsigned>(0xA000 + at), data);
  }
  return s19 + "S9030000FC\r\n";
}

// One transfer; its ratio to the wire time, or a negative value on failure.
double OneRun(const std::string& bin, const std::string& temp, int run) {
  const std::string unit = temp + "/unit" + std::to_string(run);
  if (Run({bin + "/unitctl", "init", unit, "--cpu", "MSTAR786", "--project", "19"}, temp + "/init.out") != 0) {
    std::fprintf(stderr, "unitctl init failed: %s\n", ReadFile(temp + "/init.out").c_str());
    return -1;
  }
  WriteFile(unit + "/fs/StorageCard/Mcuflash/bench.s19", ImageText());
  WriteFile(temp + "/script",
           "expect \"Find a valid file\" 20000\nclick 1000\nexpect \"Mcu update successfully!\" 600000\nclose\n");
  const ServedRun r = RunServed(unit, {"--pace"}, "mcuflash", temp);
  if (!r.served) return -1;
  const long t0 = UiLogTime(r.uiLog, "Mcu is updating now");
  const long t1 = UiLogTime(r.uiLog, "Mcu update successfully!");
  unsigned long long in = 0, out = 0;
  if (r.exitCode != 0 || t0 < 0 || t1 < 0 || !ServedBytes(r.serveOutput, "COM4", &in, &out)) {
    std::fprintf(stderr, "transfer failed (mcuflash %d)\n%s\n%s", r.exitCode, r.programOutput.c_str(),
                 r.serveOutput.c_str());
    return -1;
  }
  const double seconds = (t1 - t0) / 1000.0;
  const double wire = static_cast<double>(in + out) * 10.0 / kBaud;
  std::printf("run %d: transfer %.3f s, %llu bytes sent, %llu answered, wire time %.3f s, ratio %.3f\n", run,
              seconds, in, out, wire, seconds / wire);
  std::fflush(stdout);
  std::filesystem::remove_all(unit);
  return seconds / wire;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  TempDir temp("hu_mcu_bench");
  if (!temp.ok()) return 1;
  std::printf("image %zu bytes (block family, 128-byte blocks), both directions paced at 115200 baud 8N1\n",
              kImageBytes);
  std::vector<double> ratios;
  for (int run = 1; run <= runs; ++run) {
    const double ratio = OneRun(BinDir(), temp.path(), run);
    if (ratio < 0) return 1;
    ratios.push_back(ratio);
  }
  std::sort(ratios.begin(), ratios.end());
  std::printf("MCU transfer / wire time: median ratio %.3f over %d runs (target at most 1.15)\n",
              ratios[ratios.size() / 2], runs);
  return 0;
}
