#include "mcuflash/config_file.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include "common/platform/errors.h"
#include "common/platform/trace.h"

namespace hu {
namespace {

constexpr size_t kVersionOffset = 136;
constexpr size_t kNameOffset = 160;
constexpr size_t kLengthOffset = 132;
constexpr size_t kCrcOffset = 224;
constexpr size_t kFlagBufferSize = 256;
const char* const kFlagName = "Mcuflash";
const char16_t* const kFlagVersion = u"V1.0.0";

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The seam speaks device paths with '\'; the configuration folder is named
// with '/', which the device accepts as well.
std::string DevicePath(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string ProgramDirectory(const std::string& modulePath) {
  const size_t slash = modulePath.rfind('\\');
  return slash == std::string::npos ? std::string() : modulePath.substr(0, slash + 1);
}

bool WriteWhole(File& file, const uint8_t* bytes, size_t n) {
  size_t total = 0;
  while (total < n) {
    uint32_t done = 0;
    const size_t chunk = std::min<size_t>(n - total, std::numeric_limits<uint32_t>::max());
    if (!file.Write(bytes + total, static_cast<uint32_t>(chunk), &done) || done == 0) return false;
    total += done;
  }
  return true;
}

bool ReadWhole(File& file, uint8_t* bytes, size_t n) {
  size_t total = 0;
  while (total < n) {
    uint32_t done = 0;
    const size_t chunk = std::min<size_t>(n - total, std::numeric_limits<uint32_t>::max());
    if (!file.Read(bytes + total, static_cast<uint32_t>(chunk), &done) || done == 0) return false;
    total += done;
  }
  return true;
}

// Creates every missing folder above the file named by `path`.
bool CreateFolders(Files& files, const std::string& path) {
  size_t from = 0;
  if (!path.empty() && path[0] == '\\') from = 1;
  for (size_t slash = path.find('\\', from); slash != std::string::npos;
       slash = path.find('\\', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    if (folder.empty() || folder == "\\") continue;
    const uint32_t attributes = files.GetAttributes(folder);
    if (attributes != INVALID_FILE_ATTRIBUTES) continue;
    if (!files.CreateDirectory(folder)) {
      Trace("WriteConfigFile CreateDirectory %s failed, err = %u\n", folder.c_str(), GetLastError());
      return false;
    }
  }
  return true;
}

}  // namespace

void ConfigFileHeader::SetVersion(const std::u16string& version) {
  std::memset(szVersion, 0, sizeof szVersion);
  for (size_t i = 0; i < version.size() && i + 1 < kVersionUnits; ++i) szVersion[i] = version[i];
}

void ConfigFileHeader::SetName(const std::string& name) {
  std::memset(szName, 0, sizeof szName);
  std::memcpy(szName, name.data(), std::min(name.size(), kNameBytes - 1));
}

std::u16string ConfigFileHeader::Version() const {
  size_t n = 0;
  while (n < kVersionUnits && szVersion[n] != 0) ++n;
  return std::u16string(szVersion, n);
}

std::string ConfigFileHeader::Name() const {
  size_t n = 0;
  while (n < kNameBytes && szName[n] != 0) ++n;
  return std::string(szName, n);
}

void ConfigFileHeader::Serialize(uint8_t out[kSize]) const {
  std::memset(out, 0, kSize);
  Put32(out, dwReserved);
  Put32(out + kLengthOffset, dwDataLength);
  for (size_t i = 0; i < kVersionUnits; ++i) {
    out[kVersionOffset + 2 * i] = static_cast<uint8_t>(szVersion[i] & 0xFF);
    out[kVersionOffset + 2 * i + 1] = static_cast<uint8_t>(szVersion[i] >> 8);
  }
  std::memcpy(out + kNameOffset, szName, kNameBytes);
  out[kNameOffset + kNameBytes - 1] = 0;
  Put32(out + kCrcOffset, dwCrc);
}

void ConfigFileHeader::Deserialize(const uint8_t in[kSize]) {
  dwReserved = Get32(in);
  dwDataLength = Get32(in + kLengthOffset);
  for (size_t i = 0; i < kVersionUnits; ++i) {
    szVersion[i] = static_cast<char16_t>(in[kVersionOffset + 2 * i] | (in[kVersionOffset + 2 * i + 1] << 8));
  }
  std::memcpy(szName, in + kNameOffset, kNameBytes);
  dwCrc = Get32(in + kCrcOffset);
}

uint32_t Crc32(const uint8_t* bytes, size_t length, uint32_t start) {
  uLong crc = start;
  while (length > 0) {
    const uInt chunk = static_cast<uInt>(std::min<size_t>(length, std::numeric_limits<uInt>::max()));
    crc = crc32(crc, bytes, chunk);
    bytes += chunk;
    length -= chunk;
  }
  return static_cast<uint32_t>(crc);
}

std::string ResolveConfigPath(Files& files, const std::string& modulePath, const std::string& path) {
  if (path.size() < 2 || path[0] != '.' || (path[1] != '\\' && path[1] != '/')) return path;
  std::string program = modulePath;
  for (char& c : program) {
    if (c == '\\') c = '/';
  }
  // The parent of the program's folder.
  std::string parent = "/";
  const size_t last = program.rfind('/');
  if (last != std::string::npos && last > 0) {
    const size_t before = program.rfind('/', last - 1);
    if (before != std::string::npos) parent = program.substr(0, before + 1);
  }
  const std::string folder = parent + "AppConfig/";
  const std::string device = DevicePath(folder.substr(0, folder.size() - 1));
  if (files.GetAttributes(device) == INVALID_FILE_ATTRIBUTES && !files.CreateDirectory(device)) {
    Trace("ResolveConfigPath CreateDirectory %s failed, err = %u\n", device.c_str(), GetLastError());
  }
  return folder + path.substr(2);
}

int ReadConfigFile(Files& files, const std::string& modulePath, const std::string& path,
                   ConfigFileHeader* header, const std::string& expectedName,
                   const std::u16string& expectedVersion, uint8_t* buffer, size_t bufferSize) {
  if (header == nullptr || buffer == nullptr) return -1;
  const std::string file = DevicePath(ResolveConfigPath(files, modulePath, path));
  std::unique_ptr<File> f = files.Open(file, FileAccess::Read, FileCreate::OpenExisting, 0);
  if (!f) {
    Trace("ReadConfigFile open %s failed, err = %u\n", file.c_str(), GetLastError());
    return -1;
  }
  uint8_t raw[ConfigFileHeader::kSize];
  if (!ReadWhole(*f, raw, sizeof raw)) {
    Trace("ReadConfigFile %s header short\n", file.c_str());
    return -1;
  }
  header->Deserialize(raw);
  if (header->Name() != expectedName || header->Version() != expectedVersion) {
    Trace("ReadConfigFile %s name or version differs\n", file.c_str());
    return -1;
  }
  if (header->dwCrc == 0) {
    Trace("ReadConfigFile %s has no CRC\n", file.c_str());
    return -1;
  }
  if (header->dwDataLength > bufferSize) {
    Trace("ReadConfigFile %s data length %u beyond the buffer\n", file.c_str(), header->dwDataLength);
    return -1;
  }
  if (!ReadWhole(*f, buffer, header->dwDataLength)) {
    Trace("ReadConfigFile %s data short\n", file.c_str());
    return -1;
  }
  if (Crc32(buffer, header->dwDataLength, 0) != header->dwCrc) {
    Trace("ReadConfigFile %s CRC error\n", file.c_str());
    return -1;
  }
  return 0;
}

int WriteConfigFile(Files& files, const std::string& modulePath, const std::string& path,
                    ConfigFileHeader* header, const uint8_t* data) {
  if (header == nullptr || (data == nullptr && header->dwDataLength > 0)) return -1;
  const std::string file = DevicePath(ResolveConfigPath(files, modulePath, path));
  if (!CreateFolders(files, file)) return -1;
  std::unique_ptr<File> f = files.Open(file, FileAccess::ReadWrite, FileCreate::CreateAlways, 0);
  if (!f) {
    Trace("WriteConfigFile open %s failed, err = %u\n", file.c_str(), GetLastError());
    return -1;
  }
  header->dwReserved = 0;
  header->dwCrc = Crc32(data, header->dwDataLength, 0);
  uint8_t raw[ConfigFileHeader::kSize];
  header->Serialize(raw);
  if (!f->Seek(ConfigFileHeader::kSize, SeekFrom::Begin) || !WriteWhole(*f, data, header->dwDataLength) ||
      !f->Seek(0, SeekFrom::Begin) || !WriteWhole(*f, raw, sizeof raw) || !f->Flush()) {
    Trace("WriteConfigFile write %s failed, err = %u\n", file.c_str(), GetLastError());
    return -1;
  }
  return 0;
}

std::string FlagFilePath(const std::string& modulePath) {
  return ProgramDirectory(modulePath) + "McuflashFlag.cfg";
}

int ReadFlagFile(Files& files, const std::string& modulePath, int* sizeCode) {
  ConfigFileHeader header;
  uint8_t buffer[kFlagBufferSize] = {};
  if (ReadConfigFile(files, modulePath, FlagFilePath(modulePath), &header, kFlagName, kFlagVersion,
                     buffer, sizeof buffer) != 0 ||
      header.dwDataLength < 1) {
    return -1;
  }
  if (sizeCode != nullptr) *sizeCode = buffer[0];
  return 0;
}

int WriteFlagFile(Files& files, const std::string& modulePath, int sizeCode) {
  ConfigFileHeader header;
  header.SetName(kFlagName);
  header.SetVersion(kFlagVersion);
  header.dwDataLength = 1;
  const uint8_t value = static_cast<uint8_t>(sizeCode);
  return WriteConfigFile(files, modulePath, FlagFilePath(modulePath), &header, &value);
}

}  // namespace hu
