// The "!#" frame extractor under arbitrary serial input.
#include "common/frames/xor_frame_codec.h"
#include "fuzz/frame_extract_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return hu::fuzz::ExtractFrames<hu::CXorFrameCodec>(data, size);
}
