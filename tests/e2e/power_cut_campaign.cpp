#include "tests/e2e/power_cut_campaign.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "tests/e2e/e2e_support.h"

namespace hu::e2e {
namespace {
namespace fs = std::filesystem;

using Tree = std::map<std::string, std::string>;

const char kOs[] = "3A1F0C01234567";
const char kBoot[] = "12345678";
constexpr uint64_t kNoCut = ~uint64_t{0};

// User files on NandFlash that no update may touch; $KVR$ is the update's own.
Tree UserFiles(const TestUnit& unit) {
  Tree all = TreeOf(unit.Fs("NandFlash"));
  for (auto it = all.begin(); it != all.end();) {
    it = it->first.rfind("$KVR$", 0) == 0 ? all.erase(it) : std::next(it);
  }
  return all;
}

// An installed application 1.0.0 with user data, and a kit for 1.1.0 on the card.
class Scenario {
 public:
  explicit Scenario(bool loosePack) : loosePack_(loosePack) {}

  bool Build(std::string* error) {
    WriteFile(app_.path() + "/Appvisor.exe", "application 1.1.0");
    WriteFile(app_.path() + "/Skin/a.skn", "new skin");
    WriteFile(app_.path() + "/Maps/maps.dat", ImageBytes(70000, 3));
    WriteFile(app_.path() + "/Maps/index.dat", ImageBytes(3000, 4));
    RunResult pack = RunProgram({Bin("kitpack"), "auk", kit_.path() + "/app.auk", app_.path(), "--version", "1.1.0"});
    if (loosePack_) {
      if (pack.exitCode == 0) return true;
      *error = "cannot build the pack: " + pack.err;
      return false;
    }
    WriteFile(work_.path() + "/os.nb0", "OS");
    WriteFile(work_.path() + "/boot.bin", "BOOT");
    RunResult kit = RunProgram({Bin("kitpack"), "kvq", kit_.path() + "/full.kvq", "--version",
                                std::string(kBoot) + "X-" + kOs + "-1.1.0", "--boot", work_.path() + "/boot.bin",
                                "--os", work_.path() + "/os.nb0", "--app", kit_.path() + "/app.auk"});
    fs::remove(kit_.path() + "/app.auk");
    if (pack.exitCode != 0 || kit.exitCode != 0) {
      *error = "cannot build the kit: " + pack.err + kit.err;
      return false;
    }
    return true;
  }

  std::unique_ptr<TestUnit> NewUnit() const {
    auto unit = std::make_unique<TestUnit>(std::vector<std::string>{
        "--os-version", kOs, "--boot-version", kBoot, "--conf-version", "00A100000001", "--app-version", "1.0.0"});
    unit->Put("Dravik/$KVR$/App/Appvisor.exe", "application 1.0.0");
    unit->Put("Dravik/$KVR$/App/Skin/a.skn", "old skin");
    unit->Put("Dravik/$KVR$/App/Skin/b.skn", "old second skin");
    unit->Put("NandFlash/$KVR$/AppConfig/DeviceConfig.cfg", "settings");
    unit->Put("NandFlash/Music/song.mp3", ImageBytes(40000, 5));
    unit->Put("NandFlash/Music/Live/other.mp3", "another song");
    unit->Put("NandFlash/notes.txt", "notes");
    // An earlier update succeeded and the head unit staged the kit: backups are made.
    unit->Put("Dravik/$KVR$/KitUpdated.flg", std::string("app Update Flag!", 17));
    unit->Put("StorageCard/Sysmend/UpdatePathInfo.ini", "[Ver]\r\nVersion=1.0\r\n[Q7UpdatePacks]\r\n");
    fs::create_directories(unit->Fs("StorageCard/UpdateKitM"));
    fs::copy(kit_.path(), unit->Fs("StorageCard/UpdateKitM"), fs::copy_options::recursive);
    return unit;
  }

 private:
  bool loosePack_;
  TempDir app_, kit_, work_;
};

RunResult Boot(const TestUnit& unit, uint64_t cutAfter, uint64_t seed) {
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

bool Settled(const RunResult& r) {
  return !r.timedOut && (r.exitCode == 0 || r.exitCode == 1 || r.exitCode == 4) &&
         r.err.find("rebooted again after") == std::string::npos && r.out.find("crashed") == std::string::npos;
}

// The end of what the boot tool said: the last boot and any error.
std::string Describe(const RunResult& r) {
  if (r.timedOut) return "hung";
  std::string text = r.out;
  while (!text.empty() && text.back() == '\n') text.pop_back();
  size_t cut = text.rfind("\nboot ");
  if (cut != std::string::npos) text = text.substr(cut + 1);
  text = text.substr(0, text.find('\n'));
  std::string err = r.err;
  while (!err.empty() && err.back() == '\n') err.pop_back();
  return "exit " + std::to_string(r.exitCode) + ": " + text + (err.empty() ? "" : "; " + err);
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
  Scenario scenario(options.loosePack);
  if (!scenario.Build(&report.setupError)) return report;

  // An uninterrupted update, counting the operations; its result is the new application.
  std::unique_ptr<TestUnit> reference = scenario.NewUnit();
  const Tree oldApp = TreeOf(reference->Fs("Dravik/$KVR$/App"));
  const Tree userFiles = UserFiles(*reference);
  RunResult counted = Boot(*reference, 0, options.seed);
  const Tree newApp = TreeOf(reference->Fs("Dravik/$KVR$/App"));
  std::string count = ReadFile(reference->dir() + "/power-cut.count");
  report.operations = count.empty() ? 0 : std::stoull(count);
  if (counted.exitCode != 0 || newApp.count("Appvisor.exe") == 0 || newApp.at("Appvisor.exe") != "application 1.1.0" ||
      report.operations == 0 || UserFiles(*reference) != userFiles) {
    report.setupError = "the uninterrupted update did not succeed: " + Describe(counted);
    return report;
  }

  std::vector<uint64_t> points = options.only.empty() ? PowerCutPoints(report.operations, options.maxPoints)
                                                      : options.only;
  for (uint64_t point : points) {
    std::unique_ptr<TestUnit> unit = scenario.NewUnit();
    RunResult cut = Boot(*unit, point, options.seed);
    PowerCutFailure failure;
    failure.point = point;
    failure.step = ReadFile(unit->dir() + "/power-cut.log");
    while (!failure.step.empty() && failure.step.back() == '\n') failure.step.pop_back();
    const Tree app = TreeOf(unit->Fs("Dravik/$KVR$/App"));
    // A boot that ends with the updater's own result (done, failed, nothing
    // to do) has settled; a crash or the boot bound has not.
    if (!Settled(cut)) {
      failure.what = "the unit did not settle: " + Describe(cut);
    } else if (app != oldApp && app != newApp) {
      failure.what = app.empty() ? "the application folder is missing or empty"
                                 : "the application folder is neither the old nor the new application";
    } else if (UserFiles(*unit) != userFiles) {
      failure.what = "user files on NandFlash changed";
    } else {
      RunResult again = Boot(*unit, kNoCut, options.seed);
      if (!Settled(again) || again.exitCode == 1 || TreeOf(unit->Fs("Dravik/$KVR$/App")) != newApp) {
        failure.what = "a later boot with the kit did not complete the update: " + Describe(again);
      } else if (UserFiles(*unit) != userFiles) {
        failure.what = "user files on NandFlash changed by the later boot";
      }
    }
    ++report.runs;
    if (failure.what.empty()) {
      ++report.survived;
    } else {
      report.failures.push_back(failure);
    }
    if (options.progress) {
      *options.progress << "point " << point << ": " << (failure.what.empty() ? "survived" : failure.what) << " ["
                        << failure.step << "]\n";
      options.progress->flush();
    }
  }
  return report;
}

}  // namespace hu::e2e
