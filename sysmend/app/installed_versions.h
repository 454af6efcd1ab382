#pragma once
#include <string>

#include "common/platform/devices.h"
#include "common/platform/files.h"
#include "common/platform/library.h"
#include "common/platform/registry.h"
#include "sysmend/packages/kvq_unzip.h"

namespace hu {

// What the unit has installed now. Each reader answers an empty text when
// nothing could be read; the driver library is bound afresh for each call.
class InstalledVersions : public InstalledVersionSource {
 public:
  InstalledVersions(Files& files, Registry& registry, Library* library, Devices* devices)
      : files_(files), registry_(registry), library_(library), devices_(devices) {}

  std::string ReadOSVer() override;
  std::string ReadBootVer() override;
  std::string ReadConfVer();
  std::string ReadAppVer() override;

 private:
  // GetSysVerInfo of the library; false when the library or the entry is missing.
  bool FromLibrary(uint32_t kind, const char* traceFormat, std::string* out);

  Files& files_;
  Registry& registry_;
  Library* library_;
  Devices* devices_;
};

}  // namespace hu
