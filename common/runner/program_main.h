#pragma once
#include <functional>
#include <string>

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

// Everything a program's body gets: the unit's services, the UI thread's
// dialogs and the front-end choice to hand to RunDialogProgram.
struct ProgramContext {
  Platform& platform;
  Desktop& desktop;
  UiOptions ui;
};

// Parses the common command line (--unit, --ui, --input, --ui-log, --trace,
// --module, then the device command line), opens the unit and runs `body`.
// Returns the process exit code: the body's, 2 for a bad command line, 1 when
// the unit cannot be opened.
int ProgramMain(int argc, char** argv, const ProgramInfo& info,
                const std::function<int(ProgramContext&)>& body);

}  // namespace hu
