#pragma once
#include <cstdint>
#include <string>

namespace hu {

// Kind of a file found in the update folder.
enum PackKind : uint32_t {
  kPackBoot = 0,         // "bin"
  kPackConf = 1,         // "kvr"
  kPackLogo1 = 2,        // "bmp" titled logo1
  kPackLogo2 = 3,
  kPackLogo3 = 4,
  kPackOs = 5,           // "nb0"
  kPackApp = 6,          // "auk" that is a plain full pack
  kPackContainer = 7,    // "kvq", or an "auk" that is a valid container
  kPackIncremental = 8,  // "aukinc", or an "auk" whose PackType says so
};

// One found file; `flag` receives its verdict.
struct PackInfo {
  uint32_t kind = 0;
  uint32_t flag = 0;
  std::string path;
};

// Install slots, in the dialog's fixed order.
enum SlotIndex : int { kSlotOs = 0, kSlotBoot, kSlotApp, kSlotConf, kSlotLogo1, kSlotLogo2, kSlotLogo3, kSlotCount };

// What one flashing call is given: the file holding the image and the byte
// range of the image in it.
struct PackSlot {
  bool present = false;
  std::string path;
  uint32_t offset = 0;
  uint32_t length = 0;
  std::string version;

  void Reset() { *this = PackSlot(); }
};

}  // namespace hu
