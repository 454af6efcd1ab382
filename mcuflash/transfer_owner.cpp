#include "mcuflash/transfer_owner.h"

namespace hu {
namespace {
// Process-wide, as the device program has it.
std::unique_ptr<CTransferOwner>& OwnerSlot() {
  static std::unique_ptr<CTransferOwner> owner;
  return owner;
}
}  // namespace

CTransferOwner::CTransferOwner(Key /*key*/, const McuflashServices& services, EventLoop& loop, HWND window)
    : m_pTransfer(std::make_unique<CMcuTransfer>(services, loop, window)), m_hWnd(window) {}

CTransferOwner::~CTransferOwner() = default;

CTransferOwner* CTransferOwner::CreateOwner(const McuflashServices& services, EventLoop& loop, HWND window) {
  std::unique_ptr<CTransferOwner>& slot = OwnerSlot();
  if (slot) return nullptr;
  slot = std::make_unique<CTransferOwner>(Key(), services, loop, window);
  return slot.get();
}

void CTransferOwner::DestroyOwner() {
  OwnerSlot().reset();
}

CTransferOwner* CTransferOwner::TheOwner() {
  return OwnerSlot().get();
}

void CTransferOwner::StartFromButton() {
  if (!m_pTransfer) return;
  m_pTransfer->Notify(kNotifyStarting, 0, false);
  m_pTransfer->StartUpdate();
}

}  // namespace hu
