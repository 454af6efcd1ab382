#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/platform/devices.h"

namespace hu {

// The console device, the kernel controls and the reboot of a simulated unit,
// recording every call.
class FakeDevices : public Devices {
 public:
  struct Call {
    std::string device;  // "CON1:" or "kernel"
    uint32_t code = 0;
    std::vector<uint8_t> input;
  };

  std::unique_ptr<Device> OpenDevice(const std::string& name) override;
  bool KernelIoControl(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                       uint32_t* returned) override;
  void SetCleanRebootFlag() override;
  bool TouchCalibrate() override;

  void SetPresent(const std::string& name, bool present);
  // Result and output bytes of a code (device or kernel); unknown codes succeed with no output.
  void SetAnswer(uint32_t code, bool result, std::vector<uint8_t> output = {});

  std::vector<Call> Calls() const;
  int Reboots() const;
  bool CleanRebootFlag() const;
  int TouchCalibrations() const;

 private:
  friend class FakeDevice;
  bool Answer(const std::string& device, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
              uint32_t* returned);

  mutable std::mutex mutex_;
  std::map<std::string, bool> present_{{"con1:", true}};
  std::map<uint32_t, std::pair<bool, std::vector<uint8_t>>> answers_;
  std::vector<Call> calls_;
  int reboots_ = 0;
  bool cleanFlag_ = false;
  int touch_ = 0;
};

}  // namespace hu
