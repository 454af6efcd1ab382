#pragma once
#include "canprobe/frame_ring.h"

namespace hu {

// The box's own text frames on a raw link: "\r$", a command letter, the
// character '0' + n, n data bytes, one further byte and "\r\n" (n + 7 bytes).
class CTextFrameParser : public CFrameRing {
 public:
  static constexpr int kMaxFrameLength = 10250;
  bool NextFrame(const uint8_t** frame, size_t* length) override;
};

}  // namespace hu
