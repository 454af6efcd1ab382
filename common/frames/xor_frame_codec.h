#pragma once
#include "common/frames/frame_codec.h"

namespace hu {

// "!#" frames: 21 23, command, sub-command, 16-bit little-endian length
// (every byte but the final 0D), data, exclusive-or check, 0D.
class CXorFrameCodec : public CFrameCodec {
 public:
  static constexpr size_t kOverhead = 8;
  static constexpr size_t kMaxData = kSendBufferSize - kOverhead;

  CXorFrameCodec() : CFrameCodec(0x21, 0x23) {}

  bool BuildFrame(uint8_t command, uint8_t subCommand, size_t n, const uint8_t* data) override;
  bool Parse(const uint8_t* frame, size_t length) override;

 protected:
  Probe ProbeFrame(size_t start, size_t* end) const override;
};

}  // namespace hu
