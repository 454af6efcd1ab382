#include "common/platform/host/host_windows.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "common/platform/errors.h"
#include "common/platform/host/run_records.h"
#include "common/platform/sync.h"
#include "common/platform/text.h"
#include "common/platform/trace.h"

namespace hu {
namespace {

// The device's ERROR_INVALID_WINDOW_HANDLE.
constexpr uint32_t kErrorInvalidWindowHandle = 1400;

constexpr HWND kFirstHwnd = 0x10010;
constexpr HWND kHwndStep = 0x10;
constexpr uint32_t kFirstMessage = 0xC000;
constexpr uint32_t kLastMessage = 0xFFFF;
// The message table holds at most 0x4000 short lines.
constexpr size_t kMaxMessageTable = 8 * 1024 * 1024;

// How often a waiting sender looks whether the window is still there.
constexpr auto kReplySlice = std::chrono::milliseconds(20);
// How long a sender retries while the receiver's queue is full.
constexpr auto kQueueFullWait = std::chrono::milliseconds(1000);

constexpr uint32_t kMagic = 0x4D575548;  // "HUWM"
enum : uint32_t { kPost = 1, kSend = 2, kReply = 3 };

// One message on the wire; both ends are processes of one host.
struct Datagram {
  uint32_t magic = kMagic;
  uint32_t kind = 0;
  uint64_t hwnd = 0;
  uint64_t callId = 0;
  uint64_t wParam = 0;
  int64_t lParam = 0;  // the result in a reply
  uint32_t message = 0;
  uint32_t timeoutMs = 0;
  uint32_t status = 0;  // reply: 0, or the error of the call
  uint32_t reserved = 0;
};
static_assert(sizeof(Datagram) == 56, "wire layout");

struct Address {
  sockaddr_un addr{};
  socklen_t len = 0;
};

std::string Hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(v));
  return buf;
}

bool ParseHex(const std::string& text, uint64_t* out) {
  if (text.empty() || text.size() > 16) return false;
  uint64_t v = 0;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      return false;
    }
    v = v * 16 + static_cast<uint64_t>(d);
  }
  *out = v;
  return true;
}

uint64_t Fnv1a(const std::string& s) {
  uint64_t h = 1469598103934665603ull;
  for (char c : s) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return h;
}

bool MakeAddress(const std::string& socket, Address* out) {
  Address a;
  a.addr.sun_family = AF_UNIX;
  const size_t room = sizeof a.addr.sun_path;
  if (!socket.empty() && socket[0] == '@') {
    std::string name = socket.substr(1);
    if (name.empty() || name.size() + 1 > room) return false;
    a.addr.sun_path[0] = 0;
    std::memcpy(a.addr.sun_path + 1, name.data(), name.size());
    a.len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  } else {
    if (socket.empty() || socket.size() + 1 > room) return false;
    std::memcpy(a.addr.sun_path, socket.c_str(), socket.size() + 1);
    a.len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socket.size() + 1);
  }
  *out = a;
  return true;
}

std::string AbsoluteDir(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[4096];
  if (::getcwd(cwd, sizeof cwd) == nullptr) return path;
  return std::string(cwd) + "/" + path;
}

// Sends one datagram, waiting a little while the receiver's queue is full.
// 0, or the error for the caller.
uint32_t SendDatagram(int fd, const Datagram& d, const Address& to) {
  auto deadline = std::chrono::steady_clock::now() + kQueueFullWait;
  for (;;) {
    ssize_t n = ::sendto(fd, &d, sizeof d, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to.addr),
                         to.len);
    if (n == static_cast<ssize_t>(sizeof d)) return ERROR_SUCCESS;
    int e = errno;
    if (n < 0 && e == EINTR) continue;
    if (n < 0 && (e == EAGAIN || e == ENOBUFS) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    if (n < 0 && (e == ECONNREFUSED || e == ENOENT || e == ENOTDIR)) return kErrorInvalidWindowHandle;
    return e == EAGAIN || e == ENOBUFS ? ERROR_NOT_ENOUGH_MEMORY : ERROR_ACCESS_DENIED;
  }
}

}  // namespace

struct HostWindows::Entry {
  HWND hwnd = 0;
  std::string className;
  std::string title;
  uint32_t ownerPid = 0;
  int hostPid = 0;
  uint64_t hostStart = 0;
  std::string socket;  // a path, or "@name" for an abstract socket
};

// A window of this process. The reader thread keeps it alive while it runs
// and closes its descriptors when it ends.
struct HostWindows::Local {
  Entry entry;
  // Recursive: a sink may destroy or post to its window from Deliver.
  std::recursive_mutex mutex;
  MessageSink* sink = nullptr;
  bool closed = false;
  int fd = -1;
  int wakeFd = -1;
  std::string socketFile;  // to remove; empty for an abstract socket
  std::thread reader;
};

namespace {

void AnswerSend(const std::shared_ptr<HostWindows::Local>& w, const WindowMessage& m, uint32_t timeoutMs,
                uint64_t callId, const Address& from);

}  // namespace

void HostWindows::ReadLoop(std::shared_ptr<Local> w) {
  pollfd fds[2] = {{w->fd, POLLIN, 0}, {w->wakeFd, POLLIN, 0}};
  for (;;) {
    {
      std::lock_guard<std::recursive_mutex> lock(w->mutex);
      if (w->closed) break;
    }
    int n = ::poll(fds, 2, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || fds[1].revents != 0) break;
    if ((fds[0].revents & (POLLERR | POLLNVAL)) != 0) break;
    if ((fds[0].revents & POLLIN) == 0) continue;
    // One byte more than a message, so that a longer datagram shows.
    unsigned char buf[sizeof(Datagram) + 1];
    Address from;
    from.len = sizeof from.addr;
    ssize_t got = ::recvfrom(w->fd, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from.addr), &from.len);
    if (got < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      break;
    }
    if (got != static_cast<ssize_t>(sizeof(Datagram))) continue;
    Datagram d;
    std::memcpy(&d, buf, sizeof d);
    if (d.magic != kMagic || d.hwnd != w->entry.hwnd) continue;
    WindowMessage m{d.hwnd, d.message, d.wParam, d.lParam};
    if (d.kind == kPost) {
      std::lock_guard<std::recursive_mutex> lock(w->mutex);
      if (!w->closed && w->sink != nullptr) w->sink->Deliver(m);
    } else if (d.kind == kSend && from.len > sizeof(sa_family_t)) {
      // The owner's UI thread may take its time; the reader goes on meanwhile.
      try {
        std::thread(AnswerSend, w, m, d.timeoutMs, d.callId, from).detach();
      } catch (const std::exception& e) {
        Trace("HostWindows: no thread for a sent message 0x%x: %s\n", d.message, e.what());
      }
    }
  }
  // Under the lock: DestroyWindow writes to wakeFd only while it is open.
  std::lock_guard<std::recursive_mutex> lock(w->mutex);
  ::close(w->fd);
  ::close(w->wakeFd);
  w->fd = -1;
  w->wakeFd = -1;
}

namespace {

void AnswerSend(const std::shared_ptr<HostWindows::Local>& w, const WindowMessage& m, uint32_t timeoutMs,
                uint64_t callId, const Address& from) {
  MessageSink* sink = nullptr;
  {
    std::lock_guard<std::recursive_mutex> lock(w->mutex);
    if (!w->closed) sink = w->sink;
  }
  Datagram reply;
  reply.kind = kReply;
  reply.hwnd = m.hwnd;
  reply.callId = callId;
  reply.message = m.message;
  if (sink == nullptr) {
    reply.status = kErrorInvalidWindowHandle;
  } else {
    LRESULT result = 0;
    if (sink->DeliverSync(m, timeoutMs, &result)) {
      reply.lParam = result;
    } else {
      reply.status = ERROR_TIMEOUT;
    }
  }
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  // A sender that gave up has closed its socket: nothing to do then.
  SendDatagram(fd, reply, from);
  ::close(fd);
}

}  // namespace

HostWindows::HostWindows(const std::string& runDir, HostClock& clock, uint32_t ownerPid)
    : runDir_(AbsoluteDir(runDir)), windowsDir_(runDir_ + "/windows"), clock_(clock), ownerPid_(ownerPid) {
  sendFd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

HostWindows::~HostWindows() {
  std::vector<HWND> own;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [hwnd, local] : locals_) own.push_back(hwnd);
  }
  for (HWND hwnd : own) DestroyWindow(hwnd);
  if (sendFd_ >= 0) ::close(sendFd_);
}

std::string HostWindows::EntryPath(HWND hwnd) const { return windowsDir_ + "/" + Hex(hwnd) + ".win"; }

bool HostWindows::WriteEntry(const Entry& e) {
  RunRecord r;
  r["hwnd"] = Hex(e.hwnd);
  r["class"] = e.className;
  r["title"] = e.title;
  r["owner"] = std::to_string(e.ownerPid);
  r["host"] = std::to_string(e.hostPid);
  r["host_start"] = std::to_string(e.hostStart);
  r["socket"] = e.socket;
  return WriteRunRecord(EntryPath(e.hwnd), r);
}

bool HostWindows::ReadEntry(HWND hwnd, Entry* out) const {
  RunRecord r;
  if (!ReadRunRecord(EntryPath(hwnd), &r)) return false;
  Entry e;
  uint64_t n = 0;
  if (!ParseHex(r["hwnd"], &n) || n != hwnd) return false;
  e.hwnd = hwnd;
  e.className = r["class"];
  e.title = r["title"];
  if (ParseRunNumber(r["owner"], UINT32_MAX, &n)) e.ownerPid = static_cast<uint32_t>(n);
  if (!ParseRunNumber(r["host"], INT32_MAX, &n) || n == 0) return false;
  e.hostPid = static_cast<int>(n);
  if (ParseRunNumber(r["host_start"], UINT64_MAX, &n)) e.hostStart = n;
  e.socket = r["socket"];
  if (e.socket.empty()) return false;
  *out = std::move(e);
  return true;
}

void HostWindows::RemoveStale(const Entry& e) {
  ::unlink(EntryPath(e.hwnd).c_str());
  if (!e.socket.empty() && e.socket[0] == '/') ::unlink(e.socket.c_str());
}

bool HostWindows::LiveEntry(HWND hwnd, Entry* entry) {
  if (hwnd == 0 || !ReadEntry(hwnd, entry)) return false;
  if (HostProcessAlive(entry->hostPid, entry->hostStart)) return true;
  RemoveStale(*entry);
  return false;
}

std::shared_ptr<HostWindows::Local> HostWindows::FindLocal(HWND hwnd) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = locals_.find(hwnd);
  return it != locals_.end() ? it->second : nullptr;
}

HWND HostWindows::CreateWindow(const std::string& className, const std::string& title, MessageSink* sink) {
  uint64_t hwnd = 0;
  if (!MakeRunDirs(windowsDir_) || !NextRunCounter(windowsDir_ + "/next_hwnd", kFirstHwnd, kHwndStep,
                                                   UINT64_MAX / 2, &hwnd)) {
    Trace("HostWindows::CreateWindow %s: cannot use %s: %s\n", className.c_str(), windowsDir_.c_str(),
          std::strerror(errno));
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  auto w = std::make_shared<Local>();
  w->sink = sink;
  Entry& e = w->entry;
  e.hwnd = hwnd;
  e.className = className;
  e.title = title;
  e.ownerPid = ownerPid_;
  e.hostPid = ::getpid();
  e.hostStart = HostProcessStartTime(e.hostPid);
  std::string socketFile = windowsDir_ + "/" + Hex(hwnd) + ".sock";
  Address address;
  if (MakeAddress(socketFile, &address)) {
    e.socket = socketFile;
    w->socketFile = socketFile;
    // A socket file of an earlier boot would make bind fail.
    ::unlink(socketFile.c_str());
  } else {
    e.socket = "@hu-" + Hex(Fnv1a(runDir_)) + "-" + Hex(hwnd);
    MakeAddress(e.socket, &address);
  }
  w->fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  w->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  bool ok = w->fd >= 0 && w->wakeFd >= 0 &&
            ::bind(w->fd, reinterpret_cast<const sockaddr*>(&address.addr), address.len) == 0;
  if (ok) {
    try {
      w->reader = std::thread(ReadLoop, w);
    } catch (const std::exception& ex) {
      Trace("HostWindows::CreateWindow %s: no reader thread: %s\n", className.c_str(), ex.what());
      ok = false;
    }
  } else {
    Trace("HostWindows::CreateWindow %s: cannot bind %s: %s\n", className.c_str(), e.socket.c_str(),
          std::strerror(errno));
  }
  if (!ok) {
    if (w->fd >= 0) ::close(w->fd);
    if (w->wakeFd >= 0) ::close(w->wakeFd);
    if (!w->socketFile.empty()) ::unlink(w->socketFile.c_str());
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    locals_[hwnd] = w;
  }
  if (!WriteEntry(e)) {
    Trace("HostWindows::CreateWindow %s: cannot write %s\n", className.c_str(), EntryPath(hwnd).c_str());
    DestroyWindow(hwnd);
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  return hwnd;
}

void HostWindows::DestroyWindow(HWND hwnd) {
  std::shared_ptr<Local> w;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = locals_.find(hwnd);
    if (it == locals_.end()) {
      SetLastError(kErrorInvalidWindowHandle);
      return;
    }
    w = it->second;
    locals_.erase(it);
  }
  // Gone for finders first, then for senders.
  ::unlink(EntryPath(hwnd).c_str());
  if (!w->socketFile.empty()) ::unlink(w->socketFile.c_str());
  {
    std::lock_guard<std::recursive_mutex> lock(w->mutex);
    w->closed = true;
    w->sink = nullptr;
    uint64_t one = 1;
    if (w->wakeFd >= 0) {
      ssize_t ignored = ::write(w->wakeFd, &one, sizeof one);
      (void)ignored;
    }
  }
  if (w->reader.joinable()) {
    if (w->reader.get_id() == std::this_thread::get_id()) {
      w->reader.detach();  // destroyed from its own Deliver: the loop ends after it
    } else {
      w->reader.join();
    }
  }
  RunRecord fg;
  uint64_t current = 0;
  if (ReadRunRecord(windowsDir_ + "/foreground", &fg) && ParseHex(fg["hwnd"], &current) && current == hwnd) {
    ::unlink((windowsDir_ + "/foreground").c_str());
  }
}

HWND HostWindows::FindWindow(const std::string& className, const std::string& title) {
  DIR* d = ::opendir(windowsDir_.c_str());
  if (d == nullptr) return 0;
  std::vector<HWND> candidates;
  while (struct dirent* ent = ::readdir(d)) {
    std::string name = ent->d_name;
    if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".win") != 0) continue;
    uint64_t hwnd = 0;
    if (ParseHex(name.substr(0, name.size() - 4), &hwnd) && hwnd != 0) candidates.push_back(hwnd);
  }
  ::closedir(d);
  HWND best = 0;
  for (HWND hwnd : candidates) {
    Entry e;
    if (hwnd <= best || !ReadEntry(hwnd, &e)) continue;
    if (!className.empty() && !EqualsNoCase(className, e.className)) continue;
    if (!title.empty() && !EqualsNoCase(title, e.title)) continue;
    if (!HostProcessAlive(e.hostPid, e.hostStart)) {
      RemoveStale(e);
      continue;
    }
    best = hwnd;
  }
  return best;
}

bool HostWindows::PostMessage(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (std::shared_ptr<Local> w = FindLocal(hwnd)) {
    std::lock_guard<std::recursive_mutex> lock(w->mutex);
    if (w->closed || w->sink == nullptr) {
      SetLastError(kErrorInvalidWindowHandle);
      return false;
    }
    w->sink->Deliver(WindowMessage{hwnd, message, wParam, lParam});
    return true;
  }
  Entry e;
  Address to;
  if (!LiveEntry(hwnd, &e) || !MakeAddress(e.socket, &to) || sendFd_ < 0) {
    SetLastError(kErrorInvalidWindowHandle);
    return false;
  }
  Datagram d;
  d.kind = kPost;
  d.hwnd = hwnd;
  d.message = message;
  d.wParam = wParam;
  d.lParam = lParam;
  uint32_t error = SendDatagram(sendFd_, d, to);
  if (error != ERROR_SUCCESS) {
    Trace("HostWindows::PostMessage 0x%x to %llx failed (error %u)\n", message, static_cast<unsigned long long>(hwnd),
          error);
    SetLastError(error);
    return false;
  }
  return true;
}

bool HostWindows::SendMessage(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam, uint32_t timeoutMs,
                              LRESULT* result) {
  if (std::shared_ptr<Local> w = FindLocal(hwnd)) {
    MessageSink* sink = nullptr;
    {
      std::lock_guard<std::recursive_mutex> lock(w->mutex);
      if (!w->closed) sink = w->sink;
    }
    if (sink == nullptr) {
      SetLastError(kErrorInvalidWindowHandle);
      return false;
    }
    if (!sink->DeliverSync(WindowMessage{hwnd, message, wParam, lParam}, timeoutMs, result)) {
      SetLastError(ERROR_TIMEOUT);
      return false;
    }
    return true;
  }
  Entry e;
  if (!LiveEntry(hwnd, &e)) {
    SetLastError(kErrorInvalidWindowHandle);
    return false;
  }
  return SendRemote(e, message, wParam, lParam, timeoutMs, result);
}

bool HostWindows::SendRemote(const Entry& e, uint32_t message, WPARAM wParam, LPARAM lParam, uint32_t timeoutMs,
                             LRESULT* result) {
  Address to;
  if (!MakeAddress(e.socket, &to)) {
    SetLastError(kErrorInvalidWindowHandle);
    return false;
  }
  // A socket of its own with a kernel-chosen abstract name, for the reply.
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un self{};
  self.sun_family = AF_UNIX;
  if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&self), sizeof(sa_family_t)) != 0) {
    Trace("HostWindows::SendMessage 0x%x: no reply socket: %s\n", message, std::strerror(errno));
    if (fd >= 0) ::close(fd);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  static std::atomic<uint64_t> calls{0};
  Datagram d;
  d.kind = kSend;
  d.hwnd = e.hwnd;
  d.callId = (static_cast<uint64_t>(::getpid()) << 32) | (calls.fetch_add(1) & 0xFFFFFFFFu);
  d.message = message;
  d.wParam = wParam;
  d.lParam = lParam;
  d.timeoutMs = timeoutMs;
  uint32_t error = SendDatagram(fd, d, to);
  const bool forever = timeoutMs == INFINITE;
  const auto deadline = std::chrono::steady_clock::now() + clock_.RealDuration(forever ? 0 : timeoutMs);
  while (error == ERROR_SUCCESS) {
    auto slice = kReplySlice;
    if (!forever) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        error = ERROR_TIMEOUT;
        break;
      }
      if (left < slice) slice = left;
    }
    pollfd p{fd, POLLIN, 0};
    int n = ::poll(&p, 1, static_cast<int>(std::max<int64_t>(1, slice.count())));
    if (n < 0 && errno != EINTR) {
      error = ERROR_ACCESS_DENIED;
      break;
    }
    if (n > 0 && (p.revents & POLLIN) != 0) {
      unsigned char buf[sizeof(Datagram) + 1];
      ssize_t got = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
      if (got != static_cast<ssize_t>(sizeof(Datagram))) continue;
      Datagram r;
      std::memcpy(&r, buf, sizeof r);
      if (r.magic != kMagic || r.kind != kReply || r.callId != d.callId) continue;
      ::close(fd);
      if (r.status != ERROR_SUCCESS) {
        SetLastError(r.status);
        return false;
      }
      if (result != nullptr) *result = r.lParam;
      return true;
    }
    Entry now;
    if (!ReadEntry(e.hwnd, &now) || !HostProcessAlive(now.hostPid, now.hostStart)) error = kErrorInvalidWindowHandle;
  }
  ::close(fd);
  Trace("HostWindows::SendMessage 0x%x to %llx failed (error %u)\n", message, static_cast<unsigned long long>(e.hwnd),
        error);
  SetLastError(error);
  return false;
}

uint32_t HostWindows::RegisterWindowMessage(const std::string& name) {
  if (name.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::string key = EscapeRunValue(AsciiLower(name));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = messages_.find(key);
    if (it != messages_.end()) return it->second;
  }
  const std::string path = runDir_ + "/messages";
  MakeRunDirs(runDir_);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0 || ::flock(fd, LOCK_EX) != 0) {
    Trace("HostWindows::RegisterWindowMessage %s: cannot use %s: %s\n", name.c_str(), path.c_str(),
          std::strerror(errno));
    if (fd >= 0) ::close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  std::string text;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
    if (text.size() > kMaxMessageTable) break;
  }
  // Lines "C000 name": the id in hexadecimal, the lower-case name escaped.
  uint32_t id = 0, highest = 0;
  size_t pos = 0;
  while (pos < text.size() && id == 0) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) break;  // a line still being written does not count
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    size_t space = line.find(' ');
    uint64_t v = 0;
    if (space == std::string::npos || !ParseHex(line.substr(0, space), &v) || v < kFirstMessage ||
        v > kLastMessage) {
      continue;
    }
    if (line.compare(space + 1, std::string::npos, key) == 0) id = static_cast<uint32_t>(v);
    if (v > highest) highest = static_cast<uint32_t>(v);
  }
  uint32_t error = ERROR_SUCCESS;
  if (id == 0) {
    uint32_t next = highest == 0 ? kFirstMessage : highest + 1;
    if (next > kLastMessage) {
      error = ERROR_NOT_ENOUGH_MEMORY;
    } else {
      char head[16];
      std::snprintf(head, sizeof head, "%04X ", next);
      std::string line = head + key + "\n";
      // Whatever a crashed writer left unfinished is closed off first.
      if (!text.empty() && text.back() != '\n') line = "\n" + line;
      if (::lseek(fd, 0, SEEK_END) >= 0 &&
          ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
        id = next;
      } else {
        error = ERROR_ACCESS_DENIED;
      }
    }
  }
  ::flock(fd, LOCK_UN);
  ::close(fd);
  if (id == 0) {
    Trace("HostWindows::RegisterWindowMessage %s failed (error %u)\n", name.c_str(), error);
    SetLastError(error);
    return 0;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  messages_[key] = id;
  return id;
}

bool HostWindows::IsWindow(HWND hwnd) {
  if (std::shared_ptr<Local> w = FindLocal(hwnd)) {
    std::lock_guard<std::recursive_mutex> lock(w->mutex);
    return !w->closed;
  }
  Entry e;
  return LiveEntry(hwnd, &e);
}

HWND HostWindows::GetForegroundWindow() {
  RunRecord r;
  uint64_t hwnd = 0;
  if (!ReadRunRecord(windowsDir_ + "/foreground", &r) || !ParseHex(r["hwnd"], &hwnd)) return 0;
  return IsWindow(hwnd) ? hwnd : 0;
}

bool HostWindows::SetForegroundWindow(HWND hwnd) {
  if (!IsWindow(hwnd)) {
    SetLastError(kErrorInvalidWindowHandle);
    return false;
  }
  RunRecord r;
  r["hwnd"] = Hex(hwnd);
  return WriteRunRecord(windowsDir_ + "/foreground", r);
}

bool HostWindows::SetWindowTitle(HWND hwnd, const std::string& title) {
  std::shared_ptr<Local> w = FindLocal(hwnd);
  if (w == nullptr) {
    SetLastError(IsWindow(hwnd) ? ERROR_ACCESS_DENIED : kErrorInvalidWindowHandle);
    return false;
  }
  std::lock_guard<std::recursive_mutex> lock(w->mutex);
  if (w->closed) return false;
  w->entry.title = title;
  return WriteEntry(w->entry);
}

}  // namespace hu
