// Arbitrary ".canbox" files, as the scrambled file the tool loads and as the
// record text it decodes: the image never reaches beyond what was decoded,
// blocks cover it exactly, and a decoded image makes a file that decodes to it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "canprobe/canbox_file_maker.h"
#include "canprobe/canbox_image.h"
#include "common/platform/testing/mem_files.h"

namespace {

void CheckBlocks(hu::CCanboxImage& image, size_t textSize) {
  if (image.Length() > textSize) std::abort();
  const std::vector<uint8_t> whole = image.Image();
  std::vector<uint8_t> read;
  uint8_t block[hu::CCanboxImage::kBlockSize];
  for (;;) {
    const uint32_t address = image.BlockAddress();
    const size_t n = image.ReadBlock(block, sizeof block);
    if (n == 0) break;
    if (n > sizeof block || address != hu::CCanboxImage::kFlashBase + read.size()) std::abort();
    read.insert(read.end(), block, block + n);
  }
  if (read != whole) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hu::CCanboxImage text;
  if (text.Decode(data, size)) {
    CheckBlocks(text, size);
    const std::vector<uint8_t> image = text.Image();
    std::string file;
    if (hu::MakeCanboxText(image, &file)) {
      hu::CCanboxImage again;
      if (!again.Decode(reinterpret_cast<const uint8_t*>(file.data()), file.size())) std::abort();
      if (again.Image() != image) std::abort();
    }
  }

  hu::MemFiles files;
  files.PutFile("\\SDMMC\\Canprobe\\in.canbox", std::string(reinterpret_cast<const char*>(data), size));
  hu::CCanboxImage loaded;
  if (loaded.Load(files, "\\SDMMC\\Canprobe\\in.canbox", "\\SDMMC\\Canprobe")) CheckBlocks(loaded, size);
  return 0;
}
