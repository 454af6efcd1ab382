#pragma once
#include "canprobe/com_transport.h"

namespace hu {

// Kind 5: the MCU carries the box's bytes in "!#" frames with command 'A' and
// sub-command 'C', 64 data bytes a frame, 20 ms after each full frame.
class ComAcTransport : public ComTransport {
 public:
  static constexpr uint8_t kCommand = 0x41;
  static constexpr uint8_t kSubCommand = 0x43;
  static constexpr size_t kPieceSize = 64;
  static constexpr uint32_t kPieceGapMs = 20;

  using ComTransport::ComTransport;
  // True when every frame was written (no data: no frame, false).
  bool Send(const uint8_t* data, size_t length) override;
  // Frames written by the last Send.
  size_t LastFramesWritten() const { return m_nFramesWritten.load(); }

 private:
  std::atomic<size_t> m_nFramesWritten{0};
};

}  // namespace hu
