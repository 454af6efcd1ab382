#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace hu {

class Device {
 public:
  virtual ~Device() = default;
  virtual bool DeviceIoControl(uint32_t code, const void* in, uint32_t inSize, void* out,
                               uint32_t outSize, uint32_t* returned) = 0;
};

class Devices {
 public:
  virtual ~Devices() = default;
  // "CON1:", "MFC1:"; null (ERROR_DEV_NOT_EXIST) when the unit has no such device.
  virtual std::unique_ptr<Device> OpenDevice(const std::string& name) = 0;
  virtual bool KernelIoControl(uint32_t code, const void* in, uint32_t inSize, void* out,
                               uint32_t outSize, uint32_t* returned) = 0;
  virtual void SetCleanRebootFlag() = 0;
  virtual bool TouchCalibrate() = 0;
};

}  // namespace hu
