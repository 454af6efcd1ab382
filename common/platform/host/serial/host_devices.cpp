#include "common/platform/host/serial/host_devices.h"

#include <dlfcn.h>

#include <cstdio>

#include "common/platform/errors.h"
#include "common/platform/host/serial/call_log.h"
#include "common/platform/host/serial/device_driver_abi.h"
#include "common/platform/host/serial/unit_reboot.h"
#include "common/platform/text.h"
#include "common/platform/trace.h"

namespace hu {

struct HostDevices::Driver {
  void* handle = nullptr;
  HuDeviceIoControlFn deviceIoControl = nullptr;
  HuKernelIoControlFn kernelIoControl = nullptr;
  ~Driver() {
    if (handle != nullptr) ::dlclose(handle);
  }
};

namespace {

std::string Hex(uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

bool Answer(uint32_t error) {
  if (error == 0) return true;
  SetLastError(error);
  return false;
}

class ConsoleDevice : public Device {
 public:
  ConsoleDevice(const std::string& unitDir, std::shared_ptr<HostDevices::Driver> driver)
      : unitDir_(unitDir), driver_(std::move(driver)) {}

  bool DeviceIoControl(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                       uint32_t* returned) override {
    uint32_t count = 0;
    if (driver_->deviceIoControl == nullptr) return Answer(ERROR_NOT_SUPPORTED);
    uint32_t error = driver_->deviceIoControl(unitDir_.c_str(), code, in, inSize, out, outSize, &count);
    if (returned != nullptr) *returned = count;
    return Answer(error);
  }

 private:
  std::string unitDir_;
  std::shared_ptr<HostDevices::Driver> driver_;
};

// The unit's "MFC1:" is only ever opened to learn that it is there.
class PresenceDevice : public Device {
 public:
  PresenceDevice(const std::string& unitDir, const std::string& name) : unitDir_(unitDir), name_(name) {}
  bool DeviceIoControl(uint32_t code, const void*, uint32_t, void*, uint32_t, uint32_t* returned) override {
    if (returned != nullptr) *returned = 0;
    AppendUnitCall(unitDir_, name_ + " DeviceIoControl", "code=" + Hex(code), "0 unsupported");
    return Answer(ERROR_NOT_SUPPORTED);
  }

 private:
  std::string unitDir_;
  std::string name_;
};

}  // namespace

HostDevices::HostDevices(const std::string& unitDir, const HostDevicesConfig& config)
    : unitDir_(unitDir), config_(config) {}

HostDevices::~HostDevices() = default;

std::shared_ptr<HostDevices::Driver> HostDevices::LoadDriver() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (driverTried_) return driver_;
  driverTried_ = true;
  if (config_.consoleDriver.empty()) return nullptr;
  ::dlerror();
  void* handle = ::dlopen(config_.consoleDriver.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    Trace("HostDevices: console driver %s does not load: %s\n", config_.consoleDriver.c_str(),
          why ? why : "unknown");
    return nullptr;
  }
  auto driver = std::make_shared<Driver>();
  driver->handle = handle;
  driver->deviceIoControl = reinterpret_cast<HuDeviceIoControlFn>(::dlsym(handle, HU_DEVICE_IO_CONTROL));
  driver->kernelIoControl = reinterpret_cast<HuKernelIoControlFn>(::dlsym(handle, HU_KERNEL_IO_CONTROL));
  if (driver->deviceIoControl == nullptr && driver->kernelIoControl == nullptr) {
    Trace("HostDevices: %s exports neither %s nor %s\n", config_.consoleDriver.c_str(), HU_DEVICE_IO_CONTROL,
          HU_KERNEL_IO_CONTROL);
    return nullptr;
  }
  driver_ = driver;
  return driver_;
}

std::unique_ptr<Device> HostDevices::OpenDevice(const std::string& name) {
  std::string lower = AsciiLower(name);
  if (lower == "con1:" && config_.console) {
    if (auto driver = LoadDriver()) {
      if (driver->deviceIoControl != nullptr) return std::make_unique<ConsoleDevice>(unitDir_, driver);
    }
    Trace("HostDevices::OpenDevice %s: the console device has no driver\n", name.c_str());
  } else if (lower == "mfc1:" && config_.mfc) {
    return std::make_unique<PresenceDevice>(unitDir_, "MFC1");
  }
  SetLastError(ERROR_DEV_NOT_EXIST);
  return nullptr;
}

bool HostDevices::KernelIoControl(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                                  uint32_t* returned) {
  if (returned != nullptr) *returned = 0;
  if (code == IOCTL_HAL_REBOOT_CODE) {
    Trace("HostDevices::KernelIoControl IOCTL_HAL_REBOOT: the unit reboots\n");
    AppendUnitCall(unitDir_, "KernelIoControl", "code=" + Hex(code) + " IOCTL_HAL_REBOOT", "reboot");
    RebootUnit(unitDir_, "KernelIoControl IOCTL_HAL_REBOOT");
  }
  auto driver = LoadDriver();
  if (!driver || driver->kernelIoControl == nullptr) {
    AppendUnitCall(unitDir_, "KernelIoControl", "code=" + Hex(code), "0 no driver");
    return Answer(ERROR_NOT_SUPPORTED);
  }
  uint32_t count = 0;
  uint32_t error = driver->kernelIoControl(unitDir_.c_str(), code, in, inSize, out, outSize, &count);
  if (returned != nullptr) *returned = count;
  return Answer(error);
}

void HostDevices::SetCleanRebootFlag() {
  bool ok = MarkUnitCleanReboot(unitDir_);
  AppendUnitCall(unitDir_, "SetCleanRebootFlag", "", ok ? "1" : "0");
}

bool HostDevices::TouchCalibrate() {
  // The device's calibration screen has nothing to show here; the call is the record.
  AppendUnitCall(unitDir_, "TouchCalibrate", "", "1");
  return true;
}

}  // namespace hu
