#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "sim/pty/line_pacer.h"

namespace hu {

// Serves a simulated peer on a host terminal: the master side of a
// pseudo-terminal (or any descriptor that reads and writes the line). A
// thread of its own reads what the program sends, hands it to the peer and
// writes the answer back. With a baud rate both directions run at line speed
// (10 bit times a byte, stretched by the time scale), as a real cable would:
// the peer gets the program's bytes no sooner than the line carries them,
// and the program the answer's bytes. Stop ends the thread promptly, also in
// the middle of a paced transfer. The descriptor stays the caller's.
class PeerPtyServer {
 public:
  using Peer = std::function<std::vector<uint8_t>(const uint8_t* bytes, size_t n)>;

  PeerPtyServer(int fd, Peer peer, uint32_t baudRate = 0, double timeScale = 1.0);
  ~PeerPtyServer();
  PeerPtyServer(const PeerPtyServer&) = delete;
  PeerPtyServer& operator=(const PeerPtyServer&) = delete;

  bool Start();
  void Stop();
  bool Running() const { return m_thread.joinable(); }

  // Bytes read from the program and bytes written back to it.
  uint64_t BytesIn() const { return m_bytesIn.load(); }
  uint64_t BytesOut() const { return m_bytesOut.load(); }

  // Opens a new pseudo-terminal: the master descriptor (raw, non-blocking),
  // or -1; `*slavePath` gets the path a program opens (/dev/pts/N).
  static int OpenPty(std::string* slavePath);

 private:
  void Run();
  // Writes what has reached the program's end; false when the line is gone.
  bool WritePending();

  int m_fd;
  Peer m_peer;
  LinePacer m_toPeer;
  LinePacer m_toProgram;
  std::vector<uint8_t> m_pending;  // passed to the program, not yet written
  int m_wakeFd = -1;
  std::atomic<bool> m_bStop{false};
  std::atomic<uint64_t> m_bytesIn{0};
  std::atomic<uint64_t> m_bytesOut{0};
  std::thread m_thread;
};

}  // namespace hu
