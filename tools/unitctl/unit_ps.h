#pragma once
#include <ostream>
#include <string>

namespace hu {

// `unitctl ps`: the unit's processes, a header and one line each:
//   PID   HOST     STARTED                  PATH
//   100   41234    2024-05-01 12:00:00.123  \StorageCard\Sysmend\Sysmend.exe
//   101   virtual  2024-05-01 12:00:01.456  \dravik\$KVR$\App\Appvisor.exe
// Entries of ended host processes are dropped. False with a one-line
// *error when DIR is not a unit.
bool ListUnitProcesses(const std::string& unitDir, std::ostream& out, std::string* error);

}  // namespace hu
