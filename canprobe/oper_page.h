#pragma once
#include <string>

#include "canprobe/canprobe_services.h"
#include "common/ui/dialog.h"

namespace hu {

// The "Oper" page: saving tool.cfg, closing and restarting the front-end
// programs, the loader command and the configured file replacement.
class COperPage : public Dialog {
 public:
  enum {
    IDD = 131,
    IDC_STATUS = 1001,
    IDC_KILLCANBUS = 1020,
    IDC_RUNCANBUS = 1021,
    IDC_KILLSTARTDECK = 1022,
    IDC_RUNSTARTDECK = 1023,
    IDC_READREG = 1024,
    IDC_WRITEREG = 1025,
    IDC_RUNPROGRAME = 1026,
    IDC_SAVECONFIGE = 1033,
    IDC_FILEREPLACE = 1034,
    IDC_REPLACEBACKUP = 1035,
  };

  COperPage(Desktop& desktop, const CanprobeServices& services);

  // Closes the front-end programs (also used before an upgrade).
  void KillStartdeck();
  void RunStartdeck();
  void SendLoaderCommand();
  // Copies the configured source over the destination, after a time-stamped
  // backup of the destination when `backup` is set; the outcome goes to the status edit.
  void ReplaceFile(bool backup);

 protected:
  bool OnCommand(int id) override;

 private:
  void CloseWindow(HWND hwnd);

  CanprobeServices m_services;
};

}  // namespace hu
