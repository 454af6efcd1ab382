#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace hu::kitpack {

// The two ways mcuflash reads an S-record file: the block family decodes
// the data into one image from 0xA000 and wants the "STM8QX4B" platform tag
// at 0x9FE0; the line family sends the records as text lines of at most 128
// characters and refuses that tag.
enum class McuFamily { Block, Line };

constexpr uint32_t kMcuImageBase = 0xA000;
constexpr uint32_t kMcuTagAddress = 0x9FE0;
constexpr char kStm8Tag[] = "STM8QX4B";

// S-record text of `image` placed from 0xA000: a header record naming
// `title` (the tag, for the block family), the platform tag for the block family, 32-byte data records (S2
// when the image reaches past 0xFFFF) and the matching end record. False
// with *error when the image is empty or does not fit 24-bit addresses.
bool MakeS19Text(const std::vector<uint8_t>& image, McuFamily family, const std::string& title, std::string* text,
                 std::string* error);

}  // namespace hu::kitpack
