#pragma once
#include <functional>
#include <string>
#include <vector>

#include "common/platform/files.h"
#include "common/platform/text.h"

namespace hu {

// Merges incremental packs, ordered highest version first, and extracts each
// member path once, from the first pack that holds it. A pack result code:
// kPackNoIndex at the first pack whose index cannot be read (or that declares
// less than its members hold), else the code of the first member that fails.
// `progress` (optional) gets each extracted entry's percentage and result.
uint32_t ExtractIncrementalPacks(Files& files, CodePage& codePage, const std::vector<std::string>& packPaths,
                                 const std::string& targetDir,
                                 const std::function<void(uint32_t percentage, uint32_t result)>& progress = {});

}  // namespace hu
