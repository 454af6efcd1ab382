// Search and verdicts over an update folder: the updater's pack search
// (CPacksShearcher), its check pass (UpdateChecker::CheckUpdatePacks, as in
// an automatic run) and the slot fill (PreparePackSlots), on a unit made by
// `unitctl init` with its driver library, at several folder sizes.
//
//   cmake --build build --target bench_kit_search unitctl kitpack && build/bin/bench_kit_search
//
// Each "UpdateKitM" holds a mix that cycles through OS, boot, configuration
// and logo images, full and incremental application packs (made by kitpack),
// containers and files of no kind. Repetitions of the sizes are interleaved;
// the last lines print the median time of each size, the time per file, and
// the spread of the per-file times (1.00 would be perfectly linear).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "common/platform/host/host_platform.h"
#include "sysmend/app/installed_versions.h"
#include "sysmend/app/packs_shearcher.h"
#include "sysmend/app/update_checker.h"

namespace {

namespace fs = std::filesystem;
using namespace hu::bench;

const int kSizes[] = {250, 500, 1000, 2000};
const char kOsVersion[] = "3A1F0C01234567";

hu::HostPlatform* gPlatform = nullptr;

std::string KitFolder(int files) { return "\\StorageCard\\kit" + std::to_string(files) + "\\UpdateKitM"; }

// The kit files made once by kitpack, copied under each name they take.
struct Templates {
  std::string fullPack, incrementalPack, container;
};

bool MakeTemplates(const std::string& temp, Templates* t) {
  const std::string bin = BinDir();
  const std::string app = temp + "/app";
  WriteFile(app + "/Appvisor.exe", std::string(4096, 'A'));
  WriteFile(app + "/res/skin.dat", std::string(8192, 'S'));
  WriteFile(temp + "/os.nb0", std::string(16384, 'O'));
  t->fullPack = temp + "/full.auk";
  t->incrementalPack = temp + "/1.2.1.aukinc";  // named by its version
  t->container = temp + "/full.kvq";
  const std::string log = temp + "/kitpack.out";
  return Run({bin + "/kitpack", "auk", t->fullPack, app, "--version", "V1.2.0"}, log) == 0 &&
         Run({bin + "/kitpack", "aukinc", t->incrementalPack, app, "--version", "1.2.1"}, log) == 0 &&
         Run({bin + "/kitpack", "kvq", t->container, "--version", "V12X-0A1B2C3-V1.2.0", "--os", temp + "/os.nb0",
              "--app", t->fullPack},
             log) == 0;
}

void MakeKit(const std::string& hostFolder, int files, const Templates& t) {
  fs::create_directories(hostFolder);
  char name[64];
  for (int i = 0; i < files; ++i) {
    const unsigned n = static_cast<unsigned>(i);
    switch (i % 10) {
      case 0: std::snprintf(name, sizeof name, "3A1F0C0123%04X.nb0", n); break;
      case 1: std::snprintf(name, sizeof name, "1234%04X.bin", n); break;
      case 2: std::snprintf(name, sizeof name, "00A10000%04X.kvr", n); break;
      // The three logo names once each; later ones are bmp files of no slot.
      case 3: std::snprintf(name, sizeof name, "logo%u.bmp", n < 30 ? n / 10 + 1 : 1000 + n); break;
      case 4: std::snprintf(name, sizeof name, "app%04u.auk", n); break;
      case 5: std::snprintf(name, sizeof name, "inc%04u.aukinc", n); break;
      case 6: std::snprintf(name, sizeof name, "full%04u.kvq", n); break;
      case 7: std::snprintf(name, sizeof name, "readme%04u.txt", n); break;
      case 8: std::snprintf(name, sizeof name, "photo%04u.bmp", n); break;
      default: std::snprintf(name, sizeof name, "V1.%04u.nb0", n); break;
    }
    const std::string target = hostFolder + "/" + name;
    const std::string* source = i % 10 == 4 ? &t.fullPack : i % 10 == 5 ? &t.incrementalPack
                                : i % 10 == 6 ? &t.container : nullptr;
    if (source != nullptr) {
      fs::copy_file(*source, target, fs::copy_options::overwrite_existing);
    } else {
      WriteFile(target, std::string(1024 + i % 7 * 512, static_cast<char>('a' + i % 26)));
    }
  }
}

void BM_SearchAndVerdicts(benchmark::State& state, int files) {
  hu::HostPlatform& p = *gPlatform;
  hu::InstalledVersions installed(p.files(), p.registry(), p.library(), p.devices());
  const std::string folder = KitFolder(files);
  for (auto _ : state) {
    hu::CPacksShearcher shearcher(p.files(), p.codePage());
    hu::UpdateChecker checker(p.files(), p.codePage(), p.registry(), installed);
    hu::UpdatePlan plan;
    if (!shearcher.ShearchPacksInfoVec(folder) || !checker.CheckUpdatePacks(shearcher.m_pPackInfoVec(), true)) {
      state.SkipWithError("the search failed");
      break;
    }
    checker.PreparePackSlots(shearcher.m_pPackInfoVec(), folder, &plan);
    benchmark::DoNotOptimize(plan.lines.size());
  }
}

}  // namespace

int main(int argc, char** argv) {
  TempDir temp("hu_search_bench");
  if (!temp.ok()) return 1;
  const std::string unit = temp.path() + "/unit";
  if (Run({BinDir() + "/unitctl", "init", unit, "--os-version", kOsVersion, "--boot-version", "12345678",
           "--conf-version", "00A100000001", "--app-version", "V1.1.0"},
          temp.path() + "/init.out") != 0) {
    std::fprintf(stderr, "unitctl init failed: %s\n", ReadFile(temp.path() + "/init.out").c_str());
    return 1;
  }
  Templates templates;
  if (!MakeTemplates(temp.path(), &templates)) {
    std::fprintf(stderr, "kitpack failed: %s\n", ReadFile(temp.path() + "/kitpack.out").c_str());
    return 1;
  }
  for (int files : kSizes) {
    MakeKit(unit + "/fs/StorageCard/kit" + std::to_string(files) + "/UpdateKitM", files, templates);
    benchmark::RegisterBenchmark(("BM_SearchAndVerdicts/" + std::to_string(files)).c_str(), BM_SearchAndVerdicts,
                                 files)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1);
  }
  hu::HostOptions options;
  options.modulePath = "\\StorageCard\\Sysmend\\Sysmend.exe";
  options.commandLine = "auto";
  options.registerProcess = false;
  std::string error;
  std::unique_ptr<hu::HostPlatform> platform = hu::HostPlatform::Open(unit, options, &error);
  if (!platform) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  gPlatform = platform.get();
  std::map<std::string, double> medians = RunInterleaved(argc, argv, 5);
  double lowest = 0, highest = 0;
  for (int files : kSizes) {
    const double seconds = medians["BM_SearchAndVerdicts/" + std::to_string(files)];
    if (seconds <= 0) return 1;
    const double perFile = seconds / files;
    lowest = lowest == 0 ? perFile : std::min(lowest, perFile);
    highest = std::max(highest, perFile);
    std::printf("%5d files: %7.1f ms, %6.1f us a file\n", files, seconds * 1000, perFile * 1e6);
  }
  std::printf("search and verdicts, 1000 files: %.3f s (target under 1 s); per-file spread %.2f (largest / smallest)\n",
              medians["BM_SearchAndVerdicts/1000"], highest / lowest);
  return 0;
}
