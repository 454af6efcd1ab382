#include "common/platform/host/host_sync.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "common/platform/errors.h"
#include "common/platform/trace.h"

namespace hu {
namespace {

// Real interval at which a named event's waiters look at its file.
constexpr double kPollRealMs = 2.0;

bool MakeDirs(const std::string& path) {
  std::string cur;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    cur = path.substr(0, pos);
    if (cur.empty()) continue;
    if (::mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// Open-file-description locks: held per handle (two handles of one process
// conflict like two processes), released when the handle's descriptor closes,
// and converted from exclusive to shared atomically.
bool OfdLock(int fd, short type, bool wait) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;
  return ::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0;
}

uint32_t ErrnoCode(int e) {
  switch (e) {
    case ENOENT: return ERROR_PATH_NOT_FOUND;
    case ENOSPC: return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_ACCESS_DENIED;
  }
}

class HostNamedMutex : public NamedMutex {
 public:
  HostNamedMutex(int fd, bool existed) : fd_(fd), existed_(existed) {}
  ~HostNamedMutex() override {
    if (fd_ >= 0) ::close(fd_);
  }
  HostNamedMutex(const HostNamedMutex&) = delete;
  HostNamedMutex& operator=(const HostNamedMutex&) = delete;
  bool AlreadyExisted() const override { return existed_; }

 private:
  int fd_;
  bool existed_;
};

class PrivateEvent : public Event {
 public:
  PrivateEvent(HostClock& clock, bool manual, bool initial) : clock_(clock), manual_(manual), state_(initial) {}
  void Set() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      state_ = true;
    }
    clock_.Notify();
  }
  void Reset() override {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = false;
  }
  uint32_t Wait(uint32_t timeoutMs) override {
    return clock_.WaitFor(timeoutMs, [this] { return TryTake(); }) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  }

 private:
  bool TryTake() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!state_) return false;
    if (!manual_) state_ = false;
    return true;
  }
  HostClock& clock_;
  const bool manual_;
  std::mutex mutex_;
  bool state_;
};

// The state file holds two bytes: '1'/'0' (signalled) and 'M'/'A' (manual or
// auto reset, as its creator chose).
class NamedEvent : public Event {
 public:
  NamedEvent(HostClock& clock, int fd) : clock_(clock), fd_(fd) {}
  ~NamedEvent() override { ::close(fd_); }
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  void Set() override {
    WriteState('1');
    clock_.Notify();  // waiters of this process need not wait for their next poll
  }
  void Reset() override { WriteState('0'); }

  uint32_t Wait(uint32_t timeoutMs) override {
    const bool forever = timeoutMs == INFINITE;
    const auto deadline = std::chrono::steady_clock::now() + clock_.RealDuration(forever ? 0 : timeoutMs);
    const double pollUnitMs = std::max(1.0, std::ceil(kPollRealMs / clock_.timeScale()));
    for (;;) {
      // Sleeps one poll interval at most; a Set of this process ends it at once.
      uint32_t step = static_cast<uint32_t>(pollUnitMs);
      if (!forever) {
        auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::nanoseconds(0)) return TryTake() ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
        double leftUnitMs = std::chrono::duration<double, std::milli>(left).count() / clock_.timeScale();
        step = static_cast<uint32_t>(std::max(1.0, std::min(pollUnitMs, std::ceil(leftUnitMs))));
      }
      if (clock_.WaitFor(step, [this] { return TryTake(); })) return WAIT_OBJECT_0;
    }
  }

 private:
  void WriteState(char state) {
    std::lock_guard<std::mutex> lock(mutex_);
    ::flock(fd_, LOCK_EX);
    if (::pwrite(fd_, &state, 1, 0) != 1) Trace("HostSync event write failed: %s\n", std::strerror(errno));
    ::flock(fd_, LOCK_UN);
  }
  bool TryTake() {
    // flock is per descriptor, so threads sharing this handle take turns here.
    std::lock_guard<std::mutex> lock(mutex_);
    ::flock(fd_, LOCK_EX);
    char buf[2] = {'0', 'A'};
    ssize_t n = ::pread(fd_, buf, sizeof buf, 0);
    bool taken = n >= 1 && buf[0] == '1';
    if (taken && !(n >= 2 && buf[1] == 'M')) {
      char zero = '0';
      if (::pwrite(fd_, &zero, 1, 0) != 1) Trace("HostSync event reset failed: %s\n", std::strerror(errno));
    }
    ::flock(fd_, LOCK_UN);
    return taken;
  }
  HostClock& clock_;
  int fd_;
  std::mutex mutex_;
};

}  // namespace

std::string KernelObjectFileName(const std::string& name) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-' ||
                 u == '_' || (u == '.' && !out.empty());
    if (plain) {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  if (out.size() > 180) {
    // Long names: a readable head and a hash of the whole (FNV-1a).
    uint64_t h = 1469598103934665603ull;
    for (char c : name) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char tail[24];
    std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(h));
    out = out.substr(0, 160) + tail;
  }
  return out;
}

HostSync::HostSync(const std::string& runDir, HostClock& clock) : runDir_(runDir), clock_(clock) {}

std::unique_ptr<NamedMutex> HostSync::CreateMutex(const std::string& name) {
  if (name.empty()) {
    SetLastError(ERROR_SUCCESS);
    return std::make_unique<HostNamedMutex>(-1, false);
  }
  std::string dir = runDir_ + "/mutex";
  if (!MakeDirs(dir)) {
    SetLastError(ErrnoCode(errno));
    return nullptr;
  }
  std::string path = dir + "/" + KernelObjectFileName(name) + ".lock";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    SetLastError(ErrnoCode(errno));
    return nullptr;
  }
  bool existed = false;
  if (OfdLock(fd, F_WRLCK, false)) {
    // First holder: keep it, shared, so that later creators see it exists.
    OfdLock(fd, F_RDLCK, false);
  } else if (errno == EAGAIN || errno == EACCES) {
    existed = true;
    // A first holder converts its exclusive lock at once; wait that out.
    if (!OfdLock(fd, F_RDLCK, true)) {
      SetLastError(ErrnoCode(errno));
      ::close(fd);
      return nullptr;
    }
  } else {
    SetLastError(ErrnoCode(errno));
    ::close(fd);
    return nullptr;
  }
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return std::make_unique<HostNamedMutex>(fd, existed);
}

std::unique_ptr<Event> HostSync::CreateEvent(bool manualReset, bool initialState, const std::string& name) {
  if (name.empty()) {
    SetLastError(ERROR_SUCCESS);
    return std::make_unique<PrivateEvent>(clock_, manualReset, initialState);
  }
  std::string dir = runDir_ + "/events";
  if (!MakeDirs(dir)) {
    SetLastError(ErrnoCode(errno));
    return nullptr;
  }
  std::string path = dir + "/" + KernelObjectFileName(name) + ".event";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    SetLastError(ErrnoCode(errno));
    return nullptr;
  }
  // Creation and every probe for holders happen under the file's flock, so
  // nobody else is ever between a trial exclusive lock and its release.
  ::flock(fd, LOCK_EX);
  bool existed = false;
  bool ok;
  if (OfdLock(fd, F_WRLCK, false)) {
    // No live handle: the object is new, whatever an earlier run left in the file.
    char init[2] = {initialState ? '1' : '0', manualReset ? 'M' : 'A'};
    ok = ::pwrite(fd, init, 2, 0) == 2 && ::ftruncate(fd, 2) == 0 && OfdLock(fd, F_RDLCK, false);
  } else {
    existed = true;
    ok = OfdLock(fd, F_RDLCK, false);
  }
  int err = errno;
  ::flock(fd, LOCK_UN);
  if (!ok) {
    ::close(fd);
    SetLastError(ErrnoCode(err));
    return nullptr;
  }
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return std::make_unique<NamedEvent>(clock_, fd);
}

bool SignalNamedEvent(const std::string& runDir, const std::string& name, std::string* error) {
  std::string path = runDir + "/events/" + KernelObjectFileName(name) + ".event";
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = "no event \"" + name + "\" in " + runDir + " (" + std::strerror(errno) + ")";
    return false;
  }
  ::flock(fd, LOCK_EX);
  bool held = !OfdLock(fd, F_WRLCK, false);
  bool ok = false;
  if (held) {
    char one = '1';
    ok = ::pwrite(fd, &one, 1, 0) == 1;
    if (!ok && error) *error = "cannot write " + path + ": " + std::strerror(errno);
  } else if (error) {
    *error = "no process of the unit has event \"" + name + "\" open (" + path + ")";
  }
  ::flock(fd, LOCK_UN);
  ::close(fd);
  return ok;
}

}  // namespace hu
