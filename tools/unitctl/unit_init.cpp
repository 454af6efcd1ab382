#include "tools/unitctl/unit_init.h"

#include "common/platform/errors.h"
#include "common/platform/host/host_files.h"
#include "common/platform/text.h"
#include "sim/install/sim_install.h"

namespace hu {
namespace {

// AppVerInfo.cfg as the application ships it: UTF-16LE with a byte-order mark.
bool WriteAppVersion(HostFiles& files, const std::string& version, std::string* error) {
  const std::string folder = "\\Dravik\\$KVR$\\App";
  std::string bytes = "\xFF\xFE";
  for (char16_t u : Utf8ToUtf16(version)) {
    bytes.push_back(static_cast<char>(u & 0xFF));
    bytes.push_back(static_cast<char>(u >> 8));
  }
  for (const std::string& dir : {std::string("\\Dravik\\$KVR$"), folder}) {
    if (!files.CreateDirectory(dir) && GetLastError() != ERROR_ALREADY_EXISTS) {
      if (error) *error = "cannot create " + files.HostPath(dir);
      return false;
    }
  }
  auto f = files.Open(folder + "\\AppVerInfo.cfg", FileAccess::Write, FileCreate::CreateAlways);
  uint32_t done = 0;
  if (!f || !f->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &done) || done != bytes.size()) {
    if (error) *error = "cannot write " + files.HostPath(folder + "\\AppVerInfo.cfg");
    return false;
  }
  return true;
}

}  // namespace

bool InitUnit(const std::string& dir, const UnitInitOptions& options, std::string* error) {
  if (!CreateUnit(dir, options, error)) return false;
  if (!InstallSimulatedPlatform(dir, options.halbridge, options.halbridgeWithout, options.console, error)) return false;
  HostFiles files(dir + "/fs");
  return !options.appVersion || WriteAppVersion(files, *options.appVersion, error);
}

}  // namespace hu
