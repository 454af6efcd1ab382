#include "tools/unitctl/unit_init.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/platform/errors.h"
#include "common/platform/host/host_files.h"
#include "common/platform/host/host_registry.h"
#include "common/platform/host/unit.h"
#include "common/platform/text.h"
#include "sim/install/sim_install.h"

namespace hu {
namespace {

const char kUnitIni[] =
    "# A stand-in for one head unit. Edit freely; tools rewrite single keys only.\n"
    "[unit]\n"
    "code_page = 936\n"
    "time_scale = 1\n"
    "os_major = 6\n"
    "\n"
    "# Serial ports of the device: COM4 = /dev/ttyUSB0 (a cable or a pty).\n"
    "[ports]\n"
    "\n"
    "[devices]\n"
    "CON1 = yes\n"
    "MFC1 = no\n"
    "\n"
    "# Device paths of the unit's programs.\n"
    "[modules]\n"
    "\n"
    "# free_bytes / total_bytes, or VOLUME.free_bytes, replace the host's figures.\n"
    "[disk]\n";

const char* const kFolders[] = {"StorageCard", "SDMMC", "Dravik", "NandFlash", "Windows"};

struct Profile {
  const char* key;
  const char* folder;
};
const Profile kProfiles[] = {
    {"System\\StorageManager\\Profiles\\SDMemory", "StorageCard"},
    {"System\\StorageManager\\Profiles\\SDMemory0", "SDMMC"},
    {"System\\StorageManager\\Profiles\\SMFLASH", "Dravik"},
    {"System\\StorageManager\\Profiles\\SMFLASH1", "NandFlash"},
};

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool MakeDir(const std::string& path, std::string* error) {
  if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    errno = ENOTDIR;
  }
  if (error) *error = "cannot create " + path + ": " + std::strerror(errno);
  return false;
}

// Writes `value` unless the option was left out and a value is already there.
bool SetValue(RegKey& key, const std::string& keyPath, const std::string& name, const RegValue& value,
              bool given, const std::string& db, std::string* error) {
  RegValue old;
  if (!given && key.QueryValue(name, &old) == ERROR_SUCCESS) return true;
  uint32_t rc = key.SetValue(name, value);
  if (rc == ERROR_SUCCESS) return true;
  if (error) *error = "cannot write " + keyPath + "\\" + name + " in " + db + " (error " + std::to_string(rc) + ")";
  return false;
}

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
  std::string ini = dir + "/unit.ini";
  std::string db = dir + "/registry.db";
  if (!options.force && (Exists(ini) || Exists(db))) {
    if (error) *error = "unit exists: " + dir + " (use --force to complete it)";
    return false;
  }
  if (!MakeDir(dir, error) || !MakeDir(dir + "/fs", error) || !MakeDir(dir + "/run", error) ||
      !MakeDir(dir + "/flash", error)) {
    return false;
  }
  // Through the device view, so an existing "dravik" counts as "Dravik".
  HostFiles files(dir + "/fs");
  for (const char* folder : kFolders) {
    if (!files.CreateDirectory(std::string("\\") + folder) && GetLastError() != ERROR_ALREADY_EXISTS) {
      if (error) *error = "cannot create " + dir + "/fs/" + folder + " (error " + std::to_string(GetLastError()) + ")";
      return false;
    }
  }

  IniFile unitIni;
  if (Exists(ini)) {
    if (!unitIni.Load(ini, error)) return false;
  } else {
    unitIni.Parse(kUnitIni);
  }
  if (options.codePage) {
    unitIni.Set("unit", "code_page", std::to_string(*options.codePage));
  } else if (!unitIni.Has("unit", "code_page")) {
    unitIni.Set("unit", "code_page", "936");
  }
  if (!unitIni.Has("unit", "time_scale")) unitIni.Set("unit", "time_scale", "1");
  if (!unitIni.Has("unit", "os_major")) unitIni.Set("unit", "os_major", "6");
  if (!unitIni.Has("devices", "CON1")) unitIni.Set("devices", "CON1", "yes");
  if (!unitIni.Has("devices", "MFC1")) unitIni.Set("devices", "MFC1", "no");
  if (options.bootVersion) unitIni.Set("versions", "boot", *options.bootVersion);
  if (options.osVersion) unitIni.Set("versions", "os", *options.osVersion);
  if (options.confVersion) unitIni.Set("versions", "conf", *options.confVersion);
  if (!unitIni.Save(ini, error)) return false;
  if (!InstallSimulatedPlatform(dir, options.halbridge, options.halbridgeWithout, options.console, error)) return false;
  if (options.appVersion && !WriteAppVersion(files, *options.appVersion, error)) return false;

  auto registry = HostRegistry::Open(db, true, error);
  if (!registry) return false;
  const std::string osKey = "SoftWare\\Dravik\\Os";
  auto os = registry->CreateKey(osKey);
  if (!os) {
    if (error) *error = "cannot create key " + osKey + " in " + db;
    return false;
  }
  if (!SetValue(*os, osKey, "CPU_TYPE", RegValue::String(options.cpu.value_or("S3C6410")), options.cpu.has_value(),
                db, error) ||
      !SetValue(*os, osKey, "PROJECTTYPE", RegValue::Dword(options.project.value_or(18)),
                options.project.has_value(), db, error)) {
    return false;
  }
  for (const Profile& p : kProfiles) {
    auto key = registry->CreateKey(p.key);
    if (!key) {
      if (error) *error = std::string("cannot create key ") + p.key + " in " + db;
      return false;
    }
    if (!SetValue(*key, p.key, "Folder", RegValue::String(p.folder), false, db, error)) return false;
  }
  return true;
}

}  // namespace hu
