#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "canprobe/data_transport.h"
#include "common/platform/clock.h"
#include "common/platform/serial.h"
#include "common/platform/sync.h"

namespace hu {

// The raw serial link (kind 1): the bytes go out unchanged. The framed kinds
// derive from it and differ only in Send.
class ComTransport : public DataTransport {
 public:
  static constexpr int kDefaultPort = 4;
  static constexpr uint32_t kDefaultBaudRate = 115200;
  static constexpr uint32_t kReadBufferSize = 10240;
  static constexpr uint32_t kDriverQueueSize = 5120;

  // `serial` may be null (a platform without ports): every Open then fails.
  ComTransport(Serial* serial, Sync& sync, Clock& clock);
  ~ComTransport() override;

  // Opens "COM%d:" (below 10) or "\$device\COM%d", starts the reader thread
  // and sets the line up; see DataTransport::Open for the state.
  bool Open() override;
  // Ends the reader thread and closes the port; the state becomes kClosed.
  // Any thread may call it; on the reader thread itself (from inside a sink)
  // the thread is let go instead of waited for.
  void Close() override;
  // Writes the bytes unchanged; true when all were written.
  bool Send(const uint8_t* data, size_t length) override;

  // Take effect at the next Open.
  void SetPort(int port) { m_nPort.store(port); }
  void SetBaudRate(uint32_t baud) { m_nBaudRate.store(baud); }
  int Port() const { return m_nPort.load(); }
  uint32_t BaudRate() const { return m_nBaudRate.load(); }
  // Stores the rate and applies it at once when the port is open (8 data
  // bits, no parity, one stop bit); false when applying it failed.
  bool SetRate(uint32_t baud);
  bool IsPortOpen() const;

  static std::string PortName(int port);

 protected:
  // Writes all bytes to the port; false when it is not open or the write fails or falls short.
  bool WriteAll(const uint8_t* data, size_t length);
  Clock& clock() { return clock_; }

 private:
  struct PortRecord;
  static void ReaderMain(std::shared_ptr<PortRecord> record);
  static void ReadLoop(PortRecord& record);
  bool ApplyLine(SerialPort& port, uint32_t baud);

  Serial* serial_;
  Sync& sync_;
  Clock& clock_;
  std::atomic<int> m_nPort{kDefaultPort};
  std::atomic<uint32_t> m_nBaudRate{kDefaultBaudRate};

  // Guards the record and the thread handle against Send/SetRate/Close on other threads.
  mutable std::mutex portMutex_;
  std::shared_ptr<PortRecord> m_record;  // null while the port is closed
  std::thread m_reader;
};

}  // namespace hu
