#pragma once
#include <string>
#include <vector>

#include "common/platform/files.h"
#include "common/platform/text.h"

namespace hu {

// Merges incremental packs, ordered highest version first, and extracts each
// member path once, from the first pack that holds it. False at the first
// pack whose index cannot be read or the first member that fails.
bool ExtractIncrementalPacks(Files& files, CodePage& codePage, const std::vector<std::string>& packPaths,
                             const std::string& targetDir);

}  // namespace hu
