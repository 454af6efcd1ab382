#include "sim/pty/peer_pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <string>

namespace hu {
namespace {
constexpr size_t kReadSize = 4096;
constexpr auto kHangupPause = std::chrono::milliseconds(20);
// Bytes under way are collected in batches: late by at most this, never early.
constexpr auto kBatchSlack = std::chrono::milliseconds(1);

using Clock = LinePacer::Clock;

struct timespec Timeout(Clock::time_point now, Clock::time_point until) {
  const auto left = std::max(until - now, Clock::duration::zero());
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
  struct timespec t {};
  t.tv_sec = static_cast<time_t>(ns / 1000000000);
  t.tv_nsec = static_cast<long>(ns % 1000000000);
  return t;
}
}  // namespace

PeerPtyServer::PeerPtyServer(int fd, Peer peer, uint32_t baudRate, double timeScale)
    : m_fd(fd),
      m_peer(std::move(peer)),
      m_toPeer(LinePacer::ByteTime(baudRate, timeScale)),
      m_toProgram(LinePacer::ByteTime(baudRate, timeScale)) {}

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

bool PeerPtyServer::WritePending() {
  size_t written = 0;
  bool alive = true;
  while (written < m_pending.size()) {
    const ssize_t n = write(m_fd, m_pending.data() + written, m_pending.size() - written);
    if (n > 0) {
      written += static_cast<size_t>(n);
      m_bytesOut.fetch_add(static_cast<uint64_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // A full terminal buffer keeps the rest for later; any other error loses it.
    alive = n < 0 && errno == EAGAIN;
    if (!alive) written = m_pending.size();
    break;
  }
  m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(written));
  return alive;
}

void PeerPtyServer::Run() {
  std::vector<uint8_t> buffer(kReadSize);
  std::vector<uint8_t> arrived;
  // While no program holds the other side the master reports a hang-up at
  // once; it is looked at again only after a pause.
  Clock::time_point hungUpUntil = Clock::time_point::min();
  while (!m_bStop.load()) {
    Clock::time_point now = Clock::now();
    arrived.clear();
    if (m_toPeer.TakePassed(now, &arrived) > 0) {
      const std::vector<uint8_t> answer = m_peer(arrived.data(), arrived.size());
      m_toProgram.Queue(answer.data(), answer.size(), now);
    }
    m_toProgram.TakePassed(now, &m_pending);
    if (!m_pending.empty() && !WritePending()) hungUpUntil = now + kHangupPause;

    const bool lineWatched = now >= hungUpUntil;
    Clock::time_point until = std::min(m_toPeer.NextLook(kBatchSlack), m_toProgram.NextLook(kBatchSlack));
    if (!lineWatched) until = std::min(until, hungUpUntil);
    short events = POLLIN;
    if (!m_pending.empty()) events |= POLLOUT;
    struct pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {lineWatched ? m_fd : -1, events, 0}};
    const struct timespec timeout = Timeout(now, until);
    const int ready = ppoll(fds, 2, until == Clock::time_point::max() ? nullptr : &timeout, nullptr);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (m_bStop.load() || (fds[0].revents & POLLIN)) break;
    if (fds[1].revents & POLLIN) {
      const ssize_t n = read(m_fd, buffer.data(), buffer.size());
      if (n > 0) {
        m_bytesIn.fetch_add(static_cast<uint64_t>(n));
        m_toPeer.Queue(buffer.data(), static_cast<size_t>(n), Clock::now());
        continue;
      }
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      // End of input or an error (EIO while no program holds the other side).
      hungUpUntil = Clock::now() + kHangupPause;
      continue;
    }
    if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) hungUpUntil = Clock::now() + kHangupPause;
  }
}

}  // namespace hu
