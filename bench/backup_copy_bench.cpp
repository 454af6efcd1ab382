// Backup of the application tree: the updater's CBackUpDir::Backup (room
// check, then the file-by-file copy with its progress) over the host file
// system against `cp -r` of the same tree, repetitions interleaved in one run.
//
//   cmake --build build --target bench_backup_copy && build/bin/bench_backup_copy
//
// The tree (5,000 files of 0.5 to 16 KiB in 50 folders, about 40 MiB) is made
// at start under /tmp and removed at the end; each copy goes to a RunArea of
// its own (a fresh file system where the machine allows). The copy pauses 5 ms a file on
// the device; here the clock's time scale makes that pause 0, as a unit with
// a tiny time scale would. The last line prints the median times and the
// ratio cp / product (above 1: the product is faster).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "common/platform/host/host_clock.h"
#include "common/platform/host/host_files.h"
#include "sysmend/packages/back_up_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr int kTopFolders = 10;
constexpr int kSubFolders = 5;
constexpr int kFilesPerFolder = 100;
// 5 ms times this is below a nanosecond: the per-file pause becomes 0.
constexpr double kNoPauseScale = 1e-9;

struct Tree {
  fs::path root;  // the unit's fs/ stand-in
  uint64_t bytes = 0;
  int files = 0;
};

Tree* gTree = nullptr;

Tree MakeTree(const std::string& root) {
  Tree tree;
  tree.root = root;
  std::mt19937 rng(5000);
  std::string block(16 * 1024, '\0');
  for (char& c : block) c = static_cast<char>(rng());
  for (int t = 0; t < kTopFolders; ++t) {
    for (int s = 0; s < kSubFolders; ++s) {
      fs::path folder = tree.root / "src" / ("Mod" + std::to_string(t)) / ("Part" + std::to_string(s));
      fs::create_directories(folder);
      for (int f = 0; f < kFilesPerFolder; ++f) {
        const size_t size = 512 + rng() % (block.size() - 512);
        std::ofstream(folder / ("File" + std::to_string(f) + ".dat"), std::ios::binary).write(block.data(), size);
        tree.bytes += size;
        ++tree.files;
      }
    }
  }
  return tree;
}

// 40 MiB of files, with room to spare.
constexpr uint64_t kAreaBytes = 512ull << 20;

std::unique_ptr<hu::bench::RunArea> NewArea(benchmark::State& state, const char* prefix) {
  auto area = std::make_unique<hu::bench::RunArea>(gTree->root.string(), prefix, kAreaBytes);
  if (area->path().empty()) state.SkipWithError("no output folder");
  return area;
}

void BM_ProductBackup(benchmark::State& state) {
  hu::HostFiles files(gTree->root.string());
  hu::HostClock clock(kNoPauseScale);
  for (auto _ : state) {
    std::unique_ptr<hu::bench::RunArea> area;
    hu::bench::Untimed(state, [&] { area = NewArea(state, "bk"); });
    if (state.error_occurred()) break;
    hu::CBackUpDir backup(files, clock, "\\src", "\\" + area->name() + "\\copy");
    if (backup.Backup() != static_cast<uint32_t>(gTree->files)) state.SkipWithError("Backup did not copy every file");
    hu::bench::Untimed(state, [&] { area.reset(); });
  }
}

void BM_CpRecursive(benchmark::State& state) {
  const std::string from = (gTree->root / "src").string();
  const std::string log = (gTree->root.parent_path() / "cp.out").string();
  for (auto _ : state) {
    std::unique_ptr<hu::bench::RunArea> area;
    hu::bench::Untimed(state, [&] { area = NewArea(state, "cp"); });
    if (state.error_occurred()) break;
    if (hu::bench::Run({"cp", "-r", from, area->path() + "/copy"}, log) != 0) state.SkipWithError("cp -r failed");
    hu::bench::Untimed(state, [&] { area.reset(); });
  }
}

BENCHMARK(BM_ProductBackup)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_CpRecursive)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  hu::bench::TempDir temp("hu_backup_bench");
  if (!temp.ok()) return 1;
  Tree tree = MakeTree(temp.path() + "/fs");
  gTree = &tree;
  std::printf("tree: %d files in %d folders, %.1f MiB\n", tree.files, kTopFolders * kSubFolders,
              tree.bytes / 1048576.0);
  std::map<std::string, double> medians = hu::bench::RunInterleaved(argc, argv, 7);
  const double product = medians["BM_ProductBackup"], cp = medians["BM_CpRecursive"];
  if (product <= 0 || cp <= 0) return 1;
  std::printf("written on %s\n", hu::bench::RunAreaKind().c_str());
  std::printf("product Backup: %.0f ms, cp -r: %.0f ms, ratio cp/product: %.2f (target at least 0.8)\n",
              product * 1000, cp * 1000, cp / product);
  return 0;
}
