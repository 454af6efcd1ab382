#include <gtest/gtest.h>

#include "common/platform/errors.h"
#include "mcuflash/mcu_transfer.h"
#include "mcuflash/serial_port.h"
#include "sim/portmaster/port_master.h"
#include "tests/mcuflash_app/mcu_bench.h"

namespace hu {
namespace {

using namespace testing_mcu;

// The arbiter as another process would be: it handles a posted message at once.
class ArbiterSink : public MessageSink {
 public:
  void Deliver(const WindowMessage& msg) override {
    ++posts;
    last = msg;
    if (arbiter != nullptr) arbiter->HandleMessage(msg.message, msg.wParam, msg.lParam);
  }
  bool DeliverSync(const WindowMessage& msg, uint32_t, LRESULT* result) override {
    Deliver(msg);
    if (result != nullptr) *result = 0;
    return true;
  }
  CPortMaster* arbiter = nullptr;
  int posts = 0;
  WindowMessage last;
};

class HandOverTest : public ::testing::Test {
 protected:
  void StartArbiter(bool stubborn) {
    CPortMaster::Options options;
    options.stubborn = stubborn;
    arbiter = std::make_unique<CPortMaster>(bench.windows, &bench.serial, options);
    sink.arbiter = arbiter.get();
    ASSERT_TRUE(arbiter->Start(&sink));
    ASSERT_TRUE(arbiter->HoldsPort());
    arbiterPid = bench.processes.AddProcess("\\DRAVIK\\$kvr$\\App\\portmaster.EXE");
  }
  std::unique_ptr<CMcuTransfer> MakeTransfer() {
    return std::make_unique<CMcuTransfer>(bench.Services(), bench.desktop.loop(), 0);
  }
  size_t Attempts() const { return bench.serial.OpenAttempts().size(); }

  McuBench bench;
  ArbiterSink sink;
  std::unique_ptr<CPortMaster> arbiter;
  uint32_t arbiterPid = 0;
};

TEST_F(HandOverTest, CooperativeArbiterLetsGoAndGetsThePortBack) {
  StartArbiter(false);
  const size_t before = Attempts();
  {
    std::unique_ptr<CMcuTransfer> transfer = MakeTransfer();
    EXPECT_TRUE(transfer->AcquirePort(4, 115200));
    EXPECT_EQ(sink.posts, 1);
    EXPECT_EQ(sink.last.wParam, 4u);
    EXPECT_EQ(sink.last.lParam, 0);
    EXPECT_EQ(sink.last.message, bench.windows.RegisterWindowMessage("WM_MCU_COM_OP"));
    EXPECT_EQ(Attempts() - before, 1u);
    EXPECT_EQ(bench.clock.SleptMs(), 0u);
    EXPECT_FALSE(arbiter->HoldsPort());
  }
  // Destroying the transfer closes the port and tells the arbiter.
  EXPECT_EQ(sink.posts, 2);
  EXPECT_EQ(sink.last.lParam, 1);
  EXPECT_TRUE(arbiter->HoldsPort());
  EXPECT_TRUE(bench.processes.Terminations().empty());
}

TEST_F(HandOverTest, StubbornArbiterIsAskedOnceWaitedForAndTerminated) {
  StartArbiter(true);
  const size_t before = Attempts();
  std::unique_ptr<CMcuTransfer> transfer = MakeTransfer();
  EXPECT_FALSE(transfer->AcquirePort(4, 115200));
  EXPECT_EQ(sink.posts, 1);
  EXPECT_EQ(Attempts() - before, 7u);
  EXPECT_EQ(bench.clock.SleptMs(), 6000u);  // attempts at 0, 1, ... 6 s
  EXPECT_EQ(arbiter->ReleaseRequests(), 1u);
  const auto terminations = bench.processes.Terminations();
  ASSERT_EQ(terminations.size(), 1u);
  EXPECT_EQ(terminations[0].pid, arbiterPid);
  EXPECT_EQ(terminations[0].exitCode, 0u);
}

TEST_F(HandOverTest, InitialisationTakesThePortOnceTheArbiterIsGone) {
  StartArbiter(true);
  bench.SetPlatform("MSTAR786", 19);
  bench.files.PutFile(std::string(kDir) + "mcu.s19", Stm8Image(Pattern(64)));
  // Terminating the arbiter frees its port, as ending a process does.
  bench.processes.OnTerminate([this](const FakeProcesses::Termination&) { arbiter->Stop(); });
  std::unique_ptr<CMcuTransfer> transfer = MakeTransfer();
  transfer->Initialise();
  EXPECT_NE(transfer->PortHandle(), nullptr);
  EXPECT_TRUE(bench.com4.IsOpen());
  EXPECT_EQ(bench.processes.CountRunning(CMcuTransfer::kArbiterPath), 0u);
  transfer.reset();
}

TEST_F(HandOverTest, WithoutArbiterNothingIsPostedAndTheAttemptsStartAtOnce) {
  std::unique_ptr<SerialPort> holder = bench.serial.Open("COM4:");
  const size_t before = Attempts();
  std::unique_ptr<CMcuTransfer> transfer = MakeTransfer();
  EXPECT_FALSE(transfer->AcquirePort(4, 115200));
  EXPECT_EQ(sink.posts, 0);
  EXPECT_EQ(Attempts() - before, 7u);
  EXPECT_TRUE(bench.processes.Terminations().empty());
  holder.reset();
  EXPECT_TRUE(transfer->AcquirePort(4, 115200));
  EXPECT_EQ(bench.clock.SleptMs(), 6000u);  // the second time, the first attempt succeeded
}

TEST_F(HandOverTest, KillProcessByPathEndsTheFirstMatchOnly) {
  bench.processes.AddProcess("\\dravik\\$KVR$\\App\\Appvisor.exe");
  const uint32_t first = bench.processes.AddProcess("\\Dravik\\$KVR$\\APP\\PORTMASTER.exe");
  bench.processes.AddProcess("\\dravik\\$KVR$\\App\\Portmaster.exe");
  std::unique_ptr<CMcuTransfer> transfer = MakeTransfer();
  EXPECT_TRUE(transfer->KillProcessByPath(CMcuTransfer::kArbiterPath));
  const auto terminations = bench.processes.Terminations();
  ASSERT_EQ(terminations.size(), 1u);
  EXPECT_EQ(terminations[0].pid, first);
  EXPECT_EQ(bench.processes.CountRunning(CMcuTransfer::kArbiterPath), 1u);
  EXPECT_TRUE(transfer->KillProcessByPath("\\nowhere\\none.exe"));
  bench.processes.FailTerminate(1, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(transfer->KillProcessByPath(CMcuTransfer::kArbiterPath));
  EXPECT_EQ(bench.processes.CountRunning(CMcuTransfer::kArbiterPath), 1u);
}

TEST_F(HandOverTest, PortNamesAndOpenErrors) {
  EXPECT_EQ(CSerialPort::PortName(4), "COM4:");
  EXPECT_EQ(CSerialPort::PortName(9), "COM9:");
  EXPECT_EQ(CSerialPort::PortName(12), "\\$device\\COM12");
  bench.serial.AddPort("COM12");
  CSerialPort port(&bench.serial);
  EXPECT_EQ(port.OpenPort(12, 19200), 0u);
  EXPECT_EQ(bench.serial.OpenAttempts().back(), "\\$device\\COM12");
  EXPECT_EQ(bench.serial.Line("COM12")->LastDcb().baudRate, 19200u);
  EXPECT_EQ(port.OpenPort(7, 115200), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.WritePort(reinterpret_cast<const uint8_t*>("x"), 1), -1);
  CSerialPort none(nullptr);
  EXPECT_EQ(none.OpenPort(4, 115200), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
}  // namespace hu
