#pragma once
#include <cstring>
#include <memory>
#include <string>

#include "common/platform/host/host_files.h"
#include "common/platform/host/serial/host_devices.h"
#include "common/platform/host/serial/host_library.h"
#include "common/platform/host/serial/unit_io_config.h"
#include "common/platform/host/unit.h"
#include "common/platform/text.h"
#include "sim/install/sim_install.h"
#include "sysmend/app/halbridge_abi.h"
#include "tests/host_io/temp_unit.h"

namespace hu {
namespace testio {

inline FlashRequest MakeRequest(const std::string& devicePath, uint32_t offset, uint32_t length) {
  FlashRequest request{};
  std::u16string wide = Utf8ToUtf16(devicePath);
  std::memcpy(request.path, wide.data(), wide.size() * sizeof(char16_t));
  request.offset = offset;
  request.length = length;
  return request;
}

inline std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + seed) & 0xFF);
  return bytes;
}

// A unit fitted with the simulated platform, as `unitctl init` leaves it.
class SimUnit {
 public:
  explicit SimUnit(const std::string& ini) : unit_(ini), files_(unit_ / "fs") {
    ::mkdir((unit_ / "fs/StorageCard/UpdateKitM").c_str(), 0755);
  }

  bool Install(bool halbridge, const std::vector<std::string>& without, bool console, std::string* error) {
    return InstallSimulatedPlatform(unit_.dir(), halbridge, without, console, error);
  }

  std::unique_ptr<Module> LoadHalbridge() {
    library_ = std::make_unique<HostLibrary>([this](const std::string& p) { return files_.HostPath(p); },
                                             unit_.dir());
    return library_->LoadLibrary("\\Windows\\Halbridge.dll");
  }

  std::unique_ptr<HostDevices> Devices() {
    std::unique_ptr<Unit> unit = Unit::Load(unit_.dir(), nullptr);
    return std::make_unique<HostDevices>(unit_.dir(), UnitDevicesConfig(*unit));
  }

  // A file of the kit folder; answers its device path.
  std::string KitFile(const std::string& name, const std::string& content) {
    scratch::WriteFile(unit_ / ("fs/StorageCard/UpdateKitM/" + name), content);
    return "\\StorageCard\\UpdateKitM\\" + name;
  }

  std::string Read(const std::string& rel) const { return scratch::ReadFile(unit_ / rel); }
  const TempUnit& unit() const { return unit_; }

 private:
  TempUnit unit_;
  HostFiles files_;
  std::unique_ptr<HostLibrary> library_;
};

}  // namespace testio
}  // namespace hu
