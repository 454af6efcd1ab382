#include "sim/mcu/mcu_simulator.h"
#include "sim/pty/peer_pty_server.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace hu {
namespace {

PeerPtyServer::Peer Serve(McuSimulator& mcu) {
  return [&mcu](const uint8_t* bytes, size_t n) { return mcu.Feed(bytes, n); };
}


// Reads from `fd` until `want` bytes came or `ms` passed.
std::vector<uint8_t> ReadFor(int fd, size_t want, int ms) {
  std::vector<uint8_t> got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    uint8_t buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

class PtyServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    struct termios raw;
    ASSERT_EQ(tcgetattr(slave, &raw), 0);
    cfmakeraw(&raw);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &raw), 0);
  }
  void TearDown() override {
    if (slave >= 0) close(slave);
    close(master);
  }
  int master = -1;
  int slave = -1;
};

TEST_F(PtyServerTest, AnswersOverThePseudoTerminalAndStops) {
  McuSimulator mcu;
  PeerPtyServer server(master, Serve(mcu));
  ASSERT_TRUE(server.Start());
  const std::vector<uint8_t> query = BuildXorFrame('A', 'O', {'D'});
  // In two pieces, as a slow line would bring them.
  ASSERT_EQ(write(slave, query.data(), 4), 4);
  ASSERT_EQ(write(slave, query.data() + 4, query.size() - 4), static_cast<ssize_t>(query.size() - 4));
  const std::string version = "V3900R20130101";
  const std::vector<uint8_t> expected = BuildXorFrame('A', 'O', std::vector<uint8_t>(version.begin(), version.end()));
  EXPECT_EQ(ReadFor(slave, expected.size(), 2000), expected);
  // The counters move just after the bytes are handed over: give them a moment.
  for (int i = 0; i < 200 && server.BytesOut() < expected.size(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(server.BytesIn(), query.size());
  EXPECT_EQ(server.BytesOut(), expected.size());
  const auto before = std::chrono::steady_clock::now();
  server.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(3000));
  EXPECT_FALSE(server.Running());
}

TEST_F(PtyServerTest, PacedAnswersTakeTheirLineTime) {
  McuSimConfig config;
  config.version = std::string(200, 'x');
  McuSimulator mcu(config);
  // 9600 baud: each byte takes about 1 ms; the answer is 209 bytes.
  PeerPtyServer server(master, Serve(mcu), 9600);
  ASSERT_TRUE(server.Start());
  const std::vector<uint8_t> query = BuildXorFrame('A', 'O', {'D'});
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(write(slave, query.data(), query.size()), static_cast<ssize_t>(query.size()));
  const std::vector<uint8_t> answer = ReadFor(slave, 209, 3000);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(answer.size(), 209u);
  EXPECT_GE(took, std::chrono::milliseconds(150));
  server.Stop();
}

TEST_F(PtyServerTest, SurvivesTheProgramGoingAway) {
  McuSimulator mcu;
  PeerPtyServer server(master, Serve(mcu));
  ASSERT_TRUE(server.Start());
  close(slave);
  slave = -1;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(server.Running());
  server.Stop();
  EXPECT_FALSE(server.Running());
}

}  // namespace
}  // namespace hu
