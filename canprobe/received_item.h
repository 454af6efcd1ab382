#pragma once
#include <cstdint>
#include <vector>

namespace hu {

// One block the service delivered: its channel and an owned copy of its bytes.
struct ReceivedItem {
  uint8_t channel = 0;
  uint16_t length = 0;
  std::vector<uint8_t> data;  // `length` bytes; empty when length is 0

  ReceivedItem() = default;
  ReceivedItem(uint8_t channel, uint16_t length, const uint8_t* bytes);
};

}  // namespace hu
