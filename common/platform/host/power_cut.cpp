#include "common/platform/host/power_cut.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "common/platform/host/serial/unit_reboot.h"

namespace hu {
namespace {

bool ParseCount(const char* text, uint64_t* out) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text, &end, 10);
  if (*end != '\0') return false;
  *out = v;
  return true;
}

std::string ProgramName() {
  std::ifstream in("/proc/self/comm");
  std::string name;
  std::getline(in, name);
  return name.empty() ? "?" : name;
}

}  // namespace

std::unique_ptr<PowerCut> PowerCut::FromEnvironment(const std::string& unitDir) {
  uint64_t after = 0, seed = 0;
  if (!ParseCount(std::getenv("HU_POWER_CUT_AFTER"), &after)) return nullptr;
  ParseCount(std::getenv("HU_POWER_CUT_SEED"), &seed);
  return std::make_unique<PowerCut>(unitDir, after, seed);
}

PowerCut::PowerCut(const std::string& unitDir, uint64_t cutAfter, uint64_t seed)
    : m_unitDir(unitDir), m_cutAfter(cutAfter), m_random(seed * 1000003u + cutAfter) {}

std::string PowerCut::CountPath(const std::string& unitDir) { return unitDir + "/power-cut.count"; }
std::string PowerCut::LogPath(const std::string& unitDir) { return unitDir + "/power-cut.log"; }

bool PowerCut::Step(const char* operation, const std::string& path) {
  int fd = ::open(CountPath(m_unitDir).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  // Several programs of the unit may count at once.
  ::flock(fd, LOCK_EX);
  char buf[32] = {};
  ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
  uint64_t count = 0;
  if (n > 0) {
    buf[n] = '\0';
    count = std::strtoull(buf, nullptr, 10);
  }
  ++count;
  std::string text = std::to_string(count) + "\n";
  if (::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size())) {
    if (::ftruncate(fd, static_cast<off_t>(text.size())) != 0) count = 0;
  }
  ::close(fd);
  if (m_cutAfter == 0 || count != m_cutAfter) return false;
  m_hit = "cut at " + std::to_string(count) + ": " + operation + " " + path + " (" + ProgramName() + ")\n";
  return true;
}

size_t PowerCut::PartialLength(size_t size) {
  if (size == 0) return 0;
  return static_cast<size_t>(m_random() % size);
}

void PowerCut::Cut() {
  int fd = ::open(LogPath(m_unitDir).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd >= 0) {
    ssize_t ignored = ::write(fd, m_hit.data(), m_hit.size());
    (void)ignored;
    ::close(fd);
  }
  RecordUnitReboot(m_unitDir, "PowerCut");
  ::kill(::getpid(), SIGKILL);
  for (;;) ::pause();
}

}  // namespace hu
