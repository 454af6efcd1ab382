// Arbitrary bytes as the flag file (and as any configuration file): the
// reader must refuse or accept them without leaving its buffers, and accept
// only files whose CRC matches their data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/platform/testing/mem_files.h"
#include "mcuflash/config_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hu::MemFiles files;
  const std::string module = "\\StorageCard\\Mcuflash\\Mcuflash.exe";
  files.PutFile(hu::FlagFilePath(module), std::string(reinterpret_cast<const char*>(data), size));

  int sizeCode = -1;
  if (hu::ReadFlagFile(files, module, &sizeCode) == 0) {
    if (size < hu::ConfigFileHeader::kSize + 1 || sizeCode != data[hu::ConfigFileHeader::kSize]) std::abort();
  }

  hu::ConfigFileHeader header;
  uint8_t buffer[16];
  if (hu::ReadConfigFile(files, module, hu::FlagFilePath(module), &header, "Mcuflash", u"V1.0.0", buffer,
                         sizeof buffer) == 0) {
    if (header.dwDataLength > sizeof buffer) std::abort();
    if (hu::Crc32(buffer, header.dwDataLength, 0) != header.dwCrc || header.dwCrc == 0) std::abort();
  }
  return 0;
}
