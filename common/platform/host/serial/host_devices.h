#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "common/platform/devices.h"

namespace hu {

enum : uint32_t { IOCTL_HAL_REBOOT_CODE = 0x0101003C };

// What unit.ini says about the unit's devices.
struct HostDevicesConfig {
  bool console = false;       // [devices] CON1 = yes
  bool mfc = false;           // [devices] MFC1 = yes
  std::string consoleDriver;  // [drivers] console = host path of the driver (device_driver_abi.h)
};

// The unit's devices and kernel controls.
// - "CON1:" opens when the unit has the console device and its driver loads;
//   its DeviceIoControl, and every KernelIoControl but the reboot, go to the
//   driver.
// - "MFC1:" opens when the unit has it; it answers no control code.
// - KernelIoControl(IOCTL_HAL_REBOOT) records the reboot in the unit and ends
//   the process at once (RebootUnit).
// - SetCleanRebootFlag marks the next reboot as clean; TouchCalibrate is
//   recorded in UNIT/flash/calls.log.
class HostDevices : public Devices {
 public:
  HostDevices(const std::string& unitDir, const HostDevicesConfig& config);
  ~HostDevices() override;
  HostDevices(const HostDevices&) = delete;
  HostDevices& operator=(const HostDevices&) = delete;

  // Null with ERROR_DEV_NOT_EXIST when the unit has no such device.
  std::unique_ptr<Device> OpenDevice(const std::string& name) override;
  // False with ERROR_NOT_SUPPORTED when no driver serves the code.
  bool KernelIoControl(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                       uint32_t* returned) override;
  void SetCleanRebootFlag() override;
  bool TouchCalibrate() override;

  struct Driver;

 private:
  std::shared_ptr<Driver> LoadDriver();

  std::string unitDir_;
  HostDevicesConfig config_;
  std::mutex mutex_;
  std::shared_ptr<Driver> driver_;
  bool driverTried_ = false;
};

}  // namespace hu
