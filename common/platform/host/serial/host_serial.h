#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "common/platform/serial.h"

namespace hu {

// ClearCommError error bits as the device reports them.
enum : uint32_t {
  CE_RXOVER = 0x0001,
  CE_OVERRUN = 0x0002,
  CE_RXPARITY = 0x0004,
  CE_FRAME = 0x0008,
  CE_BREAK = 0x0010,
};

// The unit's serial ports over host terminals: a USB-serial cable or one
// side of a pseudo-terminal whose other side a simulator holds.
//
// - "COM4:" and "\$device\COM4" both name the port "COM4" of the port map.
// - A port is opened without sharing: while one handle is open (in any
//   process) another open fails with ERROR_ACCESS_DENIED (an flock on the
//   device, which unlike TIOCEXCL binds root as well).
// - The line is raw: every byte passes unchanged in both directions.
// - Read and Write follow the device's COMMTIMEOUTS; WaitCommEvent reports
//   EV_RXCHAR when bytes arrived since its last report and EV_ERR for line
//   errors the UART counts. SetCommMask from another thread ends a pending
//   WaitCommEvent at once (true, no events); PurgeComm with PURGE_RXABORT /
//   PURGE_TXABORT ends a pending Read / Write with what was done so far.
// - A peer that has gone (a closed pseudo-terminal side, an unplugged
//   cable) reads as a silent line: waits go on, slowly, without burning
//   the processor; writes fail with ERROR_WRITE_FAULT.
// - One thread may wait or read while others write and change the mask.
class HostSerial : public Serial {
 public:
  using PortMap = std::map<std::string, std::string>;

  // `ports` maps a port name ("COM4", case ignored, a trailing ':' allowed)
  // to a host device path: the [ports] section of unit.ini.
  explicit HostSerial(const PortMap& ports);

  // Null with ERROR_FILE_NOT_FOUND when the name is not a port of the map or
  // its device is missing, ERROR_DEV_NOT_EXIST when the device does not open
  // as a terminal, ERROR_ACCESS_DENIED when the port is held.
  std::unique_ptr<SerialPort> Open(const std::string& name) override;
  std::string LastOpenFailure() const override;

  // "COM4:" / "\$device\COM14" -> "COM4" / "COM14"; empty for any other name.
  static std::string PortKey(const std::string& name);

 private:
  std::unique_ptr<SerialPort> Refuse(uint32_t error, const std::string& reason);

  std::map<std::string, std::string> ports_;  // upper-case keys without ':'
  mutable std::mutex failureMutex_;
  std::string lastFailure_;
};

}  // namespace hu
