#include "mcuflash/mcu_file_frame.h"

#include <cstring>

#include "common/platform/trace.h"

namespace hu {
namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
}  // namespace

void CMcuFileFrame::Reset() {
  m_cMark = 'S';
  m_byType = 0;
  m_byCount = 0;
  m_byCheck = 0;
  m_dwAddress = 0;
  std::memset(m_byData, 0, sizeof m_byData);
  std::memset(m_szPlatform, 0, sizeof m_szPlatform);
  m_nDataLen = 0;
}

int CMcuFileFrame::AddressWidth(uint8_t type) {
  static const int kWidths[7] = {-1, 2, 3, 4, 0, 2, 0};
  return type <= 6 ? kWidths[type] : -1;
}

int CMcuFileFrame::HexPair(const char* text, size_t length, size_t pos) {
  if (pos >= length || length - pos < 2) return -1;
  const int hi = HexDigit(text[pos]);
  const int lo = HexDigit(text[pos + 1]);
  if (hi < 0 || lo < 0) return -1;
  return hi * 16 + lo;
}

bool CMcuFileFrame::Decode(const char* text, size_t length, size_t pos) {
  m_nDataLen = 0;
  if (pos >= length || length - pos < 4 || text[pos] != 'S') {
    Trace("CMcuFileFrame::Decode no record at %u\n", static_cast<unsigned>(pos));
    return false;
  }
  const uint8_t type = static_cast<uint8_t>(text[pos + 1] - '0');
  const int width = AddressWidth(type);
  const int count = HexPair(text, length, pos + 2);
  if (width < 0 || count < width + 1) {
    Trace("CMcuFileFrame::Decode bad record head at %u\n", static_cast<unsigned>(pos));
    return false;
  }
  const size_t n = static_cast<size_t>(count - width - 1);
  if (n > kMaxData) {
    Trace("CMcuFileFrame::Decode record at %u has %u data bytes\n", static_cast<unsigned>(pos),
          static_cast<unsigned>(n));
    return false;
  }
  if (length - pos < 4u + 2u * static_cast<size_t>(count)) {
    Trace("CMcuFileFrame::Decode record at %u is cut off\n", static_cast<unsigned>(pos));
    return false;
  }
  size_t at = pos + 4;
  uint32_t address = 0;
  for (int i = 0; i < width; ++i, at += 2) {
    const int b = HexPair(text, length, at);
    if (b < 0) break;
    address = (address << 8) | static_cast<uint32_t>(b);
  }
  uint8_t data[kMaxData];
  bool digits = at == pos + 4 + 2u * static_cast<size_t>(width);
  for (size_t i = 0; digits && i < n; ++i, at += 2) {
    const int b = HexPair(text, length, at);
    if (b < 0) digits = false;
    else data[i] = static_cast<uint8_t>(b);
  }
  const int check = digits ? HexPair(text, length, at) : -1;
  if (check < 0) {
    Trace("CMcuFileFrame::Decode bad character in record at %u\n", static_cast<unsigned>(pos));
    return false;
  }
  unsigned sum = static_cast<unsigned>(count);
  for (int shift = 0; shift < 32; shift += 8) sum += (address >> shift) & 0xFF;
  for (size_t i = 0; i < n; ++i) sum += data[i];
  if (((sum & 0xFF) ^ 0xFF) != static_cast<unsigned>(check)) {
    Trace("CMcuFileFrame::Decode check error at %u: 0x%02x\n", static_cast<unsigned>(pos),
          static_cast<unsigned>(check));
    return false;
  }
  m_cMark = 'S';
  m_byType = type;
  m_byCount = static_cast<uint8_t>(count);
  m_byCheck = static_cast<uint8_t>(check);
  m_dwAddress = address;
  std::memcpy(m_byData, data, n);
  m_nDataLen = n;
  return true;
}

bool CMcuFileFrame::SaveDataToBuf(uint8_t* image, size_t imageSize) {
  if (m_dwAddress >= kImageBase) {
    const size_t offset = m_dwAddress - kImageBase;
    if (offset > imageSize || imageSize - offset < m_nDataLen) {
      Trace("CMcuFileFrame::SaveDataToBuf Addr[0x%06x] beyond the image\n", m_dwAddress);
      return false;
    }
    if (m_nDataLen > 0) std::memcpy(image + offset, m_byData, m_nDataLen);
    return true;
  }
  if (m_dwAddress == kTagAddress) {
    size_t first = 0;
    while (first < m_nDataLen && m_byData[first] == 0) ++first;
    // At most 127 data bytes, so the tag always keeps its terminating NUL.
    std::memset(m_szPlatform, 0, sizeof m_szPlatform);
    std::memcpy(m_szPlatform, m_byData + first, m_nDataLen - first);
    Trace("CMcuFileFrame::SaveDataToBuf Addr[0x009FE0]:platform = [%s]\n", m_szPlatform);
  }
  return true;
}

}  // namespace hu
