#include "sysmend/app/installed_versions.h"

#include <cstdio>
#include <memory>

#include "common/platform/text.h"
#include "common/platform/trace.h"
#include "sysmend/app/console_device.h"
#include "sysmend/app/sysmend_api.h"

namespace hu {

bool InstalledVersions::FromLibrary(uint32_t kind, const char* traceFormat, std::string* out) {
  CSysmendAPI api(library_);
  api.LoadSysmendAPI();
  if (!api.m_hDriverDll || api.GetSysVerInfo == nullptr) return false;
  char16_t buffer[260] = {};
  api.GetSysVerInfo(kind, buffer);
  buffer[259] = 0;  // a library that fills the whole buffer must not run the read past it
  *out = Utf16ToUtf8(std::u16string(buffer));
  Trace(traceFormat, out->c_str());
  return true;
}

std::string InstalledVersions::ReadOSVer() {
  std::string text;
  if (FromLibrary(kVersionOs, "****** &&&&&&& ReadOSVer  wcBuf = %s \r\n", &text)) return text;
  std::unique_ptr<RegKey> key = registry_.OpenKey("SOFTWARE\\Dravik\\Os");
  if (!key) return std::string();
  for (int attempt = 0; attempt < 2; ++attempt) {
    RegValue value;
    // The device reads at most 40 bytes; a longer value does not fit its buffer.
    if (key->QueryValue("KVRVER", &value) == 0 && value.type == REG_SZ && value.data.size() <= 40) {
      value.AsString(&text);
      return text;
    }
  }
  return std::string();
}

std::string InstalledVersions::ReadBootVer() {
  std::string text;
  if (FromLibrary(kVersionBoot, "****** &&&&&&& ReadBootVer  wcBuf = %s \r\n", &text)) return text;
  CConsoleDevice console(devices_);
  uint8_t info[48] = {};
  if (!console.ReadDeviceInfo(info)) return std::string();
  uint32_t word = static_cast<uint32_t>(info[40]) | (static_cast<uint32_t>(info[41]) << 8) |
                  (static_cast<uint32_t>(info[42]) << 16) | (static_cast<uint32_t>(info[43]) << 24);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%x", word);
  return buf;
}

std::string InstalledVersions::ReadConfVer() {
  std::string text;
  if (FromLibrary(kVersionConf, "****** &&&&&&& ReadConfVer  wcBuf = %s \r\n", &text)) return text;
  return CConsoleDevice(devices_).ReadConfIdentityText();
}

std::string InstalledVersions::ReadAppVer() {
  const char* primary = "\\Dravik\\$KVR$\\App\\AppVerInfo.cfg";
  const char* secondary = "\\NANDFlash\\$KVR$\\App\\AppVerInfo.cfg";
  const char* path = files_.GetAttributes(primary) != INVALID_FILE_ATTRIBUTES ? primary : secondary;
  std::unique_ptr<File> f = files_.Open(path, FileAccess::Read, FileCreate::OpenExisting, FILE_SHARE_READ);
  if (!f) return std::string();
  uint8_t bom[2];
  uint32_t done = 0;
  if (!f->Read(bom, 2, &done) || done != 2) return std::string();
  uint8_t text[260] = {};
  if (!f->Read(text, sizeof text, &done)) return std::string();
  return Utf16LeBytesToUtf8(text, done);
}

}  // namespace hu
