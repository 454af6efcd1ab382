#include "tools/kitpack/s19_writer.h"

#include <cstdio>

namespace hu::kitpack {

namespace {

constexpr size_t kDataPerRecord = 32;

// One record: type, address of `width` bytes, data, and the one's
// complement of the byte sum as its check.
std::string Record(int type, int width, uint32_t address, const uint8_t* data, size_t size) {
  char hex[3];
  uint32_t count = static_cast<uint32_t>(width + size + 1);
  uint32_t sum = count;
  std::string s = "S" + std::to_string(type);
  auto put = [&](uint32_t b) {
    std::snprintf(hex, sizeof hex, "%02X", b & 0xFF);
    s += hex;
  };
  put(count);
  for (int i = width - 1; i >= 0; --i) {
    uint32_t b = (address >> (8 * i)) & 0xFF;
    sum += b;
    put(b);
  }
  for (size_t i = 0; i < size; ++i) {
    sum += data[i];
    put(data[i]);
  }
  put((sum & 0xFF) ^ 0xFF);
  return s + "\r\n";
}

std::string TextRecord(int type, int width, uint32_t address, const std::string& text) {
  return Record(type, width, address, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

}  // namespace

bool MakeS19Text(const std::vector<uint8_t>& image, McuFamily family, const std::string& title, std::string* text,
                 std::string* error) {
  if (image.empty()) {
    *error = "the image is empty";
    return false;
  }
  uint64_t last = kMcuImageBase + static_cast<uint64_t>(image.size()) - 1;
  if (last > 0xFFFFFF) {
    *error = "the image of " + std::to_string(image.size()) + " bytes does not fit 24-bit addresses from 0xA000";
    return false;
  }
  // The line family's header text is its tag; it must not read as the block family's.
  // The block family's file says its tag in the header as well, so that a
  // line-family unit refuses it.
  std::string header = family == McuFamily::Block ? std::string(kStm8Tag) : title.substr(0, 40);
  if (family == McuFamily::Line && header.find(kStm8Tag) != std::string::npos) header = "image";
  const bool wide = last > 0xFFFF;
  const int type = wide ? 2 : 1;
  const int width = wide ? 3 : 2;
  std::string s = TextRecord(0, 2, 0, header);
  if (family == McuFamily::Block) s += TextRecord(1, 2, kMcuTagAddress, kStm8Tag);
  for (size_t at = 0; at < image.size(); at += kDataPerRecord) {
    size_t n = image.size() - at < kDataPerRecord ? image.size() - at : kDataPerRecord;
    s += Record(type, width, static_cast<uint32_t>(kMcuImageBase + at), image.data() + at, n);
  }
  // S9 ends an S1 file, S8 an S2 file; both start execution at the image.
  s += Record(wide ? 8 : 9, width, kMcuImageBase, nullptr, 0);
  *text = std::move(s);
  return true;
}

}  // namespace hu::kitpack
