// The gzip wrapper into a memory buffer of a chosen capacity and into a file.
// The first two bytes of an input give the capacity; the rest is the stream.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "common/platform/testing/mem_files.h"
#include "sysmend/packages/mama_zip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t capacity = static_cast<size_t>(data[0]) << 8 | data[1];
  const uint8_t* stream = data + 2;
  size_t length = size - 2;
  hu::MemFiles files;
  hu::CMamaZip zip(files, "fuzz");

  // An exactly sized heap buffer lets the address sanitizer see any write past it.
  std::unique_ptr<uint8_t[]> out(new uint8_t[capacity == 0 ? 1 : capacity]);
  zip.SetSource(stream, length);
  zip.SetOutputMemory(out.get(), capacity);
  zip.SwapSize("mem", hu::CMamaZip::kModeMemory);
  if (zip.OutputLength() > capacity) __builtin_trap();

  files.SetQuota(1u << 20);
  zip.SetOutputFile();
  zip.SwapSize("\\t\\out.bin", hu::CMamaZip::kModeMemory);
  return 0;
}
