#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace hu {

// One frame taken out of the receive stream.
struct UpdateDescriptor {
  uint8_t command = 0;
  uint8_t subCommand = 0;
  uint16_t dataLength = 0;
  std::vector<uint8_t> data;  // the descriptor's own copy of the frame data
};

// Common part of the two MCU frame formats: a send buffer holding the last
// frame built and a receive buffer that reassembles frames from serial reads.
class CFrameCodec {
 public:
  static constexpr size_t kSendBufferSize = 512;
  static constexpr size_t kReceiveBufferSize = 5120;

  virtual ~CFrameCodec() = default;

  // Adds received bytes. When they do not fit, the whole receive buffer is
  // cleared, the new bytes are dropped and the result is false. `framed`
  // false means a read always holds exactly one frame: Extract then takes the
  // buffered bytes as one frame instead of searching the stream.
  virtual bool Append(const uint8_t* bytes, size_t n, bool framed = true);
  // Takes the first valid frame out of the receive buffer. Bytes that cannot
  // belong to a frame (garbage, frames with a wrong check or terminator) are
  // dropped on the way; an incomplete frame stays buffered for the next read.
  virtual bool Extract();
  // Builds one frame into the send buffer. False, with an empty frame, when
  // the data do not fit the format or the buffer.
  virtual bool BuildFrame(uint8_t command, uint8_t subCommand, size_t n, const uint8_t* data) = 0;
  virtual const uint8_t* FrameBytes() const { return m_sendBuf.data(); }
  virtual size_t FrameLength() const { return m_sendLen; }
  // Checks one whole frame of `length` bytes and keeps its fields and a copy
  // of its data. Never reads beyond `length`.
  virtual bool Parse(const uint8_t* frame, size_t length) = 0;
  // Copies the last parsed frame into `out`.
  virtual void Describe(UpdateDescriptor* out) const;
  virtual void FreeData();

  size_t ReceiveFill() const { return m_recvFill; }
  const uint8_t* ReceiveBytes() const { return m_recvBuf.data(); }

 protected:
  enum class Probe { Complete, NeedMore, Bad };

  CFrameCodec(uint8_t marker0, uint8_t marker1) : m_marker0(marker0), m_marker1(marker1) {}

  // Looks at the candidate frame whose marker starts at `start` (both marker
  // bytes are present). Complete sets `*end` to the index of its last byte.
  virtual Probe ProbeFrame(size_t start, size_t* end) const = 0;

  void SetFrame(const uint8_t* bytes, size_t length);
  void ClearFrame() { m_sendLen = 0; }
  void Keep(uint8_t command, uint8_t subCommand, const uint8_t* data, size_t n);

  std::array<uint8_t, kSendBufferSize> m_sendBuf{};
  size_t m_sendLen = 0;
  std::array<uint8_t, kReceiveBufferSize> m_recvBuf{};
  size_t m_recvFill = 0;

 private:
  // Removes the first `count` bytes; the rest moves to the front and the
  // freed tail is zeroed.
  void Consume(size_t count);

  uint8_t m_marker0;
  uint8_t m_marker1;
  bool m_bFramed = true;
  uint8_t m_command = 0;
  uint8_t m_subCommand = 0;
  std::vector<uint8_t> m_data;
};

}  // namespace hu
