#pragma once
#include <string>
#include <vector>

namespace hu {

// Fits a unit with the simulated platform:
// - `halbridge`: copies the built substitute driver library to
//   UNIT/fs/Windows/Halbridge.dll (without it, removes that file) and writes
//   [halbridge] without = the entries it must not present ("UpdateState,...");
// - [devices] CON1 = yes|no by `console`, and [drivers] console = the
//   absolute path of the built console device driver.
// The built files are looked up in $HU_SIM_LIB_DIR when set, else in the
// build's library folder beside the running program's: <exe dir>/../lib
// (Halbridge.dll and libhu_sim_console.so). False with a one-line *error.
bool InstallSimulatedPlatform(const std::string& unitDir, bool halbridge, const std::vector<std::string>& without,
                              bool console, std::string* error);

// Where InstallSimulatedPlatform finds the built files.
std::string SimLibraryDir();

}  // namespace hu
