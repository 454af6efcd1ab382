#include "mcuflash/block_builder.h"

#include <algorithm>
#include <cstring>

#include "common/platform/trace.h"

namespace hu {

void CBlockBuilder::Set(std::initializer_list<uint8_t> bytes) {
  std::copy(bytes.begin(), bytes.end(), m_buf.begin());
  m_len = bytes.size();
}

void CBlockBuilder::BuildVersionQuery() {
  Set({'D'});
}

void CStm8BlockBuilder::BuildStart() {
  Set({'a', 'S', 'T', 'M', '8'});
}

bool CStm8BlockBuilder::BuildData(uint32_t address, const uint8_t* bytes, size_t n) {
  if (n > kDataBytes || (n > 0 && bytes == nullptr)) {
    m_len = 0;
    Trace("CStm8BlockBuilder::BuildData %u bytes refused\n", static_cast<unsigned>(n));
    return false;
  }
  m_buf[0] = 'b';
  for (int i = 0; i < 4; ++i) m_buf[1 + i] = static_cast<uint8_t>(address >> (8 * i));
  std::fill(m_buf.begin() + 5, m_buf.begin() + kDataBlockLength, 0);
  if (n > 0) std::memcpy(m_buf.data() + 5, bytes, n);
  m_len = kDataBlockLength;
  return true;
}

void CStm8BlockBuilder::BuildEnd() {
  Set({'c', 'S', 'T', 'M', '8'});
}

void CLineBlockBuilder::BuildStart() {
  Set({'Y', 0x01});
}

bool CLineBlockBuilder::BuildData(uint32_t /*address*/, const uint8_t* bytes, size_t n) {
  if (n > kMaxLine || (n > 0 && bytes == nullptr)) {
    m_len = 0;
    Trace("CLineBlockBuilder::BuildData %u bytes refused\n", static_cast<unsigned>(n));
    return false;
  }
  m_buf[0] = 'Y';
  m_buf[1] = 0x02;
  if (n > 0) std::memcpy(m_buf.data() + 2, bytes, n);
  m_len = n + 2;
  return true;
}

void CLineBlockBuilder::BuildEnd() {
  Set({'Y', 0x00});
}

}  // namespace hu
