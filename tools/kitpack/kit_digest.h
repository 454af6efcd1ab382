#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace hu::kitpack {

// SHA-256 over bytes fed in pieces; Hex gives lower-case hexadecimal.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Update(const void* data, size_t size);
  std::string Hex();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

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
