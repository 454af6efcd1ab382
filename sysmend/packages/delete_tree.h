#pragma once
#include <string>

#include "common/platform/clock.h"
#include "common/platform/files.h"

namespace hu {

// Deletes `path` with everything below it. Only entries whose attributes are
// the folder bit alone are descended into; any other entry is deleted as a
// file. True when `path` itself was removed.
bool DeleteTree(Files& files, Clock& clock, const std::string& path);

}  // namespace hu
