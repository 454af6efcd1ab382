#include "tests/e2e/power_cut_campaign.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <optional>

namespace hu::e2e {
namespace {
namespace fs = std::filesystem;

constexpr uint64_t kNoCut = ~uint64_t{0};
// Below \NandFlash\$KVR$: what the updater deletes after writing an image, so
// that the application rebuilds its defaults.
const char* const kConfigFiles[] = {"AppConfig/DeviceConfigEx.ini", "AppConfig/DeviceConfig.cfg",
                                    "AppConfig/DeviceConfigEx.cfg"};
const char* const kImages[] = {"os.img", "boot.img", "conf.img"};

RunResult Boot(const ScenarioUnit& unit, uint64_t cutAfter, uint64_t seed) {
  if (cutAfter != kNoCut) {
    ::setenv("HU_POWER_CUT_AFTER", std::to_string(cutAfter).c_str(), 1);
    ::setenv("HU_POWER_CUT_SEED", std::to_string(seed).c_str(), 1);
  }
  RunResult r = RunProgram({Bin("unitctl"), "boot", unit.dir(), "--max-boots", "12", "--", Bin("sysmend"), "auto"},
                           "", 120000);
  ::unsetenv("HU_POWER_CUT_AFTER");
  ::unsetenv("HU_POWER_CUT_SEED");
  return r;
}

bool ImageWritten(const ScenarioUnit& unit) {
  for (const char* image : kImages) {
    if (fs::exists(unit.dir() + "/flash/" + image)) return true;
  }
  return false;
}

// What a unit must be left with after one run of a scenario.
class Verdict {
 public:
  Verdict(const PowerCutKit& kit, UpdateFiles before) : kit_(kit), before_(std::move(before)) {
    oldKvrWithoutConfig_ = before_.kvr;
    for (const char* f : kConfigFiles) oldKvrWithoutConfig_.erase(f);
  }

  // The application an update from the kit installs, and the settings the
  // uninterrupted update left with it: a cut update that ends with the new
  // application must match them.
  void SetReference(const UpdateFiles& reference, bool loosePack) {
    if (!kit_.canInstall()) return;
    newApp_ = kit_.packedApp();
    // A loose pack's update brings back the old files the pack does not replace.
    if (loosePack) newApp_.insert(before_.app.begin(), before_.app.end());
    if (reference.app == newApp_) newKvr_ = reference.kvr;
  }
  const Tree& newApp() const { return newApp_; }

  // Empty when the unit keeps the promise after `run`.
  std::string Judge(const ScenarioUnit& unit, const RunResult& run) const {
    std::string fault = BootFault(run);
    if (!fault.empty()) return fault;
    const UpdateFiles after = UpdateFilesOf(unit.dir());
    fault = ApplicationFault(before_, {newApp_}, after);
    if (!fault.empty()) return fault;
    if (after.app == before_.app) {
      const bool configGone = kit_.writesImages() && ImageWritten(unit) && after.kvr == oldKvrWithoutConfig_;
      if (after.kvr != before_.kvr && !configGone) {
        return "the old application is back but \\NandFlash\\$KVR$ is not its own: " +
               TreeDifference(before_.kvr, after.kvr);
      }
    } else if (newKvr_ && after.kvr != *newKvr_) {
      return "the new application is in but \\NandFlash\\$KVR$ differs from the uninterrupted update's: " +
             TreeDifference(*newKvr_, after.kvr);
    }
    return "";
  }

 private:
  const PowerCutKit& kit_;
  UpdateFiles before_;
  Tree oldKvrWithoutConfig_;
  Tree newApp_;
  std::optional<Tree> newKvr_;
};

std::string CutStep(const ScenarioUnit& unit) {
  std::string step = ReadFile(unit.dir() + "/power-cut.log");
  while (!step.empty() && step.back() == '\n') step.pop_back();
  return step;
}

// A copy of a failed run's unit (the small disk's files included) for a look afterwards.
void Keep(const PowerCutCampaignOptions& options, const std::string& name, const ScenarioUnit& unit) {
  if (options.keepDir.empty()) return;
  const std::string to = options.keepDir + "/" + name;
  std::error_code ec;
  fs::remove_all(to, ec);
  fs::create_directories(to, ec);
  for (auto it = fs::recursive_directory_iterator(unit.dir(), ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const std::string target = to + "/" + it->path().lexically_relative(unit.dir()).string();
    if (it->is_directory()) {
      fs::create_directories(target, ec);
    } else if (it->is_regular_file()) {
      WriteFile(target, ReadFile(it->path().string()));
    }
  }
}

}  // namespace

std::vector<uint64_t> PowerCutPoints(uint64_t operations, int maxPoints) {
  std::vector<uint64_t> points;
  if (operations == 0 || maxPoints <= 0) return points;
  if (operations <= static_cast<uint64_t>(maxPoints) || maxPoints == 1) {
    for (uint64_t n = 1; n <= std::min<uint64_t>(operations, maxPoints); ++n) points.push_back(n);
    return points;
  }
  for (int i = 0; i < maxPoints; ++i) {
    points.push_back(1 + static_cast<uint64_t>(i) * (operations - 1) / static_cast<uint64_t>(maxPoints - 1));
  }
  return points;
}

PowerCutReport RunPowerCutCampaign(const PowerCutCampaignOptions& options) {
  PowerCutReport report;
  report.name = std::string(ScenarioName(options.scenario)) + (options.loosePack ? " (loose pack)" : " (container)");
  PowerCutKit kit(options.scenario, options.loosePack);
  if (!kit.Build(&report.setupError, &report.skipped)) return report;

  // An uninterrupted update, counting the operations.
  std::unique_ptr<ScenarioUnit> reference = kit.NewUnit(&report.setupError);
  if (!reference) return report;
  Verdict verdict(kit, UpdateFilesOf(reference->dir()));
  RunResult counted = Boot(*reference, 0, options.seed);
  const UpdateFiles referenceFiles = UpdateFilesOf(reference->dir());
  verdict.SetReference(referenceFiles, options.loosePack);
  std::string count = ReadFile(reference->dir() + "/power-cut.count");
  report.operations = count.empty() ? 0 : std::stoull(count);
  const bool endsNew = !verdict.newApp().empty() && referenceFiles.app == verdict.newApp();
  report.ending = endsNew ? "the new application" : "the old application";
  const std::string referenceFault = verdict.Judge(*reference, counted);
  if (options.scenario == PowerCutScenario::Success && (!referenceFault.empty() || !endsNew)) {
    report.setupError = "the uninterrupted update did not succeed: " +
                        (referenceFault.empty() ? DescribeBoot(counted) : referenceFault);
    return report;
  }
  if (report.operations == 0) {
    report.setupError = "the uninterrupted update made no file operation: " + DescribeBoot(counted);
    return report;
  }
  if (!referenceFault.empty()) {
    report.failures.push_back({0, "no power cut", referenceFault});
    Keep(options, std::string(ScenarioName(options.scenario)) + "-0", *reference);
  }
  reference.reset();

  std::vector<uint64_t> points = options.only.empty() ? PowerCutPoints(report.operations, options.maxPoints)
                                                      : options.only;
  for (uint64_t point : points) {
    PowerCutFailure failure;
    failure.point = point;
    std::unique_ptr<ScenarioUnit> unit = kit.NewUnit(&failure.what);
    if (unit) {
      RunResult cut = Boot(*unit, point, options.seed);
      failure.step = CutStep(*unit);
      failure.what = verdict.Judge(*unit, cut);
      // Only a kit that installs is expected to finish the update at a later boot.
      if (failure.what.empty() && options.scenario == PowerCutScenario::Success) {
        RunResult again = Boot(*unit, kNoCut, options.seed);
        failure.what = verdict.Judge(*unit, again);
        if (failure.what.empty() && UpdateFilesOf(unit->dir()).app != verdict.newApp()) {
          failure.what = "a later boot with the kit did not complete the update: " + DescribeBoot(again);
        }
      }
    }
    ++report.runs;
    if (failure.what.empty()) {
      ++report.survived;
    } else {
      report.failures.push_back(failure);
      if (unit) Keep(options, std::string(ScenarioName(options.scenario)) + "-" + std::to_string(point), *unit);
    }
    if (options.progress) {
      *options.progress << report.name << " point " << point << ": "
                        << (failure.what.empty() ? "survived" : failure.what) << " [" << failure.step << "]\n";
      options.progress->flush();
    }
  }
  return report;
}

}  // namespace hu::e2e
