#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace hu {

// Makes the ".canbox" file of a firmware image: 16-byte hexadecimal records
// from address 0x2000 on, ended by an end record, scrambled byte by byte the
// way CCanboxImage undoes it. The image must hold 16 to 57344 bytes (what
// 16-bit record addresses from 0x2000 reach). False with a one-line *error
// otherwise.
bool MakeCanboxFile(const std::vector<uint8_t>& image, std::string* file, std::string* error = nullptr);

// The unscrambled record text of the same file.
bool MakeCanboxText(const std::vector<uint8_t>& image, std::string* text, std::string* error = nullptr);

}  // namespace hu
