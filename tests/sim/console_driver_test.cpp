#include <gtest/gtest.h>

#include "common/platform/errors.h"
#include "sysmend/packages/kit_layout.h"
#include "tests/sim/sim_test_unit.h"

namespace hu {
namespace {

using testio::MakeRequest;
using testio::Pattern;
using testio::SimUnit;

const char kUnitIni[] =
    "[unit]\n"
    "code_page = 936\n"
    "[versions]\n"
    "boot = 1a2b3c4d\n"
    "conf = 00a100000002\n";

class ConsoleDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(sim_.Install(false, {}, true, &error)) << error;
    devices_ = sim_.Devices();
    con_ = devices_->OpenDevice("CON1:");
    ASSERT_NE(con_, nullptr);
  }
  bool Control(uint32_t code, const void* in, uint32_t inSize) {
    uint32_t returned = 0;
    return con_->DeviceIoControl(code, in, inSize, nullptr, 0, &returned);
  }

  SimUnit sim_{kUnitIni};
  std::unique_ptr<HostDevices> devices_;
  std::unique_ptr<Device> con_;
};

TEST_F(ConsoleDriverTest, ImageWritesGoToTheFlash) {
  const std::string data = Pattern(600, 9);
  FlashRequest request = MakeRequest(sim_.KitFile("3A1F0C07654321.nb0", data), 40, 500);
  ASSERT_TRUE(Control(0x800020DC, &request, sizeof request));
  EXPECT_EQ(sim_.Read("flash/os.img"), data.substr(40, 500));
  EXPECT_NE(sim_.Read("unit.ini").find("os = 3A1F0C07654321"), std::string::npos);

  FlashRequest logo = MakeRequest(sim_.KitFile("logo3.bmp", "BM3"), 0, 3);
  ASSERT_TRUE(Control(0x800020E8, &logo, sizeof logo));
  EXPECT_EQ(sim_.Read("flash/logo3.img"), "BM3");

  // A request shorter than its block is refused rather than read past.
  SetLastError(0);
  EXPECT_FALSE(Control(0x800020D0, &request, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(Control(0x800020D0, &request, sizeof request - 1));
  EXPECT_NE(sim_.Read("flash/calls.log").find("CON1 DeviceIoControl code=0x800020D0 -> 0 no FlashRequest input"),
            std::string::npos);
  EXPECT_NE(sim_.Read("flash/calls.log").find("code=0x800020DC kind=os"), std::string::npos);
}

TEST_F(ConsoleDriverTest, EraseResetAndUnknownCodes) {
  scratch::WriteFile(sim_.unit() / "flash/apparea.img", "application");
  EXPECT_TRUE(Control(0x80002120, nullptr, 0));
  EXPECT_EQ(sim_.Read("flash/apparea.img"), "");
  EXPECT_TRUE(Control(0x80002124, nullptr, 0));
  SetLastError(0);
  EXPECT_FALSE(Control(0x80002128, nullptr, 0));
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  uint32_t returned = 0;
  EXPECT_FALSE(devices_->KernelIoControl(0x80002010, nullptr, 0, nullptr, 0, &returned));
  EXPECT_NE(sim_.Read("flash/calls.log").find("code=0x80002128 -> 0 unknown code"), std::string::npos);
}

TEST_F(ConsoleDriverTest, InstalledBootVersionAndConfigurationIdentity) {
  uint8_t info[48];
  uint32_t returned = 0;
  ASSERT_TRUE(con_->DeviceIoControl(0x80002100, nullptr, 0, info, sizeof info, &returned));
  EXPECT_FALSE(con_->DeviceIoControl(0x80002100, nullptr, 0, info, 40, &returned));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  uint8_t word[4] = {};
  ASSERT_TRUE(devices_->KernelIoControl(0x80002008, nullptr, 0, word, sizeof word, &returned));
  EXPECT_EQ(ReadLe32(word), 0x1a2b3c4du);
  EXPECT_EQ(ReadLe32(info + 40), 0x1a2b3c4du);

  // The packed 6-byte identity and the two-word 8-byte one.
  uint8_t packed[6] = {};
  ASSERT_TRUE(devices_->KernelIoControl(0x800020CC, nullptr, 0, packed, sizeof packed, &returned));
  EXPECT_EQ(returned, 6u);
  EXPECT_EQ(ReadLe16(packed), 0x00a1);
  EXPECT_EQ(ReadLe32(packed + 2), 2u);
  uint8_t words[8] = {};
  ASSERT_TRUE(devices_->KernelIoControl(0x800020CC, nullptr, 0, words, sizeof words, &returned));
  EXPECT_EQ(ReadLe32(words), 0x00a1u);
  EXPECT_EQ(ReadLe32(words + 4), 2u);
  EXPECT_TRUE(Control(0x800020CC, packed, sizeof packed));
  EXPECT_TRUE(Control(0x800020CC, words, sizeof words));
  EXPECT_FALSE(Control(0x800020CC, words, 5));

  // A boot version that is no hexadecimal word cannot be handed out as one.
  FlashRequest boot = MakeRequest(sim_.KitFile("V12X.bin", "boot"), 0, 4);
  ASSERT_TRUE(Control(0x800020D0, &boot, sizeof boot));
  EXPECT_FALSE(devices_->KernelIoControl(0x80002008, nullptr, 0, word, sizeof word, &returned));
}

}  // namespace
}  // namespace hu
