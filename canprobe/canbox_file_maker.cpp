#include "canprobe/canbox_file_maker.h"

#include <cstdio>

#include "canprobe/canbox_image.h"

namespace hu {
namespace {

constexpr size_t kRecordBytes = 16;
constexpr size_t kMaxImage = 0x10000 - CCanboxImage::kImageBase;

void PutHex(std::string* out, uint32_t value, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (int i = digits - 1; i >= 0; --i) out->push_back(kDigits[(value >> (4 * i)) & 0xF]);
}

void PutRecord(std::string* out, uint8_t type, uint32_t address, const uint8_t* data, size_t n) {
  uint8_t sum = static_cast<uint8_t>(n + (address >> 8) + address + type);
  out->push_back(':');
  PutHex(out, static_cast<uint32_t>(n), 2);
  PutHex(out, address & 0xFFFF, 4);
  PutHex(out, type, 2);
  for (size_t i = 0; i < n; ++i) {
    PutHex(out, data[i], 2);
    sum = static_cast<uint8_t>(sum + data[i]);
  }
  PutHex(out, static_cast<uint8_t>(0x100 - sum), 2);
  out->append("\r\n");
}

}  // namespace

bool MakeCanboxText(const std::vector<uint8_t>& image, std::string* text, std::string* error) {
  if (image.size() < kRecordBytes || image.size() > kMaxImage) {
    if (error != nullptr) {
      char line[128];
      std::snprintf(line, sizeof line, "image of %zu bytes: a .canbox image holds %zu to %zu bytes", image.size(),
                    kRecordBytes, kMaxImage);
      *error = line;
    }
    return false;
  }
  text->clear();
  // The upper address half of the loader's flash, as the tool chain writes it.
  const uint8_t upper[2] = {0x08, 0x00};
  PutRecord(text, 0x04, 0x0000, upper, 2);
  for (size_t offset = 0; offset < image.size(); offset += kRecordBytes) {
    const size_t n = image.size() - offset < kRecordBytes ? image.size() - offset : kRecordBytes;
    PutRecord(text, 0x00, static_cast<uint32_t>(CCanboxImage::kImageBase + offset), image.data() + offset, n);
  }
  PutRecord(text, 0x01, 0x0000, nullptr, 0);
  return true;
}

bool MakeCanboxFile(const std::vector<uint8_t>& image, std::string* file, std::string* error) {
  std::string text;
  if (!MakeCanboxText(image, &text, error)) return false;
  file->resize(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    (*file)[i] = static_cast<char>(ScrambleCanboxByte(static_cast<uint8_t>(text[i])));
  }
  return true;
}

}  // namespace hu
