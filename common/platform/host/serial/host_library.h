#pragma once
#include <functional>
#include <memory>
#include <string>

#include "common/platform/library.h"

namespace hu {

// Maps a device path to the host file behind it (HostFiles::HostPath);
// empty when the path has none.
using DevicePathResolver = std::function<std::string(const std::string&)>;

// LoadLibrary of a unit file: the device path is resolved to a host file,
// which is loaded as a shared object (dlopen, RTLD_NOW | RTLD_LOCAL).
// A library that exports HuModuleInit is told the unit folder after each
// load; one that exports HuModuleExports is looked up only through that
// table (module_exports.h), else by its dynamic symbols.
class HostLibrary : public Library {
 public:
  HostLibrary(DevicePathResolver resolve, const std::string& unitDir);

  // Null with ERROR_MOD_NOT_FOUND when the file is missing or does not load
  // (the loader's message goes to the trace).
  std::unique_ptr<Module> LoadLibrary(const std::string& path) override;

 private:
  DevicePathResolver resolve_;
  std::string unitDir_;
};

}  // namespace hu
