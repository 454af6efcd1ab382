// Peak memory of extracting a pack whose one member unpacks to 200 MiB: the
// updater's CPackUnzip::DoUnzipPack in a process of its own, whose peak
// resident size (getrusage of the child) is set against the member's stored
// (compressed) size, which the extraction holds in memory whole.
//
//   cmake --build build --target bench_pack_memory kitpack && build/bin/bench_pack_memory
//
// The member (text-like data, about 5.6:1) is packed by `kitpack auk` under
// /tmp, removed at the end. The same process started without extracting
// anything gives the program's own resident size for comparison.
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "bench/bench_support.h"
#include "common/platform/host/host_files.h"
#include "common/platform/testing/passthrough_code_page.h"
#include "sysmend/packages/pack_unzip.h"

namespace {

using namespace hu::bench;

constexpr uint64_t kMemberBytes = 200ull << 20;
constexpr uint64_t kAllowance = 16ull << 20;

void WriteMember(const std::string& folder) {
  std::filesystem::create_directories(folder);
  std::ofstream out(folder + "/big.bin", std::ios::binary);
  std::mt19937 rng(200);
  std::string chunk;
  for (uint64_t written = 0; written < kMemberBytes; written += chunk.size()) {
    chunk = TextLike(static_cast<size_t>(std::min<uint64_t>(1u << 20, kMemberBytes - written)), rng);
    out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
  }
}

// The child: extract `pack` (a device path under `root`) to "\out"; the result code.
int Extract(const std::string& root, const std::string& pack) {
  hu::HostFiles files(root);
  hu::PassthroughCodePage codePage;
  hu::CPackUnzip unzip(files, codePage, pack);
  return static_cast<int>(unzip.DoUnzipPack("\\out"));
}

// Peak resident bytes of this program run with `args`, or 0 when it failed.
uint64_t PeakOf(const std::vector<std::string>& args, const std::string& log) {
  std::vector<std::string> argv = {BinDir() + "/bench_pack_memory"};
  argv.insert(argv.end(), args.begin(), args.end());
  struct rusage usage {};
  if (WaitExit(Spawn(argv, "", log), &usage) != 0) return 0;
  return static_cast<uint64_t>(usage.ru_maxrss) * 1024;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--extract") == 0) return Extract(argv[2], argv[3]);
  if (argc == 2 && std::strcmp(argv[1], "--idle") == 0) return 0;

  TempDir temp("hu_pack_memory");
  if (!temp.ok()) return 1;
  const std::string root = temp.path() + "/fs";
  WriteMember(temp.path() + "/src");
  std::filesystem::create_directories(root);
  if (Run({BinDir() + "/kitpack", "auk", root + "/big.auk", temp.path() + "/src", "--version", "V1.0.0"},
          temp.path() + "/kitpack.out") != 0) {
    std::fprintf(stderr, "kitpack failed: %s\n", ReadFile(temp.path() + "/kitpack.out").c_str());
    return 1;
  }
  hu::HostFiles files(root);
  hu::PassthroughCodePage codePage;
  hu::CPackUnzip index(files, codePage, "\\big.auk");
  uint64_t stored = 0;
  if (index.OpenZipPack()) {
    for (const hu::PackGroup& g : index.Groups()) {
      for (const hu::PackMember& m : g.members) {
        if (m.unpacked == kMemberBytes) stored = m.stored;
      }
    }
  }
  if (stored == 0) {
    std::fprintf(stderr, "no 200 MiB member in the pack\n");
    return 1;
  }
  const uint64_t idle = PeakOf({"--idle"}, temp.path() + "/idle.out");
  const uint64_t peak = PeakOf({"--extract", root, "\\big.auk"}, temp.path() + "/extract.out");
  if (peak == 0) {
    std::fprintf(stderr, "extraction failed: %s\n", ReadFile(temp.path() + "/extract.out").c_str());
    return 1;
  }
  const double mib = 1048576.0;
  std::printf("member: %.1f MiB unpacked, %.1f MiB stored; the program alone: %.1f MiB resident\n",
              kMemberBytes / mib, stored / mib, idle / mib);
  std::printf("peak memory extracting: %.1f MiB = stored + %.1f MiB (target at most stored + %.0f MiB)\n", peak / mib,
              (static_cast<double>(peak) - static_cast<double>(stored)) / mib, kAllowance / mib);
  return 0;
}
