// S-record decoding: the updater's CS19ImageFile (find the ".s19" beside the
// program, read it, decode it into the binary image) against
// `srec_cat FILE -o out.bin -binary` (Debian package srecord) on the same
// 1 MiB file, repetitions interleaved in one run.
//
//   cmake --build build --target bench_srec_decode && build/bin/bench_srec_decode
//
// The file (S2 records of 32 data bytes from 0xA000, the STM8 platform tag,
// an S8 end) is made at start under /tmp and removed at the end. The product
// runs in this process without a dialog to report its progress to; srec_cat
// is a process of its own and also writes its image out. Before timing, the
// two images are compared from 0xA000 on. The last line prints the median
// times and the ratio srec_cat / product (above 1: the product is faster).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "common/platform/host/host_files.h"
#include "mcuflash/s19_image_file.h"

namespace {

using namespace hu::bench;

constexpr size_t kFileBytes = 1u << 20;
constexpr char kModule[] = "\\Mcuflash\\Mcuflash.exe";

struct Input {
  std::string root;  // the unit's fs/ stand-in
  std::string s19;   // host path of the file
  std::string out;   // srec_cat's image
  size_t imageBytes = 0;
};

Input* gInput = nullptr;

std::string MakeText(size_t* imageBytes) {
  std::string text = S19Record(0x9FE0, {0, 0, 'S', 'T', 'M', '8', 'Q', 'X', '4', 'B'});
  unsigned address = hu::CS19File::kImageBase;
  uint32_t x = 0x12345678;
  while (text.size() < kFileBytes - 80) {
    std::vector<unsigned char> data(32);
    for (unsigned char& b : data) {
      x = x * 1664525u + 1013904223u;
      b = static_cast<unsigned char>(x >> 24);
    }
    text += S19Record(address, data);
    address += 32;
  }
  *imageBytes = address - hu::CS19File::kImageBase;
  return text + "S804000000FB\r\n";
}

bool Decode(hu::HostFiles& files, std::vector<uint8_t>* image) {
  hu::CS19ImageFile file(files, kModule, nullptr);
  if (!file.Select(false, 0) || !file.Load()) return false;
  if (image != nullptr) image->assign(file.Image().begin(), file.Image().begin() + file.TotalLength());
  return true;
}

void BM_ProductS19Decode(benchmark::State& state) {
  hu::HostFiles files(gInput->root);
  for (auto _ : state) {
    if (!Decode(files, nullptr)) state.SkipWithError("decoding failed");
  }
}

void BM_SrecCat(benchmark::State& state) {
  const std::string log = gInput->out + ".log";
  for (auto _ : state) {
    if (Run({"srec_cat", gInput->s19, "-o", gInput->out, "-binary"}, log) != 0) state.SkipWithError("srec_cat failed");
  }
}

BENCHMARK(BM_ProductS19Decode)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_SrecCat)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  TempDir temp("hu_srec_bench");
  if (!temp.ok()) return 1;
  Input input;
  input.root = temp.path() + "/fs";
  input.s19 = input.root + "/Mcuflash/image.s19";
  input.out = temp.path() + "/out.bin";
  WriteFile(input.s19, MakeText(&input.imageBytes));
  gInput = &input;

  hu::HostFiles files(input.root);
  std::vector<uint8_t> image;
  if (!Decode(files, &image) || Run({"srec_cat", input.s19, "-o", input.out, "-binary"}, input.out + ".log") != 0) {
    std::fprintf(stderr, "decoding failed: %s\n", ReadFile(input.out + ".log").c_str());
    return 1;
  }
  const std::string reference = ReadFile(input.out);
  if (image.size() != input.imageBytes || reference.size() != hu::CS19File::kImageBase + image.size() ||
      reference.compare(hu::CS19File::kImageBase, std::string::npos,
                        std::string(image.begin(), image.end())) != 0) {
    std::fprintf(stderr, "the images differ (%zu bytes decoded, srec_cat wrote %zu)\n", image.size(),
                 reference.size());
    return 1;
  }
  std::printf("input: %s, %zu bytes, image %zu bytes from 0x%X\n", input.s19.c_str(), ReadFile(input.s19).size(),
              image.size(), hu::CS19File::kImageBase);
  std::map<std::string, double> medians = RunInterleaved(argc, argv, 7);
  const double product = medians["BM_ProductS19Decode"], srec = medians["BM_SrecCat"];
  if (product <= 0 || srec <= 0) return 1;
  std::printf("product decode: %.2f ms, srec_cat: %.2f ms, ratio srec_cat/product: %.2f (target above 1)\n",
              product * 1000, srec * 1000, srec / product);
  return 0;
}
