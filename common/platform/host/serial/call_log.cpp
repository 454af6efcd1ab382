#include "common/platform/host/serial/call_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

namespace hu {

std::string UnitLogTime() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm {};
  ::localtime_r(&ts.tv_sec, &tm);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03ld", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ts.tv_nsec / 1000000);
  return text;
}

std::string UnitCallLogPath(const std::string& unitDir) { return unitDir + "/flash/calls.log"; }

bool AppendUnitCall(const std::string& unitDir, const std::string& entry, const std::string& args,
                    const std::string& result) {
  ::mkdir((unitDir + "/flash").c_str(), 0755);
  std::string line = UnitLogTime() + " " + entry;
  if (!args.empty()) line += " " + args;
  line += " -> " + result + "\n";
  int fd = ::open(UnitCallLogPath(unitDir).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  ::close(fd);
  return ok;
}

}  // namespace hu
