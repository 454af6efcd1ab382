#pragma once
#include <cstddef>
#include <memory>
#include <string>

namespace hu {

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

}  // namespace hu
