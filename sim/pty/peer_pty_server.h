#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace hu {

// Serves a simulated peer on a host terminal: the master side of a
// pseudo-terminal (or any descriptor that reads and writes the line). A
// thread of its own reads what the program sends, hands it to the peer and
// writes the answer back, at line speed when a baud rate is given (10 bit
// times a byte, shortened by the time scale). Stop ends the thread promptly,
// also in the middle of a paced answer. The descriptor stays the caller's.
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

  uint64_t BytesIn() const { return m_bytesIn.load(); }
  uint64_t BytesOut() const { return m_bytesOut.load(); }

  // Opens a new pseudo-terminal: the master descriptor (raw, non-blocking),
  // or -1; `*slavePath` gets the path a program opens (/dev/pts/N).
  static int OpenPty(std::string* slavePath);

 private:
  void Run();
  bool WriteAll(const std::vector<uint8_t>& bytes);
  bool Pause(int ms);

  int m_fd;
  Peer m_peer;
  uint32_t m_dwBaud;
  double m_dScale;
  int m_wakeFd = -1;
  std::atomic<bool> m_bStop{false};
  std::atomic<uint64_t> m_bytesIn{0};
  std::atomic<uint64_t> m_bytesOut{0};
  std::thread m_thread;
};

}  // namespace hu
