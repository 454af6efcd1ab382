#pragma once
#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "common/platform/platform.h"
#include "common/ui/desktop.h"
#include "common/ui/dialog_program.h"

namespace hu {

// How one of the unit's programs is started on the host.
struct ProgramInfo {
  std::string name;           // executable name, for --help
  std::string description;
  std::string defaultModule;  // device path the program runs at
  std::string version;
};

// What a program adds to the common command line.
struct ProgramOptions {
  // The unit's ports a one-shot field run (--port DEV --cpu C --project P)
  // puts on the device; none: the program has no field mode.
  std::vector<std::string> fieldPorts;
  // What the device command line is, for --help.
  std::string usage = "the device command line (e.g. auto)";
  // Options of the program's own, added beside the common ones.
  std::function<void(CLI::App&)> addOptions;
};

// Everything a program's body gets: the unit's services, the UI thread's
// dialogs and the front-end choice to hand to RunDialogProgram.
struct ProgramContext {
  Platform& platform;
  Desktop& desktop;
  UiOptions ui;
  // The device command line, word by word.
  std::vector<std::string> args;
  // The unit was made for this run by --port (and goes afterwards unless
  // --keep-unit named its folder).
  bool fieldUnit = false;
};

// Parses the common command line (--unit, --ui, --input, --ui-log, --trace,
// --module, the field options when the program has them, the program's own,
// then the device command line), opens the unit and runs `body`. Returns the
// process exit code: the body's, 2 for a bad command line, 1 when the unit
// cannot be opened or made.
int ProgramMain(int argc, char** argv, const ProgramInfo& info, const ProgramOptions& options,
                const std::function<int(ProgramContext&)>& body);
inline int ProgramMain(int argc, char** argv, const ProgramInfo& info,
                       const std::function<int(ProgramContext&)>& body) {
  return ProgramMain(argc, argv, info, ProgramOptions{}, body);
}

}  // namespace hu
