#include "sim/pty/peer_pty_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/canbox/canbox_simulator.h"
#include "sim/pty/line_pacer.h"

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

using Ms = std::chrono::milliseconds;

std::vector<uint8_t> Take(LinePacer& line, LinePacer::Clock::time_point at) {
  std::vector<uint8_t> out;
  line.TakePassed(at, &out);
  return out;
}

// The line's arithmetic on a clock of our own: 1 ms a byte.
TEST(LinePacer, BytesPassOneAByteTimeAfterTheOneBefore) {
  const LinePacer::Clock::time_point t0{};
  LinePacer line(Ms(1));
  const uint8_t bytes[] = {1, 2, 3};
  line.Queue(bytes, 3, t0);
  EXPECT_TRUE(Take(line, t0 + std::chrono::microseconds(999)).empty());
  EXPECT_EQ(Take(line, t0 + Ms(1)), std::vector<uint8_t>({1}));
  // More handed over while two are under way: they queue behind them.
  const uint8_t more[] = {4, 5};
  line.Queue(more, 2, t0 + Ms(1) + std::chrono::microseconds(500));
  EXPECT_EQ(line.NextLook(Ms(0)), t0 + Ms(2));
  EXPECT_EQ(line.NextLook(Ms(10)), t0 + Ms(5));
  EXPECT_EQ(Take(line, t0 + Ms(4) + std::chrono::microseconds(999)), std::vector<uint8_t>({2, 3, 4}));
  EXPECT_EQ(Take(line, t0 + Ms(5)), std::vector<uint8_t>({5}));
  EXPECT_TRUE(line.Idle());
  EXPECT_EQ(line.NextLook(Ms(1)), LinePacer::Clock::time_point::max());
  // An idle line starts the next byte when it is handed over, not earlier.
  line.Queue(bytes, 1, t0 + Ms(100));
  EXPECT_TRUE(Take(line, t0 + Ms(100)).empty());
  EXPECT_EQ(Take(line, t0 + Ms(101)), std::vector<uint8_t>({1}));
}

TEST(LinePacer, RateAndUnpacedLine) {
  // 115200 baud, 10 bits a byte: 86.8 us; the time scale stretches it.
  EXPECT_EQ(std::chrono::duration_cast<std::chrono::microseconds>(LinePacer::ByteTime(115200, 1.0)).count(), 86);
  EXPECT_EQ(std::chrono::duration_cast<std::chrono::microseconds>(LinePacer::ByteTime(115200, 0.5)).count(), 43);
  EXPECT_EQ(LinePacer::ByteTime(0, 1.0), LinePacer::Clock::duration::zero());
  LinePacer line;
  const uint8_t bytes[] = {7, 8};
  const LinePacer::Clock::time_point t0{};
  line.Queue(bytes, 2, t0);
  EXPECT_EQ(line.NextLook(Ms(1)), t0);
  EXPECT_EQ(Take(line, t0), std::vector<uint8_t>({7, 8}));
}

// What the program sends reaches the peer no sooner than the line carries
// it: by each hand-over, at most elapsed / byte time bytes may have come.
// (A slow machine only makes them later, so the bound cannot flake.)
TEST(PeerPtyServer, PacesWhatTheProgramSends) {
  std::string slave;
  const int master = PeerPtyServer::OpenPty(&slave);
  ASSERT_GE(master, 0);
  const int fd = OpenSlave(slave);
  ASSERT_GE(fd, 0);
  std::mutex mutex;
  std::vector<std::pair<std::chrono::steady_clock::time_point, size_t>> feeds;
  std::vector<uint8_t> received;
  // 1000 baud: 10 ms a byte.
  PeerPtyServer server(
      master,
      [&](const uint8_t* b, size_t n) {
        std::lock_guard<std::mutex> lock(mutex);
        received.insert(received.end(), b, b + n);
        feeds.emplace_back(std::chrono::steady_clock::now(), received.size());
        return std::vector<uint8_t>();
      },
      1000, 1.0);
  ASSERT_TRUE(server.Start());
  const std::string sent = "0123456789abcdefghij";
  const auto before = std::chrono::steady_clock::now();
  ASSERT_EQ(write(fd, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
  for (int i = 0; i < 300; ++i) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (received.size() == sent.size()) break;
    }
    std::this_thread::sleep_for(Ms(10));
  }
  server.Stop();
  EXPECT_EQ(std::string(received.begin(), received.end()), sent);
  EXPECT_GT(feeds.size(), 1u) << "the bytes came in one piece";
  for (const auto& [at, count] : feeds) {
    EXPECT_GE(at - before, Ms(10) * static_cast<int64_t>(count)) << count << " bytes";
  }
  EXPECT_EQ(server.BytesIn(), sent.size());
  close(fd);
  close(master);
}

}  // namespace
}  // namespace hu
