#pragma once
#include <string>

#include "common/platform/platform.h"
#include "common/ui/desktop.h"
#include "common/ui/dialog_program.h"
#include "mcuflash/mcuflash_dlg.h"

namespace hu {

// The updater program: shows the main dialog modally and ends when it closes.
class CMcuflashApp {
 public:
  CMcuflashApp(Platform& platform, Desktop& desktop) : m_platform(platform), m_desktop(desktop) {}

  // The program's exit code (see RunDialogProgram).
  int Run(const UiOptions& ui);
  // Runs the job of one file beside the program at once and ends with its
  // result; the file must be there already.
  int RunOneShot(const UiOptions& ui, CMcuflashDlg::OneShot job, const std::string& fileName);

  // The job a file name asks for: Firmware for "*.s19", Key for "*.key"
  // (case ignored, as the updater's search does), None for anything else.
  static CMcuflashDlg::OneShot JobOf(const std::string& fileName);
  // Empty when the updater of this unit would take a file of that name for
  // the job; otherwise the rule it breaks.
  std::string RuleBreach(CMcuflashDlg::OneShot job, const std::string& fileName);

 private:
  int RunDialog(const UiOptions& ui, CMcuflashDlg::OneShot job, const std::string& fileName);

  Platform& m_platform;
  Desktop& m_desktop;
};

}  // namespace hu
