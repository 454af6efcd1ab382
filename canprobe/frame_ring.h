#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace hu {

// A receive buffer that reassembles frames from serial reads: bytes are
// appended at the fill mark and frames searched from the parse mark. When new
// bytes do not fit behind the fill mark the unparsed part moves to the front
// first; bytes beyond the free space are dropped.
class CFrameRing {
 public:
  static constexpr size_t kCapacity = 10240;

  virtual ~CFrameRing() = default;

  // Returns the count of bytes taken.
  size_t Append(const uint8_t* data, size_t length);
  // The next whole frame, or false when none is complete yet. The frame
  // stays valid until the next Append.
  virtual bool NextFrame(const uint8_t** frame, size_t* length) = 0;

  size_t FillMark() const { return m_nFill; }
  size_t ParseMark() const { return m_nParse; }

 protected:
  // Moves the parse mark to `keep` bytes before the fill mark, never back.
  void GiveUp(size_t keep);

  std::array<uint8_t, kCapacity> m_buf{};
  size_t m_nFill = 0;
  size_t m_nParse = 0;
};

// "$#" frames as the MCU carries them (kind 4): n at +4, n + 8 bytes, "@$" at the end.
class CSumFrameRing : public CFrameRing {
 public:
  bool NextFrame(const uint8_t** frame, size_t* length) override;
};

// "!#" frames as the MCU carries them (kind 5): 16-bit length at +4 (n + 7),
// n + 8 bytes, 0x0D at the end.
class CXorFrameRing : public CFrameRing {
 public:
  static constexpr size_t kMaxFrameData = 10250;
  bool NextFrame(const uint8_t** frame, size_t* length) override;
};

}  // namespace hu
