#pragma once
#include <memory>

#include "mcuflash/mcu_transfer.h"

namespace hu {

class EventLoop;

// The one transfer of the process and the dialog window it reports to. At
// most one exists; the main dialog creates it at initialisation and destroys
// it with itself. UI thread only.
class CTransferOwner {
 public:
  // Creates the owner and its transfer; null when one exists already.
  static CTransferOwner* CreateOwner(const McuflashServices& services, EventLoop& loop, HWND window);
  static void DestroyOwner();
  static CTransferOwner* TheOwner();

  // Only CreateOwner can make the key.
  class Key {
    friend class CTransferOwner;
    Key() = default;
  };
  CTransferOwner(Key key, const McuflashServices& services, EventLoop& loop, HWND window);
  ~CTransferOwner();
  CTransferOwner(const CTransferOwner&) = delete;
  CTransferOwner& operator=(const CTransferOwner&) = delete;

  // Button 1000: notification 1, then the update.
  void StartFromButton();
  CMcuTransfer* Transfer() { return m_pTransfer.get(); }
  HWND Window() const { return m_hWnd; }

 private:
  std::unique_ptr<CMcuTransfer> m_pTransfer;
  HWND m_hWnd;
};

}  // namespace hu
