#include "sim/pty/line_pacer.h"

#include <algorithm>

namespace hu {

LinePacer::Clock::duration LinePacer::ByteTime(uint32_t baudRate, double timeScale) {
  if (baudRate == 0) return Clock::duration::zero();
  const double scale = timeScale > 0 ? timeScale : 1.0;
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(10.0 * scale / baudRate));
}

void LinePacer::Queue(const uint8_t* bytes, size_t n, Clock::time_point now) {
  if (n == 0) return;
  bytes_.insert(bytes_.end(), bytes, bytes + n);
  lineFree_ = std::max(lineFree_, now) + byteTime_ * static_cast<int64_t>(n);
}

size_t LinePacer::TakePassed(Clock::time_point now, std::vector<uint8_t>* out) {
  size_t passed = bytes_.size();
  if (now < lineFree_ && byteTime_ > Clock::duration::zero()) {
    // Bytes still under way: the last `waiting` are not through yet.
    const auto left = lineFree_ - now;
    const size_t waiting = static_cast<size_t>((left + byteTime_ - Clock::duration(1)) / byteTime_);
    passed = waiting >= bytes_.size() ? 0 : bytes_.size() - waiting;
  }
  out->insert(out->end(), bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(passed));
  bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(passed));
  return passed;
}

LinePacer::Clock::time_point LinePacer::NextLook(Clock::duration slack) const {
  if (bytes_.empty()) return Clock::time_point::max();
  const auto next = lineFree_ - byteTime_ * static_cast<int64_t>(bytes_.size() - 1);
  return std::min(lineFree_, next + slack);
}

}  // namespace hu
