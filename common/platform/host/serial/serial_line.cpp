// No <termios.h> here: struct termios2 and its ioctls come from the kernel headers.
#include "common/platform/host/serial/serial_line.h"

#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace hu {
namespace serial_line {
namespace {

int Result(int rc) { return rc == 0 ? 0 : errno; }

// The standard rates have their own speed codes, which every tool (stty, the
// old termios calls) reads; the "other speed" form is for the rest only.
tcflag_t SpeedCode(uint32_t rate) {
  struct Code {
    uint32_t rate;
    tcflag_t code;
  };
  static const Code kCodes[] = {
      {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
      {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
      {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
      {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
      {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
      {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
  };
  for (const Code& c : kCodes) {
    if (c.rate == rate) return c.code;
  }
  return BOTHER;
}

}  // namespace

int MakeRaw(int fd) {
  struct termios2 t {};
  if (::ioctl(fd, TCGETS2, &t) != 0) return errno;
  // No echo, no line editing, no signals and no CR/LF or flow-control
  // translation: every byte travels as it is.
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                      IXON | IXOFF | IXANY | IUCLC | IMAXBEL | INPCK);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | HUPCL);
  t.c_cflag |= CREAD | CLOCAL;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  return Result(::ioctl(fd, TCSETS2, &t));
}

int SetLine(int fd, const LineSettings& s) {
  if (s.baudRate == 0 || s.byteSize < 5 || s.byteSize > 8 || s.parity > 4 || s.stopBits > 2) return EINVAL;
  struct termios2 t {};
  if (::ioctl(fd, TCGETS2, &t) != 0) return errno;
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  const tcflag_t code = SpeedCode(s.baudRate);
  t.c_cflag |= code | (code << IBSHIFT);
  t.c_ispeed = s.baudRate;
  t.c_ospeed = s.baudRate;
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
  static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[s.byteSize - 5];
  t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
  switch (s.parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  if (s.stopBits == 0) {
    t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
  } else {
    t.c_cflag |= CSTOPB;  // 1.5 stop bits exist only as 2 here
  }
  return Result(::ioctl(fd, TCSETS2, &t));
}

int GetLine(int fd, LineSettings* s) {
  struct termios2 t {};
  if (::ioctl(fd, TCGETS2, &t) != 0) return errno;
  s->baudRate = t.c_ospeed;
  switch (t.c_cflag & CSIZE) {
    case CS5: s->byteSize = 5; break;
    case CS6: s->byteSize = 6; break;
    case CS7: s->byteSize = 7; break;
    default: s->byteSize = 8; break;
  }
  if (!(t.c_cflag & PARENB)) {
    s->parity = 0;
  } else if (t.c_cflag & CMSPAR) {
    s->parity = (t.c_cflag & PARODD) ? 3 : 4;
  } else {
    s->parity = (t.c_cflag & PARODD) ? 1 : 2;
  }
  s->stopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
  return 0;
}

int Flush(int fd, bool input, bool output) {
  if (!input && !output) return 0;
  int which = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
  return Result(::ioctl(fd, TCFLSH, which));
}

int QueuedInput(int fd, uint32_t* count) {
  int n = 0;
  if (::ioctl(fd, FIONREAD, &n) != 0) return errno;
  *count = n > 0 ? static_cast<uint32_t>(n) : 0;
  return 0;
}

int QueuedOutput(int fd, uint32_t* count) {
  int n = 0;
  if (::ioctl(fd, TIOCOUTQ, &n) != 0) return errno;
  *count = n > 0 ? static_cast<uint32_t>(n) : 0;
  return 0;
}

int SetModemLines(int fd, bool dtr, bool on) {
  int bits = dtr ? TIOCM_DTR : TIOCM_RTS;
  return Result(::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits));
}

int SetBreak(int fd, bool on) { return Result(::ioctl(fd, on ? TIOCSBRK : TIOCCBRK)); }

int FlowOutput(int fd, bool suspend) { return Result(::ioctl(fd, TCXONC, suspend ? TCOOFF : TCOON)); }

int GetLineErrors(int fd, LineErrors* e) {
  struct serial_icounter_struct c {};
  if (::ioctl(fd, TIOCGICOUNT, &c) != 0) return errno;
  e->frame = static_cast<uint32_t>(c.frame);
  e->overrun = static_cast<uint32_t>(c.overrun);
  e->parity = static_cast<uint32_t>(c.parity);
  e->brk = static_cast<uint32_t>(c.brk);
  e->bufferOverrun = static_cast<uint32_t>(c.buf_overrun);
  return 0;
}

}  // namespace serial_line
}  // namespace hu
