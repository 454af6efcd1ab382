#pragma once
#include <string>

#include "common/platform/files.h"
#include "common/platform/processes.h"

namespace hu {

// Starts the program at `path` unless it is missing or already running
// (paths compared ignoring case). True when a start was asked for and succeeded.
bool RunExe(Files& files, Processes& processes, const std::string& path);

// The first running process whose program is `path` (ignoring case); 0 for none.
uint32_t FindProcess(Processes& processes, const std::string& path);

}  // namespace hu
