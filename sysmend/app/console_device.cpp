#include "sysmend/app/console_device.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "sysmend/packages/kit_layout.h"

namespace hu {

uint32_t CConsoleDevice::DeviceControl(uint32_t code, const void* input, uint32_t inputSize) {
  if (devices_ == nullptr) return 0;
  std::unique_ptr<Device> con = devices_->OpenDevice("CON1:");
  if (!con) return 0;
  uint32_t returned = 0;
  return con->DeviceIoControl(code, input, inputSize, nullptr, 0, &returned) ? 1 : 0;
}

uint32_t CConsoleDevice::ReadDeviceInfo(uint8_t (&buffer)[48]) {
  if (devices_ == nullptr) return 0;
  std::unique_ptr<Device> con = devices_->OpenDevice("CON1:");
  if (!con) return 0;
  uint32_t returned = 0;
  bool ok = con->DeviceIoControl(kConDeviceInfo, nullptr, 0, buffer, sizeof buffer, &returned);
  con.reset();
  devices_->KernelIoControl(kKernelBootVersion, nullptr, 0, buffer + 40, 4, &returned);
  return ok ? 1 : 0;
}

std::string CConsoleDevice::IdentityText(uint32_t identitySize) {
  if (devices_ == nullptr) return std::string();
  uint8_t identity[8] = {};
  uint32_t returned = 0;
  devices_->KernelIoControl(kConConfIdentity, nullptr, 0, identity, identitySize, &returned);
  std::unique_ptr<Device> con = devices_->OpenDevice("CON1:");
  if (!con) return std::string();
  con->DeviceIoControl(kConConfIdentity, identity, identitySize, nullptr, 0, &returned);
  // The 6-byte form packs a 16-bit customer id before the version; the 8-byte
  // form holds two 32-bit words.
  uint32_t first = identitySize == 6 ? ReadLe16(identity) : ReadLe32(identity);
  uint32_t second = identitySize == 6 ? ReadLe32(identity + 2) : ReadLe32(identity + 4);
  char text[32];
  std::snprintf(text, sizeof text, "%4x%8x", first, second);
  for (char* p = text; *p; ++p) {
    if (*p == ' ') *p = '0';
  }
  return text;
}

std::string CConsoleDevice::GetDeviceIdText() { return IdentityText(8); }

std::string CConsoleDevice::ReadConfIdentityText() { return IdentityText(6); }

}  // namespace hu
