#pragma once
// Line control of a serial device through the kernel's termios2 interface,
// which takes any baud rate (625000 included). Kept apart from <termios.h>:
// the kernel's and the C library's definitions of struct termios clash.
#include <cstdint>

namespace hu {
namespace serial_line {

struct LineSettings {
  uint32_t baudRate = 0;
  uint8_t byteSize = 8;   // 5..8
  uint8_t parity = 0;     // NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY (3), SPACEPARITY (4)
  uint8_t stopBits = 0;   // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
};

// Line error counters of a UART; absent on pseudo-terminals.
struct LineErrors {
  uint32_t frame = 0;
  uint32_t overrun = 0;
  uint32_t parity = 0;
  uint32_t brk = 0;
  uint32_t bufferOverrun = 0;
};

// Each returns 0 or the errno of the failed call.
int MakeRaw(int fd);
int SetLine(int fd, const LineSettings& settings);
int GetLine(int fd, LineSettings* settings);
int Flush(int fd, bool input, bool output);
int QueuedInput(int fd, uint32_t* count);
int QueuedOutput(int fd, uint32_t* count);
int SetModemLines(int fd, bool dtr, bool on);  // dtr false: RTS
int SetBreak(int fd, bool on);
int FlowOutput(int fd, bool suspend);
int GetLineErrors(int fd, LineErrors* errors);

}  // namespace serial_line
}  // namespace hu
