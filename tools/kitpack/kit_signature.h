#pragma once
#include <string>

namespace hu::kitpack {

// Detached Ed25519 signatures over a whole kit file: 64 raw bytes, the form
// `openssl pkeyutl -sign -rawin` makes, so either tool checks the other's.
// Keys are PEM files (`openssl genpkey -algorithm ed25519`, and `openssl pkey
// -pubout` for the public half).

// The signature of the file at `kitPath` with the private key; false with
// *error naming the file at fault.
bool SignKit(const std::string& kitPath, const std::string& keyPath, std::string* signature, std::string* error);

// True when `signature` is the public key's signature of the file; else
// false with *error saying why.
bool CheckKitSignature(const std::string& kitPath, const std::string& signature, const std::string& pubKeyPath,
                       std::string* error);

}  // namespace hu::kitpack
