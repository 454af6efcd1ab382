#pragma once
#include <memory>

#include "common/platform/platform.h"
#include "common/ui/desktop.h"
#include "common/ui/dialog_program.h"

namespace hu {

// The updater's application object: a single instance that runs the main
// dialog modally and ends when it closes.
class CSysmendApp {
 public:
  static constexpr const char* kMutexName = "KVR_Sysmend_0901EventMessage";

  CSysmendApp(Platform& platform, Desktop& desktop) : platform_(platform), desktop_(desktop) {}

  // True when another instance holds the name; the handle stays open for the
  // life of this object either way.
  bool IsRunning();
  // Exit code: 0 when the dialog closed (or another instance runs).
  int Run(const UiOptions& ui);

 private:
  Platform& platform_;
  Desktop& desktop_;
  std::unique_ptr<NamedMutex> m_hMutex;
};

}  // namespace hu
