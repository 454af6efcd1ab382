#include "common/frames/xor_frame_codec.h"

#include "common/platform/trace.h"

namespace hu {
namespace {
constexpr uint8_t kTerminator = 0x0D;

uint8_t XorOf(const uint8_t* bytes, size_t n, uint8_t start) {
  for (size_t i = 0; i < n; ++i) start ^= bytes[i];
  return start;
}
}  // namespace

bool CXorFrameCodec::BuildFrame(uint8_t command, uint8_t subCommand, size_t n, const uint8_t* data) {
  if (n > kMaxData || (n > 0 && data == nullptr)) {
    ClearFrame();
    Trace("CXorFrameCodec::BuildFrame data length %u refused\n", static_cast<unsigned>(n));
    return false;
  }
  uint8_t* f = m_sendBuf.data();
  const size_t length = n + 7;
  f[0] = 0x21;
  f[1] = 0x23;
  f[2] = command;
  f[3] = subCommand;
  f[4] = static_cast<uint8_t>(length & 0xFF);
  f[5] = static_cast<uint8_t>(length >> 8);
  for (size_t i = 0; i < n; ++i) f[6 + i] = data[i];
  f[6 + n] = XorOf(f, 6 + n, 0);
  f[7 + n] = kTerminator;
  m_sendLen = n + kOverhead;
  return true;
}

bool CXorFrameCodec::Parse(const uint8_t* frame, size_t length) {
  if (frame == nullptr || length < kOverhead) return false;
  if (frame[0] != 0x21 || frame[1] != 0x23) return false;
  const size_t l = static_cast<size_t>(frame[4]) | (static_cast<size_t>(frame[5]) << 8);
  const size_t n = l > 7 ? l - 7 : 0;
  if (n + kOverhead > length) return false;
  if (frame[7 + n] != kTerminator) return false;
  if (XorOf(frame, 6 + n, 0) != frame[6 + n]) return false;
  Keep(frame[2], frame[3], frame + 6, n);
  return true;
}

CFrameCodec::Probe CXorFrameCodec::ProbeFrame(size_t start, size_t* end) const {
  if (start + 5 >= m_recvFill) return Probe::NeedMore;
  const size_t l = static_cast<size_t>(m_recvBuf[start + 4]) |
                   (static_cast<size_t>(m_recvBuf[start + 5]) << 8);
  // Shorter than a frame without data, or longer than could ever be buffered.
  if (l < 7 || l + 1 > kReceiveBufferSize) return Probe::Bad;
  const size_t last = start + l;
  if (last >= m_recvFill) return Probe::NeedMore;
  if (m_recvBuf[last] != kTerminator) return Probe::Bad;
  *end = last;
  return Probe::Complete;
}

}  // namespace hu
