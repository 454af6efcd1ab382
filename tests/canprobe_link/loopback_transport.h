#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "canprobe/data_transport.h"
#include "common/frames/sum_frame_codec.h"
#include "common/frames/xor_frame_codec.h"

namespace hu {

// A transport without a line for single-threaded tests: Send frames the
// bytes as the link of its kind does and hands them to the peer at once; the
// peer's answer waits for Pump, which gives it to the sink the way the
// reader thread would, in pieces of any size.
class LoopbackTransport : public DataTransport {
 public:
  using Peer = std::function<std::vector<uint8_t>(const std::vector<uint8_t>& wire)>;

  LoopbackTransport(int kind, Peer peer) : kind_(kind), peer_(std::move(peer)) {}

  bool Open() override {
    m_nState.store(kOpened);
    return true;
  }
  void Close() override { m_nState.store(kClosed); }
  bool Send(const uint8_t* data, size_t length) override {
    if (failSends) return false;
    sends.emplace_back(data, data + length);
    std::vector<uint8_t> wire;
    if (kind_ == kLinkFrame) {
      CSumFrameCodec codec;
      if (!codec.BuildFrame(0x33, 0x08, length, data)) return false;
      wire.assign(codec.FrameBytes(), codec.FrameBytes() + codec.FrameLength());
    } else if (kind_ == kLinkAc) {
      for (size_t offset = 0; offset < length; offset += 64) {
        CXorFrameCodec codec;
        const size_t n = length - offset < 64 ? length - offset : 64;
        codec.BuildFrame(0x41, 0x43, n, data + offset);
        wire.insert(wire.end(), codec.FrameBytes(), codec.FrameBytes() + codec.FrameLength());
      }
    } else {
      wire.assign(data, data + length);
    }
    const std::vector<uint8_t> answer = peer_(wire);
    pending.insert(pending.end(), answer.begin(), answer.end());
    return true;
  }
  // Delivers what the peer answered so far; `piece` 0 means in one block.
  void Pump(size_t piece = 0) {
    std::vector<uint8_t> bytes;
    bytes.swap(pending);
    if (piece == 0) piece = bytes.size();
    for (size_t offset = 0; offset < bytes.size(); offset += piece) {
      const size_t n = bytes.size() - offset < piece ? bytes.size() - offset : piece;
      Deliver(bytes.data() + offset, n);
    }
  }

  std::vector<std::vector<uint8_t>> sends;  // what Send was given
  std::vector<uint8_t> pending;
  bool failSends = false;

 private:
  int kind_;
  Peer peer_;
};

}  // namespace hu
