// MCU firmware updates and CAN-box upgrades against `unitctl serve` with a
// random mix of faults on the peers' answers. Each run must end in success
// with the image on the simulated peer byte for byte, or in the program's
// failure text, within a time derived from the program's retry budget.
//   serial_fault_campaign [--mcu-runs N] [--canbox-runs N] [--seed S] [--bin DIR] [--replay SEED]
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <sstream>

#include "tests/e2e/e2e_support.h"
#include "tests/reliability/campaign.h"

namespace hu::reliability {
namespace {

using e2e::Bin;
using e2e::TestUnit;

constexpr double kTimeScale = 0.1;
// Real time beyond the scaled retry budget: process starts, the serial
// arbiter's hand-over and a busy machine.
constexpr int kSlackMs = 20000;
constexpr uint32_t kFrameBudgetMs = 3000;  // unit time a frame has before the program gives up

// --keep: where the unit and the program's output of each failed run are copied.
std::string g_keepDir;

const char* const kOutcomes[] = {"succeeded exact", "failed cleanly", "hung", "wrong image", "crashed"};

struct FaultMix {
  double loss = 0, corrupt = 0, duplicate = 0, garbage = 0;
  uint32_t seed = 1;

  // Each fault is present in half of the runs, at up to its maximum.
  static FaultMix Random(std::mt19937& random, uint32_t seed) {
    auto maybe = [&random](double max) {
      const bool on = random() % 2 == 0;
      const double p = std::uniform_real_distribution<double>(0.0, max)(random);
      return on ? static_cast<int>(p * 1000) / 1000.0 : 0.0;
    };
    FaultMix m;
    m.loss = maybe(0.3);
    m.corrupt = maybe(0.2);
    m.duplicate = maybe(0.3);
    m.garbage = maybe(0.3);
    m.seed = seed;
    return m;
  }

  std::vector<std::string> ServeArgs() const {
    auto text = [](double v) {
      std::ostringstream s;
      s << v;
      return s.str();
    };
    return {"--loss", text(loss), "--corrupt", text(corrupt), "--duplicate", text(duplicate),
            "--garbage", text(garbage), "--seed", std::to_string(seed)};
  }
};

std::string Joined(const std::vector<std::string>& words) {
  std::string s;
  for (const std::string& w : words) s += (s.empty() ? "" : " ") + w;
  return s;
}

// One peer kind: the unit's platform, how it is served, the program, its
// script and texts, and how the image must arrive.
struct Target {
  const char* name;
  std::vector<std::string> init;
  std::vector<std::string> serve;
  bool blockFamily = false;  // an MCU that keeps binary blocks
};

struct RunPlan {
  uint32_t seed = 0;
  const Target* target = nullptr;
  FaultMix faults;
  std::string image;

  std::string Describe() const {
    return "run seed " + std::to_string(seed) + ", " + target->name + " (" + Joined(target->init) + "), " +
           std::to_string(image.size()) + "-byte image, serve " + Joined(target->serve) +
           (target->serve.empty() ? "" : " ") + Joined(faults.ServeArgs());
  }
};

template <size_t N>
RunPlan Plan(uint32_t seed, const Target (&targets)[N], uint32_t minImage, uint32_t maxImage) {
  std::mt19937 random(seed);
  RunPlan plan;
  plan.seed = seed;
  plan.target = &targets[random() % N];
  plan.faults = FaultMix::Random(random, seed);
  plan.image = RandomBytes(random, Between(random, minImage, maxImage));
  return plan;
}

Ending Crash(const std::string& why) {
  Ending e;
  e.kind = Ending::Kind::Crashed;
  e.detail = why;
  return e;
}
Ending NotServed() { return Crash("unitctl serve did not come up"); }

std::string Padded(std::string bytes, size_t block, char fill) {
  bytes.resize((bytes.size() + block - 1) / block * block, fill);
  return bytes;
}

// What one run came to, into the tally; `sent` is what the peer must hold
// after a success. The run's line for --verbose.
std::string Judge(Tally& tally, const RunPlan& plan, const TestUnit& unit, const Ending& ending,
                  const std::string& success, const std::string& flashFile, const std::string& sent) {
  const std::string what = plan.Describe();
  auto fail = [&](const char* outcome, const std::string& why) {
    tally.Fail(outcome, what + ": " + why);
    if (!g_keepDir.empty()) {
      const std::string kept = g_keepDir + "/" + std::to_string(plan.seed);
      CopyTree(unit.dir(), kept + "/unit");
      e2e::WriteFile(kept + "/stdout", ending.out);
      e2e::WriteFile(kept + "/stderr", ending.err);
    }
    return std::string(outcome) + ", " + what + ": " + why;
  };
  if (ending.kind == Ending::Kind::Hung) return fail("hung", ending.detail);
  if (ending.kind == Ending::Kind::Crashed) return fail("crashed", ending.detail);
  if (ending.result != success) {
    tally.Add("failed cleanly");
    return "failed cleanly (\"" + ending.result + "\"), " + what;
  }
  if (!unit.Exists(flashFile)) return fail("wrong image", "success without " + flashFile);
  const std::string held = unit.Read(flashFile);
  if (held != sent) {
    size_t at = 0;
    while (at < held.size() && at < sent.size() && held[at] == sent[at]) ++at;
    return fail("wrong image", flashFile + " holds " + std::to_string(held.size()) + " bytes, " +
                                   std::to_string(sent.size()) + " sent, first difference at " + std::to_string(at));
  }
  tally.Add("succeeded exact");
  return "succeeded exact, " + what;
}

// The block family keeps the bytes from 0xA000 in whole blocks of zeros; the
// line family keeps the record lines as sent.
const Target kMcuTargets[] = {
    {"mcu block family, can box behind it", {"--cpu", "MSTAR786", "--project", "19"}, {}, true},
    {"mcu block family", {"--cpu", "S5P6450", "--project", "20"}, {}, true},
    {"mcu line family", {"--cpu", "S3C6410", "--project", "18"}, {}},
    {"mcu line family, can box behind it", {"--cpu", "S5P6450", "--project", "19"}, {}},
};

std::string McuRun(uint32_t seed, Tally& tally) {
  const RunPlan plan = Plan(seed, kMcuTargets, 256, 6144);
  const bool block = plan.target->blockFamily;
  TestUnit unit(plan.target->init, kTimeScale);
  const std::string s19 = e2e::S19Text(plan.image);
  unit.Put("StorageCard/Mcuflash/app.s19", s19);
  e2e::Served serve(unit, plan.faults.ServeArgs());
  if (!serve.ready()) return Judge(tally, plan, unit, NotServed(), "", "", "");
  // Blocks of 128 bytes or records of 32, the start and end blocks, the
  // platform tag and the end record; every frame may use its budget twice
  // (once from its own time-outs, once after an answer asked for it again),
  // and the port hand-over and version query come first.
  const uint32_t frames = static_cast<uint32_t>(plan.image.size() / (block ? 128 : 32)) + 5;
  const int budgetMs = static_cast<int>((10000 + frames * kFrameBudgetMs * 2) * kTimeScale) + kSlackMs;
  const char kSuccess[] = "Mcu update successfully! Please restart the machine";
  const Ending ending = RunToResult(
      {Bin("mcuflash"), "--unit", unit.dir(), "--ui", "script", "--input", "-"},
      "expect \"Find a valid file\" 60000\nclick 1000\n",
      {kSuccess, "Sorry! Update unsuccessfully!Maybe serial communication problem",
       "Sorry! Can not find the updated file or the file is damaged.please put *.s19 in current path",
       "Sorry! Init unsuccessfully!The serial port may be busy"},
      "close\n", budgetMs);
  return Judge(tally, plan, unit, ending, kSuccess, block ? "flash/mcu.bin" : "flash/mcu.s19",
        block ? Padded(plan.image, 128, '\0') : s19);
}

// The box on its own line, and behind the MCU in either relay framing (the
// unit's own programs run there and are closed by the tool).
const Target kBoxTargets[] = {
    {"can box raw", {"--cpu", "S3C6410", "--project", "18"}, {"--canbox-only"}},
    {"can box behind the mcu, kind 4", {"--cpu", "S3C6410", "--project", "19"}, {"--siblings"}},
    {"can box behind the mcu, kind 5", {"--cpu", "MSTAR786", "--project", "19"}, {"--siblings"}},
};

std::string CanBoxRun(uint32_t seed, Tally& tally) {
  const RunPlan plan = Plan(seed, kBoxTargets, 512, 6144);
  TestUnit unit(plan.target->init, kTimeScale);
  e2e::TempDir work;
  e2e::WriteFile(work.path() + "/image.bin", plan.image);
  const e2e::RunResult pack =
      e2e::RunProgram({Bin("kitpack"), "canbox", work.path() + "/box.canbox", work.path() + "/image.bin"});
  if (pack.exitCode != 0) return Judge(tally, plan, unit, Crash("kitpack canbox: " + pack.err), "", "", "");
  unit.Put("SDMMC/Canprobe/box.canbox", e2e::ReadFile(work.path() + "/box.canbox"));
  std::vector<std::string> args = plan.target->serve;
  for (const std::string& a : plan.faults.ServeArgs()) args.push_back(a);
  e2e::Served serve(unit, args);
  if (!serve.ready()) return Judge(tally, plan, unit, NotServed(), "", "", "");
  // Three blocks' tries of a second each; the other stages, the closing of
  // the unit's programs and the vehicle-type read after the upgrade take
  // about 40 s of unit time together, a failed stage and its clean-up 15 s more.
  const uint32_t blocks = static_cast<uint32_t>((plan.image.size() + 127) / 128);
  const int budgetMs = static_cast<int>((60000 + blocks * kFrameBudgetMs) * kTimeScale) + kSlackMs;
  const char kSuccess[] = "升级完成!";
  const Ending ending = RunToResult(
      {Bin("canprobe"), "--unit", unit.dir(), "--ui", "script", "--input", "-"},
      "click 1019\nselect 1044 0\nclick 1\n", {kSuccess, "升级失败!!!", "擦除IAP标志失败!", "解析升级文件包错误!"},
      "close\n", budgetMs);
  return Judge(tally, plan, unit, ending, kSuccess, "flash/canbox.bin", Padded(plan.image, 128, '\xFF'));
}

int Run(int argc, char** argv) {
  int mcuRuns = 200, boxRuns = 100;
  uint32_t seed = 1;
  int64_t replay = -1;
  std::string bin = e2e::BinDir();
  bool verbose = false;
  CLI::App app{"Serial fault campaign: mcuflash and canprobe against the simulated MCU and CAN box"};
  app.add_option("--mcu-runs", mcuRuns, "MCU firmware updates (default 200)")->check(CLI::Range(0, 100000));
  app.add_option("--canbox-runs", boxRuns, "CAN-box upgrades (default 100)")->check(CLI::Range(0, 100000));
  app.add_option("--seed", seed, "Seed of the runs' seeds (default 1)");
  app.add_option("--replay", replay, "Only one run of each kind asked for, with this run seed")
      ->check(CLI::Range(int64_t{0}, int64_t{0xFFFFFFFF}));
  app.add_option("--bin", bin, "Folder of the built executables");
  app.add_option("--keep", g_keepDir, "Copy the unit and output of each failed run into DIR/SEED");
  app.add_flag("-v,--verbose", verbose, "A line per run");
  CLI11_PARSE(app, argc, argv);
  UseBinFolder(bin);

  std::mt19937 seeds(seed);
  auto campaign = [&](const char* name, int runs, std::string (*one)(uint32_t, Tally&)) {
    Tally tally({std::begin(kOutcomes), std::end(kOutcomes)});
    if (replay >= 0) runs = std::min(runs, 1);
    for (int i = 0; i < runs; ++i) {
      const uint32_t runSeed = replay >= 0 ? static_cast<uint32_t>(replay) : static_cast<uint32_t>(seeds());
      const std::string line = one(runSeed, tally);
      if (verbose) std::cout << name << " run " << i + 1 << ": " << line << std::endl;
    }
    return tally;
  };
  const Tally mcu = campaign("mcu", mcuRuns, McuRun);
  const Tally box = campaign("can box", boxRuns, CanBoxRun);
  std::cout << mcu.Line("mcu") << "\n" << box.Line("can box") << "\n";
  for (const Tally* t : {&mcu, &box}) {
    for (const std::string& f : t->failures()) std::cout << "  " << f << "\n";
  }
  return mcu.failures().empty() && box.failures().empty() ? 0 : 1;
}

}  // namespace
}  // namespace hu::reliability

int main(int argc, char** argv) { return hu::reliability::Run(argc, argv); }
