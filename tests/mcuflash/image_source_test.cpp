#include "mcuflash/image_source.h"

#include <gtest/gtest.h>

#include "common/platform/errors.h"
#include "common/platform/testing/capture_trace.h"
#include "common/platform/testing/mem_files.h"
#include "mcuflash/config_file.h"
#include "tests/support/s19_text.h"

namespace hu {
namespace {

using namespace testing_s19;

const std::string kModule = "\\StorageCard\\Mcuflash\\Mcuflash.exe";
const std::string kDir = "\\StorageCard\\Mcuflash\\";
const std::string kFlag = kDir + "McuflashFlag.cfg";

class ImageSourceTest : public ::testing::Test {
 protected:
  void PutImages() {
    files.PutFile(kDir + "A_3900R_128K.s19", TagRecord("STM8QX4B") + Image(200) + End());
    files.PutFile(kDir + "B_3900R_64K.s19", TagRecord("STM8QX4B") + Image(100) + End());
  }
  // The image chosen on PlatformType 8 for `version`.
  std::string Choose(const std::string& version) {
    CStm8ImageSource source(files, kModule, 8, nullptr);
    source.SetVersion(version);
    return source.Prepare() ? source.FileName() : "";
  }
  int FlagByte() {
    const std::string bytes = files.FileBytes(kFlag);
    return bytes.size() == 229 ? static_cast<uint8_t>(bytes[228]) : -1;
  }

  MemFiles files;
  CaptureTrace trace;
};

TEST_F(ImageSourceTest, Stm8SourceNeedsItsTag) {
  files.PutFile(kDir + "m.s19", TagRecord("xxSTM8QX4Byy") + Image(40) + End());
  CStm8ImageSource source(files, kModule, 3, nullptr);
  EXPECT_EQ(source.GetState(), eTranState_Stop);
  ASSERT_TRUE(source.Prepare());
  ASSERT_EQ(source.Open(), 0);
  EXPECT_EQ(source.GetState(), eTranState_Start);
  uint8_t block[128];
  EXPECT_EQ(source.BlockAddress(), 0xA000u);
  EXPECT_EQ(source.ReadBlock(block, 128), 40u);
  EXPECT_EQ(source.ReadBlock(block, 128), 0u);
  EXPECT_EQ(source.GetState(), eTranState_Start);  // the sender decides on the end
  source.SetState(eTranState_Data);
  source.Begin();
  EXPECT_EQ(source.Position(), 0u);
  EXPECT_EQ(source.GetState(), eTranState_Start);

  files.PutFile(kDir + "m.s19", TagRecord("STM8QX4") + Image(40) + End());
  CStm8ImageSource untagged(files, kModule, 3, nullptr);
  ASSERT_TRUE(untagged.Prepare());
  EXPECT_EQ(untagged.Open(), -1);
  EXPECT_EQ(untagged.GetState(), eTranState_Stop);
}

TEST_F(ImageSourceTest, LineSourceRefusesStm8ImagesAndEndsAfterTheLastLine) {
  files.PutFile(kDir + "m.s19", Header("STM8QX4B") + End());
  CLineImageSource stm8(files, kModule);
  ASSERT_TRUE(stm8.Prepare());
  EXPECT_EQ(stm8.Open(), -1);

  files.PutFile(kDir + "m.s19", Header("GD32") + Record(1, 0x8000, {1, 2}) + End());
  CLineImageSource source(files, kModule);
  ASSERT_TRUE(source.Prepare());
  ASSERT_EQ(source.Open(), 0);
  EXPECT_EQ(source.BlockAddress(), 0u);
  source.SetState(eTranState_Data);
  uint8_t line[128];
  for (int i = 0; i < 3; ++i) EXPECT_GT(source.ReadBlock(line, 128), 0u);
  EXPECT_EQ(source.GetState(), eTranState_Data);
  EXPECT_EQ(source.ReadBlock(line, 128), 0u);
  EXPECT_EQ(source.GetState(), eTranState_End);
}

TEST_F(ImageSourceTest, SizeChoiceByPlatformAndVersion) {
  PutImages();
  CStm8ImageSource other(files, kModule, 7, nullptr);
  other.SetVersion("3900R20130101");
  ASSERT_TRUE(other.Prepare());
  EXPECT_EQ(other.FileName(), "A_3900R_128K.s19");  // the first image, no flag
  EXPECT_FALSE(files.Exists(kFlag));

  EXPECT_EQ(Choose("3900R20121231"), "B_3900R_64K.s19");
  EXPECT_EQ(FlagByte(), 0);
  EXPECT_EQ(Choose("3900R20130101"), "A_3900R_128K.s19");
  EXPECT_EQ(FlagByte(), 1);
  EXPECT_EQ(Choose("V3900R20130101"), "B_3900R_64K.s19");  // no date read: year 0
  EXPECT_EQ(FlagByte(), 0);
}

TEST_F(ImageSourceTest, LoaderVersionUsesTheFlagFile) {
  PutImages();
  ASSERT_EQ(WriteFlagFile(files, kModule, 0), 0);
  EXPECT_EQ(Choose("STM8-IAP"), "B_3900R_64K.s19");
  std::string bytes = files.FileBytes(kFlag);
  bytes[228] = 1;  // CRC no longer matches: any image
  files.PutFile(kFlag, bytes);
  CStm8ImageSource source(files, kModule, 8, nullptr);
  source.SetVersion("IAP");
  ASSERT_TRUE(source.Prepare());
  EXPECT_EQ(source.Reader().SizeCode(), -1);
  EXPECT_EQ(source.FileName(), "A_3900R_128K.s19");
  EXPECT_EQ(files.FileBytes(kFlag), bytes);  // reading never rewrites it
}

TEST_F(ImageSourceTest, UnwritableFlagKeepsTheDateChoice) {
  PutImages();
  files.FailNth(MemOp::Create, 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(Choose("3900R20150601"), "A_3900R_128K.s19");
  EXPECT_FALSE(files.Exists(kFlag));
  files.DeleteFile(kDir + "A_3900R_128K.s19");
  EXPECT_EQ(Choose("3900R20150601"), "");  // no 128K image: nothing
}

}  // namespace
}  // namespace hu
