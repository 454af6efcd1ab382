#pragma once
#include <string>

#include "common/platform/clock.h"
#include "common/platform/files.h"

namespace hu {

// Deletes `path` with everything below it. Only entries whose attributes are
// the folder bit alone are descended into; any other entry is deleted as a
// file. True when `path` itself was removed.
bool DeleteTree(Files& files, Clock& clock, const std::string& path);

// Deletes the updater's own folder `path` (an application folder) whatever
// its entries' attributes: read-only, hidden and system bits are cleared
// first, links are deleted as links and never followed. True when nothing is
// left at `path`.
bool PurgeTree(Files& files, Clock& clock, const std::string& path);

}  // namespace hu
