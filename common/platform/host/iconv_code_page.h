#pragma once
#include <iconv.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "common/platform/text.h"

namespace hu {

// The system code page through the C library's iconv ("CP936" for 936).
// 65001 is UTF-8 itself. Bytes that do not convert become U+FFFD towards
// UTF-8 and '?' towards the code page; an unknown code page passes ASCII
// only.
class IconvCodePage : public CodePage {
 public:
  explicit IconvCodePage(uint32_t codePage);
  ~IconvCodePage() override;
  IconvCodePage(const IconvCodePage&) = delete;
  IconvCodePage& operator=(const IconvCodePage&) = delete;

  std::string ToUtf8(const std::string& bytes) override;
  std::string FromUtf8(const std::string& utf8) override;
  uint32_t Number() const override { return number_; }
  // False when iconv does not know the code page.
  bool valid() const { return number_ == 65001 || (toUtf8_ != kNone && fromUtf8_ != kNone); }

 private:
  static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);
  uint32_t number_;
  iconv_t toUtf8_ = kNone;
  iconv_t fromUtf8_ = kNone;
  std::mutex mutex_;  // an iconv descriptor keeps state between calls
};

}  // namespace hu
