#include "common/platform/testing/fake_serial.h"

#include <algorithm>
#include <cctype>

#include "common/platform/errors.h"
#include "common/platform/text.h"

namespace hu {

// A handle of one end of a line. The line outlives its handles.
class FakeSerialLine::EndPort : public SerialPort {
 public:
  EndPort(FakeSerialLine& line, int index) : line_(line), index_(index) {}
  ~EndPort() override {
    std::lock_guard<std::mutex> lock(line_.mutex_);
    End& e = line_.ends_[index_];
    e.open = false;
    e.rx.clear();
    e.mask = 0;
    e.unreported = false;
    e.errorPending = false;
    e.errors = 0;
    e.inFlight = false;
    ++e.generation;
    ++e.maskGeneration;
    ++line_.activity_;
    line_.cv_.notify_all();
  }

  bool GetCommState(Dcb* dcb) override {
    std::lock_guard<std::mutex> lock(line_.mutex_);
    if (dcb != nullptr) *dcb = index_ == 0 ? line_.dcb_ : Dcb{};
    return true;
  }
  bool SetCommState(const Dcb& dcb) override {
    std::lock_guard<std::mutex> lock(line_.mutex_);
    if (index_ == 0) line_.dcb_ = dcb;
    ++line_.activity_;
    return true;
  }
  bool GetCommTimeouts(CommTimeouts* t) override {
    std::lock_guard<std::mutex> lock(line_.mutex_);
    if (t != nullptr) *t = index_ == 0 ? line_.timeouts_ : CommTimeouts{};
    return true;
  }
  bool SetCommTimeouts(const CommTimeouts& t) override {
    std::lock_guard<std::mutex> lock(line_.mutex_);
    if (index_ == 0) line_.timeouts_ = t;
    return true;
  }
  bool SetupComm(uint32_t inQueue, uint32_t outQueue) override {
    std::lock_guard<std::mutex> lock(line_.mutex_);
    if (index_ == 0) {
      line_.inQueue_ = inQueue;
      line_.outQueue_ = outQueue;
    }
    return true;
  }
  bool PurgeComm(uint32_t flags) override {
    std::lock_guard<std::mutex> lock(line_.mutex_);
    End& e = line_.ends_[index_];
    if (flags & PURGE_RXCLEAR) {
      e.rx.clear();
      e.unreported = false;
    }
    if (index_ == 0) line_.purges_ |= flags;
    ++line_.activity_;
    return true;
  }
  bool SetCommMask(uint32_t mask) override {
    std::lock_guard<std::mutex> lock(line_.mutex_);
    End& e = line_.ends_[index_];
    e.mask = mask;
    ++e.maskGeneration;
    ++line_.activity_;
    line_.cv_.notify_all();
    return true;
  }
  bool WaitCommEvent(uint32_t* events) override {
    std::unique_lock<std::mutex> lock(line_.mutex_);
    End& e = line_.ends_[index_];
    if (events != nullptr) *events = 0;
    if (e.inFlight) {
      e.inFlight = false;
      ++line_.activity_;
    }
    if (!e.open) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    if (e.mask == 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    const uint64_t generation = e.generation;
    const uint64_t maskGeneration = e.maskGeneration;
    for (;;) {
      if (e.generation != generation || !e.open) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
      }
      uint32_t found = 0;
      if ((e.mask & EV_RXCHAR) && e.unreported) found |= EV_RXCHAR;
      if ((e.mask & EV_ERR) && e.errorPending) found |= EV_ERR;
      if (found != 0) {
        if (found & EV_RXCHAR) e.unreported = false;
        if (found & EV_ERR) e.errorPending = false;
        e.inFlight = true;
        ++line_.activity_;
        if (events != nullptr) *events = found;
        return true;
      }
      if (e.maskGeneration != maskGeneration) {
        ++line_.activity_;
        return true;
      }
      line_.cv_.wait(lock);
    }
  }
  bool ClearCommError(uint32_t* errors, CommStatus* status) override {
    std::lock_guard<std::mutex> lock(line_.mutex_);
    End& e = line_.ends_[index_];
    if (errors != nullptr) *errors = e.errors;
    e.errors = 0;
    if (status != nullptr) {
      status->inQueue = static_cast<uint32_t>(e.rx.size());
      status->outQueue = 0;
    }
    if (index_ == 0) ++line_.clearCalls_;
    return true;
  }
  bool EscapeCommFunction(uint32_t /*function*/) override { return true; }
  bool Read(void* buffer, uint32_t size, uint32_t* done) override {
    std::lock_guard<std::mutex> lock(line_.mutex_);
    End& e = line_.ends_[index_];
    if (done != nullptr) *done = 0;
    if (index_ == 0) {
      line_.largestRead_ = std::max<size_t>(line_.largestRead_, size);
      if (line_.failReads_ > 0) {
        --line_.failReads_;
        SetLastError(line_.readError_);
        return false;
      }
    }
    if (buffer == nullptr && size > 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    const size_t n = std::min<size_t>(size, e.rx.size());
    std::copy(e.rx.begin(), e.rx.begin() + static_cast<std::ptrdiff_t>(n), static_cast<uint8_t*>(buffer));
    e.rx.erase(e.rx.begin(), e.rx.begin() + static_cast<std::ptrdiff_t>(n));
    if (done != nullptr) *done = static_cast<uint32_t>(n);
    ++line_.activity_;
    return true;
  }
  bool Write(const void* buffer, uint32_t size, uint32_t* done) override {
    if (done != nullptr) *done = 0;
    if (buffer == nullptr && size > 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
    // Held across the peer call so that the peer sees writes in their order.
    std::unique_lock<std::mutex> order(line_.peerMutex_, std::defer_lock);
    if (index_ == 0) order.lock();
    Peer peer;
    {
      std::lock_guard<std::mutex> lock(line_.mutex_);
      End& e = line_.ends_[index_];
      if (!e.open) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
      }
      ++line_.activity_;
      if (index_ == 0) {
        if (line_.failWrites_ > 0) {
          --line_.failWrites_;
          SetLastError(line_.writeError_);
          return false;
        }
        line_.written_.insert(line_.written_.end(), bytes, bytes + size);
        ++line_.writeCalls_;
        peer = line_.peer_;
      }
      if (!peer) line_.Deliver(line_.ends_[1 - index_], bytes, size);
    }
    if (peer) peer(bytes, size);
    if (done != nullptr) *done = size;
    return true;
  }

 private:
  FakeSerialLine& line_;
  int index_;
};

FakeSerialLine::FakeSerialLine(std::string key) : key_(std::move(key)) {
  // What a driver reports before anyone configured it.
  driverDcb_.baudRate = 9600;
  driverDcb_.byteSize = 7;
  driverDcb_.parity = EVENPARITY;
  driverDcb_.stopBits = TWOSTOPBITS;
  driverDcb_.dtrControl = false;
  driverDcb_.rtsControl = false;
  dcb_ = driverDcb_;
}

FakeSerialLine::~FakeSerialLine() = default;

void FakeSerialLine::SetPeer(Peer peer) {
  std::lock_guard<std::mutex> order(peerMutex_);
  std::lock_guard<std::mutex> lock(mutex_);
  peer_ = std::move(peer);
}

void FakeSerialLine::Deliver(End& to, const uint8_t* bytes, size_t n) {
  if (!to.open || n == 0) return;
  to.rx.insert(to.rx.end(), bytes, bytes + n);
  to.unreported = true;
  ++activity_;
  cv_.notify_all();
}

void FakeSerialLine::PeerWrite(const uint8_t* bytes, size_t n) {
  if (bytes == nullptr) return;
  std::lock_guard<std::mutex> lock(mutex_);
  Deliver(ends_[0], bytes, n);
}

std::unique_ptr<SerialPort> FakeSerialLine::OpenPeer() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ends_[1].open) return nullptr;
  ends_[1] = End{};
  ends_[1].open = true;
  ++activity_;
  return std::make_unique<EndPort>(*this, 1);
}

std::unique_ptr<SerialPort> FakeSerialLine::OpenProgram() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ends_[0].open) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const uint64_t generation = ends_[0].generation;
  const uint64_t maskGeneration = ends_[0].maskGeneration;
  ends_[0] = End{};
  ends_[0].generation = generation + 1;
  ends_[0].maskGeneration = maskGeneration + 1;
  ends_[0].open = true;
  ++openCount_;
  ++activity_;
  return std::make_unique<EndPort>(*this, 0);
}

bool FakeSerialLine::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ends_[0].open;
}

uint32_t FakeSerialLine::OpenCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return openCount_;
}

std::vector<uint8_t> FakeSerialLine::Written() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return written_;
}

std::vector<uint8_t> FakeSerialLine::TakeWritten() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<uint8_t> out;
  out.swap(written_);
  return out;
}

size_t FakeSerialLine::WriteCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writeCalls_;
}

Dcb FakeSerialLine::LastDcb() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dcb_;
}

CommTimeouts FakeSerialLine::LastTimeouts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timeouts_;
}

uint32_t FakeSerialLine::Mask() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ends_[0].mask;
}

uint32_t FakeSerialLine::InQueueSize() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return inQueue_;
}

uint32_t FakeSerialLine::OutQueueSize() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return outQueue_;
}

uint32_t FakeSerialLine::Purges() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return purges_;
}

uint32_t FakeSerialLine::ClearCommErrorCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return clearCalls_;
}

size_t FakeSerialLine::QueuedForProgram() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ends_[0].rx.size();
}

size_t FakeSerialLine::LargestRead() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return largestRead_;
}

void FakeSerialLine::SetDriverDcb(const Dcb& dcb) {
  std::lock_guard<std::mutex> lock(mutex_);
  driverDcb_ = dcb;
  dcb_ = dcb;
}

void FakeSerialLine::FailWrites(uint32_t count, uint32_t error) {
  std::lock_guard<std::mutex> lock(mutex_);
  failWrites_ = count;
  writeError_ = error;
}

void FakeSerialLine::FailReads(uint32_t count, uint32_t error) {
  std::lock_guard<std::mutex> lock(mutex_);
  failReads_ = count;
  readError_ = error;
}

void FakeSerialLine::RaiseLineError(uint32_t errors) {
  std::lock_guard<std::mutex> lock(mutex_);
  End& e = ends_[0];
  if (!e.open) return;
  e.errors |= errors;
  e.errorPending = true;
  ++activity_;
  cv_.notify_all();
}

bool FakeSerialLine::Quiet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const End& e : ends_) {
    if (!e.open) continue;
    if (e.inFlight) return false;
    if ((e.mask & EV_RXCHAR) && e.unreported) return false;
    if ((e.mask & EV_ERR) && e.errorPending) return false;
  }
  return true;
}

uint64_t FakeSerialLine::Activity() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return activity_;
}

FakeSerialLine& FakeSerial::AddPort(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string k = PortKey(key);
  if (k.empty()) k = AsciiLower(key);
  auto& slot = lines_[k];
  if (!slot) slot = std::make_unique<FakeSerialLine>(k);
  return *slot;
}

FakeSerialLine* FakeSerial::Line(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string k = PortKey(key);
  if (k.empty()) k = AsciiLower(key);
  auto it = lines_.find(k);
  return it == lines_.end() ? nullptr : it->second.get();
}

std::unique_ptr<SerialPort> FakeSerial::Open(const std::string& name) {
  FakeSerialLine* line = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    attempts_.push_back(name);
    auto it = lines_.find(PortKey(name));
    if (it != lines_.end()) line = it->second.get();
  }
  if (line == nullptr) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return line->OpenProgram();
}

std::vector<std::string> FakeSerial::OpenAttempts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return attempts_;
}

bool FakeSerial::Quiet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& entry : lines_) {
    if (!entry.second->Quiet()) return false;
  }
  return true;
}

uint64_t FakeSerial::Activity() const {
  std::lock_guard<std::mutex> lock(mutex_);
  uint64_t sum = 0;
  for (const auto& entry : lines_) sum += entry.second->Activity();
  return sum;
}

std::string FakeSerial::PortKey(const std::string& name) {
  std::string s = name;
  const std::string devicePrefix = "\\$device\\";
  if (s.size() > devicePrefix.size() && EqualsNoCase(s.substr(0, devicePrefix.size()), devicePrefix)) {
    s = s.substr(devicePrefix.size());
  } else if (!s.empty() && s.back() == ':') {
    s.pop_back();
  }
  if (s.size() < 4 || !EqualsNoCase(s.substr(0, 3), "com")) return {};
  for (size_t i = 3; i < s.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return {};
  }
  return "COM" + s.substr(3);
}

}  // namespace hu
