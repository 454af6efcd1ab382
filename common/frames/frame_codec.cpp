#include "common/frames/frame_codec.h"

#include <algorithm>
#include <cstring>

namespace hu {

bool CFrameCodec::Append(const uint8_t* bytes, size_t n, bool framed) {
  m_bFramed = framed;
  if (n == 0) return true;
  if (bytes == nullptr || n > kReceiveBufferSize - m_recvFill) {
    m_recvBuf.fill(0);
    m_recvFill = 0;
    return false;
  }
  std::memcpy(m_recvBuf.data() + m_recvFill, bytes, n);
  m_recvFill += n;
  return true;
}

bool CFrameCodec::Extract() {
  if (!m_bFramed) {
    const bool valid = m_recvFill > 0 && Parse(m_recvBuf.data(), m_recvFill);
    Consume(m_recvFill);
    return valid;
  }
  constexpr size_t kNone = static_cast<size_t>(-1);
  size_t pending = kNone;  // first candidate that more bytes may still complete
  for (size_t pos = 0; pos < m_recvFill; ++pos) {
    if (m_recvBuf[pos] != m_marker0) continue;
    if (pos + 1 == m_recvFill) {
      // The second marker byte may come with the next read.
      if (pending == kNone) pending = pos;
      break;
    }
    if (m_recvBuf[pos + 1] != m_marker1) continue;
    size_t end = 0;
    const Probe probe = ProbeFrame(pos, &end);
    if (probe == Probe::Complete) {
      if (Parse(m_recvBuf.data() + pos, end - pos + 1)) {
        // An earlier candidate still waiting for bytes cannot be a frame that
        // encloses this valid one in practice: it was a corrupted length.
        Consume(end + 1);
        return true;
      }
      // Wrong check: give up only this marker, so that a good frame starting
      // inside the damaged one is still found.
    } else if (probe == Probe::NeedMore && pending == kNone) {
      pending = pos;
    }
  }
  // Nothing before the first possible frame start can ever become a frame.
  Consume(pending == kNone ? m_recvFill : pending);
  return false;
}

void CFrameCodec::Describe(UpdateDescriptor* out) const {
  if (out == nullptr) return;
  out->command = m_command;
  out->subCommand = m_subCommand;
  out->dataLength = static_cast<uint16_t>(m_data.size());
  out->data = m_data;
}

void CFrameCodec::FreeData() {
  m_data.clear();
  m_data.shrink_to_fit();
}

void CFrameCodec::SetFrame(const uint8_t* bytes, size_t length) {
  // Callers have checked the length against the buffer.
  std::memcpy(m_sendBuf.data(), bytes, length);
  m_sendLen = length;
}

void CFrameCodec::Keep(uint8_t command, uint8_t subCommand, const uint8_t* data, size_t n) {
  m_command = command;
  m_subCommand = subCommand;
  m_data.assign(data, data + n);
}

void CFrameCodec::Consume(size_t count) {
  count = std::min(count, m_recvFill);
  if (count == 0) return;
  const size_t rest = m_recvFill - count;
  std::memmove(m_recvBuf.data(), m_recvBuf.data() + count, rest);
  std::fill(m_recvBuf.begin() + static_cast<std::ptrdiff_t>(rest),
            m_recvBuf.begin() + static_cast<std::ptrdiff_t>(m_recvFill), 0);
  m_recvFill = rest;
}

}  // namespace hu
