#pragma once
#include <string>

#include "tests/support/scratch.h"

namespace hu {

// A fresh host folder for one test under `base`, removed with everything in it after.
class TempDir : public scratch::ScratchDir {
 public:
  explicit TempDir(const std::string& base = "/tmp") : ScratchDir("hu-host", base) {}
  std::string operator/(const std::string& rel) const { return path() + "/" + rel; }
};

}  // namespace hu
