#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace hu {

// One Motorola S-record as decoded from the image text, and the platform tag
// carried by the record at 0x9FE0.
class CMcuFileFrame {
 public:
  static constexpr uint32_t kImageBase = 0xA000;
  static constexpr uint32_t kTagAddress = 0x9FE0;
  static constexpr size_t kMaxData = 127;
  static constexpr size_t kTagSize = 128;

  CMcuFileFrame() { Reset(); }

  // Forgets the record and the platform tag.
  void Reset();

  // Address-field width in bytes of record types 1 to 6; -1 for the others.
  static int AddressWidth(uint8_t type);
  // Value of the two hexadecimal digits at text[pos]; -1 when either is missing
  // or not a hexadecimal digit.
  static int HexPair(const char* text, size_t length, size_t pos);

  // Decodes the record of type 1 to 6 whose 'S' is at text[pos]. False when it
  // is malformed, runs past the text, holds 128 or more data bytes or fails
  // its check. Never reads outside text[0, length).
  bool Decode(const char* text, size_t length, size_t pos);
  // Puts a decoded record where it belongs: data at 0xA000 and above into the
  // image, the tag record into the platform tag; others are ignored. False
  // when the data would lie beyond the image.
  bool SaveDataToBuf(uint8_t* image, size_t imageSize);

  size_t DataLength() const { return m_nDataLen; }
  // Characters the record occupies: mark, type, count and count pairs.
  size_t TextLength() const { return 2u * m_byCount + 4u; }
  const char* Platform() const { return m_szPlatform; }

  char m_cMark;
  uint8_t m_byType;
  uint8_t m_byCount;
  uint8_t m_byCheck;
  uint32_t m_dwAddress;
  uint8_t m_byData[kMaxData];
  char m_szPlatform[kTagSize];

 private:
  size_t m_nDataLen;
};

}  // namespace hu
