#include "common/frames/sum_frame_codec.h"

#include "common/platform/trace.h"

namespace hu {

bool CSumFrameCodec::Append(const uint8_t* bytes, size_t n, bool framed) {
  if (n > kReceiveBufferSize - m_recvFill) {
    Trace("the receive buf is overflow, reset the buf, Module lenth =%d", static_cast<int>(n));
  }
  return CFrameCodec::Append(bytes, n, framed);
}

bool CSumFrameCodec::BuildFrame(uint8_t command, uint8_t subCommand, size_t n, const uint8_t* data) {
  if (n > kMaxData || (n > 0 && data == nullptr)) {
    ClearFrame();
    Trace("CSumFrameCodec::BuildFrame data length %u refused\n", static_cast<unsigned>(n));
    return false;
  }
  uint8_t* f = m_sendBuf.data();
  f[0] = 0x24;
  f[1] = 0x23;
  f[2] = command;
  f[3] = subCommand;
  f[4] = static_cast<uint8_t>(n);
  unsigned sum = command + subCommand + static_cast<unsigned>(n);
  for (size_t i = 0; i < n; ++i) {
    f[5 + i] = data[i];
    sum += data[i];
  }
  f[5 + n] = static_cast<uint8_t>(sum & 0xFF);
  f[6 + n] = 0x40;
  f[7 + n] = 0x24;
  m_sendLen = n + kOverhead;
  return true;
}

bool CSumFrameCodec::Parse(const uint8_t* frame, size_t length) {
  if (frame == nullptr) return false;
  size_t i = 0;
  while (i < length && frame[i] != 0x24) ++i;
  if (i + kOverhead > length) return false;
  const uint8_t* f = frame + i;
  if (f[1] != 0x23) return false;
  const size_t n = f[4];
  if (i + n + kOverhead > length) return false;
  if (f[6 + n] != 0x40 || f[7 + n] != 0x24) return false;
  unsigned sum = f[2] + f[3] + static_cast<unsigned>(n);
  for (size_t k = 0; k < n; ++k) sum += f[5 + k];
  if (static_cast<uint8_t>(sum & 0xFF) != f[5 + n]) return false;
  Keep(f[2], f[3], f + 5, n);
  return true;
}

CFrameCodec::Probe CSumFrameCodec::ProbeFrame(size_t start, size_t* end) const {
  if (start + 4 >= m_recvFill) return Probe::NeedMore;
  const size_t last = start + m_recvBuf[start + 4] + 7;
  if (last >= m_recvFill) return Probe::NeedMore;
  if (m_recvBuf[last - 1] != 0x40 || m_recvBuf[last] != 0x24) return Probe::Bad;
  *end = last;
  return Probe::Complete;
}

}  // namespace hu
