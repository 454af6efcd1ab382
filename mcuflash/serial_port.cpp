#include "mcuflash/serial_port.h"

#include <cstdio>
#include <string>

#include "common/platform/errors.h"
#include "common/platform/trace.h"

namespace hu {
namespace {
constexpr uint32_t kQueueSize = 5120;
// Reads return what has come after at most this silence between bytes; the
// driver's "no wait" value 0xFFFFFFFF is not wanted here.
constexpr uint32_t kReadInterval = 0xFFFF;
constexpr uint32_t kWriteTotalMultiplier = 10;
constexpr uint32_t kWriteTotalConstant = 10;
}  // namespace

std::string CSerialPort::PortName(uint32_t port) {
  char name[32];
  if (port <= 9) {
    std::snprintf(name, sizeof name, "COM%u:", port);
  } else {
    std::snprintf(name, sizeof name, "\\$device\\COM%u", port);
  }
  return name;
}

uint32_t CSerialPort::OpenPort(uint32_t port, uint32_t baudRate) {
  m_dwPort = port;
  m_dwBaudRate = baudRate;
  ClosePort();
  const std::string name = PortName(port);
  if (m_pSerial == nullptr) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return ERROR_FILE_NOT_FOUND;
  }
  m_hPort = m_pSerial->Open(name);
  if (!m_hPort) {
    const uint32_t error = GetLastError();
    Trace("CSerialPort::OpenPort %s failed, err = %u\n", name.c_str(), error);
    return error != 0 ? error : ERROR_FILE_NOT_FOUND;
  }
  // The driver's settings are kept except the line format; results are not
  // checked, as a port that opened is usable with its defaults.
  Dcb dcb;
  m_hPort->GetCommState(&dcb);
  dcb.baudRate = baudRate;
  dcb.byteSize = 8;
  dcb.parity = NOPARITY;
  dcb.stopBits = ONESTOPBIT;
  m_hPort->SetCommState(dcb);

  CommTimeouts timeouts;
  m_hPort->GetCommTimeouts(&timeouts);
  timeouts.readIntervalTimeout = kReadInterval;
  timeouts.readTotalTimeoutMultiplier = 0;
  timeouts.readTotalTimeoutConstant = 0;
  timeouts.writeTotalTimeoutMultiplier = kWriteTotalMultiplier;
  timeouts.writeTotalTimeoutConstant = kWriteTotalConstant;
  m_hPort->SetCommTimeouts(timeouts);

  m_hPort->PurgeComm(PURGE_TXCLEAR | PURGE_RXCLEAR);
  m_hPort->SetupComm(kQueueSize, kQueueSize);
  m_hPort->SetCommMask(EV_RXCHAR | EV_ERR);
  uint32_t errors = 0;
  CommStatus status;
  m_hPort->ClearCommError(&errors, &status);
  return 0;
}

int CSerialPort::WritePort(const uint8_t* bytes, uint32_t count) {
  if (!m_hPort) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  uint32_t done = 0;
  if (!m_hPort->Write(bytes, count, &done)) return -1;
  return static_cast<int>(done);
}

int CSerialPort::ReadPort(uint8_t* buffer, uint32_t count) {
  if (!m_hPort) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  uint32_t done = 0;
  if (!m_hPort->Read(buffer, count, &done)) return -1;
  return static_cast<int>(done);
}

bool CSerialPort::WaitCommEvent(uint32_t* events) {
  if (!m_hPort) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return m_hPort->WaitCommEvent(events);
}

bool CSerialPort::ClearCommError(uint32_t* errors, CommStatus* status) {
  if (!m_hPort) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return m_hPort->ClearCommError(errors, status);
}

bool CSerialPort::SetCommMask(uint32_t mask) {
  if (!m_hPort) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return m_hPort->SetCommMask(mask);
}

void CSerialPort::ClosePort() {
  m_hPort.reset();
}

}  // namespace hu
