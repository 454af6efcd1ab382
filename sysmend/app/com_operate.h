#pragma once
#include <cstdint>
#include <memory>

#include "common/platform/clock.h"
#include "common/platform/registry.h"
#include "common/platform/serial.h"

namespace hu {

// The updater's own small serial port class (no hand-over with the arbiter).
class CComOperate {
 public:
  explicit CComOperate(Serial* serial) : serial_(serial) {}
  ~CComOperate() { CloseComm(); }

  int OpenComm(uint32_t port, uint32_t baudRate);  // 0, or -1 when the port cannot be opened
  void CloseComm();
  bool IsOpen() const { return m_hCom != nullptr; }
  int GetCommState(Dcb* dcb);
  int SetCommState(const Dcb& dcb);
  int SetCommMask(uint32_t mask);
  uint32_t WriteComm(const uint8_t* bytes, uint32_t count);

  uint32_t Port() const { return m_nPort; }
  uint32_t BaudRate() const { return m_nBaudRate; }

 private:
  Serial* serial_;
  std::unique_ptr<SerialPort> m_hCom;
  uint32_t m_nPort = 0;
  uint32_t m_nBaudRate = 0;
};

// Line settings, time-outs, purges, queues and events of a freshly opened MCU
// port, shared by every program that talks to the MCU.
void ConfigureMcuPort(SerialPort& port, uint32_t baudRate);

// Tells the MCU to stop its heartbeat with one fixed frame on COM4.
void CloseHeartBeat(Serial* serial, Registry& registry, Clock& clock);

}  // namespace hu
