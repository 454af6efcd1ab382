#include "sysmend/app/sysmend_app.h"

#include "common/platform/trace.h"
#include "sysmend/app/sysmend_dlg.h"

namespace hu {

bool CSysmendApp::IsRunning() {
  m_hMutex = platform_.sync().CreateMutex(kMutexName);
  if (m_hMutex && m_hMutex->AlreadyExisted()) {
    Trace("CSysmendApp::IsRunning-->has running strExistEvent=%s\n", kMutexName);
    return true;
  }
  Trace("CSysmendApp::IsRunning-->has not running name=%s.\n", kMutexName);
  return false;
}

int CSysmendApp::Run(const UiOptions& ui) {
  if (IsRunning()) return 0;
  CSysmendDlg dialog(desktop_, platform_);
  return RunDialogProgram(desktop_, dialog, ui);
}

}  // namespace hu
