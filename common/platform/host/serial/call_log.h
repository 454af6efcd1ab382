#pragma once
#include <string>

namespace hu {

// Local wall-clock time "2024-05-01 12:00:00.123".
std::string UnitLogTime();

// Appends "TIME ENTRY ARGS -> RESULT" to UNIT/flash/calls.log, the record of
// what the unit's platform (driver library, console device, kernel) was
// asked. One write per line, so several processes never mix their lines.
bool AppendUnitCall(const std::string& unitDir, const std::string& entry, const std::string& args,
                    const std::string& result);

std::string UnitCallLogPath(const std::string& unitDir);

}  // namespace hu
