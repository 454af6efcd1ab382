#include "common/platform/host/serial/unit_reboot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "common/platform/host/serial/call_log.h"
#include "common/platform/host/standard_output.h"

namespace hu {
namespace {

std::string CleanMarkPath(const std::string& unitDir) { return unitDir + "/run/clean_reboot"; }

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

}  // namespace

std::string UnitRebootFlagPath(const std::string& unitDir) { return unitDir + "/reboot.flag"; }

bool MarkUnitCleanReboot(const std::string& unitDir) {
  ::mkdir((unitDir + "/run").c_str(), 0755);
  int fd = ::open(CleanMarkPath(unitDir).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::string text = UnitLogTime() + "\n";
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

bool RecordUnitReboot(const std::string& unitDir, const std::string& reason) {
  bool clean = ::access(CleanMarkPath(unitDir).c_str(), F_OK) == 0;
  std::string oneLine = reason;
  for (char& c : oneLine) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  std::string text = "reason = " + oneLine + "\nclean = " + (clean ? "yes" : "no") + "\ntime = " + UnitLogTime() +
                     "\n";
  std::string path = UnitRebootFlagPath(unitDir);
  std::string tmp = path + ".tmp." + std::to_string(::getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = ::fsync(fd) == 0 && ok;
  ::close(fd);
  if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  ::unlink(CleanMarkPath(unitDir).c_str());
  return true;
}

bool ReadUnitReboot(const std::string& unitDir, UnitReboot* out) {
  std::ifstream in(UnitRebootFlagPath(unitDir));
  if (!in) return false;
  UnitReboot record;
  std::string line;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
    if (key == "reason") {
      record.reason = value;
    } else if (key == "clean") {
      record.clean = value == "yes";
    } else if (key == "time") {
      record.time = value;
    }
  }
  if (out != nullptr) *out = record;
  return true;
}

void RebootUnit(const std::string& unitDir, const std::string& reason) {
  RecordUnitReboot(unitDir, reason);
  FlushStandardOutput();
  ::_exit(0);
}

}  // namespace hu
