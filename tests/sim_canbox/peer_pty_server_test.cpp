#include "sim/pty/peer_pty_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sim/canbox/canbox_simulator.h"

namespace hu {
namespace {

int OpenSlave(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return -1;
  struct termios tio {};
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  tcsetattr(fd, TCSANOW, &tio);
  return fd;
}

std::vector<uint8_t> ReadAtLeast(int fd, size_t count, int timeoutMs) {
  std::vector<uint8_t> got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    uint8_t buf[256];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) got.insert(got.end(), buf, buf + n);
  }
  return got;
}

TEST(PeerPtyServer, ServesTheBoxOnAPseudoTerminal) {
  std::string slave;
  const int master = PeerPtyServer::OpenPty(&slave);
  ASSERT_GE(master, 0);
  CanBoxSimulator box;
  PeerPtyServer server(master, [&box](const uint8_t* b, size_t n) { return box.Feed(b, n); }, 115200, 0.01);
  ASSERT_TRUE(server.Start());
  EXPECT_FALSE(server.Start());
  const int fd = OpenSlave(slave);
  ASSERT_GE(fd, 0);
  const std::string request = "\r$Z2N0\r\n";
  // In two writes: the box takes any split.
  ASSERT_EQ(write(fd, request.data(), 3), 3);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(write(fd, request.data() + 3, request.size() - 3), static_cast<ssize_t>(request.size() - 3));
  const std::vector<uint8_t> reply = CanBoxSimulator::TypeReply(box.Type());
  EXPECT_EQ(ReadAtLeast(fd, reply.size(), 3000), reply);
  close(fd);
  server.Stop();
  EXPECT_FALSE(server.Running());
  EXPECT_EQ(server.BytesIn(), request.size());
  EXPECT_EQ(server.BytesOut(), reply.size());
  close(master);
}

TEST(PeerPtyServer, StopsInTheMiddleOfAPacedAnswer) {
  std::string slave;
  const int master = PeerPtyServer::OpenPty(&slave);
  ASSERT_GE(master, 0);
  const std::vector<uint8_t> answer(50, 'a');
  // 100 baud: a byte each 100 ms, 5 s for the whole answer.
  PeerPtyServer server(master, [&](const uint8_t*, size_t) { return answer; }, 100, 1.0);
  ASSERT_TRUE(server.Start());
  const int fd = OpenSlave(slave);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "x", 1), 1);
  const std::vector<uint8_t> first = ReadAtLeast(fd, 1, 3000);
  EXPECT_FALSE(first.empty());
  const auto start = std::chrono::steady_clock::now();
  server.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_LT(server.BytesOut(), answer.size());
  close(fd);
  close(master);
}

}  // namespace
}  // namespace hu
