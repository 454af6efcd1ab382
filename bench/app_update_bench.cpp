// The whole application update from a loose pack: `unitctl boot UNIT --
// sysmend auto` from the start of the updater to the start of the new
// application (both backups, phase 1, the reboot, phase 2's unpack, the
// restore of what the pack did not bring, the flags, the backups deleted),
// against the floor of `cp -a` of the two backed-up partitions plus plain
// zlib extracting the pack's members into files; repetitions interleaved.
//
//   cmake --build build --target bench_app_update && build/bin/bench_app_update
//
// The application has 5,000 text-like files in 50 folders, 256 MiB (the old
// and the new one alike). HU_TIME_SCALE makes every pause of the written
// behaviour 0 (5 ms a file, the seconds before a reboot or a start). Each
// repetition of every side works on a fresh copy of a unit made at start,
// copied into a RunArea of its own and written back outside the timing. On a
// fresh file system for each the bench takes about 3 minutes; on the shared
// disk nothing is deleted before the end (see FreshTarget) and a run after
// one that deleted files waits a minute first (see WaitQuiet): about 10. The product's time
// also holds two process starts and the kit search, which the floor has not. A second reference adds to the floor
// the deletions the update makes (the old application before the unpack,
// the backups after it). The last line prints the medians and the ratios.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "common/platform/host/host_files.h"
#include "common/platform/testing/passthrough_code_page.h"
#include "sysmend/packages/pack_unzip.h"

namespace {

namespace fs = std::filesystem;
using namespace hu::bench;

constexpr int kTopFolders = 10;
constexpr int kSubFolders = 5;
constexpr int kFiles = 5000;
constexpr uint64_t kAppBytes = 256ull << 20;
// 5 ms times this is below a nanosecond: every pause becomes 0.
constexpr char kNoPauseScale[] = "1e-9";

struct Input {
  fs::path dir;
  fs::path tree;      // the application's files
  fs::path pack;      // kitpack auk of the tree
  fs::path templ;     // the unit every repetition copies
  std::vector<PackBody> bodies;
  bool failed = false;
};
Input* gIn = nullptr;

// ext4 without a journal (as here) looks past inodes freed in the last 60 s
// (300 s while their table block is unwritten) when it makes a file, so a
// run after one that deleted thousands of files would pay for them. Runs
// that delete set this; every run waits for it, outside its timing, after a
// sync.
std::chrono::steady_clock::time_point gQuietAt;
constexpr std::chrono::seconds kDeletionsFade(65);

void WaitQuiet() {
  ::sync();
  std::this_thread::sleep_until(gQuietAt);
}

void MakeTree(const fs::path& root) {
  std::mt19937 rng(256);
  const uint64_t average = kAppBytes / kFiles;
  for (int i = 0; i < kFiles; ++i) {
    const size_t size = static_cast<size_t>(average / 2 + rng() % average);
    const fs::path folder = root / ("m" + std::to_string(i % kTopFolders)) / ("s" + std::to_string(i / kTopFolders % kSubFolders));
    WriteFile(i == 0 ? root / "Appvisor.exe" : folder / ("f" + std::to_string(i) + ".dat"), TextLike(size, rng));
  }
}

bool Cp(const fs::path& from, const fs::path& to) { return Run({"cp", "-a", from.string(), to.string()}, "/dev/null") == 0; }

// A unit whose application was installed by an earlier update, with the new
// application staged as a loose pack, as the head unit leaves it.
bool MakeTemplate(Input* in) {
  in->templ = in->dir / "template";
  const fs::path log = in->dir / "init.log";
  if (Run({BinDir() + "/unitctl", "init", in->templ.string(), "--os-version", "3A1F0C01234567", "--boot-version",
           "12345678", "--conf-version", "00A100000001", "--app-version", "1.0.0"},
          log.string()) != 0) {
    std::fprintf(stderr, "unitctl init failed: %s\n", ReadFile(log).c_str());
    return false;
  }
  const fs::path unitFs = in->templ / "fs";
  fs::create_directories(unitFs / "Dravik/$KVR$");
  // Into the App folder init made: the installed application has the names
  // the new one brings, as a new version of it has.
  if (!Cp(in->tree / ".", unitFs / "Dravik/$KVR$/App")) return false;
  WriteFile(unitFs / "NandFlash/$KVR$/AppConfig/DeviceConfig.cfg", "settings");
  WriteFile(unitFs / "NandFlash/Music/song.mp3", std::string(1 << 20, 's'));
  WriteFile(unitFs / "Dravik/$KVR$/KitUpdated.flg", std::string("app Update Flag!", 17));
  WriteFile(unitFs / "StorageCard/Sysmend/UpdatePathInfo.ini",
            "[Ver]\r\nVersion=1.0\r\n[Q7UpdatePacks]\r\nPack1=\\StorageCard\\UpdateKitM\\app.auk\r\n");
  fs::create_directories(unitFs / "StorageCard/UpdateKitM");
  return Cp(in->pack, unitFs / "StorageCard/UpdateKitM/app.auk");
}

// The members as plain zlib extracts them: "\kit\m1\s2\f11.dat" to m1/s2/f11.dat.
bool ReadBodies(Input* in) {
  hu::HostFiles files(in->dir.string());
  hu::PassthroughCodePage codePage;
  hu::CPackUnzip unzip(files, codePage, "\\" + in->pack.filename().string());
  if (!unzip.OpenZipPack()) return false;
  for (const hu::PackGroup& g : unzip.Groups()) {
    for (const hu::PackMember& m : g.members) {
      std::string rel = m.name.substr(5);
      for (char& c : rel) c = c == '\\' ? '/' : c;
      in->bodies.push_back({rel, m.offset, m.stored});
    }
  }
  return !in->bodies.empty();
}

// Room for the unit, both backups, the old application and the new one.
constexpr uint64_t kAreaBytes = 3ull << 30;

// A fresh copy of the unit in a RunArea of its own, made and written back
// outside the timing (after a wait, see WaitQuiet); empty when it could not
// be made.
fs::path PrepareUnit(benchmark::State& state, std::unique_ptr<RunArea>* area, const char* prefix) {
  fs::path unit;
  Untimed(state, [&] {
    *area = std::make_unique<RunArea>(gIn->dir.string(), prefix, kAreaBytes);
    unit = fs::path((*area)->path()) / "unit";
    if ((*area)->path().empty() || !Cp(gIn->templ, unit)) {
      gIn->failed = true;
      unit.clear();
      state.SkipWithError("could not copy the unit");
      return;
    }
    WaitQuiet();
  });
  return unit;
}

// Ends a repetition outside the timing; after a run that deleted files on
// the shared disk, the next waits (see WaitQuiet).
void Ended(benchmark::State& state, std::unique_ptr<RunArea>* area, bool deleted) {
  Untimed(state, [&] {
    ::sync();
    if (deleted && !(*area)->fresh()) gQuietAt = std::chrono::steady_clock::now() + kDeletionsFade;
    area->reset();
  });
}

void Failed(benchmark::State& state, const char* what) {
  gIn->failed = true;
  state.SkipWithError(what);
}

void BM_ProductUpdate(benchmark::State& state) {
  for (auto _ : state) {
    std::unique_ptr<RunArea> area;
    const fs::path unit = PrepareUnit(state, &area, "unit");
    if (unit.empty()) break;
    const std::string log = unit.string() + ".log";
    const int rc = Run({BinDir() + "/unitctl", "boot", unit.string(), "--", BinDir() + "/sysmend", "auto"}, log);
    Untimed(state, [&] {
      const std::string out = ReadFile(log);
      if (rc != 0 || out.find("App updated OK ! ") == std::string::npos ||
          ReadFile(unit / "fs/Dravik/$KVR$/App/Appvisor.exe") != ReadFile(gIn->tree / "Appvisor.exe")) {
        std::fprintf(stderr, "update failed (%d): %s\n", rc,
                     out.substr(out.size() > 3000 ? out.size() - 3000 : 0).c_str());
        Failed(state, "update failed");
      }
    });
    Ended(state, &area, true);
  }
}

// The floor: cp -a of the two partitions the update backs up and plain zlib
// extracting the pack from the card, on the same fresh copy of the unit.
// `deleting` adds the deletions the written behaviour makes: the old
// application before the unpack and both backups at the end. On ext4 without
// a journal a file made soon after many were deleted costs a scan past their
// inodes, so the order of the deletion matters as much as its size.
void Floor(benchmark::State& state, const char* prefix, bool deleting) {
  for (auto _ : state) {
    std::unique_ptr<RunArea> area;
    const fs::path unit = PrepareUnit(state, &area, prefix);
    if (unit.empty()) break;
    const fs::path card = unit / "fs", app = card / "Dravik/$KVR$/App";
    bool ok = Cp(card / "Dravik", unit / "Dravik_BK") && Cp(card / "NandFlash", unit / "Nandflash_BK");
    std::error_code ec;
    if (deleting) fs::remove_all(app, ec);
    ok = ok && !ec &&
         ZlibExtract((card / "StorageCard/UpdateKitM/app.auk").string(), gIn->bodies,
                     (deleting ? app : unit / "App").string());
    if (deleting) {
      fs::remove_all(unit / "Dravik_BK", ec);
      fs::remove_all(unit / "Nandflash_BK", ec);
    }
    if (!ok || ec) Failed(state, "floor failed");
    Ended(state, &area, deleting);
  }
}
void BM_FloorCpAndZlib(benchmark::State& state) { Floor(state, "floor", false); }
void BM_FloorWithItsDeletions(benchmark::State& state) { Floor(state, "deleting", true); }

BENCHMARK(BM_ProductUpdate)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_FloorCpAndZlib)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_FloorWithItsDeletions)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  TempDir temp("hu_app_update");
  if (!temp.ok()) return 1;
  Input in;
  in.dir = temp.path();
  in.tree = in.dir / "app";
  in.pack = in.dir / "app.auk";
  MakeTree(in.tree);
  if (Run({BinDir() + "/kitpack", "auk", in.pack.string(), in.tree.string(), "--version", "1.1.0"},
          (in.dir / "kitpack.log").string()) != 0 ||
      !ReadBodies(&in) || !MakeTemplate(&in)) {
    std::fprintf(stderr, "could not make the input\n");
    return 1;
  }
  ::setenv("HU_TIME_SCALE", kNoPauseScale, 1);
  gIn = &in;
  std::printf("application: %d files, %.1f MiB; pack %.1f MiB\n", kFiles, kAppBytes / 1048576.0,
              fs::file_size(in.pack) / 1048576.0);
  std::map<std::string, double> medians = RunInterleaved(argc, argv, 3);
  const double product = medians["BM_ProductUpdate"], floor = medians["BM_FloorCpAndZlib"],
               deleting = medians["BM_FloorWithItsDeletions"];
  if (in.failed || product <= 0 || floor <= 0 || deleting <= 0) return 1;
  std::printf("whole update: %.2f s, floor cp -a + zlib: %.2f s, the same with the update's deletions: %.2f s; "
              "ratio update/floor: %.2f (target at most 1.3), update/floor with deletions: %.2f\n",
              product, floor, deleting, product / floor, product / deleting);
  std::printf("written on %s\n", RunAreaKind().c_str());
  return 0;
}
