#pragma once
#include "common/platform/platform.h"
#include "common/ui/desktop.h"
#include "common/ui/dialog_program.h"

namespace hu {

// The updater program: shows the main dialog modally and ends when it closes.
class CMcuflashApp {
 public:
  CMcuflashApp(Platform& platform, Desktop& desktop) : m_platform(platform), m_desktop(desktop) {}

  // The program's exit code (see RunDialogProgram).
  int Run(const UiOptions& ui);

 private:
  Platform& m_platform;
  Desktop& m_desktop;
};

}  // namespace hu
