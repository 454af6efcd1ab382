#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "common/platform/library.h"

namespace hu {

// Driver libraries of a simulated unit: each device path maps to a table of
// entry points that the test supplies.
class FakeLibrary : public Library {
 public:
  using Exports = std::map<std::string, void*>;

  std::unique_ptr<Module> LoadLibrary(const std::string& path) override;

  void AddModule(const std::string& path, Exports exports);
  void RemoveModule(const std::string& path);
  int LoadCount() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, Exports> modules_;
  int loads_ = 0;
};

}  // namespace hu
