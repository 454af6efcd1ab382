#pragma once
#include <cstdint>
#include <vector>

#include "sim/canbox/canbox_simulator.h"
#include "sim/mcu/mcu_simulator.h"

namespace hu {

// The box's answer as the MCU puts it on the tool's line: for link kind 4
// "$#" frames with command 'D' (0x44) and sub-command 0x08, at most 255 bytes
// each; for kind 5 "!#" frames with command 'B' (0x42) and sub-command 'C',
// at most 64 bytes each. Any other kind: the bytes unchanged.
std::vector<uint8_t> WrapCanBoxAnswer(int linkKind, const std::vector<uint8_t>& answer);

// Puts a CanBoxSimulator behind the simulated MCU: what the MCU relays from
// the tool's kind 4 and kind 5 frames goes to the box, and the box's answer
// comes back wrapped for the tool.
class CanBoxRelay : public McuRelayPeer {
 public:
  explicit CanBoxRelay(CanBoxSimulator& box) : box_(box) {}
  std::vector<uint8_t> OnRelay(int linkKind, const std::vector<uint8_t>& data) override;

 private:
  CanBoxSimulator& box_;
};

}  // namespace hu
