#include "common/platform/host/serial/host_serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include "common/platform/errors.h"
#include "common/platform/host/serial/serial_line.h"
#include "common/platform/text.h"
#include "common/platform/trace.h"

namespace hu {
namespace {

constexpr uint32_t kMaxDword = 0xFFFFFFFFu;
// How often a wait looks again at a line whose peer is gone.
constexpr int kHangupBackoffMs = 100;
// How often a wait looks again while unreported events can only be found by asking.
constexpr int kStaleInputPollMs = 10;
constexpr int kCounterPollMs = 100;

using SteadyClock = std::chrono::steady_clock;

int64_t MsUntil(SteadyClock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t - SteadyClock::now()).count();
}

int PollTimeout(int64_t ms) {
  if (ms < 0) return 0;
  return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

// Wakes a thread blocked in poll(); several signals before the wait count as one.
class WakeFd {
 public:
  WakeFd() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~WakeFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  WakeFd(const WakeFd&) = delete;
  WakeFd& operator=(const WakeFd&) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void Signal() {
    uint64_t one = 1;
    if (::write(fd_, &one, sizeof one) < 0) {
      // The counter is already non-zero: the waiter wakes anyway.
    }
  }
  void Drain() {
    uint64_t v = 0;
    if (::read(fd_, &v, sizeof v) < 0) {
      // Nothing was pending.
    }
  }

 private:
  int fd_;
};

class HostSerialPort : public SerialPort {
 public:
  HostSerialPort(const std::string& name, int fd) : name_(name), fd_(fd) {
    serial_line::LineErrors counters;
    hasCounters_ = serial_line::GetLineErrors(fd_, &counters) == 0;
    if (hasCounters_) counters_ = counters;
  }
  ~HostSerialPort() override { ::close(fd_); }
  HostSerialPort(const HostSerialPort&) = delete;
  HostSerialPort& operator=(const HostSerialPort&) = delete;

  bool ok() const { return eventWake_.ok() && readWake_.ok() && writeWake_.ok(); }

  bool GetCommState(Dcb* dcb) override {
    if (dcb == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    {
      // The block last set, as the device's driver keeps it: a pseudo-terminal
      // forces 8 data bits and no parity whatever it is told.
      std::lock_guard<std::mutex> lock(mutex_);
      if (dcbSet_) {
        *dcb = dcb_;
        return true;
      }
    }
    serial_line::LineSettings line;
    int err = serial_line::GetLine(fd_, &line);
    if (err != 0) {
      Trace("HostSerial::GetCommState %s failed: %s\n", name_.c_str(), std::strerror(err));
      return Fail(ERROR_INVALID_FUNCTION);
    }
    dcb->baudRate = line.baudRate;
    dcb->byteSize = line.byteSize;
    dcb->parity = line.parity;
    dcb->stopBits = line.stopBits;
    dcb->dtrControl = true;
    dcb->rtsControl = true;
    return true;
  }

  bool SetCommState(const Dcb& dcb) override {
    serial_line::LineSettings line;
    line.baudRate = dcb.baudRate;
    line.byteSize = dcb.byteSize;
    line.parity = dcb.parity;
    line.stopBits = dcb.stopBits;
    int err = serial_line::SetLine(fd_, line);
    if (err != 0) {
      Trace("HostSerial::SetCommState %s baud %u size %u parity %u stop %u failed: %s\n", name_.c_str(),
            static_cast<unsigned>(dcb.baudRate), static_cast<unsigned>(dcb.byteSize),
            static_cast<unsigned>(dcb.parity), static_cast<unsigned>(dcb.stopBits), std::strerror(err));
      return Fail(ERROR_INVALID_PARAMETER);
    }
    // Pseudo-terminals have no modem lines; a cable may not wire them either.
    serial_line::SetModemLines(fd_, true, dcb.dtrControl);
    serial_line::SetModemLines(fd_, false, dcb.rtsControl);
    std::lock_guard<std::mutex> lock(mutex_);
    dcb_ = dcb;
    dcbSet_ = true;
    return true;
  }

  bool GetCommTimeouts(CommTimeouts* t) override {
    if (t == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(mutex_);
    *t = timeouts_;
    return true;
  }

  bool SetCommTimeouts(const CommTimeouts& t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    timeouts_ = t;
    return true;
  }

  bool SetupComm(uint32_t inQueue, uint32_t outQueue) override {
    // The host driver's buffers are its own; the sizes are kept for the record.
    std::lock_guard<std::mutex> lock(mutex_);
    inQueueSize_ = inQueue;
    outQueueSize_ = outQueue;
    return true;
  }

  bool PurgeComm(uint32_t flags) override {
    if (flags & PURGE_RXABORT) {
      readAbort_.fetch_add(1);
      readWake_.Signal();
    }
    if (flags & PURGE_TXABORT) {
      writeAbort_.fetch_add(1);
      writeWake_.Signal();
    }
    bool in = (flags & PURGE_RXCLEAR) != 0, out = (flags & PURGE_TXCLEAR) != 0;
    int err = serial_line::Flush(fd_, in, out);
    std::lock_guard<std::mutex> lock(mutex_);
    if (in) reportedInput_ = 0;
    if (out) txPending_ = false;
    if (err != 0) {
      Trace("HostSerial::PurgeComm %s flags 0x%x failed: %s\n", name_.c_str(), static_cast<unsigned>(flags),
            std::strerror(err));
      return Fail(ERROR_INVALID_FUNCTION);
    }
    return true;
  }

  bool SetCommMask(uint32_t mask) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      mask_ = mask;
    }
    // Any change of the mask ends a pending wait, as on the device.
    maskGeneration_.fetch_add(1);
    eventWake_.Signal();
    return true;
  }

  bool WaitCommEvent(uint32_t* events) override {
    if (events != nullptr) *events = 0;
    uint64_t generation = maskGeneration_.load();
    uint32_t mask;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      mask = mask_;
    }
    if (mask == 0) return Fail(ERROR_INVALID_PARAMETER);
    bool backOff = false;
    for (;;) {
      bool staleInput = false, periodic = false;
      uint32_t found = PendingEvents(mask, &staleInput, &periodic);
      if (found != 0) {
        if (events != nullptr) *events = found;
        return true;
      }
      struct pollfd fds[2] = {{eventWake_.fd(), POLLIN, 0}, {fd_, POLLIN, 0}};
      // Bytes already reported keep the line readable: they cannot wake us,
      // so new arrivals are found by asking for the count again.
      bool watchLine = !staleInput && !backOff;
      int timeout = -1;
      if (backOff) {
        timeout = kHangupBackoffMs;
      } else if (staleInput) {
        timeout = kStaleInputPollMs;
      } else if (periodic) {
        timeout = kCounterPollMs;
      }
      backOff = false;
      int n = ::poll(fds, watchLine ? 2 : 1, timeout);
      if (n < 0 && errno != EINTR) {
        Trace("HostSerial::WaitCommEvent %s poll failed: %s\n", name_.c_str(), std::strerror(errno));
        return Fail(ERROR_INVALID_HANDLE);
      }
      if (n > 0 && (fds[0].revents & POLLIN)) {
        eventWake_.Drain();
        if (maskGeneration_.load() != generation) return true;  // events stay 0
      }
      if (watchLine && n > 0 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))) {
        uint32_t queued = 0;
        serial_line::QueuedInput(fd_, &queued);
        if (queued == 0) {
          NoteHangup();
          backOff = true;
        }
      } else if (watchLine && n > 0 && (fds[1].revents & POLLIN)) {
        uint32_t queued = 0;
        serial_line::QueuedInput(fd_, &queued);
        // Readable yet empty: do not turn that into a busy loop.
        if (queued == 0) backOff = true;
      }
    }
  }

  bool ClearCommError(uint32_t* errors, CommStatus* status) override {
    uint32_t in = 0, out = 0;
    serial_line::QueuedInput(fd_, &in);
    serial_line::QueuedOutput(fd_, &out);
    std::lock_guard<std::mutex> lock(mutex_);
    CollectLineErrors();
    if (errors != nullptr) *errors = lineErrors_;
    lineErrors_ = 0;
    if (status != nullptr) {
      status->inQueue = in;
      status->outQueue = out;
    }
    return true;
  }

  bool EscapeCommFunction(uint32_t function) override {
    enum : uint32_t { SETXOFF = 1, SETXON = 2, SETBREAK = 8, CLRBREAK = 9 };
    switch (function) {
      case SETRTS:
      case CLRRTS:
        serial_line::SetModemLines(fd_, false, function == SETRTS);
        return true;
      case SETDTR:
      case CLRDTR:
        serial_line::SetModemLines(fd_, true, function == SETDTR);
        return true;
      case SETXOFF:
      case SETXON:
        serial_line::FlowOutput(fd_, function == SETXOFF);
        return true;
      case SETBREAK:
      case CLRBREAK:
        serial_line::SetBreak(fd_, function == SETBREAK);
        return true;
      default:
        return Fail(ERROR_INVALID_PARAMETER);
    }
  }

  bool Read(void* buffer, uint32_t size, uint32_t* done) override {
    if (done != nullptr) *done = 0;
    if (size == 0) return true;
    if (buffer == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    uint64_t abortGeneration = readAbort_.load();
    CommTimeouts t;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      t = timeouts_;
    }
    const SteadyClock::time_point start = SteadyClock::now();
    // MAXDWORD interval and no totals: whatever is there, at once.
    const bool immediate = t.readIntervalTimeout == kMaxDword && t.readTotalTimeoutMultiplier == 0 &&
                           t.readTotalTimeoutConstant == 0;
    // MAXDWORD interval and multiplier: return as soon as any byte is there,
    // waiting up to the constant for the first.
    const bool firstByte = t.readIntervalTimeout == kMaxDword && t.readTotalTimeoutMultiplier == kMaxDword &&
                           t.readTotalTimeoutConstant != 0 && t.readTotalTimeoutConstant != kMaxDword;
    bool hasDeadline = false;
    SteadyClock::time_point deadline;
    if (firstByte) {
      hasDeadline = true;
      deadline = start + std::chrono::milliseconds(t.readTotalTimeoutConstant);
    } else if (!immediate && (t.readTotalTimeoutMultiplier != 0 || t.readTotalTimeoutConstant != 0)) {
      uint64_t total = static_cast<uint64_t>(t.readTotalTimeoutMultiplier) * size + t.readTotalTimeoutConstant;
      hasDeadline = true;
      deadline = start + std::chrono::milliseconds(total);
    }
    const uint32_t interval =
        (immediate || firstByte || t.readIntervalTimeout == kMaxDword) ? 0 : t.readIntervalTimeout;

    uint8_t* out = static_cast<uint8_t*>(buffer);
    uint32_t got = 0;
    SteadyClock::time_point lastByte = start;
    for (;;) {
      ssize_t n = ::read(fd_, out + got, size - got);
      bool hungUp = false;
      if (n > 0) {
        got += static_cast<uint32_t>(n);
        lastByte = SteadyClock::now();
        NoteRead(static_cast<uint32_t>(n));
        if (got == size || firstByte) break;
        continue;
      }
      if (n == 0 || errno == EIO) {
        hungUp = true;
        NoteHangup();
      } else if (errno == EINTR) {
        continue;
      } else if (errno != EAGAIN) {
        int err = errno;
        Trace("HostSerial::Read %s failed: %s\n", name_.c_str(), std::strerror(err));
        if (done != nullptr) *done = got;
        return Fail(ERROR_READ_FAULT);
      }
      if (immediate) break;
      int64_t wait = -1;
      if (hasDeadline) {
        wait = MsUntil(deadline);
        if (wait <= 0) break;
      }
      if (interval != 0 && got > 0) {
        int64_t gap = MsUntil(lastByte + std::chrono::milliseconds(interval));
        if (gap <= 0) break;
        wait = wait < 0 ? gap : std::min(wait, gap);
      }
      if (hungUp) wait = wait < 0 ? kHangupBackoffMs : std::min<int64_t>(wait, kHangupBackoffMs);
      struct pollfd fds[2] = {{readWake_.fd(), POLLIN, 0}, {fd_, POLLIN, 0}};
      int r = ::poll(fds, hungUp ? 1 : 2, wait < 0 ? -1 : PollTimeout(wait));
      if (r > 0 && (fds[0].revents & POLLIN)) {
        readWake_.Drain();
        if (readAbort_.load() != abortGeneration) break;
      }
    }
    if (done != nullptr) *done = got;
    return true;
  }

  bool Write(const void* buffer, uint32_t size, uint32_t* done) override {
    if (done != nullptr) *done = 0;
    if (size == 0) return true;
    if (buffer == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    uint64_t abortGeneration = writeAbort_.load();
    CommTimeouts t;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      t = timeouts_;
    }
    bool hasDeadline = t.writeTotalTimeoutMultiplier != 0 || t.writeTotalTimeoutConstant != 0;
    SteadyClock::time_point deadline =
        SteadyClock::now() +
        std::chrono::milliseconds(static_cast<uint64_t>(t.writeTotalTimeoutMultiplier) * size +
                                  t.writeTotalTimeoutConstant);
    const uint8_t* in = static_cast<const uint8_t*>(buffer);
    uint32_t sent = 0;
    bool failed = false;
    while (sent < size) {
      ssize_t n = ::write(fd_, in + sent, size - sent);
      if (n > 0) {
        sent += static_cast<uint32_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) {
        Trace("HostSerial::Write %s failed: %s\n", name_.c_str(), std::strerror(errno));
        failed = true;
        break;
      }
      int64_t wait = -1;
      if (hasDeadline) {
        wait = MsUntil(deadline);
        if (wait <= 0) break;  // time-out: the count tells how far it got
      }
      struct pollfd fds[2] = {{writeWake_.fd(), POLLIN, 0}, {fd_, POLLOUT, 0}};
      int r = ::poll(fds, 2, wait < 0 ? -1 : PollTimeout(wait));
      if (r > 0 && (fds[0].revents & POLLIN)) {
        writeWake_.Drain();
        if (writeAbort_.load() != abortGeneration) break;
      }
      if (r > 0 && (fds[1].revents & (POLLHUP | POLLERR)) && !(fds[1].revents & POLLOUT)) {
        Trace("HostSerial::Write %s: the line has no peer\n", name_.c_str());
        failed = true;
        break;
      }
    }
    if (sent > 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      txPending_ = true;
    }
    if (done != nullptr) *done = sent;
    if (failed) return Fail(ERROR_WRITE_FAULT);
    return true;
  }

 private:
  static bool Fail(uint32_t code) {
    SetLastError(code);
    return false;
  }

  // Events of `mask` that happened since the last report; *staleInput when
  // reported bytes still wait, *periodic when only asking finds an event.
  uint32_t PendingEvents(uint32_t mask, bool* staleInput, bool* periodic) {
    uint32_t queued = 0, outQueued = 0;
    serial_line::QueuedInput(fd_, &queued);
    bool askOut = (mask & EV_TXEMPTY) != 0;
    if (askOut) serial_line::QueuedOutput(fd_, &outQueued);
    std::lock_guard<std::mutex> lock(mutex_);
    uint32_t found = 0;
    if (queued < reportedInput_) reportedInput_ = queued;
    if ((mask & EV_RXCHAR) && queued > reportedInput_) {
      found |= EV_RXCHAR;
      reportedInput_ = queued;
    }
    if (queued > 0 && queued == reportedInput_) *staleInput = true;
    if (CollectLineErrors() && (mask & EV_ERR)) found |= EV_ERR;
    if (askOut && txPending_) {
      if (outQueued == 0) {
        found |= EV_TXEMPTY;
        txPending_ = false;
      } else {
        *periodic = true;
      }
    }
    if (hasCounters_ && (mask & EV_ERR)) *periodic = true;
    if (queued > 0) hangupTraced_ = false;
    return found;
  }

  // Adds the UART's new error counts to the pending error bits; true when there were any.
  // Called with mutex_ held.
  bool CollectLineErrors() {
    if (!hasCounters_) return false;
    serial_line::LineErrors now;
    if (serial_line::GetLineErrors(fd_, &now) != 0) return false;
    uint32_t bits = 0;
    if (now.frame != counters_.frame) bits |= CE_FRAME;
    if (now.overrun != counters_.overrun) bits |= CE_OVERRUN;
    if (now.parity != counters_.parity) bits |= CE_RXPARITY;
    if (now.brk != counters_.brk) bits |= CE_BREAK;
    if (now.bufferOverrun != counters_.bufferOverrun) bits |= CE_RXOVER;
    counters_ = now;
    lineErrors_ |= bits;
    return bits != 0;
  }

  void NoteRead(uint32_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    reportedInput_ = reportedInput_ > n ? reportedInput_ - n : 0;
    hangupTraced_ = false;
  }

  void NoteHangup() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (hangupTraced_) return;
    hangupTraced_ = true;
    Trace("HostSerial %s: the line has no peer, waiting\n", name_.c_str());
  }

  const std::string name_;
  const int fd_;
  WakeFd eventWake_, readWake_, writeWake_;
  std::atomic<uint64_t> maskGeneration_{0};
  std::atomic<uint64_t> readAbort_{0};
  std::atomic<uint64_t> writeAbort_{0};

  std::mutex mutex_;  // guards the fields below
  CommTimeouts timeouts_;
  uint32_t mask_ = 0;
  Dcb dcb_;
  bool dcbSet_ = false;
  uint32_t inQueueSize_ = 0;
  uint32_t outQueueSize_ = 0;
  uint32_t reportedInput_ = 0;  // queued bytes an EV_RXCHAR has announced already
  bool txPending_ = false;
  uint32_t lineErrors_ = 0;     // CE_* bits not yet fetched by ClearCommError
  bool hasCounters_ = false;
  serial_line::LineErrors counters_;
  bool hangupTraced_ = false;
};

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

std::string NormalizedKey(const std::string& key) {
  std::string k = Upper(key);
  while (!k.empty() && (k.back() == ':' || k.back() == ' ')) k.pop_back();
  return k;
}

}  // namespace

HostSerial::HostSerial(const PortMap& ports) {
  for (const auto& [key, path] : ports) {
    if (!path.empty()) ports_[NormalizedKey(key)] = path;
  }
}

std::string HostSerial::PortKey(const std::string& name) {
  std::string upper = Upper(name);
  std::string digits;
  static const std::string kDevicePrefix = "\\$DEVICE\\COM";
  if (upper.compare(0, kDevicePrefix.size(), kDevicePrefix) == 0) {
    digits = upper.substr(kDevicePrefix.size());
  } else if (upper.size() > 4 && upper.compare(0, 3, "COM") == 0 && upper.back() == ':') {
    digits = upper.substr(3, upper.size() - 4);
  } else {
    return std::string();
  }
  if (digits.empty() || digits.size() > 3) return std::string();
  for (char c : digits) {
    if (c < '0' || c > '9') return std::string();
  }
  return "COM" + std::to_string(std::stoi(digits));
}

std::unique_ptr<SerialPort> HostSerial::Refuse(uint32_t error, const std::string& reason) {
  {
    std::lock_guard<std::mutex> lock(failureMutex_);
    lastFailure_ = reason;
  }
  SetLastError(error);
  return nullptr;
}

std::string HostSerial::LastOpenFailure() const {
  std::lock_guard<std::mutex> lock(failureMutex_);
  return lastFailure_;
}

std::unique_ptr<SerialPort> HostSerial::Open(const std::string& name) {
  std::string key = PortKey(name);
  auto it = key.empty() ? ports_.end() : ports_.find(key);
  if (it == ports_.end()) {
    Trace("HostSerial::Open %s: the unit has no such port\n", name.c_str());
    return Refuse(ERROR_FILE_NOT_FOUND, (key.empty() ? name : key) + ": not in [ports] of unit.ini");
  }
  const std::string& path = it->second;
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    Trace("HostSerial::Open %s (%s) failed: %s\n", name.c_str(), path.c_str(), std::strerror(err));
    return Refuse(err == ENOENT ? ERROR_FILE_NOT_FOUND : (err == EBUSY ? ERROR_ACCESS_DENIED : ERROR_DEV_NOT_EXIST),
                  path + ": " + std::strerror(err));
  }
  if (!::isatty(fd)) {
    Trace("HostSerial::Open %s (%s): not a terminal\n", name.c_str(), path.c_str());
    ::close(fd);
    return Refuse(ERROR_DEV_NOT_EXIST, path + ": not a serial device");
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    Trace("HostSerial::Open %s (%s): %s\n", name.c_str(), path.c_str(),
          err == EWOULDBLOCK ? "held by another handle" : std::strerror(err));
    ::close(fd);
    return Refuse(ERROR_ACCESS_DENIED,
                  path + ": " + (err == EWOULDBLOCK ? std::string("held by another program") : std::strerror(err)));
  }
  int err = serial_line::MakeRaw(fd);
  if (err != 0) {
    Trace("HostSerial::Open %s (%s): cannot set raw mode: %s\n", name.c_str(), path.c_str(), std::strerror(err));
    ::close(fd);
    return Refuse(ERROR_DEV_NOT_EXIST, path + ": cannot set raw mode: " + std::strerror(err));
  }
  auto port = std::make_unique<HostSerialPort>(key, fd);
  if (!port->ok()) {
    err = errno;
    Trace("HostSerial::Open %s: no event descriptors: %s\n", name.c_str(), std::strerror(err));
    return Refuse(ERROR_NOT_ENOUGH_MEMORY, path + ": " + std::strerror(err));
  }
  std::lock_guard<std::mutex> lock(failureMutex_);
  lastFailure_.clear();
  return port;
}

}  // namespace hu
