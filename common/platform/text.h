#pragma once
#include <cstdint>
#include <string>

namespace hu {

// UTF-16 appears only where bytes are defined as UTF-16; these convert at
// that boundary. Invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(const std::string& utf8);
std::string Utf16ToUtf8(const std::u16string& utf16);
// Little-endian UTF-16 bytes, up to the first zero unit or the end.
std::string Utf16LeBytesToUtf8(const void* data, size_t bytes);
std::u16string Utf16LeBytes(const void* data, size_t bytes);

// ASCII-only case folding, as the device compares names.
std::string AsciiLower(const std::string& s);
bool EqualsNoCase(const std::string& a, const std::string& b);

// The system code page (8-bit texts of pack indexes, tool.cfg, vehicle tables).
class CodePage {
 public:
  virtual ~CodePage() = default;
  virtual std::string ToUtf8(const std::string& bytes) = 0;
  virtual std::string FromUtf8(const std::string& utf8) = 0;
  virtual uint32_t Number() const = 0;  // e.g. 936
};

}  // namespace hu
