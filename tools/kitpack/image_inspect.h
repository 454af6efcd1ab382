#pragma once
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace hu::kitpack {

// A firmware image file as its own program reads it: a ".canbox" file with
// canprobe's reader, an ".s19" file with both of mcuflash's readers.
struct ImageListing {
  std::string kind;  // "canbox", "s19"
  bool valid = false;
  std::string problem;
  uint32_t firstAddress = 0;  // of image byte 0, as the records give it
  uint64_t size = 0;          // image bytes
  std::string sha256;         // of the image bytes
  // s19 only
  size_t records = 0;
  std::string tag;     // platform tag (block family) or header text (line family)
  std::string family;  // the mcuflash families that accept it: "block", "line", or "none"
};

// True when the file's name marks it as one of these images; `*listing` then
// tells what it holds.
bool InspectImageFile(const std::string& hostPath, ImageListing* listing);
// The S-record text as mcuflash's two readers see it.
void InspectS19Text(const std::string& text, ImageListing* listing);
nlohmann::json ImageJson(const ImageListing& listing);
std::string ImageText(const std::string& hostPath, const ImageListing& listing);

}  // namespace hu::kitpack
