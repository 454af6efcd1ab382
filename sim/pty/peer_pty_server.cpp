#include "sim/pty/peer_pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>


namespace hu {
namespace {
constexpr size_t kReadSize = 4096;
constexpr int kHangupPauseMs = 20;
}  // namespace

PeerPtyServer::PeerPtyServer(int fd, Peer peer, uint32_t baudRate, double timeScale)
    : m_fd(fd), m_peer(std::move(peer)), m_dwBaud(baudRate), m_dScale(timeScale > 0 ? timeScale : 1.0) {}

PeerPtyServer::~PeerPtyServer() { Stop(); }

int PeerPtyServer::OpenPty(std::string* slavePath) {
  const int fd = posix_openpt(O_RDWR | O_NOCTTY);
  if (fd < 0) return -1;
  if (grantpt(fd) != 0 || unlockpt(fd) != 0) {
    close(fd);
    return -1;
  }
  char name[128];
  if (ptsname_r(fd, name, sizeof name) != 0) {
    close(fd);
    return -1;
  }
  struct termios tio {};
  if (tcgetattr(fd, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  if (slavePath != nullptr) *slavePath = name;
  return fd;
}

bool PeerPtyServer::Start() {
  if (m_thread.joinable() || !m_peer) return false;
  m_wakeFd = eventfd(0, EFD_NONBLOCK);
  if (m_wakeFd < 0) return false;
  m_bStop.store(false);
  try {
    m_thread = std::thread(&PeerPtyServer::Run, this);
  } catch (...) {
    close(m_wakeFd);
    m_wakeFd = -1;
    return false;
  }
  return true;
}

void PeerPtyServer::Stop() {
  if (!m_thread.joinable()) return;
  m_bStop.store(true);
  const uint64_t one = 1;
  ssize_t ignored = write(m_wakeFd, &one, sizeof one);
  (void)ignored;
  m_thread.join();
  close(m_wakeFd);
  m_wakeFd = -1;
}

bool PeerPtyServer::Pause(int ms) {
  struct pollfd wake = {m_wakeFd, POLLIN, 0};
  poll(&wake, 1, ms);
  return !m_bStop.load();
}

bool PeerPtyServer::WriteAll(const std::vector<uint8_t>& bytes) {
  using Clock = std::chrono::steady_clock;
  const auto byteTime = m_dwBaud == 0 ? Clock::duration::zero()
                                      : std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(10.0 * m_dScale / m_dwBaud));
  const auto start = Clock::now();
  size_t sent = 0;
  while (sent < bytes.size()) {
    if (m_bStop.load()) return false;
    size_t chunk = bytes.size() - sent;
    if (m_dwBaud != 0) {
      // Bytes go out no earlier than the line could carry them.
      const auto due = start + byteTime * static_cast<int64_t>(sent);
      const auto now = Clock::now();
      if (due > now) {
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
        if (wait > 0 && !Pause(static_cast<int>(wait))) return false;
      }
      chunk = 1;
    }
    const ssize_t n = write(m_fd, bytes.data() + sent, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        struct pollfd out[2] = {{m_fd, POLLOUT, 0}, {m_wakeFd, POLLIN, 0}};
        poll(out, 2, kHangupPauseMs);
        continue;
      }
      return false;
    }
    sent += static_cast<size_t>(n);
    m_bytesOut.fetch_add(static_cast<uint64_t>(n));
  }
  return true;
}

void PeerPtyServer::Run() {
  std::vector<uint8_t> buffer(kReadSize);
  while (!m_bStop.load()) {
    struct pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    const int ready = poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (m_bStop.load() || (fds[1].revents & POLLIN)) break;
    if (fds[0].revents & POLLIN) {
      const ssize_t n = read(m_fd, buffer.data(), buffer.size());
      if (n > 0) {
        m_bytesIn.fetch_add(static_cast<uint64_t>(n));
        const std::vector<uint8_t> answer = m_peer(buffer.data(), static_cast<size_t>(n));
        if (!answer.empty()) WriteAll(answer);
        continue;
      }
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      // End of input or an error (EIO while no program holds the other side).
      if (!Pause(kHangupPauseMs)) break;
      continue;
    }
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      if (!Pause(kHangupPauseMs)) break;
    }
  }
}

}  // namespace hu
