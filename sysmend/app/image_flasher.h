#pragma once
#include <string>

#include "common/platform/clock.h"
#include "common/platform/devices.h"
#include "common/platform/files.h"
#include "common/platform/sync.h"
#include "sysmend/app/pack_types.h"
#include "sysmend/app/sysmend_api.h"

namespace hu {

class StepPanel;

// Writes images through the driver library, or through the console device
// when its entry is missing, and resets the unit.
class CImageFlasher {
 public:
  CImageFlasher(CSysmendAPI& api, Devices* devices, Sync& sync, Clock& clock, Files& files, StepPanel& panel)
      : api_(api), devices_(devices), sync_(sync), clock_(clock), files_(files), panel_(panel) {}

  bool UpdateOS(const PackSlot& slot);
  bool UpdateBoot(const PackSlot& slot);
  bool UpdateConf(const PackSlot& slot);
  bool UpdateLogo(const PackSlot& slot, int n);  // n = 1, 2, 3
  bool EraseAppDir();

  // Three seconds of grace that the "Exit" event cancels, then HardReset.
  void HardReboot(bool bSuc, const std::string& dravikRoot);
  void HardReset();

  // The block handed to the library; false when the path does not fit it.
  static bool MakeRequest(const PackSlot& slot, FlashRequest* request);

 private:
  // One image kind: running text, library call or console fall-back, result line.
  bool WriteImage(const PackSlot& slot, uint32_t kind, uint32_t consoleCode, const std::string& running,
                  const std::string& ok, const std::string& failed);
  bool Write(const PackSlot& slot, uint32_t kind, uint32_t consoleCode);

  CSysmendAPI& api_;
  Devices* devices_;
  Sync& sync_;
  Clock& clock_;
  Files& files_;
  StepPanel& panel_;
};

}  // namespace hu
