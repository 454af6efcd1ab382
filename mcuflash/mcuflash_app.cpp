#include "mcuflash/mcuflash_app.h"

#include "mcuflash/mcuflash_dlg.h"

namespace hu {

int CMcuflashApp::Run(const UiOptions& ui) {
  McuflashServices services{m_platform.files(),     m_platform.registry(), m_platform.clock(),
                            m_platform.sync(),      m_platform.processes(), m_platform.serial(),
                            m_desktop.windows(),    m_platform.processes().GetModuleFileName()};
  CMcuflashDlg dialog(m_desktop, services);
  return RunDialogProgram(m_desktop, dialog, ui);
}

}  // namespace hu
