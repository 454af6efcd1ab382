#include "common/platform/host/serial/host_devices.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/platform/errors.h"
#include "common/platform/host/serial/unit_reboot.h"
#include "tests/host_io/temp_unit.h"

namespace hu {
namespace {

using testio::HostFileExists;
using testio::TempUnit;

HostDevicesConfig WithConsole(const std::string& driver = HU_SIM_CONSOLE_PATH) {
  HostDevicesConfig config;
  config.console = true;
  config.consoleDriver = driver;
  return config;
}

// Runs `body` in a child process and answers its exit status (-1 when it did not exit).
template <typename Body>
int InChild(Body body) {
  pid_t child = ::fork();
  if (child == 0) {
    body();
    ::_exit(99);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(HostDevices, ConsoleOnlyWhereTheUnitHasOne) {
  TempUnit unit("[versions]\nboot = 1a2b3c4d\n");
  HostDevices none(unit.dir(), HostDevicesConfig{});
  SetLastError(0);
  EXPECT_EQ(none.OpenDevice("CON1:"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_DEV_NOT_EXIST);
  EXPECT_EQ(none.OpenDevice("MFC1:"), nullptr);

  HostDevices noDriver(unit.dir(), WithConsole(unit / "missing.so"));
  EXPECT_EQ(noDriver.OpenDevice("CON1:"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_DEV_NOT_EXIST);

  HostDevicesConfig config = WithConsole();
  config.mfc = true;
  HostDevices devices(unit.dir(), config);
  EXPECT_NE(devices.OpenDevice("MFC1:"), nullptr);
  EXPECT_EQ(devices.OpenDevice("CON2:"), nullptr);
  auto con = devices.OpenDevice("con1:");
  ASSERT_NE(con, nullptr);
  uint8_t info[48] = {};
  uint32_t returned = 0;
  ASSERT_TRUE(con->DeviceIoControl(0x80002100, nullptr, 0, info, sizeof info, &returned));
  EXPECT_EQ(returned, 48u);
  EXPECT_EQ(info[40] | info[41] << 8 | info[42] << 16 | static_cast<uint32_t>(info[43]) << 24, 0x1a2b3c4du);
  SetLastError(0);
  EXPECT_FALSE(con->DeviceIoControl(0x80001234, nullptr, 0, nullptr, 0, &returned));
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);

  // Kernel codes other than the reboot are the driver's too.
  uint32_t word = 0;
  ASSERT_TRUE(devices.KernelIoControl(0x80002008, nullptr, 0, &word, sizeof word, &returned));
  EXPECT_EQ(word, 0x1a2b3c4du);
  EXPECT_FALSE(none.KernelIoControl(0x80002008, nullptr, 0, &word, sizeof word, &returned));
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
}

TEST(HostDevices, RebootIsRecordedAndEndsTheProcessAtOnce) {
  TempUnit unit;
  const std::string destructed = unit / "destructed";
  int status = InChild([&] {
    struct Witness {
      std::string path;
      ~Witness() { scratch::WriteFile(path, "ran"); }
    } witness{destructed};
    HostDevices devices(unit.dir(), HostDevicesConfig{});
    devices.SetCleanRebootFlag();
    devices.KernelIoControl(IOCTL_HAL_REBOOT_CODE, nullptr, 0, nullptr, 0, nullptr);
  });
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(HostFileExists(destructed));  // no destructor ran
  UnitReboot record;
  ASSERT_TRUE(ReadUnitReboot(unit.dir(), &record));
  EXPECT_NE(record.reason.find("IOCTL_HAL_REBOOT"), std::string::npos);
  EXPECT_TRUE(record.clean);
  EXPECT_FALSE(record.time.empty());
  EXPECT_FALSE(HostFileExists(unit / "run/clean_reboot"));  // the mark went into the record

  // A reboot nobody marked as clean.
  ASSERT_EQ(InChild([&] { RebootUnit(unit.dir(), "watchdog"); }), 0);
  ASSERT_TRUE(ReadUnitReboot(unit.dir(), &record));
  EXPECT_EQ(record.reason, "watchdog");
  EXPECT_FALSE(record.clean);
}

TEST(HostDevices, TouchCalibrateIsRecorded) {
  TempUnit unit;
  HostDevices devices(unit.dir(), HostDevicesConfig{});
  EXPECT_TRUE(devices.TouchCalibrate());
  EXPECT_NE(scratch::ReadFile(unit / "flash/calls.log").find("TouchCalibrate -> 1"), std::string::npos);
}

}  // namespace
}  // namespace hu
