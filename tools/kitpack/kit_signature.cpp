#include "tools/kitpack/kit_signature.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

namespace hu::kitpack {

namespace {

constexpr size_t kSignatureSize = 64;

struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct MdFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct FileClose {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using MdPtr = std::unique_ptr<EVP_MD_CTX, MdFree>;

std::string OpensslError() {
  unsigned long e = ERR_get_error();
  char text[256] = "unknown reason";
  if (e != 0) ERR_error_string_n(e, text, sizeof text);
  ERR_clear_error();
  return text;
}

KeyPtr LoadKey(const std::string& path, bool isPrivate, std::string* error) {
  std::unique_ptr<std::FILE, FileClose> f(std::fopen(path.c_str(), "rb"));
  if (!f) {
    *error = path + ": cannot be read";
    return nullptr;
  }
  KeyPtr key(isPrivate ? PEM_read_PrivateKey(f.get(), nullptr, nullptr, nullptr)
                       : PEM_read_PUBKEY(f.get(), nullptr, nullptr, nullptr));
  if (!key) {
    *error = path + ": not a PEM " + (isPrivate ? "private" : "public") + " key (" + OpensslError() + ")";
    return nullptr;
  }
  if (EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
    *error = path + ": not an Ed25519 key";
    return nullptr;
  }
  return key;
}

// The whole kit mapped read-only: Ed25519 signs the message itself, not a
// digest, and a kit may be larger than is wise to copy.
class MappedFile {
 public:
  explicit MappedFile(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return;
    size_ = static_cast<size_t>(st.st_size);
    if (size_ == 0) {
      ok_ = true;
      return;
    }
    void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd_, 0);
    if (p == MAP_FAILED) return;
    data_ = static_cast<const unsigned char*>(p);
    ok_ = true;
  }
  ~MappedFile() {
    if (data_ != nullptr) ::munmap(const_cast<unsigned char*>(data_), size_);
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return ok_; }
  const unsigned char* data() const { return data_ != nullptr ? data_ : reinterpret_cast<const unsigned char*>(""); }
  size_t size() const { return size_; }

 private:
  int fd_ = -1;
  const unsigned char* data_ = nullptr;
  size_t size_ = 0;
  bool ok_ = false;
};

}  // namespace

bool SignKit(const std::string& kitPath, const std::string& keyPath, std::string* signature, std::string* error) {
  KeyPtr key = LoadKey(keyPath, true, error);
  if (!key) return false;
  MappedFile kit(kitPath);
  if (!kit.ok()) {
    *error = kitPath + ": cannot be read";
    return false;
  }
  MdPtr md(EVP_MD_CTX_new());
  unsigned char sig[kSignatureSize];
  size_t length = sizeof sig;
  if (!md || EVP_DigestSignInit(md.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
      EVP_DigestSign(md.get(), sig, &length, kit.data(), kit.size()) != 1 || length != kSignatureSize) {
    *error = kitPath + ": cannot be signed (" + OpensslError() + ")";
    return false;
  }
  signature->assign(reinterpret_cast<const char*>(sig), length);
  return true;
}

bool CheckKitSignature(const std::string& kitPath, const std::string& signature, const std::string& pubKeyPath,
                       std::string* error) {
  KeyPtr key = LoadKey(pubKeyPath, false, error);
  if (!key) return false;
  if (signature.size() != kSignatureSize) {
    *error = "the signature has " + std::to_string(signature.size()) + " bytes, not " +
             std::to_string(kSignatureSize);
    return false;
  }
  MappedFile kit(kitPath);
  if (!kit.ok()) {
    *error = kitPath + ": cannot be read";
    return false;
  }
  MdPtr md(EVP_MD_CTX_new());
  if (!md || EVP_DigestVerifyInit(md.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
    *error = "cannot start checking (" + OpensslError() + ")";
    return false;
  }
  int rc = EVP_DigestVerify(md.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                            kit.data(), kit.size());
  ERR_clear_error();
  if (rc != 1) {
    *error = "the signature does not match the kit (changed after signing, or another key)";
    return false;
  }
  return true;
}

}  // namespace hu::kitpack
