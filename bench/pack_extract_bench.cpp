// Pack extraction throughput: the updater's CPackUnzip::DoUnzipPack over the
// host file system against plain zlib inflating the same gzip members into
// the same files, repetitions of the two interleaved in one run.
//
//   cmake --build build --target bench_pack_extract && build/bin/bench_pack_extract
//
// The input (2,000 members, about 50 MiB unpacked) is made at start in a
// temporary folder under /tmp and removed at the end; each repetition writes
// into a RunArea of its own (a fresh file system where the machine allows). DoUnzipPack itself never
// pauses (the 5 ms pauses belong to the directory walks), so no clock enters
// the measurement. The last line prints both median throughputs and their ratio.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "common/platform/host/host_files.h"
#include "common/platform/testing/passthrough_code_page.h"
#include "sysmend/packages/kit_layout.h"
#include "sysmend/packages/pack_unzip.h"

namespace {

namespace fs = std::filesystem;

constexpr int kMembers = 2000;
constexpr size_t kTotalBytes = 50u << 20;

struct BenchMember {
  std::string relPath;  // "d07/f0123.bin"
  uint32_t offset = 0;
  uint32_t stored = 0;
  uint32_t unpacked = 0;
};

struct Input {
  fs::path dir;
  fs::path pack;
  std::vector<BenchMember> members;
  uint64_t totalUnpacked = 0;
};

Input* gInput = nullptr;

std::string Gzip(const std::string& data) {
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&zs, data.size()), '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

// Text-like data that compresses about 5.6:1, in members of varying size.
Input MakeInput() {
  Input in;
  in.dir = fs::temp_directory_path() / ("hu_bench_pack_" + std::to_string(::getpid()));
  fs::create_directories(in.dir);
  in.pack = in.dir / "bench.auk";
  std::mt19937 rng(42);
  std::string index, bodies;
  size_t average = kTotalBytes / kMembers;
  std::map<int, std::vector<int>> byDir;
  for (int i = 0; i < kMembers; ++i) byDir[i % 20].push_back(i);
  std::vector<std::string> stored(kMembers);
  in.members.resize(kMembers);
  for (int i = 0; i < kMembers; ++i) {
    size_t size = average / 2 + rng() % average;
    std::string data = hu::bench::TextLike(size, rng);
    char rel[32];
    std::snprintf(rel, sizeof rel, "d%02d/f%04d.bin", i % 20, i);
    in.members[i].relPath = rel;
    in.members[i].unpacked = static_cast<uint32_t>(size);
    stored[i] = Gzip(data);
    in.members[i].stored = static_cast<uint32_t>(stored[i].size());
    in.totalUnpacked += size;
  }
  // Index: one group per folder; its length is fixed before the offsets are known.
  std::string layout;
  std::vector<std::pair<size_t, int>> slots;  // where each member's 12 bytes go
  for (const auto& d : byDir) {
    char group[16];
    std::snprintf(group, sizeof group, "\\kit\\d%02d\\", d.first);
    layout += std::string(hu::pack::kGroupOpen) + "\n" + group + "\n";
    for (int i : d.second) {
      std::string name = "\\kit\\" + in.members[i].relPath;
      for (auto& c : name) c = c == '/' ? '\\' : c;
      layout += name + "\n";
      slots.emplace_back(layout.size(), i);
      layout += std::string(hu::pack::kMemberBinary, '\0');
    }
    layout += std::string(hu::pack::kGroupClose) + "\n";
  }
  layout += std::string(hu::pack::kIndexEnd) + "\n";
  uint32_t at = static_cast<uint32_t>(hu::pack::kIndexOffset + layout.size());
  for (const auto& slot : slots) {
    BenchMember& m = in.members[slot.second];
    m.offset = at;
    at += m.stored;
    layout.replace(slot.first, hu::pack::kMemberBinary, hu::EncodeMemberFields({m.stored, m.offset, m.unpacked}));
  }
  uint8_t head[hu::pack::kIndexOffset] = {};
  hu::PackArchiveInfo info;
  info.ulHeadSize = static_cast<uint32_t>(layout.size());
  info.ulFileCount = kMembers;
  info.ulTotalSize = static_cast<uint32_t>(in.totalUnpacked);
  hu::EncodePackInfo(head, info);
  std::memcpy(head + hu::pack::kMagicOffset, hu::pack::kMagic, hu::pack::kMagicField);
  std::ofstream out(in.pack, std::ios::binary);
  out.write(reinterpret_cast<char*>(head), sizeof head);
  out << layout;
  for (const auto& slot : slots) out << stored[slot.second];
  return in;
}

// Output for 50 MiB of files, with room to spare.
constexpr uint64_t kAreaBytes = 512ull << 20;

std::unique_ptr<hu::bench::RunArea> NewArea(benchmark::State& state, const char* prefix) {
  auto area = std::make_unique<hu::bench::RunArea>(gInput->dir.string(), prefix, kAreaBytes);
  if (area->path().empty()) state.SkipWithError("no output folder");
  return area;
}

void BM_ProductDoUnzipPack(benchmark::State& state) {
  hu::PassthroughCodePage codePage;
  for (auto _ : state) {
    std::unique_ptr<hu::bench::RunArea> area;
    hu::bench::Untimed(state, [&] { area = NewArea(state, "out_product"); });
    if (state.error_occurred()) break;
    hu::HostFiles files(gInput->dir.string());
    hu::CPackUnzip unzip(files, codePage, "\\bench.auk");
    uint32_t result = unzip.DoUnzipPack("\\" + area->name());
    if (result != 0) state.SkipWithError("DoUnzipPack failed");
    hu::bench::Untimed(state, [&] { area.reset(); });
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * gInput->totalUnpacked));
}

// The same members: pread the body, inflate with gzip framing, write in 64 KiB blocks.
void BM_PlainZlib(benchmark::State& state) {
  std::vector<hu::bench::PackBody> bodies;
  for (const auto& m : gInput->members) bodies.push_back({m.relPath, m.offset, m.stored});
  for (auto _ : state) {
    std::unique_ptr<hu::bench::RunArea> area;
    hu::bench::Untimed(state, [&] { area = NewArea(state, "out_zlib"); });
    if (state.error_occurred()) break;
    if (!hu::bench::ZlibExtract(gInput->pack.string(), bodies, area->path())) state.SkipWithError("zlib extraction failed");
    hu::bench::Untimed(state, [&] { area.reset(); });
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * gInput->totalUnpacked));
}

BENCHMARK(BM_ProductDoUnzipPack)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_PlainZlib)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  Input input = MakeInput();
  gInput = &input;
  std::printf("input: %d members, %.1f MiB unpacked, pack %.1f MiB at %s\n", kMembers,
              input.totalUnpacked / 1048576.0, fs::file_size(input.pack) / 1048576.0, input.pack.c_str());
  std::map<std::string, double> medians = hu::bench::RunInterleaved(argc, argv, 7);
  const double product = medians["BM_ProductDoUnzipPack"], zlib = medians["BM_PlainZlib"];
  fs::remove_all(input.dir);
  if (product <= 0 || zlib <= 0) return 1;
  const double mib = input.totalUnpacked / 1048576.0;
  std::printf("written on %s\n", hu::bench::RunAreaKind().c_str());
  std::printf("product DoUnzipPack: %.1f MiB/s, plain zlib: %.1f MiB/s, ratio product/zlib: %.2f (target at least 1.5)\n",
              mib / product, mib / zlib, zlib / product);
  return 0;
}
