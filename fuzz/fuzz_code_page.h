#pragma once
#include "common/platform/text.h"

namespace hu {

// Index names are taken as they are; the readers' bounds do not depend on the code page.
class FuzzCodePage : public CodePage {
 public:
  std::string ToUtf8(const std::string& bytes) override { return bytes; }
  std::string FromUtf8(const std::string& utf8) override { return utf8; }
  uint32_t Number() const override { return 65001; }
};

}  // namespace hu
