#include "common/platform/host/serial/host_library.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstring>

#include "common/platform/errors.h"
#include "common/platform/host/serial/module_exports.h"
#include "common/platform/trace.h"

namespace hu {
namespace {

class HostModule : public Module {
 public:
  HostModule(void* handle, const HuExport* exports) : handle_(handle), exports_(exports) {}
  ~HostModule() override { ::dlclose(handle_); }
  HostModule(const HostModule&) = delete;
  HostModule& operator=(const HostModule&) = delete;

  void* GetProcAddress(const std::string& name) override {
    if (exports_ != nullptr) {
      for (const HuExport* e = exports_; e->name != nullptr; ++e) {
        if (name == e->name && e->address != nullptr) return e->address;
      }
    } else if (!name.empty()) {
      ::dlerror();
      void* address = ::dlsym(handle_, name.c_str());
      if (address != nullptr) return address;
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }

 private:
  void* handle_;
  const HuExport* exports_;
};

}  // namespace

HostLibrary::HostLibrary(DevicePathResolver resolve, const std::string& unitDir)
    : resolve_(std::move(resolve)), unitDir_(unitDir) {}

std::unique_ptr<Module> HostLibrary::LoadLibrary(const std::string& path) {
  std::string host = resolve_ ? resolve_(path) : std::string();
  struct stat st {};
  if (host.empty() || ::stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    Trace("HostLibrary::LoadLibrary %s: no such file\n", path.c_str());
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ::dlerror();
  void* handle = ::dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    Trace("HostLibrary::LoadLibrary %s failed: %s\n", path.c_str(), why ? why : "unknown");
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  if (auto init = reinterpret_cast<HuModuleInitFn>(::dlsym(handle, HU_MODULE_INIT))) init(unitDir_.c_str());
  const HuExport* exports = nullptr;
  if (auto table = reinterpret_cast<HuModuleExportsFn>(::dlsym(handle, HU_MODULE_EXPORTS))) {
    exports = table();
    if (exports == nullptr) {
      // A table-less answer would expose everything the library defines.
      static const HuExport kNone[] = {{nullptr, nullptr}};
      exports = kNone;
    }
  }
  return std::make_unique<HostModule>(handle, exports);
}

}  // namespace hu
