#include "common/runner/field_run.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/platform/errors.h"
#include "common/runner/unit_setup.h"

namespace hu {

bool MakeFieldUnit(const std::string& program, const FieldUnitRequest& request, std::string* dir,
                   std::string* error) {
  // Refused before any folder is made.
  const std::string refused = CheckPlatformChoice(request.cpu, request.project);
  if (!refused.empty()) {
    *error = refused;
    return false;
  }
  if (request.keepDir.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/" + program + "-unit-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      *error = "cannot make a unit folder " + pattern + ": " + std::strerror(errno);
      return false;
    }
    *dir = pattern;
  } else {
    *dir = request.keepDir;
  }
  UnitSetup setup;
  setup.cpu = request.cpu;
  setup.project = request.project;
  if (!request.hwVersion.empty()) setup.hwVersion = request.hwVersion;
  for (const std::string& port : request.ports) setup.ports[port] = request.port;
  if (!CreateUnit(*dir, setup, error)) {
    if (request.keepDir.empty()) RemoveFieldUnit(*dir);
    return false;
  }
  return true;
}

void RemoveFieldUnit(const std::string& dir) {
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

std::string DeviceDirOf(const std::string& devicePath) {
  const size_t slash = devicePath.find_last_of('\\');
  return slash == std::string::npos ? std::string("\\") : devicePath.substr(0, slash + 1);
}

bool PlaceJobFile(Files& files, const std::string& hostFile, const std::string& deviceDir, std::string* name,
                  std::string* error) {
  std::ifstream in(hostFile, std::ios::binary);
  if (!in) {
    *error = hostFile + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (!in.good() && !in.eof()) {
    *error = hostFile + ": cannot be read";
    return false;
  }
  const std::string text = bytes.str();
  *name = std::filesystem::path(hostFile).filename().string();
  // Each missing folder along the way, from the root.
  for (size_t at = deviceDir.find('\\', 1); at != std::string::npos; at = deviceDir.find('\\', at + 1)) {
    const std::string folder = deviceDir.substr(0, at);
    if (!files.CreateDirectory(folder) && GetLastError() != ERROR_ALREADY_EXISTS) {
      *error = "cannot make the folder " + folder + " of the unit (error " + std::to_string(GetLastError()) + ")";
      return false;
    }
  }
  const std::string target = deviceDir + *name;
  std::unique_ptr<File> file = files.Open(target, FileAccess::Write, FileCreate::CreateAlways);
  uint32_t done = 0;
  if (!file || !file->Write(text.data(), static_cast<uint32_t>(text.size()), &done) || done != text.size()) {
    *error = "cannot write " + target + " on the unit (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  return true;
}

}  // namespace hu
