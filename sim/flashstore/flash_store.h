#pragma once
#include <cstdint>
#include <string>

#include "sysmend/app/halbridge_abi.h"

namespace hu {

enum class FlashImage { Boot, Conf, Logo1, Logo2, Logo3, Os };
constexpr int kFlashImageKinds = 6;

// "boot", "conf", "logo1", "logo2", "logo3", "os": the name of the image
// file UNIT/flash/<name>.img and of the [versions] key.
const char* FlashImageName(FlashImage kind);
// True for the kinds whose installed version the unit keeps.
bool FlashImageHasVersion(FlashImage kind);

// The simulated flash of a unit, shared by the substitute driver library and
// the console device driver:
// - UNIT/flash/<kind>.img holds the last image written of each kind;
// - UNIT/flash/apparea.img stands for the application flash area (emptied
//   by an erase);
// - UNIT/flash/calls.log records every call;
// - [versions] boot / conf / os of UNIT/unit.ini are the installed versions;
//   writing an image replaces its kind's version with the image's own, so
//   that it survives reboots.
class FlashStore {
 public:
  explicit FlashStore(const std::string& unitDir);

  // Copies the request's byte range of its file (a device path under
  // UNIT/fs) to the image of `kind`. `entry` names the caller in calls.log.
  bool WriteImage(const std::string& entry, FlashImage kind, const FlashRequest& request);
  bool EraseAppArea(const std::string& entry);
  bool ResetBootConf(const std::string& entry);

  // [versions] of unit.ini for boot, conf and os; empty when unset.
  std::string InstalledVersion(FlashImage kind) const;

  void Log(const std::string& entry, const std::string& args, const std::string& result) const;
  std::string ImagePath(FlashImage kind) const;
  std::string AppAreaPath() const;
  const std::string& unitDir() const { return unitDir_; }

 private:
  bool StoreVersion(FlashImage kind, const std::string& version, std::string* why);

  std::string unitDir_;
};

// The installed boot version as the kernel hands it out: [versions] boot read
// as hexadecimal (at most 8 digits). False when it is not such a number.
bool ParseBootVersionWord(const std::string& text, uint32_t* word);
// The configuration identity: [versions] conf as "%4x%8x" with zeros,
// 4 digits of customer id then 8 of version. False when it is not so.
bool ParseConfIdentity(const std::string& text, uint16_t* customer, uint32_t* version);

}  // namespace hu
