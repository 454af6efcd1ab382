#pragma once
#include <cstdio>
#include <string>
#include <vector>

namespace hu {

struct BootOptions {
  std::string unitDir;
  std::string program;            // host executable (looked up in PATH without a '/')
  std::vector<std::string> args;  // after "--unit DIR"
  int maxBoots = 5;
  // Adopt the processes the program leaves behind (PR_SET_CHILD_SUBREAPER)
  // so that they are reaped; for the tool's own process, not for a library user
  // that has children of its own.
  bool adoptOrphans = true;
};

// `unitctl boot`: runs the program as the unit's autostart, with
// HU_UNIT=DIR and "--unit DIR" before its arguments, its standard streams
// passing through. After a run that recorded a reboot (UNIT/reboot.flag,
// consumed) the unit reboots (RebootUnitRun) and the program runs again,
// until a run ends without a reboot or maxBoots runs have been made. A
// reboot left pending by an earlier run outside this tool is carried out
// first. Writes one line per boot to `out`:
//   boot 1: sysmend auto -> rebooted
//   boot 2: sysmend auto -> closed, started \dravik\$KVR$\App\Appvisor.exe
// (also "exited with code N", "crashed (signal N, NAME)"; "started" lists
// the processes the run left in the table). Returns the exit code of the
// last run (1 when it crashed or the boots ran out); a program that cannot
// be started gives 1 and *error.
int BootUnit(const BootOptions& options, std::FILE* out, std::string* error);

// The unit's reboot: ends the host processes of its process table (SIGTERM,
// then SIGKILL) and empties UNIT/run (kernel objects, windows, process
// table), keeping everything else. False with *error when run/ cannot be emptied.
bool RebootUnitRun(const std::string& unitDir, std::string* error);

}  // namespace hu
