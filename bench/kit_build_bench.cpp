// Building a kit: `kitpack auk` (and `aukinc`) of a tree of 1,000 text-like
// files (about 205 MB) against `pigz -6 -r` of the same tree, repetitions
// interleaved in one run; then, on one core and from memory, zlib's level 6
// against libdeflate's levels 5 to 7 on a fifth of the files: the speed and
// size that chose kitpack's compressors. Three trees: prose (a natural
// vocabulary), text of eight short words, where libdeflate does worst, and
// one 205 MB file of prose, which kitpack compresses in blocks.
//
//   cmake --build build --target bench_kit_build kitpack && build/bin/bench_kit_build
//
// pigz runs on every core as kitpack does. It compresses each file beside
// itself (-k keeps the file). Each repetition of either side works on a fresh
// copy of the tree in a RunArea of its own (a fresh file system where the
// machine allows), made outside the timing. Without pigz on the PATH its
// figure is skipped. The last line prints the throughputs, the size ratio and
// the speed ratio kitpack / pigz.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"

namespace {

namespace fs = std::filesystem;
using namespace hu::bench;

constexpr int kFiles = 1000;
constexpr uint64_t kTreeBytes = 205'000'000;
constexpr int kFolders = 20;
constexpr int kSampleEvery = 5;

struct Input {
  std::string name;
  fs::path tree;  // under the scratch folder
  uint64_t bytes = 0;
  std::vector<std::string> sample;  // every fifth file, for the level comparison
  uint64_t sampleBytes = 0;
  uint64_t kitpackSize = 0, pigzSize = 0;
  std::map<std::string, uint64_t> levelSize;  // compressed bytes of the sample
};
fs::path gDir;  // the scratch folder

// `files` files of about kTreeBytes in all; a single file is not sampled.
void MakeTree(Input* in, int files, std::string (*text)(size_t, std::mt19937&)) {
  std::mt19937 rng(205);
  const uint64_t average = kTreeBytes / static_cast<uint64_t>(files);
  for (int i = 0; i < files; ++i) {
    const size_t size = static_cast<size_t>(files == 1 ? average : average / 2 + rng() % average);
    std::string data = text(size, rng);
    const fs::path path = in->tree / ("d" + std::to_string(i % kFolders)) / ("f" + std::to_string(i) + ".txt");
    WriteFile(path, data);
    in->bytes += size;
    if (files > 1 && i % kSampleEvery == 0) {
      in->sampleBytes += size;
      in->sample.push_back(std::move(data));
    }
  }
}

// The tree twice over (pigz writes beside it), with room to spare.
constexpr uint64_t kAreaBytes = 1ull << 30;

// Each side packs a fresh copy of the tree in a RunArea of its own, made and
// written back outside the timing, so that both read and write alike.
std::unique_ptr<RunArea> CopyTree(benchmark::State& state, const Input& in, const std::string& prefix,
                                  fs::path* copy) {
  auto area = std::make_unique<RunArea>(gDir.string(), prefix, kAreaBytes);
  *copy = fs::path(area->path()) / "tree";
  if (area->path().empty() || Run({"cp", "-a", in.tree.string(), copy->string()}, "/dev/null") != 0) {
    state.SkipWithError("could not copy the tree");
  }
  ::sync();
  return area;
}

// An incremental pack's file name is its version.
void Kitpack(benchmark::State& state, Input* in, const char* kind, const char* file, const char* version) {
  for (auto _ : state) {
    fs::path tree;
    std::unique_ptr<RunArea> area;
    Untimed(state, [&] { area = CopyTree(state, *in, std::string("kit_") + kind, &tree); });
    if (state.error_occurred()) break;
    const std::string out = area->path() + "/" + file;
    if (Run({BinDir() + "/kitpack", kind, out, tree.string(), "--version", version}, out + ".log") != 0) {
      std::fprintf(stderr, "%s", ReadFile(out + ".log").c_str());
      state.SkipWithError("kitpack failed");
    }
    Untimed(state, [&] {
      std::error_code ec;
      in->kitpackSize = fs::file_size(out, ec);
      area.reset();
    });
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in->bytes));
}
void BM_KitpackAuk(benchmark::State& state, Input* in) { Kitpack(state, in, "auk", "kit.auk", "V1.0.0"); }
void BM_KitpackAukinc(benchmark::State& state, Input* in) { Kitpack(state, in, "aukinc", "1.0.0.aukinc", "1.0.0"); }

void BM_Pigz6(benchmark::State& state, Input* in) {
  for (auto _ : state) {
    fs::path copy;
    std::unique_ptr<RunArea> area;
    Untimed(state, [&] { area = CopyTree(state, *in, "pigz", &copy); });
    if (state.error_occurred()) break;
    if (Run({"pigz", "-6", "-k", "-f", "-r", copy.string()}, area->path() + "/pigz.log") != 0) {
      state.SkipWithError("pigz failed");
    }
    Untimed(state, [&] {
      uint64_t size = 0;
      for (const auto& e : fs::recursive_directory_iterator(copy)) {
        if (e.path().extension() == ".gz") size += e.file_size();
      }
      in->pigzSize = size;
      area.reset();
    });
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in->bytes));
}

// One core, from memory: each sample file as one gzip stream.
void BM_Zlib6(benchmark::State& state, Input* in) {
  std::string out;
  for (auto _ : state) {
    uint64_t total = 0;
    for (const auto& f : in->sample) {
      uLongf n = compressBound(static_cast<uLong>(f.size())) + 32;
      out.resize(n);
      z_stream zs{};
      deflateInit2(&zs, 6, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY);
      zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(f.data()));
      zs.avail_in = static_cast<uInt>(f.size());
      zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
      zs.avail_out = static_cast<uInt>(out.size());
      deflate(&zs, Z_FINISH);
      total += zs.total_out;
      deflateEnd(&zs);
    }
    in->levelSize["zlib 6"] = total;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in->sampleBytes));
}

void BM_Libdeflate(benchmark::State& state, Input* in, int level) {
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  std::string out;
  for (auto _ : state) {
    uint64_t total = 0;
    for (const auto& f : in->sample) {
      out.resize(libdeflate_gzip_compress_bound(c, f.size()));
      total += libdeflate_gzip_compress(c, f.data(), f.size(), &out[0], out.size());
    }
    in->levelSize["libdeflate " + std::to_string(level)] = total;
  }
  libdeflate_free_compressor(c);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in->sampleBytes));
}

template <class... Args>
void Register(const std::string& name, const Input& in, void (*fn)(benchmark::State&, Input*, Args...), Args... args) {
  benchmark::RegisterBenchmark((name + "/" + in.name).c_str(), fn, const_cast<Input*>(&in), args...)
      ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
}

// The figures of one tree; false when a side has none.
bool Report(const Input& in, bool pigz, std::map<std::string, double>& medians) {
  const double mb = in.bytes / 1e6, sampleMb = in.sampleBytes / 1e6;
  if (!in.sample.empty()) {
    std::printf("%s, one core, %.1f MB from memory:", in.name.c_str(), sampleMb);
    std::printf(" zlib 6 %.1f MB/s size %.4f", sampleMb / medians["BM_Zlib6/" + in.name], 1.0);
    for (int level : {5, 6, 7}) {
      const std::string name = "libdeflate " + std::to_string(level);
      std::printf("; %s %.1f MB/s size %.4f", name.c_str(),
                  sampleMb / medians["BM_Libdeflate/" + std::to_string(level) + "/" + in.name],
                  static_cast<double>(in.levelSize.at(name)) / static_cast<double>(in.levelSize.at("zlib 6")));
    }
    std::printf(" (sizes relative to zlib 6)\n");
  }
  const double auk = medians["BM_KitpackAuk/" + in.name], aukinc = medians["BM_KitpackAukinc/" + in.name];
  if (auk <= 0 || aukinc <= 0) return false;
  if (!pigz) {
    std::printf("%s: kitpack auk %.1f MB/s, aukinc %.1f MB/s; pigz absent, no ratio\n", in.name.c_str(), mb / auk,
                mb / aukinc);
    return true;
  }
  const double p = medians["BM_Pigz6/" + in.name];
  if (p <= 0) return false;
  std::printf("%s: kitpack auk %.1f MB/s (%.2f s), aukinc %.1f MB/s, pigz -6: %.1f MB/s (%.2f s); size kitpack/pigz "
              "%.4f (target at most 1.01); speed kitpack/pigz: auk %.2f, aukinc %.2f (target at least 1.5)\n",
              in.name.c_str(), mb / auk, auk, mb / aukinc, mb / p, p,
              static_cast<double>(in.kitpackSize) / static_cast<double>(in.pigzSize), p / auk, p / aukinc);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  TempDir temp("hu_kit_build");
  if (!temp.ok()) return 1;
  gDir = temp.path();
  Input trees[3];
  trees[0].name = "prose";
  trees[1].name = "few_words";
  trees[2].name = "one_long_file";
  for (Input& in : trees) in.tree = gDir / in.name;
  MakeTree(&trees[0], kFiles, Prose);
  MakeTree(&trees[1], kFiles, TextLike);
  MakeTree(&trees[2], 1, Prose);
  const bool pigz = OnPath("pigz");
  for (const Input& in : trees) {
    std::printf("input %s: %s, %.1f MB; pigz %s\n", in.name.c_str(),
                in.sample.empty() ? "one file of prose" : "1,000 files", in.bytes / 1e6,
                pigz ? "found" : "not found, skipped");
    Register("BM_KitpackAuk", in, BM_KitpackAuk);
    Register("BM_KitpackAukinc", in, BM_KitpackAukinc);
    if (pigz) Register("BM_Pigz6", in, BM_Pigz6);
    if (in.sample.empty()) continue;
    Register("BM_Zlib6", in, BM_Zlib6);
    for (int level : {5, 6, 7}) Register("BM_Libdeflate/" + std::to_string(level), in, BM_Libdeflate, level);
  }
  std::map<std::string, double> medians = RunInterleaved(argc, argv, 5);
  bool ok = true;
  for (const Input& in : trees) ok = Report(in, pigz, medians) && ok;
  std::printf("written on %s\n", RunAreaKind().c_str());
  return ok ? 0 : 1;
}
