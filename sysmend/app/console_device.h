#pragma once
#include <cstdint>
#include <string>

#include "common/platform/devices.h"

namespace hu {

// Control codes of the console device "CON1:" and of the kernel.
enum : uint32_t {
  kConBootWrite = 0x800020D0,
  kConBootConfReset = 0x80002124,
  kConConfWrite = 0x800020E4,
  kConLogo1Write = 0x800020D4,
  kConLogo2Write = 0x800020D8,
  kConLogo3Write = 0x800020E8,
  kConOsWrite = 0x800020DC,
  kConAppErase = 0x80002120,
  kConDeviceInfo = 0x80002100,
  kKernelBootVersion = 0x80002008,
  kConConfIdentity = 0x800020CC,
  IOCTL_HAL_REBOOT = 0x0101003C,
};

// Stateless wrapper: every operation opens and closes "CON1:".
class CConsoleDevice {
 public:
  explicit CConsoleDevice(Devices* devices) : devices_(devices) {}

  // The platform result, 0 when "CON1:" cannot be opened. The input's size
  // travels with it so that the driver never reads past the caller's block.
  uint32_t DeviceControl(uint32_t code, const void* input, uint32_t inputSize);
  // 48-byte information block; its word at byte 40 comes from the kernel.
  uint32_t ReadDeviceInfo(uint8_t (&buffer)[48]);
  // "%4x%8x" of the kernel's 8-byte identity, blanks as '0'; empty without "CON1:".
  std::string GetDeviceIdText();
  // The same for the 6-byte configuration identity (u16 customer, u32 version).
  std::string ReadConfIdentityText();

 private:
  std::string IdentityText(uint32_t identitySize);

  Devices* devices_;
};

}  // namespace hu
