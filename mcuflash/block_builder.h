#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace hu {

// Builds the data of one transfer frame and keeps it, so that a repeat sends
// the same block again.
class CBlockBuilder {
 public:
  static constexpr size_t kBufferSize = 512;

  virtual ~CBlockBuilder() = default;
  virtual const uint8_t* Buffer() const { return m_buf.data(); }
  virtual size_t Length() const { return m_len; }
  virtual void BuildStart() = 0;
  // False, with an empty block, when `n` bytes do not fit the block.
  virtual bool BuildData(uint32_t address, const uint8_t* bytes, size_t n) = 0;
  virtual void BuildEnd() = 0;
  // The version query: the single byte 'D' in both families.
  virtual void BuildVersionQuery();

 protected:
  void Set(std::initializer_list<uint8_t> bytes);

  std::array<uint8_t, kBufferSize> m_buf{};
  size_t m_len = 0;
};

// 'a'/'b'/'c' blocks of the STM8 loader; a data block always carries 128
// image bytes, the end of the image padded with zeros.
class CStm8BlockBuilder : public CBlockBuilder {
 public:
  static constexpr size_t kDataBytes = 128;
  static constexpr size_t kDataBlockLength = 5 + kDataBytes;

  void BuildStart() override;
  bool BuildData(uint32_t address, const uint8_t* bytes, size_t n) override;
  void BuildEnd() override;
};

// 'Y' blocks carrying one S-record line as text.
class CLineBlockBuilder : public CBlockBuilder {
 public:
  static constexpr size_t kMaxLine = kBufferSize - 2;

  void BuildStart() override;
  // `address` is not used: the line carries its own.
  bool BuildData(uint32_t address, const uint8_t* bytes, size_t n) override;
  void BuildEnd() override;
};

}  // namespace hu
