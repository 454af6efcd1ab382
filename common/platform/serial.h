#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace hu {

enum : uint8_t { NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2 };
enum : uint8_t { ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2 };
enum : uint32_t {
  EV_RXCHAR = 0x0001, EV_TXEMPTY = 0x0004, EV_ERR = 0x0080,
  PURGE_TXABORT = 0x01, PURGE_RXABORT = 0x02, PURGE_TXCLEAR = 0x04, PURGE_RXCLEAR = 0x08,
  SETRTS = 3, CLRRTS = 4, SETDTR = 5, CLRDTR = 6,
};

// The parts of the DCB the product sets.
struct Dcb {
  uint32_t baudRate = 9600;
  uint8_t byteSize = 8;
  uint8_t parity = NOPARITY;
  uint8_t stopBits = ONESTOPBIT;
  bool dtrControl = true;
  bool rtsControl = true;
};

// COMMTIMEOUTS with the device's read-interval semantics.
struct CommTimeouts {
  uint32_t readIntervalTimeout = 0;
  uint32_t readTotalTimeoutMultiplier = 0;
  uint32_t readTotalTimeoutConstant = 0;
  uint32_t writeTotalTimeoutMultiplier = 0;
  uint32_t writeTotalTimeoutConstant = 0;
};

struct CommStatus {
  uint32_t inQueue = 0;
  uint32_t outQueue = 0;
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;
  virtual bool GetCommState(Dcb* dcb) = 0;
  virtual bool SetCommState(const Dcb& dcb) = 0;
  virtual bool GetCommTimeouts(CommTimeouts* t) = 0;
  virtual bool SetCommTimeouts(const CommTimeouts& t) = 0;
  virtual bool SetupComm(uint32_t inQueue, uint32_t outQueue) = 0;
  virtual bool PurgeComm(uint32_t flags) = 0;
  virtual bool SetCommMask(uint32_t mask) = 0;  // 0 ends a pending WaitCommEvent
  virtual bool WaitCommEvent(uint32_t* events) = 0;
  virtual bool ClearCommError(uint32_t* errors, CommStatus* status) = 0;
  virtual bool EscapeCommFunction(uint32_t function) = 0;
  virtual bool Read(void* buffer, uint32_t size, uint32_t* done) = 0;
  virtual bool Write(const void* buffer, uint32_t size, uint32_t* done) = 0;
};

class Serial {
 public:
  virtual ~Serial() = default;
  // "COM4:" or "\$device\COM14"; null (ERROR_FILE_NOT_FOUND) when the unit has no such port.
  virtual std::unique_ptr<SerialPort> Open(const std::string& name) = 0;
  // Why the last Open of this process failed, for people: the device and
  // the system's reason ("/dev/ttyUSB0: Permission denied"); empty after a
  // successful one, or when the platform cannot tell.
  virtual std::string LastOpenFailure() const { return {}; }
};

}  // namespace hu
