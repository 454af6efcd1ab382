#include "sysmend/app/sysmend_api.h"

#include <cstdint>

#include "common/platform/trace.h"

namespace hu {

bool CSysmendAPI::LoadSysmendAPI() {
  Unload();
  if (library_ != nullptr) m_hDriverDll = library_->LoadLibrary(kLibraryPath);
  Trace("CSysmendAPI::LoadSysmendAPI m_hDriverDll = %0x \n",
        static_cast<unsigned>(reinterpret_cast<uintptr_t>(m_hDriverDll.get())));
  if (!m_hDriverDll) return false;
  UpdatePack = reinterpret_cast<PFN_UpdatePack>(m_hDriverDll->GetProcAddress("UpdatePack"));
  ResetBootConf = reinterpret_cast<PFN_ResetBootConf>(m_hDriverDll->GetProcAddress("ResetBootConf"));
  GetSysVerInfo = reinterpret_cast<PFN_GetSysVerInfo>(m_hDriverDll->GetProcAddress("GetSysVerInfo"));
  EraseFlase = reinterpret_cast<PFN_EraseFlase>(m_hDriverDll->GetProcAddress("EraseFlase"));
  m_SysSoftReset = reinterpret_cast<PFN_SysSoftReset>(m_hDriverDll->GetProcAddress("SysSoftReset"));
  m_UpdateState = reinterpret_cast<PFN_UpdateState>(m_hDriverDll->GetProcAddress("UpdateState"));
  return UpdatePack && ResetBootConf && GetSysVerInfo && EraseFlase && m_SysSoftReset;
}

void CSysmendAPI::Unload() {
  UpdatePack = nullptr;
  ResetBootConf = nullptr;
  EraseFlase = nullptr;
  GetSysVerInfo = nullptr;
  m_SysSoftReset = nullptr;
  m_UpdateState = nullptr;
  m_hDriverDll.reset();
}

}  // namespace hu
