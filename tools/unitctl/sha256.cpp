#include "tools/unitctl/sha256.h"

#include <openssl/evp.h>

#include <cstdio>

namespace hu {

struct Sha256::Context {
  EVP_MD_CTX* md = EVP_MD_CTX_new();
  ~Context() { EVP_MD_CTX_free(md); }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) { EVP_DigestInit_ex(context_->md, EVP_sha256(), nullptr); }
Sha256::~Sha256() = default;

void Sha256::Update(const void* data, size_t size) { EVP_DigestUpdate(context_->md, data, size); }

std::string Sha256::Hex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(context_->md, digest, &length);
  std::string hex;
  char byte[3];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(byte, sizeof byte, "%02x", digest[i]);
    hex += byte;
  }
  return hex;
}

}  // namespace hu
