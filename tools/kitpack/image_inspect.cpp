#include "tools/kitpack/image_inspect.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "canprobe/canbox_image.h"
#include "common/platform/text.h"
#include "mcuflash/s19_image_file.h"
#include "mcuflash/s19_line_file.h"
#include "tools/kitpack/kit_digest.h"
#include "tools/kitpack/pinned_files.h"
#include "tools/kitpack/s19_writer.h"

namespace hu::kitpack {

namespace {

std::string Hex(uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
  return text;
}

void InspectCanbox(const std::string& hostPath, ImageListing* l) {
  PinnedFiles files(nullptr, kInputDevicePath, hostPath);
  CCanboxImage image;
  if (!image.Load(files, kInputDevicePath, "\\")) {
    l->problem = "canprobe cannot decode it";
    return;
  }
  std::vector<uint8_t> bytes = image.Image();
  l->valid = true;
  l->firstAddress = CCanboxImage::kFlashBase;
  l->size = bytes.size();
  l->sha256 = Sha256OfBytes(std::string(bytes.begin(), bytes.end()));
}

void InspectS19(const std::string& hostPath, ImageListing* l) {
  std::ifstream in(hostPath, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.is_open() || text.empty() || text.size() > CS19File::kMaxFileSize) {
    l->problem = "cannot be read, is empty or is too large";
    return;
  }
  InspectS19Text(text, l);
}

}  // namespace

void InspectS19Text(const std::string& text, ImageListing* l) {
  l->kind = "s19";
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) l->records += !line.empty() && line[0] == 'S';
  // The readers take the text as given; they open no file.
  PinnedFiles files(nullptr, kInputDevicePath, "");
  CS19ImageFile blocks(files, "", nullptr);
  CS19LineFile records(files, "");
  bool decoded = blocks.DecodeText(text.data(), text.size());
  bool lineOk = records.TakeText(text.data(), text.size()) && records.Tag().find(kStm8Tag) == std::string::npos;
  bool blockOk = decoded && blocks.Tag().find(kStm8Tag) != std::string::npos;
  l->family = blockOk && lineOk ? "block, line" : blockOk ? "block" : lineOk ? "line" : "none";
  l->tag = blockOk ? blocks.Tag() : records.Tag();
  if (!decoded) {
    l->problem = "damaged records or no end record";
    return;
  }
  const std::vector<uint8_t>& image = blocks.Image();
  l->firstAddress = kMcuImageBase;
  l->size = blocks.TotalLength();
  l->sha256 = Sha256OfBytes(std::string(image.begin(), image.begin() + static_cast<long>(l->size)));
  l->valid = blockOk || lineOk;
  if (!l->valid) l->problem = "neither mcuflash family accepts it";
}

bool InspectImageFile(const std::string& hostPath, ImageListing* listing) {
  std::string ext = AsciiLower(std::filesystem::path(hostPath).extension().string());
  if (ext == ".canbox") {
    listing->kind = "canbox";
    InspectCanbox(hostPath, listing);
    return true;
  }
  if (ext == ".s19") {
    listing->kind = "s19";
    InspectS19(hostPath, listing);
    return true;
  }
  return false;
}

nlohmann::json ImageJson(const ImageListing& l) {
  nlohmann::json j{{"kind", l.kind}, {"valid", l.valid}};
  if (!l.problem.empty()) j["problem"] = l.problem;
  if (l.size > 0) {
    j["first_address"] = l.firstAddress;
    j["last_address"] = l.firstAddress + l.size - 1;
    j["size"] = l.size;
    j["sha256"] = l.sha256;
  }
  if (l.kind == "s19") {
    j["records"] = l.records;
    j["tag"] = l.tag;
    j["family"] = l.family;
  }
  return j;
}

std::string ImageText(const std::string& hostPath, const ImageListing& l) {
  std::ostringstream o;
  o << hostPath << ": " << l.kind << (l.valid ? "" : " (not valid: " + l.problem + ")") << "\n";
  if (l.kind == "s19") {
    o << "  " << l.records << " records, tag \"" << l.tag << "\", accepted by the mcuflash family: " << l.family
      << "\n";
  }
  if (l.size > 0) {
    o << "  image " << Hex(l.firstAddress) << ".." << Hex(l.firstAddress + l.size - 1) << ", " << l.size
      << " bytes, sha256 " << l.sha256 << "\n";
  }
  return o.str();
}

}  // namespace hu::kitpack
