#include "canprobe/stm32_record_builder.h"

#include <cstring>

namespace hu {
namespace {
const char kBanner0[] = "\r$STM32-IAP0\r\n";
const char kBanner1[] = "\r$STM32-IAP1\r\n";
}  // namespace

void CStm32RecordBuilder::Put(uint8_t b) {
  // The largest record (278 bytes) always fits; the check keeps it so.
  if (m_nLength < m_buf.size()) m_buf[m_nLength++] = b;
}

void CStm32RecordBuilder::PutDoubled(uint8_t b, bool* parity) {
  Put(b);
  if (b == 0x0D) {
    Put(b);
    *parity = !*parity;
  }
}

bool CStm32RecordBuilder::Build(int index, uint32_t address, const uint8_t* data, size_t n) {
  m_nLength = 0;
  m_nLastIndex = index;
  uint8_t command = 0;
  size_t payloadLength = 0;
  switch (index) {
    case kEnterIap:
    case kEraseFlag: {
      const char* banner = index == kEnterIap ? kBanner0 : kBanner1;
      std::memcpy(m_buf.data(), banner, sizeof kBanner0 - 1);
      m_nLength = sizeof kBanner0 - 1;
      return true;
    }
    case kErase:
      command = 'A';
      payloadLength = kErasePayload;
      break;
    case kProgram:
      if (n > kProgramPayload || (n > 0 && data == nullptr)) return false;
      command = 'B';
      payloadLength = kProgramPayload;
      break;
    case kLeaveIap:
      command = 'D';
      payloadLength = kLeavePayload;
      break;
    default:
      return false;
  }

  uint8_t header[10] = {0x0D, 0x24, command,
                        static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
                        static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                        static_cast<uint8_t>(payloadLength >> 8), static_cast<uint8_t>(payloadLength), 0};
  uint8_t headerCheck = kHeaderCheckSeed;
  for (int i = 0; i < 9; ++i) headerCheck ^= header[i];
  header[9] = headerCheck;

  bool parity = false;
  Put(header[0]);
  Put(header[1]);
  for (int i = 2; i < 10; ++i) PutDoubled(header[i], &parity);
  for (size_t i = 0; i < payloadLength; ++i) {
    const uint8_t b = (command == 'B' && i < n) ? data[i] : 0xFF;
    PutDoubled(b, &parity);
  }
  // Over the bytes on the wire; a doubled 0x0D cancels itself out once per
  // doubling, which the parity puts back.
  uint8_t check = 0;
  for (size_t i = 2; i < m_nLength; ++i) check ^= m_buf[i];
  if (parity) check ^= 0x0D;
  Put(check);
  if (check == 0x0D) Put(check);
  Put(0x0D);
  Put(0x0A);
  return true;
}

}  // namespace hu
