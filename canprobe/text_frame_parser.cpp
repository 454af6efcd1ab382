#include "canprobe/text_frame_parser.h"

#include "common/platform/trace.h"

namespace hu {

bool CTextFrameParser::NextFrame(const uint8_t** frame, size_t* length) {
  size_t i = m_nParse;
  while (i + 4 <= m_nFill) {
    if (m_buf[i] != 0x0D || m_buf[i + 1] != 0x24) {
      ++i;
      continue;
    }
    const int frameLength = static_cast<int>(m_buf[i + 3]) - 41;
    // Below 4 the terminator would lie before the frame itself.
    if (frameLength < 4 || frameLength >= kMaxFrameLength) {
      Trace("frameLen big than buffer,overflow,frame error!!! parserPos++\n");
      ++i;
      continue;
    }
    const size_t L = static_cast<size_t>(frameLength);
    if (m_nFill - i < L) {
      m_nParse = i;
      return false;
    }
    if (m_buf[i + L - 2] != '\r' || m_buf[i + L - 1] != '\n') {
      i += 2;
      continue;
    }
    *frame = m_buf.data() + i;
    *length = L;
    m_nParse = i + L;
    return true;
  }
  GiveUp(3);
  return false;
}

}  // namespace hu
