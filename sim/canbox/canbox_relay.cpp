#include "sim/canbox/canbox_relay.h"

#include <algorithm>

namespace hu {

std::vector<uint8_t> WrapCanBoxAnswer(int linkKind, const std::vector<uint8_t>& answer) {
  if (linkKind != 4 && linkKind != 5) return answer;
  const size_t piece = linkKind == 4 ? 255 : 64;
  std::vector<uint8_t> out;
  for (size_t offset = 0; offset < answer.size(); offset += piece) {
    const size_t n = std::min(piece, answer.size() - offset);
    const std::vector<uint8_t> data(answer.begin() + static_cast<std::ptrdiff_t>(offset),
                                    answer.begin() + static_cast<std::ptrdiff_t>(offset + n));
    const std::vector<uint8_t> frame = linkKind == 4 ? BuildSumFrame(0x44, 0x08, data) : BuildXorFrame(0x42, 'C', data);
    out.insert(out.end(), frame.begin(), frame.end());
  }
  return out;
}

std::vector<uint8_t> CanBoxRelay::OnRelay(int linkKind, const std::vector<uint8_t>& data) {
  return WrapCanBoxAnswer(linkKind, box_.Feed(data));
}

}  // namespace hu
