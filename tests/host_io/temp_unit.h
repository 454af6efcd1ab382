#pragma once
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/support/scratch.h"

namespace hu {
namespace testio {

inline bool HostFileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// A throw-away unit folder: unit.ini with the given text, fs/, flash/, run/.
class TempUnit {
 public:
  explicit TempUnit(const std::string& ini = "[unit]\ncode_page = 936\n") : scratch_("hu-io") {
    for (const char* sub : {"/fs", "/fs/Windows", "/fs/StorageCard", "/flash", "/run"}) {
      ::mkdir((dir() + sub).c_str(), 0755);
    }
    scratch::WriteFile(dir() + "/unit.ini", ini);
  }

  const std::string& dir() const { return scratch_.path(); }
  std::string operator/(const std::string& rel) const { return dir() + "/" + rel; }

 private:
  scratch::ScratchDir scratch_;
};

}  // namespace testio
}  // namespace hu
