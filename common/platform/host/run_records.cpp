#include "common/platform/host/run_records.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace hu {
namespace {

// A record is a handful of short lines; anything bigger is not one of ours.
constexpr size_t kMaxRecordBytes = 16 * 1024;

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ReadSmallFile(const std::string& path, size_t max, std::string* out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string text;
  char buf[4096];
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    if (text.size() + static_cast<size_t>(n) > max) {
      ok = false;
      break;
    }
    text.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  if (ok) *out = std::move(text);
  return ok;
}

}  // namespace

std::string EscapeRunValue(const std::string& value) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '%') {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::string UnescapeRunValue(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool WriteRunRecord(const std::string& path, const RunRecord& record) {
  std::string text;
  for (const auto& [key, value] : record) text += key + " = " + EscapeRunValue(value) + "\n";
  // Unique per thread as well: two threads of one process may write one record.
  static std::atomic<unsigned> serial{0};
  std::string tmp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(serial.fetch_add(1));
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

bool ReadRunRecord(const std::string& path, RunRecord* record) {
  std::string text;
  if (!ReadSmallFile(path, kMaxRecordBytes, &text)) return false;
  RunRecord out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = Trim(line.substr(0, eq));
    if (key.empty()) continue;
    out[key] = UnescapeRunValue(Trim(line.substr(eq + 1)));
  }
  if (out.empty()) return false;
  if (record != nullptr) *record = std::move(out);
  return true;
}

bool MakeRunDirs(const std::string& path) {
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    std::string cur = path.substr(0, pos);
    if (cur.empty()) continue;
    if (::mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

bool NextRunCounter(const std::string& path, uint64_t first, uint64_t step, uint64_t last, uint64_t* out) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = false;
  if (::flock(fd, LOCK_EX) == 0) {
    char buf[32] = {};
    ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    uint64_t value = first;
    uint64_t stored = 0;
    if (n > 0) {
      std::string text(buf, static_cast<size_t>(n));
      while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
      if (ParseRunNumber(text, UINT64_MAX, &stored) && stored >= first) value = stored;
    }
    if (value <= last) {
      std::string next = std::to_string(value + step) + "\n";
      ok = ::ftruncate(fd, 0) == 0 &&
           ::pwrite(fd, next.data(), next.size(), 0) == static_cast<ssize_t>(next.size());
      if (ok) *out = value;
    }
    ::flock(fd, LOCK_UN);
  }
  ::close(fd);
  return ok;
}

uint64_t HostProcessStartTime(int hostPid) {
  if (hostPid <= 0) return 0;
  std::string text;
  if (!ReadSmallFile("/proc/" + std::to_string(hostPid) + "/stat", 4096, &text)) return 0;
  // The command name in parentheses may hold spaces and ')': fields follow the last ')'.
  size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  // After ") " come the state (field 3) and the others; the start time is field 22.
  size_t pos = close + 1;
  for (int field = 3; field <= 22; ++field) {
    while (pos < text.size() && text[pos] == ' ') ++pos;
    if (pos >= text.size()) return 0;
    if (field == 22) break;
    while (pos < text.size() && text[pos] != ' ') ++pos;
  }
  uint64_t start = 0;
  size_t end = text.find(' ', pos);
  if (!ParseRunNumber(text.substr(pos, end == std::string::npos ? std::string::npos : end - pos), UINT64_MAX,
                      &start)) {
    return 0;
  }
  return start;
}

bool HostProcessAlive(int hostPid, uint64_t startTime) {
  if (hostPid <= 0) return false;
  if (::kill(hostPid, 0) != 0 && errno != EPERM) return false;
  std::string text;
  if (!ReadSmallFile("/proc/" + std::to_string(hostPid) + "/stat", 4096, &text)) {
    // No /proc: the signal probe is all there is.
    return true;
  }
  size_t close = text.rfind(')');
  if (close != std::string::npos && close + 2 < text.size()) {
    char state = text[close + 2];
    if (state == 'X' || state == 'x') return false;
    // A leader that has ended shows as a zombie while its other threads are
    // still ending, and they still hold the process's open files (a port's
    // lock among them): it is gone only when it is the last thread.
    if (state == 'Z') {
      std::istringstream fields(text.substr(close + 2));
      std::string field;
      for (int k = 3; k <= 20 && fields >> field; ++k) {
      }
      uint64_t threads = 0;
      if (!ParseRunNumber(field, UINT64_MAX, &threads) || threads <= 1) return false;
    }
  }
  if (startTime != 0) {
    uint64_t now = HostProcessStartTime(hostPid);
    if (now != 0 && now != startTime) return false;
  }
  return true;
}

bool ParseRunNumber(const std::string& text, uint64_t max, uint64_t* out) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    uint64_t d = static_cast<uint64_t>(c - '0');
    if (v > (UINT64_MAX - d) / 10) return false;
    v = v * 10 + d;
  }
  if (v > max) return false;
  *out = v;
  return true;
}

}  // namespace hu
