// Arbitrary text as an S-record image, through both readers: the binary
// decoder and the line reader must stay inside their buffers and hand out
// only what they decoded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/platform/testing/mem_files.h"
#include "mcuflash/s19_image_file.h"
#include "mcuflash/s19_line_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  hu::MemFiles files;
  const std::string module = "\\StorageCard\\Mcuflash\\Mcuflash.exe";

  hu::CS19ImageFile image(files, module, nullptr);
  if (image.DecodeText(text, size)) {
    if (image.TotalLength() > image.Image().size()) std::abort();
    uint8_t block[128];
    size_t total = 0;
    for (size_t n; (n = image.ReadBlock(block, sizeof block)) > 0;) total += n;
    if (total != image.TotalLength()) std::abort();
    if (image.Tag().size() >= 128) std::abort();
  }

  hu::CS19LineFile lines(files, module);
  if (lines.TakeText(text, size)) {
    uint8_t line[128];
    size_t rounds = 0;
    while (lines.ReadBlock(line, sizeof line) > 0) {
      if (++rounds > size) std::abort();  // every line consumes text
    }
    if (lines.Tag().size() >= 128) std::abort();
  }
  return 0;
}
