#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/platform/text.h"
#include "sysmend/packages/kit_layout.h"
#include "sysmend/packages/pack_unzip.h"

namespace hu::kitpack {

struct PackListing {
  bool valid = false;
  uint32_t base = 0;
  PackArchiveInfo info;
  std::string appVersion;
  std::string packType;
  std::vector<PackGroup> groups;
};

// What a kit file is and holds, as the updater's own readers see it.
struct KitListing {
  std::string kind = "unknown";  // "container", "pack", "unknown"
  bool valid = false;
  std::string problem;  // why it is not valid
  // container
  std::map<std::string, std::string> versions;  // "version", "boot_version" ... present ones only
  std::vector<std::pair<SectionKind, SectionRecord>> sections;
  bool hasPack = false;
  PackListing pack;
  // Filled by AddDigests: SHA-256 of each section's bytes and of each
  // member's inflated content (a member that does not inflate cleanly gets
  // none; `verify` says why).
  std::map<SectionKind, std::string> sectionSha256;
  std::map<std::string, std::string> memberSha256;  // by member name
};

KitListing InspectKit(const std::string& hostPath, CodePage& codePage);
void AddDigests(const std::string& hostPath, KitListing* listing);
nlohmann::json ListingJson(const KitListing& listing);
std::string ListingText(const std::string& hostPath, const KitListing& listing);

// Extracts the pack (or a container's application section) into the host
// folder `dir` with the updater's extraction; false with `error` set.
bool ExtractKit(const std::string& hostPath, const std::string& dir, CodePage& codePage, std::string* error);

}  // namespace hu::kitpack
