#include "canprobe/canprobe_app.h"

#include "canprobe/canprobe_dlg.h"
#include "canprobe/link_center.h"
#include "common/platform/trace.h"

namespace hu {

bool CCanprobeApp::RaiseRunningInstance() {
  m_hMutex = m_platform.sync().CreateMutex(kMutexName);
  if (!m_hMutex || !m_hMutex->AlreadyExisted()) return false;
  Windows& windows = m_desktop.windows();
  const HWND hwnd = windows.FindWindow("", kMainTitle);
  // The seam cannot ask whether a window is disabled, so the running window
  // is only brought to the foreground.
  if (hwnd != 0) windows.SetForegroundWindow(hwnd);
  return true;
}

int CCanprobeApp::Run(const UiOptions& ui, std::ostream& out, std::ostream& err, std::istream& in) {
  if (RaiseRunningInstance()) {
    m_hMutex.reset();
    return 1;
  }
  const std::string moduleDir = ModuleDirOf(m_platform.processes().GetModuleFileName());

  m_pConfig = std::make_unique<CToolConfig>(m_platform.files(), m_platform.codePage(),
                                            CToolConfig::ToolCfgPath(moduleDir));
  m_pConfig->Load();  // a missing file leaves the defaults

  // An existing copy is never overwritten; a failure here is of no concern.
  m_platform.files().CopyFile(moduleDir + "\\" + kLibraryName,
                              std::string(kLibraryTargetDir) + "\\" + kLibraryName, true);

  CanLinkServices link;
  link.serial = m_platform.serial();
  link.sync = &m_platform.sync();
  link.clock = &m_platform.clock();
  link.registry = &m_platform.registry();
  link.files = &m_platform.files();
  link.codePage = &m_platform.codePage();
  link.moduleDir = moduleDir;
  LinkCenter::SetServices(link);

  int rc = 0;
  {
    CanprobeServices services{m_platform, m_desktop.windows(), m_pConfig.get(), moduleDir};
    CCanprobeDlg dialog(m_desktop, services);
    dialog.UpdatePage().SetOneShot(m_oneShot);
    rc = RunDialogProgram(m_desktop, dialog, ui, out, err, in);
  }
  LinkCenter::Destroy();
  m_pConfig.reset();  // never saved at exit
  m_hMutex.reset();
  return rc;
}

}  // namespace hu
