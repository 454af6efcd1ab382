#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace hu {

// One direction of a serial line: bytes handed to it pass one after another,
// each a byte time after the one before and never before it was handed over.
// Pure bookkeeping on time points the caller supplies, so any clock drives it.
class LinePacer {
 public:
  using Clock = std::chrono::steady_clock;

  // A zero byte time lets every byte pass at once.
  explicit LinePacer(Clock::duration byteTime = Clock::duration::zero()) : byteTime_(byteTime) {}

  // 10 bit times a byte at `baudRate`, stretched by `timeScale`; zero for 0 baud.
  static Clock::duration ByteTime(uint32_t baudRate, double timeScale);

  // Bytes handed to the line at `now`: they follow what is still on it.
  void Queue(const uint8_t* bytes, size_t n, Clock::time_point now);
  // Appends the bytes that have passed by `now` to *out and takes them off the line.
  size_t TakePassed(Clock::time_point now, std::vector<uint8_t>* out);
  // When to look again: when the last byte on the line has passed, or `slack`
  // after the next one has, whichever is sooner (so bytes are collected in
  // batches, late by at most `slack`, never early). max() when the line is idle.
  Clock::time_point NextLook(Clock::duration slack) const;

  bool Idle() const { return bytes_.empty(); }

 private:
  Clock::duration byteTime_;
  std::deque<uint8_t> bytes_;
  Clock::time_point lineFree_{};  // when the last byte on the line has passed
};

}  // namespace hu
