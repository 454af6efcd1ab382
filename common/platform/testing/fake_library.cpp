#include "common/platform/testing/fake_library.h"

#include "common/platform/errors.h"
#include "common/platform/text.h"

namespace hu {
namespace {

class FakeModule : public Module {
 public:
  explicit FakeModule(FakeLibrary::Exports exports) : exports_(std::move(exports)) {}
  void* GetProcAddress(const std::string& name) override {
    auto it = exports_.find(name);
    if (it == exports_.end()) {
      SetLastError(ERROR_PROC_NOT_FOUND);
      return nullptr;
    }
    return it->second;
  }

 private:
  FakeLibrary::Exports exports_;
};

}  // namespace

std::unique_ptr<Module> FakeLibrary::LoadLibrary(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = modules_.find(AsciiLower(path));
  if (it == modules_.end()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ++loads_;
  return std::make_unique<FakeModule>(it->second);
}

void FakeLibrary::AddModule(const std::string& path, Exports exports) {
  std::lock_guard<std::mutex> lock(mutex_);
  modules_[AsciiLower(path)] = std::move(exports);
}

void FakeLibrary::RemoveModule(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  modules_.erase(AsciiLower(path));
}

int FakeLibrary::LoadCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return loads_;
}

}  // namespace hu
