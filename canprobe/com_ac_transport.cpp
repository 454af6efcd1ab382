#include "canprobe/com_ac_transport.h"

#include "common/frames/xor_frame_codec.h"

namespace hu {

bool ComAcTransport::Send(const uint8_t* data, size_t length) {
  CXorFrameCodec codec;
  size_t frames = 0;
  size_t written = 0;
  for (size_t offset = 0; offset < length; offset += kPieceSize) {
    const size_t n = length - offset < kPieceSize ? length - offset : kPieceSize;
    ++frames;
    if (codec.BuildFrame(kCommand, kSubCommand, n, data + offset) &&
        WriteAll(codec.FrameBytes(), codec.FrameLength())) {
      ++written;
    }
    if (n == kPieceSize) clock().Sleep(kPieceGapMs);
  }
  m_nFramesWritten.store(written);
  return frames > 0 && written == frames;
}

}  // namespace hu
