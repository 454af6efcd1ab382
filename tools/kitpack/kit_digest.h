#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "tools/unitctl/sha256.h"

namespace hu::kitpack {

using hu::Sha256;

// SHA-256 of `length` bytes of a host file from `offset`; empty when the
// range cannot be read whole.
std::string Sha256OfRange(const std::string& hostPath, uint64_t offset, uint64_t length);
std::string Sha256OfBytes(const std::string& bytes);

// One pack member inflated as the release engineer must see it: the gzip
// stream at `offset` (`stored` bytes) must inflate to exactly `unpacked`
// bytes and match its CRC-32 and length trailer.
struct MemberCheck {
  bool ok = false;
  std::string problem;  // why not
  std::string sha256;   // of the inflated bytes, when ok
};
MemberCheck InflateMember(const std::string& hostPath, uint64_t offset, uint32_t stored, uint32_t unpacked);

}  // namespace hu::kitpack
