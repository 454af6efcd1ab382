#pragma once
#include <memory>

#include "common/platform/library.h"
#include "sysmend/app/halbridge_abi.h"

namespace hu {

// Binds the platform driver library. A missing library or entry is never an
// error here: callers fall back to the console device.
class CSysmendAPI {
 public:
  explicit CSysmendAPI(Library* library) : library_(library) {}
  ~CSysmendAPI() { Unload(); }
  CSysmendAPI(const CSysmendAPI&) = delete;
  CSysmendAPI& operator=(const CSysmendAPI&) = delete;

  static constexpr const char* kLibraryPath = "\\Windows\\Halbridge.dll";

  // True only when every entry but "UpdateState" was found; whatever was
  // found stays usable either way.
  bool LoadSysmendAPI();
  void Unload();

  std::unique_ptr<Module> m_hDriverDll;
  PFN_UpdatePack UpdatePack = nullptr;
  PFN_ResetBootConf ResetBootConf = nullptr;
  PFN_EraseFlase EraseFlase = nullptr;
  PFN_GetSysVerInfo GetSysVerInfo = nullptr;
  PFN_SysSoftReset m_SysSoftReset = nullptr;
  PFN_UpdateState m_UpdateState = nullptr;

 private:
  Library* library_;
};

}  // namespace hu
