#include "common/platform/testing/fake_devices.h"

#include <cstring>

#include "common/platform/errors.h"
#include "common/platform/text.h"

namespace hu {

class FakeDevice : public Device {
 public:
  FakeDevice(FakeDevices& owner, std::string name) : owner_(owner), name_(std::move(name)) {}
  bool DeviceIoControl(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                       uint32_t* returned) override {
    return owner_.Answer(name_, code, in, inSize, out, outSize, returned);
  }

 private:
  FakeDevices& owner_;
  std::string name_;
};

std::unique_ptr<Device> FakeDevices::OpenDevice(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = present_.find(AsciiLower(name));
  if (it == present_.end() || !it->second) {
    SetLastError(ERROR_DEV_NOT_EXIST);
    return nullptr;
  }
  return std::make_unique<FakeDevice>(*this, name);
}

bool FakeDevices::Answer(const std::string& device, uint32_t code, const void* in, uint32_t inSize, void* out,
                         uint32_t outSize, uint32_t* returned) {
  std::lock_guard<std::mutex> lock(mutex_);
  Call call{device, code, {}};
  if (in != nullptr && inSize > 0) {
    const uint8_t* p = static_cast<const uint8_t*>(in);
    call.input.assign(p, p + inSize);
  }
  calls_.push_back(call);
  if (returned) *returned = 0;
  auto it = answers_.find(code);
  if (it == answers_.end()) return true;
  const std::vector<uint8_t>& output = it->second.second;
  size_t n = output.size() < outSize ? output.size() : outSize;
  if (out != nullptr && n > 0) std::memcpy(out, output.data(), n);
  if (returned) *returned = static_cast<uint32_t>(n);
  return it->second.first;
}

bool FakeDevices::KernelIoControl(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                                  uint32_t* returned) {
  if (code == 0x0101003C) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++reboots_;
    calls_.push_back(Call{"kernel", code, {}});
    return true;
  }
  return Answer("kernel", code, in, inSize, out, outSize, returned);
}

void FakeDevices::SetCleanRebootFlag() {
  std::lock_guard<std::mutex> lock(mutex_);
  cleanFlag_ = true;
}

bool FakeDevices::TouchCalibrate() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++touch_;
  return true;
}

void FakeDevices::SetPresent(const std::string& name, bool present) {
  std::lock_guard<std::mutex> lock(mutex_);
  present_[AsciiLower(name)] = present;
}

void FakeDevices::SetAnswer(uint32_t code, bool result, std::vector<uint8_t> output) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[code] = {result, std::move(output)};
}

std::vector<FakeDevices::Call> FakeDevices::Calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

int FakeDevices::Reboots() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reboots_;
}

bool FakeDevices::CleanRebootFlag() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cleanFlag_;
}

int FakeDevices::TouchCalibrations() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return touch_;
}

}  // namespace hu
