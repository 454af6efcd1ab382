#include "sim/install/sim_install.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "common/platform/host/host_files.h"
#include "common/platform/host/unit.h"

namespace hu {
namespace {

const char kHalbridgeFile[] = "Halbridge.dll";
const char kConsoleFile[] = "libhu_sim_console.so";
const char kHalbridgeDevicePath[] = "\\Windows\\Halbridge.dll";

bool IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Folder(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

// A new file under the name, so that a process with the old copy loaded keeps it.
bool CopyInto(const std::string& from, const std::string& to, std::string* error) {
  std::string tmp = to + ".tmp." + std::to_string(::getpid());
  {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!in || !out) return Fail(error, "cannot copy " + from + " to " + to);
    out << in.rdbuf();
    out.flush();
    if (!out) {
      ::unlink(tmp.c_str());
      return Fail(error, "cannot write " + tmp);
    }
  }
  ::chmod(tmp.c_str(), 0755);
  if (::rename(tmp.c_str(), to.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return Fail(error, "cannot replace " + to + ": " + std::strerror(errno));
  }
  return true;
}

}  // namespace

std::string SimLibraryDir() {
  if (const char* dir = std::getenv("HU_SIM_LIB_DIR"); dir != nullptr && *dir != 0) return dir;
  return Folder(RealPath("/proc/self/exe")) + "/../lib";
}

bool InstallSimulatedPlatform(const std::string& unitDir, bool halbridge, const std::vector<std::string>& without,
                              bool console, std::string* error) {
  std::unique_ptr<Unit> unit = Unit::Load(unitDir, error);
  if (!unit) return false;
  const std::string libDir = SimLibraryDir();
  const std::string builtHalbridge = libDir + "/" + kHalbridgeFile;
  const std::string builtConsole = libDir + "/" + kConsoleFile;

  if (halbridge && !IsFile(builtHalbridge)) return Fail(error, "substitute driver library not built: " + builtHalbridge);
  if (console && !IsFile(builtConsole)) return Fail(error, "console device driver not built: " + builtConsole);

  HostFiles files(unit->fs());
  std::string target = files.HostPath(kHalbridgeDevicePath);
  if (target.empty()) return Fail(error, "no host path for " + std::string(kHalbridgeDevicePath));
  if (halbridge) {
    std::string folder = Folder(target);
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
      return Fail(error, "cannot create " + folder + ": " + std::strerror(errno));
    if (!CopyInto(builtHalbridge, target, error)) return false;
  } else if (IsFile(target) && ::unlink(target.c_str()) != 0) {
    return Fail(error, "cannot remove " + target + ": " + std::strerror(errno));
  }

  std::string list;
  for (const std::string& name : without) list += (list.empty() ? "" : ",") + name;
  IniFile ini;
  if (!ini.Load(unit->iniPath(), error)) return false;
  ini.Set("halbridge", "without", list);
  ini.Set("devices", "CON1", console ? "yes" : "no");
  // The driver also answers the kernel's control codes, with or without "CON1:".
  if (IsFile(builtConsole)) ini.Set("drivers", "console", RealPath(builtConsole));
  return ini.Save(unit->iniPath(), error);
}

}  // namespace hu
