#pragma once
// Feeds arbitrary serial input, cut into arbitrary reads, to a frame
// extractor; every frame it yields must be a frame the codec itself would build.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/frames/frame_codec.h"

namespace hu::fuzz {

template <class Codec>
int ExtractFrames(const uint8_t* data, size_t size) {
  Codec parser;
  Codec builder;
  UpdateDescriptor d;
  if (size > 0) parser.Parse(data, size);
  size_t pos = 0;
  while (pos < size) {
    // The first byte of each piece chooses the read size and the mode.
    const uint8_t control = data[pos++];
    const bool framed = (control & 0x80) == 0;
    size_t n = (control & 0x7F) * 8u + 1u;
    if (n > size - pos) n = size - pos;
    parser.Append(data + pos, n, framed);
    pos += n;
    while (parser.Extract()) {
      parser.Describe(&d);
      if (d.dataLength != d.data.size()) std::abort();
      if (framed && d.data.size() <= builder.kMaxData) {
        if (!builder.BuildFrame(d.command, d.subCommand, d.data.size(), d.data.data())) std::abort();
        Codec check;
        if (!check.Parse(builder.FrameBytes(), builder.FrameLength())) std::abort();
      }
      parser.FreeData();
    }
    if (parser.ReceiveFill() > CFrameCodec::kReceiveBufferSize) std::abort();
  }
  return 0;
}

}  // namespace hu::fuzz
