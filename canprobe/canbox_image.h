#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/platform/files.h"

namespace hu {

// The CAN box firmware of a ".canbox" file: a scrambled text of hexadecimal
// records whose data, from address 0x2000 on, form the image that the STM32
// loader programs from 0x08002000.
class CCanboxImage {
 public:
  static constexpr uint32_t kImageBase = 0x2000;          // record address of image byte 0
  static constexpr uint32_t kFlashBase = 0x08002000;      // loader address of image byte 0
  static constexpr size_t kBlockSize = 128;

  // Percent of the text decoded, each time it changes.
  using Progress = std::function<void(int percent)>;

  // Loads `path`, or when it is empty or missing the first "*.canbox" of
  // `moduleDir`; unscrambles and decodes it. False (traced) when no file is
  // found, it cannot be read, or it holds no usable image.
  bool Load(Files& files, const std::string& path, const std::string& moduleDir, const Progress& progress = {});
  // Decodes an unscrambled text. False for a text without records or with a
  // record that is damaged or lies outside the image.
  bool Decode(const uint8_t* text, size_t size, const Progress& progress = {});

  // Up to kBlockSize image bytes from the read position, which advances.
  size_t ReadBlock(uint8_t* out, size_t max = kBlockSize);
  // Loader address of the next block: read position + kFlashBase.
  uint32_t BlockAddress() const { return static_cast<uint32_t>(m_nPosition) + kFlashBase; }
  size_t Position() const { return m_nPosition; }
  size_t Length() const { return m_nLength; }
  void Rewind() { m_nPosition = 0; }
  // The image bytes (Length() of them).
  std::vector<uint8_t> Image() const;
  const std::string& FilePath() const { return m_path; }

 private:
  std::vector<uint8_t> m_image;  // as large as the file
  size_t m_nLength = 0;
  size_t m_nPosition = 0;
  std::string m_path;
};

// The file's byte scrambling and its inverse.
uint8_t UnscrambleCanboxByte(uint8_t b);
uint8_t ScrambleCanboxByte(uint8_t b);

}  // namespace hu
