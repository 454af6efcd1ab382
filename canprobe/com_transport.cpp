#include "canprobe/com_transport.h"

#include <cstdio>
#include <exception>
#include <system_error>
#include <vector>

#include "common/platform/errors.h"
#include "common/platform/trace.h"

namespace hu {

// What the port handle, the reader thread and the transport share. The
// thread holds its own reference, so a thread that is let go never reaches
// into a destroyed transport.
struct ComTransport::PortRecord {
  std::unique_ptr<SerialPort> port;
  std::unique_ptr<Event> startEvent;
  std::atomic<bool> stop{false};
  // The receive callback's context; Deliver is the callback. Null: no callback.
  std::atomic<DataTransport*> context{nullptr};
  Clock* clock = nullptr;
};

ComTransport::ComTransport(Serial* serial, Sync& sync, Clock& clock)
    : serial_(serial), sync_(sync), clock_(clock) {}

ComTransport::~ComTransport() { Close(); }

std::string ComTransport::PortName(int port) {
  char name[32];
  if (port < 10) {
    std::snprintf(name, sizeof name, "COM%d:", port);
  } else {
    std::snprintf(name, sizeof name, "\\$device\\COM%d", port);
  }
  return name;
}

bool ComTransport::ApplyLine(SerialPort& port, uint32_t baud) {
  Dcb dcb;
  if (!port.GetCommState(&dcb)) {
    Trace("ComTransport GetCommState failed %u\n", GetLastError());
    return false;
  }
  dcb.baudRate = baud;
  dcb.byteSize = 8;
  dcb.parity = NOPARITY;
  dcb.stopBits = ONESTOPBIT;
  if (!port.SetCommState(dcb)) {
    Trace("ComTransport SetCommState %u failed %u\n", baud, GetLastError());
    return false;
  }
  return true;
}

bool ComTransport::Open() {
  // Opening an open transport starts it afresh rather than leaking its thread.
  if (IsPortOpen()) Close();

  const std::string name = PortName(m_nPort.load());
  std::unique_ptr<SerialPort> port = serial_ != nullptr ? serial_->Open(name) : nullptr;
  if (!port) {
    Trace("ComTransport::Open %s failed %u\n", name.c_str(), serial_ != nullptr ? GetLastError() : ERROR_FILE_NOT_FOUND);
    m_nState.store(kOpened);
    return false;
  }

  auto record = std::make_shared<PortRecord>();
  record->port = std::move(port);
  record->clock = &clock_;
  record->startEvent = sync_.CreateEvent(false, false);
  if (!record->startEvent) {
    Trace("ComTransport::Open CreateEvent failed %u\n", GetLastError());
    m_nState.store(kOpened);
    return false;
  }
  SerialPort& p = *record->port;

  std::thread reader;
  try {
    reader = std::thread(&ComTransport::ReaderMain, record);
  } catch (const std::system_error& e) {
    Trace("ComTransport::Open CreateThread failed %s\n", e.what());
    m_nState.store(kOpened);
    return false;
  }

  // Reads return at once with what is buffered.
  CommTimeouts timeouts;
  timeouts.readIntervalTimeout = 0xFFFFFFFFu;
  p.SetCommTimeouts(timeouts);
  ApplyLine(p, m_nBaudRate.load());
  p.EscapeCommFunction(SETDTR);
  p.EscapeCommFunction(SETRTS);
  p.SetCommMask(EV_RXCHAR);
  p.SetupComm(kDriverQueueSize, kDriverQueueSize);
  p.PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  uint32_t errors = 0;
  CommStatus status;
  p.ClearCommError(&errors, &status);

  clock_.Sleep(50);
  record->context.store(this);
  record->startEvent->Set();
  {
    std::lock_guard<std::mutex> lock(portMutex_);
    m_record = std::move(record);
    m_reader = std::move(reader);
  }
  m_nState.store(kOpened);
  return true;
}

void ComTransport::ReaderMain(std::shared_ptr<PortRecord> record) {
  // Nothing may escape the thread: a failure ends the reading, not the process.
  try {
    ReadLoop(*record);
  } catch (const std::exception& e) {
    Trace("ComTransport reader ended: %s\n", e.what());
  }
}

void ComTransport::ReadLoop(PortRecord& r) {
  SerialPort& port = *r.port;
  r.clock->WaitFor(500, [&r] { return r.stop.load(); });
  std::vector<uint8_t> buffer(kReadBufferSize);
  while (!r.stop.load() && r.startEvent->Wait(INFINITE) != WAIT_OBJECT_0) {
  }
  while (!r.stop.load()) {
    uint32_t events = 0;
    if (!port.WaitCommEvent(&events)) {
      if (!r.stop.load()) Trace("ComTransport reader WaitCommEvent failed %u\n", GetLastError());
      break;
    }
    if ((events & EV_RXCHAR) == 0) continue;
    uint32_t errors = 0;
    CommStatus status;
    if (!port.ClearCommError(&errors, &status)) continue;
    const uint32_t queued = status.inQueue;
    // A burst beyond the buffer is left for a later pass.
    if (queued > kReadBufferSize) continue;
    uint32_t total = 0;
    while (total < queued && !r.stop.load()) {
      uint32_t done = 0;
      if (!port.Read(buffer.data(), queued, &done) || done == 0) break;
      total += done;
      if (DataTransport* t = r.context.load()) t->Deliver(buffer.data(), done);
    }
  }
}

void ComTransport::Close() {
  std::shared_ptr<PortRecord> record;
  std::thread reader;
  {
    std::lock_guard<std::mutex> lock(portMutex_);
    record = std::move(m_record);
    reader = std::move(m_reader);
  }
  if (record) {
    record->context.store(nullptr);
    record->stop.store(true);
    record->port->SetCommMask(0);  // ends a pending wait
    record->startEvent->Set();
    clock_.Notify();
    if (reader.joinable()) {
      if (reader.get_id() == std::this_thread::get_id()) {
        // Called from inside a sink: the thread ends when it gets back to its loop.
        reader.detach();
      } else {
        reader.join();
      }
    }
  }
  m_nState.store(kClosed);
}

bool ComTransport::IsPortOpen() const {
  std::lock_guard<std::mutex> lock(portMutex_);
  return m_record != nullptr;
}

bool ComTransport::WriteAll(const uint8_t* data, size_t length) {
  std::shared_ptr<PortRecord> record;
  {
    std::lock_guard<std::mutex> lock(portMutex_);
    record = m_record;
  }
  if (!record) return false;
  if (length > 0xFFFFFFFFu) return false;
  uint32_t done = 0;
  if (!record->port->Write(data, static_cast<uint32_t>(length), &done)) {
    Trace("ComTransport WriteFile failed %u\n", GetLastError());
    return false;
  }
  return done == length;
}

bool ComTransport::Send(const uint8_t* data, size_t length) { return WriteAll(data, length); }

bool ComTransport::SetRate(uint32_t baud) {
  m_nBaudRate.store(baud);
  std::shared_ptr<PortRecord> record;
  {
    std::lock_guard<std::mutex> lock(portMutex_);
    record = m_record;
  }
  if (!record) return true;
  return ApplyLine(*record->port, baud);
}

}  // namespace hu
