#pragma once
// Builds S-record text for the tests.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace hu {
namespace testing_s19 {

inline std::string Hex(uint32_t v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, v);
  return buf;
}

// One record with a correct check; `checkDelta` spoils it.
inline std::string Record(int type, uint32_t address, const std::vector<uint8_t>& data, int checkDelta = 0) {
  static const int kWidth[10] = {2, 2, 3, 4, 0, 2, 0, 4, 3, 2};
  const int width = kWidth[type];
  const uint32_t count = static_cast<uint32_t>(width + data.size() + 1);
  uint32_t sum = count;
  std::string s = "S" + std::to_string(type) + Hex(count, 2);
  for (int i = width - 1; i >= 0; --i) {
    const uint32_t b = (address >> (8 * i)) & 0xFF;
    sum += b;
    s += Hex(b, 2);
  }
  for (uint8_t b : data) {
    sum += b;
    s += Hex(b, 2);
  }
  s += Hex((((sum & 0xFF) ^ 0xFF) + checkDelta) & 0xFF, 2);
  return s + "\r\n";
}

inline std::string Header(const std::string& text) {
  return Record(0, 0, std::vector<uint8_t>(text.begin(), text.end()));
}

inline std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

inline const std::string& End() {
  static const std::string kEnd = "S9030000FC\r\n";
  return kEnd;
}

// The platform tag record of an STM8 image.
inline std::string TagRecord(const std::string& tag) {
  std::vector<uint8_t> data{0, 0};
  data.insert(data.end(), tag.begin(), tag.end());
  return Record(1, 0x9FE0, data);
}

// `size` image bytes from 0xA000 in records of `chunk` bytes; byte i is i * 7 + 3.
inline std::string Image(size_t size, size_t chunk = 32) {
  std::string s;
  for (size_t at = 0; at < size; at += chunk) {
    std::vector<uint8_t> data;
    for (size_t i = at; i < size && i < at + chunk; ++i) data.push_back(static_cast<uint8_t>(i * 7 + 3));
    s += Record(1, static_cast<uint32_t>(0xA000 + at), data);
  }
  return s;
}

}  // namespace testing_s19
}  // namespace hu
