// The console device driver of a simulated unit ("CON1:" and the platform's
// kernel controls): the image-write fall-backs into the unit's flash and the
// installed boot version and configuration identity.
#include <cstdio>
#include <cstring>
#include <string>

#include "common/platform/errors.h"
#include "common/platform/host/serial/device_driver_abi.h"
#include "sim/flashstore/flash_store.h"
#include "sysmend/app/halbridge_abi.h"
#include "sysmend/packages/kit_layout.h"

#define HU_EXPORT extern "C" __attribute__((visibility("default")))

namespace hu {
namespace {

enum : uint32_t {
  kConBootWrite = 0x800020D0,
  kConLogo1Write = 0x800020D4,
  kConLogo2Write = 0x800020D8,
  kConOsWrite = 0x800020DC,
  kConConfWrite = 0x800020E4,
  kConLogo3Write = 0x800020E8,
  kConAppErase = 0x80002120,
  kConBootConfReset = 0x80002124,
  kConDeviceInfo = 0x80002100,
  kConConfIdentity = 0x800020CC,
  kKernelBootVersion = 0x80002008,
};

constexpr uint32_t kDeviceInfoSize = 48;
constexpr uint32_t kBootWordOffset = 40;

std::string Hex(uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "code=0x%08X", static_cast<unsigned>(code));
  return text;
}

bool ImageOfCode(uint32_t code, FlashImage* image) {
  switch (code) {
    case kConBootWrite: *image = FlashImage::Boot; return true;
    case kConConfWrite: *image = FlashImage::Conf; return true;
    case kConLogo1Write: *image = FlashImage::Logo1; return true;
    case kConLogo2Write: *image = FlashImage::Logo2; return true;
    case kConLogo3Write: *image = FlashImage::Logo3; return true;
    case kConOsWrite: *image = FlashImage::Os; return true;
    default: return false;
  }
}

uint32_t WriteFault() { return ERROR_WRITE_FAULT; }

uint32_t Refuse(FlashStore& store, const std::string& entry, uint32_t code, uint32_t error, const char* why) {
  store.Log(entry, Hex(code), std::string("0 ") + why);
  return error;
}

uint32_t DeviceIoControl(FlashStore& store, uint32_t code, const void* in, uint32_t inSize, void* out,
                         uint32_t outSize, uint32_t* returned) {
  const std::string entry = "CON1 DeviceIoControl";
  FlashImage image;
  if (ImageOfCode(code, &image)) {
    // The request must come whole: the driver never reads past the caller's block.
    if (in == nullptr || inSize < sizeof(FlashRequest))
      return Refuse(store, entry, code, ERROR_INVALID_PARAMETER, "no FlashRequest input");
    FlashRequest request;
    std::memcpy(&request, in, sizeof request);
    return store.WriteImage(entry + " " + Hex(code), image, request) ? 0u : WriteFault();
  }
  switch (code) {
    case kConBootConfReset:
      return store.ResetBootConf(entry + " " + Hex(code)) ? 0u : WriteFault();
    case kConAppErase:
      return store.EraseAppArea(entry + " " + Hex(code)) ? 0u : WriteFault();
    case kConDeviceInfo: {
      if (out == nullptr || outSize < kDeviceInfoSize)
        return Refuse(store, entry, code, ERROR_INSUFFICIENT_BUFFER, "output under 48 bytes");
      uint8_t info[kDeviceInfoSize] = {};
      uint32_t boot = 0;
      ParseBootVersionWord(store.InstalledVersion(FlashImage::Boot), &boot);
      WriteLe32(info + kBootWordOffset, boot);
      std::memcpy(out, info, sizeof info);
      *returned = kDeviceInfoSize;
      store.Log(entry, Hex(code) + " device information", "1");
      return 0;
    }
    case kConConfIdentity:
      // The updater hands the kernel's identity back to the device: the
      // packed 6-byte form or two 32-bit words.
      if (in != nullptr && inSize != 0 && inSize != 6 && inSize != 8)
        return Refuse(store, entry, code, ERROR_INVALID_PARAMETER, "identity of 6 or 8 bytes expected");
      store.Log(entry, Hex(code) + " identity of " + std::to_string(in ? inSize : 0) + " bytes", "1");
      return 0;
    default:
      return Refuse(store, entry, code, ERROR_NOT_SUPPORTED, "unknown code");
  }
}

uint32_t KernelIoControl(FlashStore& store, uint32_t code, void* out, uint32_t outSize, uint32_t* returned) {
  const std::string entry = "KernelIoControl";
  switch (code) {
    case kKernelBootVersion: {
      if (out == nullptr || outSize < 4) return Refuse(store, entry, code, ERROR_INSUFFICIENT_BUFFER, "output under 4 bytes");
      std::string text = store.InstalledVersion(FlashImage::Boot);
      uint32_t boot = 0;
      if (!ParseBootVersionWord(text, &boot))
        return Refuse(store, entry, code, ERROR_NOT_SUPPORTED, "no hexadecimal boot version");
      uint8_t bytes[4];
      WriteLe32(bytes, boot);
      std::memcpy(out, bytes, sizeof bytes);
      *returned = 4;
      store.Log(entry, Hex(code) + " boot version", "1 " + text);
      return 0;
    }
    case kConConfIdentity: {
      if (out == nullptr || outSize < 6) return Refuse(store, entry, code, ERROR_INSUFFICIENT_BUFFER, "output under 6 bytes");
      std::string text = store.InstalledVersion(FlashImage::Conf);
      uint16_t customer = 0;
      uint32_t version = 0;
      if (!ParseConfIdentity(text, &customer, &version))
        return Refuse(store, entry, code, ERROR_NOT_SUPPORTED, "no configuration identity");
      uint8_t bytes[8] = {};
      // 6 bytes: u16 customer id then u32 version, packed; 8 or more: two u32 words.
      if (outSize < 8) {
        WriteLe16(bytes, customer);
        WriteLe32(bytes + 2, version);
        *returned = 6;
      } else {
        WriteLe32(bytes, customer);
        WriteLe32(bytes + 4, version);
        *returned = 8;
      }
      std::memcpy(out, bytes, *returned);
      store.Log(entry, Hex(code) + " configuration identity", "1 " + text);
      return 0;
    }
    default:
      return Refuse(store, entry, code, ERROR_NOT_SUPPORTED, "unknown code");
  }
}

}  // namespace
}  // namespace hu

HU_EXPORT uint32_t HuDeviceIoControl(const char* unitDir, uint32_t code, const void* in, uint32_t inSize, void* out,
                                     uint32_t outSize, uint32_t* returned) {
  uint32_t count = 0;
  if (unitDir == nullptr || *unitDir == 0) return hu::ERROR_INVALID_PARAMETER;
  hu::FlashStore store(unitDir);
  uint32_t error = hu::DeviceIoControl(store, code, in, inSize, out, outSize, &count);
  if (returned != nullptr) *returned = count;
  return error;
}

HU_EXPORT uint32_t HuKernelIoControl(const char* unitDir, uint32_t code, const void* /*in*/, uint32_t /*inSize*/,
                                     void* out, uint32_t outSize, uint32_t* returned) {
  uint32_t count = 0;
  if (unitDir == nullptr || *unitDir == 0) return hu::ERROR_INVALID_PARAMETER;
  hu::FlashStore store(unitDir);
  uint32_t error = hu::KernelIoControl(store, code, out, outSize, &count);
  if (returned != nullptr) *returned = count;
  return error;
}
