#include "canprobe/received_item.h"

namespace hu {

ReceivedItem::ReceivedItem(uint8_t ch, uint16_t n, const uint8_t* bytes) : channel(ch), length(n) {
  if (n > 0 && bytes != nullptr) {
    data.assign(bytes, bytes + n);
  } else {
    length = 0;
  }
}

}  // namespace hu
