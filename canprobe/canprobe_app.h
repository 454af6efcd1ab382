#pragma once
#include <memory>

#include "canprobe/dialog_update.h"
#include "canprobe/tool_config.h"
#include "common/platform/platform.h"
#include "common/platform/sync.h"
#include "common/ui/desktop.h"
#include "common/ui/dialog_program.h"

namespace hu {

// The CAN tool program: one instance at a time, tool.cfg, the client library
// copied into place, the main dialog, and the CAN link released at exit.
class CCanprobeApp {
 public:
  static constexpr const char* kMutexName = "HCMCANPROBE_MUTEX";
  static constexpr const char* kMainTitle = "Canprobe";
  static constexpr const char* kLibraryTargetDir = "\\dravik\\$KVR$\\App";
  static constexpr const char* kLibraryName = "Wirepeer_tool.dll";

  CCanprobeApp(Platform& platform, Desktop& desktop) : m_platform(platform), m_desktop(desktop) {}

  // The program's exit code: 1 when another instance runs, else the main
  // dialog's (see RunDialogProgram).
  int Run(const UiOptions& ui, std::ostream& out = std::cout, std::ostream& err = std::cerr,
          std::istream& in = std::cin);

  // A job for the "Update" page to run at once (see DialogUpdate::OneShot).
  void SetOneShot(const DialogUpdate::OneShot& job) { m_oneShot = job; }

  // The tool.cfg store while the program runs; null before and after.
  CToolConfig* Config() const { return m_pConfig.get(); }

 private:
  bool RaiseRunningInstance();

  Platform& m_platform;
  Desktop& m_desktop;
  std::unique_ptr<NamedMutex> m_hMutex;
  std::unique_ptr<CToolConfig> m_pConfig;
  DialogUpdate::OneShot m_oneShot;
};

}  // namespace hu
