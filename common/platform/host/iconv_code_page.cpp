#include "common/platform/host/iconv_code_page.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace hu {
namespace {

const char kReplacement[] = "\xEF\xBF\xBD";

// Length of the UTF-8 sequence that starts with `lead` (1 for stray bytes).
size_t Utf8Length(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

// Runs `cd` over `in`; an unconvertible input unit is replaced by
// `replacement` and skipped by `skip(pos)` bytes.
template <typename Skip>
std::string Convert(iconv_t cd, const std::string& in, const char* replacement, Skip skip) {
  std::string out;
  std::vector<char> buf(in.size() * 4 + 16);
  size_t pos = 0;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  while (pos < in.size()) {
    char* src = const_cast<char*>(in.data() + pos);
    size_t srcLeft = in.size() - pos;
    char* dst = buf.data();
    size_t dstLeft = buf.size();
    size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buf.data(), static_cast<size_t>(dst - buf.data()));
    pos = in.size() - srcLeft;
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL (cut sequence at the end): replace and go on.
    out += replacement;
    pos += std::max<size_t>(1, std::min(skip(pos), in.size() - pos));
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  // Flush any shift state.
  char* dst = buf.data();
  size_t dstLeft = buf.size();
  iconv(cd, nullptr, nullptr, &dst, &dstLeft);
  out.append(buf.data(), static_cast<size_t>(dst - buf.data()));
  return out;
}

}  // namespace

IconvCodePage::IconvCodePage(uint32_t codePage) : number_(codePage) {
  if (codePage == 65001) return;
  std::string name = "CP" + std::to_string(codePage);
  toUtf8_ = iconv_open("UTF-8", name.c_str());
  fromUtf8_ = iconv_open(name.c_str(), "UTF-8");
}

IconvCodePage::~IconvCodePage() {
  if (toUtf8_ != kNone) iconv_close(toUtf8_);
  if (fromUtf8_ != kNone) iconv_close(fromUtf8_);
}

std::string IconvCodePage::ToUtf8(const std::string& bytes) {
  if (number_ == 65001) return Utf16ToUtf8(Utf8ToUtf16(bytes));
  if (toUtf8_ == kNone) {
    std::string out;
    for (char c : bytes) {
      if (static_cast<unsigned char>(c) < 0x80) {
        out += c;
      } else {
        out += kReplacement;
      }
    }
    return out;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return Convert(toUtf8_, bytes, kReplacement, [](size_t) { return size_t{1}; });
}

std::string IconvCodePage::FromUtf8(const std::string& utf8) {
  if (number_ == 65001) return Utf16ToUtf8(Utf8ToUtf16(utf8));
  if (fromUtf8_ == kNone) {
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
      unsigned char c = static_cast<unsigned char>(utf8[i]);
      out += c < 0x80 ? static_cast<char>(c) : '?';
      i += Utf8Length(c);
    }
    return out;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return Convert(fromUtf8_, utf8, "?", [&utf8](size_t pos) {
    size_t n = Utf8Length(static_cast<unsigned char>(utf8[pos]));
    // A broken sequence skips only its lead byte, so what follows is kept.
    for (size_t k = 1; k < n; ++k) {
      if (pos + k >= utf8.size() || (static_cast<unsigned char>(utf8[pos + k]) & 0xC0) != 0x80) return size_t{1};
    }
    return n;
  });
}

}  // namespace hu
