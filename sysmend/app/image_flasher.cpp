#include "sysmend/app/image_flasher.h"

#include <cstdint>
#include <cstring>

#include "common/platform/text.h"
#include "common/platform/trace.h"
#include "sysmend/app/console_device.h"
#include "sysmend/app/step_panel.h"

namespace hu {
namespace {

std::string Format(const char* format, const std::string& value) {
  char text[512];
  std::snprintf(text, sizeof text, format, value.c_str());
  return text;
}

}  // namespace

bool CImageFlasher::MakeRequest(const PackSlot& slot, FlashRequest* request) {
  std::memset(request, 0, sizeof *request);
  std::u16string wide = Utf8ToUtf16(slot.path);
  if (wide.size() >= 260) {
    Trace("CSysmendDlg::MakeRequest path too long: %s\n", slot.path.c_str());
    return false;
  }
  std::memcpy(request->path, wide.data(), wide.size() * sizeof(char16_t));
  request->offset = slot.offset;
  request->length = slot.length;
  return true;
}

bool CImageFlasher::Write(const PackSlot& slot, uint32_t kind, uint32_t consoleCode) {
  FlashRequest request;
  if (!MakeRequest(slot, &request)) return false;
  if (api_.UpdatePack != nullptr) return api_.UpdatePack(kind, &request) != 0;
  return CConsoleDevice(devices_).DeviceControl(consoleCode, &request, sizeof request) != 0;
}

bool CImageFlasher::WriteImage(const PackSlot& slot, uint32_t kind, uint32_t consoleCode, const std::string& running,
                               const std::string& ok, const std::string& failed) {
  panel_.AppendLine(running, StepPanel::kBlack, true, false, false);
  bool result = Write(slot, kind, consoleCode);
  if (result && kind == kImageBoot) {
    // The boot configuration is reset only after a successful boot write; it decides the step.
    if (api_.ResetBootConf != nullptr) {
      result = api_.ResetBootConf() != 0;
    } else {
      result = CConsoleDevice(devices_).DeviceControl(kConBootConfReset, nullptr, 0) != 0;
    }
  }
  panel_.AppendLine(result ? ok : failed, result ? StepPanel::kBlack : StepPanel::kRed, true, false, true);
  return result;
}

bool CImageFlasher::UpdateOS(const PackSlot& slot) {
  return WriteImage(slot, kImageOs, kConOsWrite, Format("OS is updating now ... (version: %s ) ", slot.version),
                    Format("OS updated OK ! (version: %s )", slot.version),
                    Format("OS updated failed ! (version: %s )", slot.version));
}

bool CImageFlasher::UpdateBoot(const PackSlot& slot) {
  return WriteImage(slot, kImageBoot, kConBootWrite, Format("BOOT is updating now ... (version: %s ) ", slot.version),
                    Format("BOOT updated OK ! (version: %s ) ", slot.version),
                    Format("BOOT updated failed ! (version: %s )", slot.version));
}

bool CImageFlasher::UpdateConf(const PackSlot& slot) {
  return WriteImage(slot, kImageConf, kConConfWrite, Format("Conf is updating now ... (version: %s )", slot.version),
                    Format("Conf updated OK ! (version: %s )", slot.version),
                    Format("Conf updated failed ! (version: %s )", slot.version));
}

bool CImageFlasher::UpdateLogo(const PackSlot& slot, int n) {
  static const uint32_t kKinds[] = {kImageLogo1, kImageLogo2, kImageLogo3};
  static const uint32_t kCodes[] = {kConLogo1Write, kConLogo2Write, kConLogo3Write};
  if (n < 1 || n > 3) return false;
  std::string name = "Logo" + std::to_string(n);
  return WriteImage(slot, kKinds[n - 1], kCodes[n - 1], Format("%s is updating now ...", name),
                    Format("%s updated OK !", name), Format("%s updated failed !", name));
}

bool CImageFlasher::EraseAppDir() {
  if (api_.EraseFlase != nullptr) return api_.EraseFlase() != 0;
  return CConsoleDevice(devices_).DeviceControl(kConAppErase, nullptr, 0) != 0;
}

void CImageFlasher::HardReboot(bool bSuc, const std::string& dravikRoot) {
  std::string rebootFile = dravikRoot + "\\$KVR$\\App\\AutoReboot.flg";
  Trace("HardReboot bSuc=%d,strRebootFile=%s\n", bSuc ? 1 : 0, rebootFile.c_str());
  if (files_.GetAttributes(rebootFile) != INVALID_FILE_ATTRIBUTES) {
    Trace("HardReboot strRebootFile is exist,has reboot func.\n");
  }
  Trace("HardReboot has the reboot func.will reboot.\n");
  std::unique_ptr<Event> exitEvent = sync_.CreateEvent(false, false, "Exit");
  if (exitEvent && exitEvent->Wait(3000) == WAIT_OBJECT_0) return;
  Trace("HardReboot 3000 pass, reboot.\n");
  exitEvent.reset();
  HardReset();
}

void CImageFlasher::HardReset() {
  if (devices_ != nullptr) devices_->SetCleanRebootFlag();
  Trace("CSysmendDlg::HardReset m_updaterAPI.m_SysSoftReset = %x ",
        static_cast<unsigned>(reinterpret_cast<uintptr_t>(api_.m_SysSoftReset)));
  if (api_.m_SysSoftReset != nullptr) {
    int32_t bRet = api_.m_SysSoftReset();
    Trace("CSysmendDlg::HardReset m_updaterAPI.m_SysSoftReset = %x  bRet = %d ",
          static_cast<unsigned>(reinterpret_cast<uintptr_t>(api_.m_SysSoftReset)), static_cast<int>(bRet));
  } else if (devices_ != nullptr) {
    uint32_t returned = 0;
    devices_->KernelIoControl(IOCTL_HAL_REBOOT, nullptr, 0, nullptr, 0, &returned);
  }
}

}  // namespace hu
