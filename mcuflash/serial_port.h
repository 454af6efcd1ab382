#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "common/platform/serial.h"

namespace hu {

// The MCU's serial port with the line settings of the updater.
class CSerialPort {
 public:
  // `serial` may be null: every open then fails with ERROR_FILE_NOT_FOUND.
  explicit CSerialPort(Serial* serial) : m_pSerial(serial) {}
  ~CSerialPort() { ClosePort(); }
  CSerialPort(const CSerialPort&) = delete;
  CSerialPort& operator=(const CSerialPort&) = delete;

  // "COM%d:" for ports up to 9, "\$device\COM%d" above. 0 on success, else
  // the platform's last-error code. An open port is closed first.
  uint32_t OpenPort(uint32_t port, uint32_t baudRate);
  // Bytes written, or -1 when the port is closed or the write fails.
  int WritePort(const uint8_t* bytes, uint32_t count);
  // Bytes read, or -1 when the port is closed or the read fails.
  int ReadPort(uint8_t* buffer, uint32_t count);
  void ClosePort();

  // The port operations the reader thread and the shutdown use; false when
  // the port is closed.
  bool WaitCommEvent(uint32_t* events);
  bool ClearCommError(uint32_t* errors, CommStatus* status);
  bool SetCommMask(uint32_t mask);

  // The open port, null when closed. Borrowed by the key update, which
  // writes to it; valid until ClosePort.
  SerialPort* PortHandle() const { return m_hPort.get(); }
  bool IsOpen() const { return m_hPort != nullptr; }
  uint32_t PortNumber() const { return m_dwPort; }
  uint32_t BaudRate() const { return m_dwBaudRate; }

  // The device name of a port number.
  static std::string PortName(uint32_t port);

 private:
  Serial* m_pSerial;
  std::unique_ptr<SerialPort> m_hPort;
  uint32_t m_dwPort = 0;
  uint32_t m_dwBaudRate = 0;
};

}  // namespace hu
