#include "canprobe/frame_ring.h"

#include <cstring>

#include "common/platform/trace.h"

namespace hu {

size_t CFrameRing::Append(const uint8_t* data, size_t length) {
  if (length == 0 || data == nullptr) return 0;
  if (length > kCapacity - m_nFill) {
    const size_t unparsed = m_nFill - m_nParse;
    if (unparsed > 0 && m_nParse > 0) std::memmove(m_buf.data(), m_buf.data() + m_nParse, unparsed);
    m_nParse = 0;
    m_nFill = unparsed;
  }
  const size_t take = length < kCapacity - m_nFill ? length : kCapacity - m_nFill;
  if (take > 0) std::memcpy(m_buf.data() + m_nFill, data, take);
  m_nFill += take;
  return take;
}

void CFrameRing::GiveUp(size_t keep) {
  if (m_nFill >= keep && m_nFill - keep > m_nParse) m_nParse = m_nFill - keep;
}

bool CSumFrameRing::NextFrame(const uint8_t** frame, size_t* length) {
  for (size_t i = m_nParse; i + 9 <= m_nFill; ++i) {
    if (m_buf[i] != 0x24 || m_buf[i + 1] != 0x23) continue;
    const size_t n = m_buf[i + 4];
    if (m_nFill - i < n + 8) {
      m_nParse = i;  // wait for the rest
      return false;
    }
    if (m_buf[i + n + 6] == 0x40 && m_buf[i + n + 7] == 0x24) {
      *frame = m_buf.data() + i;
      *length = n + 8;
      m_nParse = i + n + 8;
      return true;
    }
  }
  GiveUp(8);
  return false;
}

bool CXorFrameRing::NextFrame(const uint8_t** frame, size_t* length) {
  for (size_t i = m_nParse; i + 9 <= m_nFill; ++i) {
    if (m_buf[i] != 0x21 || m_buf[i + 1] != 0x23) continue;
    const size_t field = m_buf[i + 4] | (m_buf[i + 5] << 8);
    const size_t n = field > 7 ? field - 7 : 0;
    // A frame that could never fit the buffer would block the search for good.
    if (n > kMaxFrameData || n + 8 > kCapacity) {
      Trace("frameLen big than buffer,overflow,frame error!!! parserPos++\n");
      continue;
    }
    if (m_nFill - i < n + 8) {
      m_nParse = i;
      return false;
    }
    if (m_buf[i + n + 7] == 0x0D) {
      *frame = m_buf.data() + i;
      *length = n + 8;
      m_nParse = i + n + 8;
      return true;
    }
  }
  GiveUp(8);
  return false;
}

}  // namespace hu
