#include "common/platform/host/serial/host_serial.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/platform/errors.h"
#include "common/platform/host/serial/serial_line.h"

namespace hu {
namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

int64_t MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

double CpuSeconds() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// A pseudo-terminal whose slave side is the unit's COM4; the test plays the peer on the master.
class PtySerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(::grantpt(master_), 0);
    ASSERT_EQ(::unlockpt(master_), 0);
    slave_ = ::ptsname(master_);
    serial_ = std::make_unique<HostSerial>(HostSerial::PortMap{{"COM4", slave_}, {"com14:", slave_}});
    port_ = serial_->Open("COM4:");
    ASSERT_NE(port_, nullptr);
  }
  void TearDown() override {
    port_.reset();
    CloseMaster();
  }
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  void PeerWrite(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // What the peer receives within `ms`.
  std::vector<uint8_t> PeerRead(size_t want, int ms) {
    std::vector<uint8_t> got;
    Clock::time_point start = Clock::now();
    while (got.size() < want) {
      int left = ms - static_cast<int>(MsSince(start));
      if (left <= 0) break;
      struct pollfd p = {master_, POLLIN, 0};
      if (::poll(&p, 1, left) <= 0) break;
      uint8_t buf[256];
      ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }
  void SetTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) {
    CommTimeouts t;
    t.readIntervalTimeout = interval;
    t.readTotalTimeoutMultiplier = multiplier;
    t.readTotalTimeoutConstant = constant;
    ASSERT_TRUE(port_->SetCommTimeouts(t));
  }
  std::vector<uint8_t> PortRead(uint32_t size, bool* ok = nullptr) {
    std::vector<uint8_t> buf(size);
    uint32_t done = 0;
    bool r = port_->Read(buf.data(), size, &done);
    if (ok) *ok = r;
    buf.resize(done);
    return buf;
  }

  int master_ = -1;
  std::string slave_;
  std::unique_ptr<HostSerial> serial_;
  std::unique_ptr<SerialPort> port_;
};

TEST(HostSerialNames, PortKeyTakesBothDeviceForms) {
  EXPECT_EQ(HostSerial::PortKey("COM4:"), "COM4");
  EXPECT_EQ(HostSerial::PortKey("com4:"), "COM4");
  EXPECT_EQ(HostSerial::PortKey("\\$device\\COM14"), "COM14");
  EXPECT_EQ(HostSerial::PortKey("\\$DEVICE\\com12"), "COM12");
  EXPECT_EQ(HostSerial::PortKey("COM4"), "");
  EXPECT_EQ(HostSerial::PortKey("COMX:"), "");
  EXPECT_EQ(HostSerial::PortKey("COM:"), "");
  EXPECT_EQ(HostSerial::PortKey("CON1:"), "");
}

TEST(HostSerialNames, UnknownPortOrMissingDeviceIsNotFound) {
  HostSerial serial(HostSerial::PortMap{{"COM4", "/nonexistent/tty-hu-test"}});
  SetLastError(0);
  EXPECT_EQ(serial.Open("COM7:"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  SetLastError(0);
  EXPECT_EQ(serial.Open("COM4:"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  // A plain file is no serial device.
  HostSerial notTty(HostSerial::PortMap{{"COM5", "/proc/self/cmdline"}});
  EXPECT_EQ(notTty.Open("COM5:"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_DEV_NOT_EXIST);
}

TEST_F(PtySerialTest, BytesPassUnchangedBothWays) {
  const std::vector<uint8_t> bytes = {0x0D, 0x0A, 0x11, 0x13, 0x00, 0x03, 0x1A, 0x7F, 0xFF, 0x0D};
  SetTimeouts(50, 0, 2000);
  PeerWrite(bytes);
  EXPECT_EQ(PortRead(static_cast<uint32_t>(bytes.size())), bytes);

  uint32_t done = 0;
  ASSERT_TRUE(port_->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &done));
  EXPECT_EQ(done, bytes.size());
  // Exactly the bytes written: no CR/LF expansion, and no echo of what the peer sent.
  EXPECT_EQ(PeerRead(bytes.size() + 8, 200), bytes);
}

TEST_F(PtySerialTest, AnyBaudRateAndLineSettingsReadBack) {
  Dcb dcb;
  ASSERT_TRUE(port_->GetCommState(&dcb));
  dcb.baudRate = 625000;
  dcb.byteSize = 7;
  dcb.parity = EVENPARITY;
  dcb.stopBits = TWOSTOPBITS;
  ASSERT_TRUE(port_->SetCommState(dcb));  // modem lines of a pty cannot be set; that is no failure
  Dcb back;
  ASSERT_TRUE(port_->GetCommState(&back));
  EXPECT_EQ(back.baudRate, 625000u);
  EXPECT_EQ(back.byteSize, 7);
  EXPECT_EQ(back.parity, EVENPARITY);
  EXPECT_EQ(back.stopBits, TWOSTOPBITS);
  // The line itself runs at that rate.
  int line = ::open(slave_.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(line, 0);
  serial_line::LineSettings actual;
  EXPECT_EQ(serial_line::GetLine(line, &actual), 0);
  ::close(line);
  EXPECT_EQ(actual.baudRate, 625000u);
  EXPECT_EQ(actual.stopBits, TWOSTOPBITS);

  dcb.byteSize = 9;
  EXPECT_FALSE(port_->SetCommState(dcb));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  dcb.byteSize = 8;
  dcb.baudRate = 0;
  EXPECT_FALSE(port_->SetCommState(dcb));
  EXPECT_TRUE(port_->EscapeCommFunction(SETDTR));
  EXPECT_FALSE(port_->EscapeCommFunction(77));
}

TEST_F(PtySerialTest, ReadTimeoutsFollowTheDevice) {
  // MAXDWORD interval, no totals: at once with what is there.
  SetTimeouts(kMaxDword, 0, 0);
  Clock::time_point start = Clock::now();
  EXPECT_TRUE(PortRead(10).empty());
  EXPECT_LT(MsSince(start), 50);
  PeerWrite({1, 2});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(PortRead(10), (std::vector<uint8_t>{1, 2}));

  // Total time-out: constant + multiplier per byte, then what arrived.
  SetTimeouts(0, 10, 50);
  start = Clock::now();
  EXPECT_TRUE(PortRead(5).empty());
  EXPECT_GE(MsSince(start), 90);
  EXPECT_LT(MsSince(start), 1000);

  // Interval only: waits for the first byte, then returns at the first long gap.
  SetTimeouts(60, 0, 0);
  std::thread peer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    PeerWrite({7, 8, 9});
  });
  start = Clock::now();
  EXPECT_EQ(PortRead(100), (std::vector<uint8_t>{7, 8, 9}));
  EXPECT_GE(MsSince(start), 70);
  EXPECT_LT(MsSince(start), 2000);
  peer.join();

  // No time-outs: blocks until the whole count is there.
  SetTimeouts(0, 0, 0);
  std::thread slowPeer([&] {
    PeerWrite({1, 2});
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    PeerWrite({3, 4});
  });
  EXPECT_EQ(PortRead(4), (std::vector<uint8_t>{1, 2, 3, 4}));
  slowPeer.join();
}

TEST_F(PtySerialTest, PurgeRxAbortEndsABlockedRead) {
  SetTimeouts(0, 0, 0);
  auto reader = std::async(std::launch::async, [&] { return PortRead(8); });
  EXPECT_EQ(reader.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  ASSERT_TRUE(port_->PurgeComm(PURGE_RXABORT));
  ASSERT_EQ(reader.wait_for(std::chrono::seconds(2)), std::future_status::ready);
  EXPECT_TRUE(reader.get().empty());
}

TEST_F(PtySerialTest, WaitCommEventReportsArrivalsAndEndsOnMaskChange) {
  ASSERT_TRUE(port_->SetCommMask(EV_RXCHAR | EV_ERR));
  auto waitEvent = [&] {
    return std::async(std::launch::async, [&] {
      uint32_t events = 0xDEAD;
      bool ok = port_->WaitCommEvent(&events);
      return ok ? events : 0xFFFFFFFFu;
    });
  };

  auto first = waitEvent();
  EXPECT_EQ(first.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  // The product writes from another thread while its reader waits.
  uint8_t frame[] = {0x21, 0x23, 0x41};
  uint32_t done = 0;
  ASSERT_TRUE(port_->Write(frame, sizeof frame, &done));
  EXPECT_EQ(PeerRead(3, 500).size(), 3u);
  PeerWrite({1, 2, 3, 4, 5});
  ASSERT_EQ(first.wait_for(std::chrono::seconds(2)), std::future_status::ready);
  EXPECT_EQ(first.get(), EV_RXCHAR);

  uint32_t errors = 1;
  CommStatus status;
  ASSERT_TRUE(port_->ClearCommError(&errors, &status));
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(status.inQueue, 5u);

  // Bytes already announced and left unread do not announce themselves again.
  auto second = waitEvent();
  EXPECT_EQ(second.wait_for(std::chrono::milliseconds(80)), std::future_status::timeout);
  PeerWrite({6});
  ASSERT_EQ(second.wait_for(std::chrono::seconds(2)), std::future_status::ready);
  EXPECT_EQ(second.get(), EV_RXCHAR);
  SetTimeouts(kMaxDword, 0, 0);
  EXPECT_EQ(PortRead(64).size(), 6u);

  // Clearing the mask from another thread ends the wait at once, with no events.
  auto third = waitEvent();
  EXPECT_EQ(third.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  Clock::time_point start = Clock::now();
  ASSERT_TRUE(port_->SetCommMask(0));
  ASSERT_EQ(third.wait_for(std::chrono::seconds(2)), std::future_status::ready);
  EXPECT_EQ(third.get(), 0u);
  EXPECT_LT(MsSince(start), 500);
  // With no mask there is nothing to wait for.
  uint32_t events = 0;
  EXPECT_FALSE(port_->WaitCommEvent(&events));
}

TEST_F(PtySerialTest, PurgeClearsTheInputQueue) {
  PeerWrite({1, 2, 3});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  CommStatus status;
  ASSERT_TRUE(port_->ClearCommError(nullptr, &status));
  EXPECT_EQ(status.inQueue, 3u);
  ASSERT_TRUE(port_->PurgeComm(PURGE_RXCLEAR | PURGE_TXCLEAR));
  ASSERT_TRUE(port_->ClearCommError(nullptr, &status));
  EXPECT_EQ(status.inQueue, 0u);
}

TEST_F(PtySerialTest, OpenIsExclusiveAcrossHandlesAndProcesses) {
  SetLastError(0);
  EXPECT_EQ(serial_->Open("\\$device\\COM14"), nullptr);  // the same device under another name
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HostSerial other(HostSerial::PortMap{{"COM4", slave_}});
    bool refused = other.Open("COM4:") == nullptr && GetLastError() == ERROR_ACCESS_DENIED;
    ::_exit(refused ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  port_.reset();
  port_ = serial_->Open("COM4:");
  EXPECT_NE(port_, nullptr);
}

TEST_F(PtySerialTest, GonePeerDoesNotSpin) {
  ASSERT_TRUE(port_->SetCommMask(EV_RXCHAR));
  CloseMaster();
  auto waiter = std::async(std::launch::async, [&] {
    uint32_t events = 0xDEAD;
    return port_->WaitCommEvent(&events) ? events : 0xFFFFFFFFu;
  });
  double cpuStart = CpuSeconds();
  EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(400)), std::future_status::timeout);
  SetTimeouts(0, 0, 300);
  Clock::time_point start = Clock::now();
  EXPECT_TRUE(PortRead(4).empty());
  EXPECT_GE(MsSince(start), 250);
  EXPECT_LT(CpuSeconds() - cpuStart, 0.2);

  ASSERT_TRUE(port_->SetCommMask(0));
  ASSERT_EQ(waiter.wait_for(std::chrono::seconds(2)), std::future_status::ready);
  EXPECT_EQ(waiter.get(), 0u);
  uint8_t byte = 0x55;
  uint32_t done = 0;
  EXPECT_FALSE(port_->Write(&byte, 1, &done));
  EXPECT_EQ(GetLastError(), ERROR_WRITE_FAULT);
}

}  // namespace
}  // namespace hu
