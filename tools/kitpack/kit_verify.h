#pragma once
#include <string>
#include <vector>

#include "common/platform/text.h"

namespace hu::kitpack {

struct VerifyReport {
  std::vector<std::string> problems;  // empty when every check holds
  std::string summary;                // what was checked
};

// Everything a release engineer must know before shipping a container or a
// pack: sections inside the file and apart, the application section a
// readable pack, versions the updater splits as meant, every member
// inflating to its declared length with a correct CRC-32, and, with
// `pubKeyPath`, the detached signature `signaturePath`.
VerifyReport VerifyKit(const std::string& hostPath, CodePage& codePage, const std::string& pubKeyPath,
                       const std::string& signaturePath);

}  // namespace hu::kitpack
