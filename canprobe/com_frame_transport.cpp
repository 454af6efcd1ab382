#include "canprobe/com_frame_transport.h"

#include "common/frames/sum_frame_codec.h"
#include "common/platform/trace.h"

namespace hu {

bool ComFrameTransport::Send(const uint8_t* data, size_t length) {
  CSumFrameCodec codec;
  if (length > kMaxData || !codec.BuildFrame(kCommand, kSubCommand, length, data)) {
    Trace("ComFrameTransport::Send %u bytes do not fit one frame\n", static_cast<unsigned>(length));
    return false;
  }
  return WriteAll(codec.FrameBytes(), codec.FrameLength());
}

}  // namespace hu
