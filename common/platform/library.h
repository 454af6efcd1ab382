#pragma once
#include <memory>
#include <string>

namespace hu {

// A driver library loaded from the unit (LoadLibrary / GetProcAddress / FreeLibrary).
class Module {
 public:
  virtual ~Module() = default;  // FreeLibrary
  virtual void* GetProcAddress(const std::string& name) = 0;  // null when missing
};

class Library {
 public:
  virtual ~Library() = default;
  // Null (ERROR_MOD_NOT_FOUND) when the file is missing or does not load.
  virtual std::unique_ptr<Module> LoadLibrary(const std::string& path) = 0;
};

}  // namespace hu
