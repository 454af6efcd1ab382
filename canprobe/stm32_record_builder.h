#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace hu {

// What the STM32 IAP loader of the CAN box is sent: two 14-byte banners and
// the 'A' (erase), 'B' (program) and 'D' (leave) records. A record is "\r$",
// the command, the big-endian address and payload length, a header check
// (0x8C exclusive-or the bytes before it), the payload, a payload check and
// "\r\n"; every 0x0D after "\r$" and before the final "\r\n" goes twice.
class CStm32RecordBuilder {
 public:
  static constexpr size_t kBufferSize = 512;
  static constexpr size_t kProgramPayload = 128;
  static constexpr size_t kErasePayload = 64;
  static constexpr size_t kLeavePayload = 4;
  static constexpr uint8_t kHeaderCheckSeed = 0x8C;

  // Command indexes (the stage + 1).
  enum : int { kEnterIap = 1, kErase = 2, kProgram = 3, kLeaveIap = 4, kEraseFlag = 5 };

  // Builds the bytes of command index `index`: 1 and 5 the banners "\r$STM32-IAP0\r\n"
  // and "\r$STM32-IAP1\r\n"; 2 the erase record (64 bytes of 0xFF); 3 the
  // program record at `address` with `n` (at most 128) bytes of `data` and
  // 0xFF up to 128; 4 the leave record (4 bytes of 0xFF). Any other index, or
  // more than 128 bytes, builds nothing and answers false. The index is kept.
  bool Build(int index, uint32_t address = 0, const uint8_t* data = nullptr, size_t n = 0);

  const uint8_t* Bytes() const { return m_buf.data(); }
  size_t Length() const { return m_nLength; }
  int LastIndex() const { return m_nLastIndex; }

 private:
  void Put(uint8_t b);
  void PutDoubled(uint8_t b, bool* parity);

  std::array<uint8_t, kBufferSize> m_buf{};
  size_t m_nLength = 0;
  int m_nLastIndex = 0;
};

}  // namespace hu
