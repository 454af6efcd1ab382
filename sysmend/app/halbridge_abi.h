#pragma once
// The platform driver library "\Windows\Halbridge.dll" as the updater binds it:
// the block handed to the flashing calls and the entry-point signatures.
#include <cstdint>

extern "C" {

typedef int32_t HB_BOOL;

#pragma pack(push, 1)
struct FlashRequest {
  char16_t path[260];  // file holding the image, NUL-terminated
  uint32_t offset;     // byte offset of the image in that file
  uint32_t length;     // image length in bytes
};
#pragma pack(pop)
static_assert(sizeof(FlashRequest) == 528, "FlashRequest is 528 bytes");

// UpdatePack kinds.
enum : uint32_t {
  kImageBoot = 0,
  kImageConf = 1,
  kImageLogo1 = 2,
  kImageLogo2 = 3,
  kImageLogo3 = 4,
  kImageOs = 5,
};

// GetSysVerInfo kinds.
enum : uint32_t { kVersionBoot = 0, kVersionConf = 1, kVersionOs = 2 };

typedef HB_BOOL (*PFN_UpdatePack)(uint32_t kind, const FlashRequest* request);
typedef HB_BOOL (*PFN_ResetBootConf)(void);
typedef HB_BOOL (*PFN_EraseFlase)(void);
typedef HB_BOOL (*PFN_GetSysVerInfo)(uint32_t kind, char16_t* buffer /* 260 units */);
typedef HB_BOOL (*PFN_SysSoftReset)(void);
typedef void (*PFN_UpdateState)(uint32_t code);

}  // extern "C"
