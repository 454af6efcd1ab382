#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/platform/serial.h"

namespace hu {

// One port of FakeSerial: a line with two ends. The program's end is what
// Serial::Open gives; the peer's end is a simulated device in the same
// process, either as a callback that gets every byte the program writes (on
// the writer's thread, one call per write, calls never overlap) or as a
// SerialPort of its own (OpenPeer). Bytes the peer writes reach the program's
// receive queue.
//
// Semantics of an end, as the device's serial driver has them:
// - WaitCommEvent reports EV_RXCHAR once for bytes that arrived since its last
//   report (bytes left unread raise no new event) and EV_ERR for an injected
//   line error; a mask of 0 fails it at once (ERROR_INVALID_PARAMETER) and any
//   SetCommMask ends a pending wait with true and no events.
// - Read never blocks: it returns what is queued, up to the size asked.
// - ClearCommError reports and clears the injected error bits and gives the
//   queued count; its calls are counted.
// - Closing the handle (destroying it) empties the end; a reopen starts anew.
//
// Every operation is thread-safe: one thread may wait or read while others
// write and change the mask.
class FakeSerialLine {
 public:
  using Peer = std::function<void(const uint8_t* bytes, size_t n)>;

  explicit FakeSerialLine(std::string key);
  ~FakeSerialLine();
  FakeSerialLine(const FakeSerialLine&) = delete;
  FakeSerialLine& operator=(const FakeSerialLine&) = delete;

  const std::string& Key() const { return key_; }

  // The peer.
  void SetPeer(Peer peer);
  // Bytes from the peer to the program (any thread, also from inside Peer).
  void PeerWrite(const uint8_t* bytes, size_t n);
  void PeerWrite(const std::vector<uint8_t>& bytes) { PeerWrite(bytes.data(), bytes.size()); }
  // The peer's end as a port (used instead of a Peer callback); null while open.
  std::unique_ptr<SerialPort> OpenPeer();

  // What the program did.
  bool IsOpen() const;
  uint32_t OpenCount() const;  // successful opens of the program's end
  std::vector<uint8_t> Written() const;  // every byte the program wrote, in order
  std::vector<uint8_t> TakeWritten();
  size_t WriteCalls() const;
  Dcb LastDcb() const;
  CommTimeouts LastTimeouts() const;
  uint32_t Mask() const;
  uint32_t InQueueSize() const;   // last SetupComm
  uint32_t OutQueueSize() const;
  uint32_t Purges() const;        // PurgeComm flags or-ed together
  uint32_t ClearCommErrorCalls() const;
  size_t QueuedForProgram() const;
  size_t LargestRead() const;     // biggest Read request of the program

  // Faults of the program's end.
  void SetDriverDcb(const Dcb& dcb);  // what GetCommState reports before any set
  void FailWrites(uint32_t count, uint32_t error);
  void FailReads(uint32_t count, uint32_t error);
  // Raises EV_ERR; ClearCommError reports `errors` once.
  void RaiseLineError(uint32_t errors);

  // For tests that wait for the program's threads: true when no event is
  // pending that a waiting program thread would be woken for, and the thread
  // woken last has come back to WaitCommEvent (or the end is closed).
  bool Quiet() const;
  // Counts every change of the line's state.
  uint64_t Activity() const;

 private:
  friend class FakeSerial;
  class EndPort;
  struct End {
    bool open = false;
    std::vector<uint8_t> rx;
    uint32_t mask = 0;
    uint64_t maskGeneration = 0;
    bool unreported = false;
    uint32_t errors = 0;
    bool errorPending = false;
    bool inFlight = false;
    uint64_t generation = 0;  // bumped on close
  };

  // Opens the program's end; null with the last error set when it is held.
  std::unique_ptr<SerialPort> OpenProgram();
  void Deliver(End& to, const uint8_t* bytes, size_t n);  // mutex_ held

  std::string key_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::mutex peerMutex_;  // keeps peer calls in write order
  Peer peer_;
  End ends_[2];  // 0: program, 1: peer
  uint32_t openCount_ = 0;
  std::vector<uint8_t> written_;
  size_t writeCalls_ = 0;
  Dcb driverDcb_;
  Dcb dcb_;
  bool dcbSet_ = false;
  CommTimeouts timeouts_;
  uint32_t inQueue_ = 0;
  uint32_t outQueue_ = 0;
  uint32_t purges_ = 0;
  uint32_t clearCalls_ = 0;
  size_t largestRead_ = 0;
  uint32_t failWrites_ = 0;
  uint32_t writeError_ = 0;
  uint32_t failReads_ = 0;
  uint32_t readError_ = 0;
  uint64_t activity_ = 0;
};

// The unit's serial ports in memory. A port must be added before it can be
// opened; names are "COM4:" or "\$device\COM14" (key "COM4" / "COM14", case
// ignored). Like the device, a port opens without sharing: a second Open
// while the program's end is held fails with ERROR_ACCESS_DENIED.
class FakeSerial : public Serial {
 public:
  FakeSerial() = default;
  FakeSerial(const FakeSerial&) = delete;
  FakeSerial& operator=(const FakeSerial&) = delete;

  FakeSerialLine& AddPort(const std::string& key);
  FakeSerialLine* Line(const std::string& key);

  std::unique_ptr<SerialPort> Open(const std::string& name) override;

  // Every name Open was asked for, in order, failed attempts included.
  std::vector<std::string> OpenAttempts() const;
  // All lines quiet (see FakeSerialLine::Quiet), and the sum of their activity.
  bool Quiet() const;
  uint64_t Activity() const;

  // "COM4:" / "\$device\COM14" -> "COM4" / "COM14"; empty for other names.
  static std::string PortKey(const std::string& name);

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::unique_ptr<FakeSerialLine>> lines_;
  std::vector<std::string> attempts_;
};

}  // namespace hu
