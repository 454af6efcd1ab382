#pragma once
#include <cstdint>
#include <map>
#include <string>

namespace hu {

// Small state files of a running unit under UNIT/run (process table entries,
// window entries): one "key = value" line each. Values are escaped so that a
// title or a path with a line break stays on its line.
using RunRecord = std::map<std::string, std::string>;

// Bytes below 0x20, 0x7F and '%' become %XX.
std::string EscapeRunValue(const std::string& value);
std::string UnescapeRunValue(const std::string& text);

// Written through a temporary file and a rename: readers never see half a record.
bool WriteRunRecord(const std::string& path, const RunRecord& record);
// False when the file is missing, larger than a record can be, or holds no key.
bool ReadRunRecord(const std::string& path, RunRecord* record);

// mkdir -p.
bool MakeRunDirs(const std::string& path);

// The next value of a counter file shared by every process of the unit
// (`first` when the file is new, then `step` apart). False when the file
// cannot be used or the counter passed `last`.
bool NextRunCounter(const std::string& path, uint64_t first, uint64_t step, uint64_t last, uint64_t* out);

// Start time of a host process (clock ticks since boot, /proc/PID/stat); 0
// when unknown. With the pid it names one process even after the pid is reused.
uint64_t HostProcessStartTime(int hostPid);
// The process runs (not a zombie) and, when `startTime` is not 0, is the one
// that started then.
bool HostProcessAlive(int hostPid, uint64_t startTime);

// Decimal text to a number; false for anything else or more than `max`.
bool ParseRunNumber(const std::string& text, uint64_t max, uint64_t* out);

}  // namespace hu
