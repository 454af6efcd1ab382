#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/platform/files.h"

namespace hu {

// The 228-byte little-endian header of a configuration file; the data bytes
// follow it.
struct ConfigFileHeader {
  static constexpr size_t kSize = 228;
  static constexpr size_t kVersionUnits = 12;
  static constexpr size_t kNameBytes = 64;

  uint32_t dwReserved = 0;
  uint32_t dwDataLength = 0;
  char16_t szVersion[kVersionUnits] = {};
  char szName[kNameBytes] = {};
  uint32_t dwCrc = 0;

  // NUL-padded; the last unit/byte always stays NUL.
  void SetVersion(const std::u16string& version);
  void SetName(const std::string& name);
  std::u16string Version() const;
  std::string Name() const;

  void Serialize(uint8_t out[kSize]) const;
  void Deserialize(const uint8_t in[kSize]);
};

// CRC-32 of IEEE 802.3 / zlib; `start` 0 begins a fresh computation, a
// previous result continues it.
uint32_t Crc32(const uint8_t* bytes, size_t length, uint32_t start);

// A path beginning with ".\" or "./" lies in the configuration folder: the
// "AppConfig" folder beside the program's folder (created when missing).
// Other paths are used as given.
std::string ResolveConfigPath(Files& files, const std::string& modulePath, const std::string& path);

// 0 when the file has the expected name and version, a CRC that is not 0 and
// matches its data, and data that fit `buffer`; the data land in `buffer` and
// the header in `header`. -1 otherwise.
int ReadConfigFile(Files& files, const std::string& modulePath, const std::string& path,
                   ConfigFileHeader* header, const std::string& expectedName,
                   const std::u16string& expectedVersion, uint8_t* buffer, size_t bufferSize);
// Writes header->dwDataLength bytes of `data` after the header, whose CRC it
// fills in. Creates missing folders along the path. 0 on success, -1 on failure.
int WriteConfigFile(Files& files, const std::string& modulePath, const std::string& path,
                    ConfigFileHeader* header, const uint8_t* data);

// "McuflashFlag.cfg" in the program's folder: the chosen image size code.
std::string FlagFilePath(const std::string& modulePath);
int ReadFlagFile(Files& files, const std::string& modulePath, int* sizeCode);
int WriteFlagFile(Files& files, const std::string& modulePath, int sizeCode);

}  // namespace hu
