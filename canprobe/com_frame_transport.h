#pragma once
#include "canprobe/com_transport.h"

namespace hu {

// Kind 4: the MCU carries the box's bytes; each Send is one "$#" frame with
// command '3' and sub-command 0x08, at most 255 data bytes.
class ComFrameTransport : public ComTransport {
 public:
  static constexpr uint8_t kCommand = 0x33;
  static constexpr uint8_t kSubCommand = 0x08;
  static constexpr size_t kMaxData = 255;

  using ComTransport::ComTransport;
  // False (nothing written) for more than kMaxData bytes.
  bool Send(const uint8_t* data, size_t length) override;
};

}  // namespace hu
