#include "common/runner/unit_setup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "common/platform/errors.h"
#include "common/platform/host/host_files.h"
#include "common/platform/host/host_registry.h"
#include "common/platform/host/unit.h"
#include "common/settings/settings_store.h"

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

// The CPU types of the platforms the unit can be; the settings store tells
// which project types go with each.
const char* const kCpuTypes[] = {"S3C6410", "S5PC100", "S5P6450", "MSTAR2521", "MSTAR2531", "MSTAR786"};
constexpr uint32_t kLastProject = 64;

// Code 0 is also what an unknown pair gives; only S3C6410 with 18 means it.
bool KnownPair(const std::string& cpu, uint32_t project) {
  return PlatformTypeFor(cpu, project) != 0 || (cpu == "S3C6410" && project == 18);
}

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

}  // namespace

std::string CheckPlatformChoice(const std::string& cpu, uint32_t project) {
  std::set<uint32_t> projects;
  bool cpuKnown = false;
  for (const char* known : kCpuTypes) {
    for (uint32_t p = 0; p <= kLastProject; ++p) {
      if (!KnownPair(known, p)) continue;
      projects.insert(p);
      if (cpu == known) cpuKnown = true;
    }
  }
  std::string cpus, numbers;
  for (const char* known : kCpuTypes) cpus += std::string(cpus.empty() ? "" : ", ") + known;
  for (uint32_t p : projects) numbers += (numbers.empty() ? "" : ", ") + std::to_string(p);
  if (!cpuKnown) return "unknown CPU type \"" + cpu + "\" (known: " + cpus + "; the names are case-sensitive)";
  if (projects.count(project) == 0) {
    return "unknown project type " + std::to_string(project) + " (known: " + numbers + ")";
  }
  if (!KnownPair(cpu, project)) {
    return "no platform is CPU " + cpu + " with project type " + std::to_string(project) + "; see --help";
  }
  return {};
}

std::string PlatformChoicesText() {
  std::string text;
  for (const char* cpu : kCpuTypes) {
    for (uint32_t p = 0; p <= kLastProject; ++p) {
      if (!KnownPair(cpu, p)) continue;
      text += "  " + std::string(cpu) + std::string(10 - std::strlen(cpu), ' ') + std::to_string(p) +
              "  -> PlatformType " + std::to_string(PlatformTypeFor(cpu, p)) + "\n";
    }
  }
  return text;
}

bool CreateUnit(const std::string& dir, const UnitSetup& setup, std::string* error) {
  const std::string checkCpu = setup.cpu.value_or("S3C6410");
  const uint32_t checkProject = setup.project.value_or(setup.cpu ? 19 : 18);
  std::string refused;
  if (setup.cpu && setup.project) {
    refused = CheckPlatformChoice(*setup.cpu, *setup.project);
  } else if (setup.cpu || setup.project) {
    // One of the two alone: judge it by itself.
    refused = CheckPlatformChoice(checkCpu, checkProject);
    if (refused.rfind("no platform", 0) == 0) refused.clear();
  }
  if (!refused.empty()) {
    if (error) *error = refused;
    return false;
  }
  std::string ini = dir + "/unit.ini";
  std::string db = dir + "/registry.db";
  if (!setup.force && (Exists(ini) || Exists(db))) {
    if (error) *error = "unit exists: " + dir + " (use --force to complete it)";
    return false;
  }
  // The folders above the unit are the reader's choice: made as needed.
  std::error_code ignored;
  std::filesystem::create_directories(dir, ignored);
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
  if (setup.codePage) {
    unitIni.Set("unit", "code_page", std::to_string(*setup.codePage));
  } else if (!unitIni.Has("unit", "code_page")) {
    unitIni.Set("unit", "code_page", "936");
  }
  if (!unitIni.Has("unit", "time_scale")) unitIni.Set("unit", "time_scale", "1");
  if (!unitIni.Has("unit", "os_major")) unitIni.Set("unit", "os_major", "6");
  if (!unitIni.Has("devices", "CON1")) unitIni.Set("devices", "CON1", "yes");
  if (!unitIni.Has("devices", "MFC1")) unitIni.Set("devices", "MFC1", "no");
  if (setup.bootVersion) unitIni.Set("versions", "boot", *setup.bootVersion);
  if (setup.osVersion) unitIni.Set("versions", "os", *setup.osVersion);
  if (setup.confVersion) unitIni.Set("versions", "conf", *setup.confVersion);
  for (const auto& port : setup.ports) unitIni.Set("ports", port.first, port.second);
  if (!unitIni.Save(ini, error)) return false;

  auto registry = HostRegistry::Open(db, true, error);
  if (!registry) return false;
  const std::string osKey = "SoftWare\\Dravik\\Os";
  auto os = registry->CreateKey(osKey);
  if (!os) {
    if (error) *error = "cannot create key " + osKey + " in " + db;
    return false;
  }
  if (!SetValue(*os, osKey, "CPU_TYPE", RegValue::String(setup.cpu.value_or("S3C6410")), setup.cpu.has_value(), db,
                error) ||
      !SetValue(*os, osKey, "PROJECTTYPE", RegValue::Dword(setup.project.value_or(18)), setup.project.has_value(),
                db, error)) {
    return false;
  }
  if (setup.hwVersion && !SetValue(*os, osKey, "HW_VERSION", RegValue::String(*setup.hwVersion), true, db, error)) {
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
