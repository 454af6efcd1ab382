#pragma once
#include "common/frames/frame_codec.h"

namespace hu {

// "$#" frames: 24 23, command, sub-command, one length byte n, data, check
// (command + sub-command + n + data, modulo 256), 40 24.
class CSumFrameCodec : public CFrameCodec {
 public:
  static constexpr size_t kOverhead = 8;
  static constexpr size_t kMaxData = 255;

  CSumFrameCodec() : CFrameCodec(0x24, 0x23) {}

  bool Append(const uint8_t* bytes, size_t n, bool framed = true) override;
  bool BuildFrame(uint8_t command, uint8_t subCommand, size_t n, const uint8_t* data) override;
  bool Parse(const uint8_t* frame, size_t length) override;

 protected:
  Probe ProbeFrame(size_t start, size_t* end) const override;
};

}  // namespace hu
