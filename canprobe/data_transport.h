#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace hu {

// How the CAN box is reached. 2 belongs to a client-library transport that
// nothing creates.
enum LinkKind : int {
  kLinkNone = 0,
  kLinkRaw = 1,         // the box's own bytes on the serial line
  kLinkClientLib = 2,
  kLinkFrame = 4,       // carried by the MCU in "$#" '3' frames
  kLinkAc = 5,          // carried by the MCU in "!#" 'A' 'C' frames
};

// Whoever consumes the blocks a transport reads (the Manager, the IAP engine).
class DataSink {
 public:
  virtual ~DataSink() = default;
  // Called on the transport's reader thread.
  virtual int Receive(const uint8_t* data, size_t length) = 0;
};

// The open link to the CAN box: opens the port, reads it on a thread of its
// own and writes in the framing of its kind.
class DataTransport {
 public:
  enum State : int { kCreated = 0, kOpened = 1, kOpenFailed = 2, kClosed = 3 };

  DataTransport() = default;
  DataTransport(const DataTransport&) = delete;
  DataTransport& operator=(const DataTransport&) = delete;
  virtual ~DataTransport();

  // The state becomes kOpened whether or not the port opened (callers do not
  // open again; every Send then fails); true when it did open.
  virtual bool Open() = 0;
  virtual void Close() = 0;
  virtual bool Send(const uint8_t* data, size_t length) = 0;
  virtual void SetSink(DataSink* sink) { m_pSink.store(sink); }
  virtual int GetState() const { return m_nState.load(); }
  // Hands a block to the sink; 0 without one.
  virtual int Deliver(const uint8_t* data, size_t length);

  DataSink* Sink() const { return m_pSink.load(); }

 protected:
  std::atomic<int> m_nState{kCreated};
  std::atomic<DataSink*> m_pSink{nullptr};
};

}  // namespace hu
