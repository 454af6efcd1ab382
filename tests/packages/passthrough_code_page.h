#pragma once
#include "common/platform/text.h"

namespace hu {

// 8-bit texts taken as UTF-8 unchanged: enough for ASCII names in tests.
class PassthroughCodePage : public CodePage {
 public:
  std::string ToUtf8(const std::string& bytes) override { return bytes; }
  std::string FromUtf8(const std::string& utf8) override { return utf8; }
  uint32_t Number() const override { return 65001; }
};

}  // namespace hu
