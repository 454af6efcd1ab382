#include "mcuflash/config_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/platform/errors.h"
#include "common/platform/testing/capture_trace.h"
#include "common/platform/testing/mem_files.h"

namespace hu {
namespace {

const std::string kModule = "\\StorageCard\\Mcuflash\\Mcuflash.exe";
const std::string kFlag = "\\StorageCard\\Mcuflash\\McuflashFlag.cfg";

uint32_t Le32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b[at + i]);
  return v;
}

TEST(Crc32, KnownValuesAndContinuation) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(Crc32(abc, 3, 0), 0x352441C2u);
  EXPECT_EQ(Crc32(abc + 2, 1, Crc32(abc, 2, 0)), 0x352441C2u);
  EXPECT_EQ(Crc32(nullptr, 0, 0), 0u);
}

class ConfigFileTest : public ::testing::Test {
 protected:
  int ReadFlag() {
    int code = -7;
    return ReadFlagFile(files, kModule, &code) == 0 ? code : -1;
  }
  MemFiles files;
  CaptureTrace trace;
};

TEST_F(ConfigFileTest, FlagFileLayout) {
  ASSERT_EQ(WriteFlagFile(files, kModule, 1), 0);
  const std::string b = files.FileBytes(kFlag);
  ASSERT_EQ(b.size(), 229u);
  EXPECT_EQ(b.substr(0, 132), std::string(132, '\0'));
  EXPECT_EQ(Le32(b, 132), 1u);
  EXPECT_EQ(b.substr(136, 24), std::string("V\0001\000.\0000\000.\0000\000", 12) + std::string(12, '\0'));
  EXPECT_EQ(b.substr(160, 64), std::string("Mcuflash") + std::string(56, '\0'));
  EXPECT_EQ(Le32(b, 224), 0xA505DF1Bu);  // CRC-32 of the byte 0x01
  EXPECT_EQ(b[228], 1);
  EXPECT_EQ(ReadFlag(), 1);
  ASSERT_EQ(WriteFlagFile(files, kModule, 0), 0);  // rewritten, not appended
  EXPECT_EQ(files.FileBytes(kFlag).size(), 229u);
  EXPECT_EQ(ReadFlag(), 0);
}

TEST_F(ConfigFileTest, DamagedFlagFilesCountAsMissing) {
  EXPECT_EQ(ReadFlag(), -1);
  ASSERT_EQ(WriteFlagFile(files, kModule, 1), 0);
  const std::string good = files.FileBytes(kFlag);
  auto with = [&](size_t at, const std::string& bytes) {
    std::string b = good;
    b.replace(at, bytes.size(), bytes);
    return b;
  };
  const std::vector<std::string> bad = {
      good.substr(0, 227),                // header short
      good.substr(0, 228),                // data missing
      with(160, "m"),                     // other name
      with(140, "2"),                     // other version
      with(228, std::string(1, '\0')),    // wrong CRC
      with(224, std::string(4, '\0')),    // no CRC
      with(132, std::string("\x01\x01", 2)) + std::string(256, '\x01'),  // 257 bytes: beyond the buffer
  };
  for (size_t i = 0; i < bad.size(); ++i) {
    files.PutFile(kFlag, bad[i]);
    EXPECT_EQ(ReadFlag(), -1) << "case " << i;
  }
  files.PutFile(kFlag, good);
  files.FailNth(MemOp::Read, 2, ERROR_READ_FAULT);
  EXPECT_EQ(ReadFlag(), -1);
  EXPECT_EQ(ReadFlag(), 1);
}

TEST_F(ConfigFileTest, OtherFilesAndTheConfigFolder) {
  files.MakeDirs("\\StorageCard\\Mcuflash");
  ConfigFileHeader header;
  header.SetName(std::string(100, 'n'));  // cut to 63 bytes and its NUL
  header.SetVersion(u"V2.1");
  header.dwDataLength = 5;
  const uint8_t data[] = {9, 8, 7, 6, 5};
  ASSERT_EQ(WriteConfigFile(files, kModule, ".\\deep\\x.cfg", &header, data), 0);
  EXPECT_EQ(ResolveConfigPath(files, kModule, ".\\deep\\x.cfg"), "/StorageCard/AppConfig/deep\\x.cfg");
  EXPECT_EQ(files.FileBytes("\\StorageCard\\AppConfig\\deep\\x.cfg").size(), 233u);
  EXPECT_EQ(ResolveConfigPath(files, kModule, "\\a\\b.cfg"), "\\a\\b.cfg");

  ConfigFileHeader read;
  uint8_t buf[5] = {};
  const std::string name(63, 'n');
  ASSERT_EQ(ReadConfigFile(files, kModule, "./deep/x.cfg", &read, name, u"V2.1", buf, 5), 0);
  EXPECT_EQ(std::memcmp(buf, data, 5), 0);
  EXPECT_EQ(read.dwCrc, Crc32(data, 5, 0));
  EXPECT_EQ(ReadConfigFile(files, kModule, "./deep/x.cfg", &read, name, u"V2.1", buf, 4), -1);
  EXPECT_EQ(ReadConfigFile(files, kModule, "./deep/x.cfg", &read, name, u"V2.10", buf, 5), -1);
}

TEST_F(ConfigFileTest, WriteFailuresReportMinusOne) {
  ConfigFileHeader header;
  header.dwDataLength = 1;
  const uint8_t value = 1;
  files.FailNth(MemOp::Write, 1, ERROR_DISK_FULL);
  EXPECT_EQ(WriteConfigFile(files, kModule, kFlag, &header, &value), -1);
  files.FailNth(MemOp::CreateDirectory, 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(WriteConfigFile(files, kModule, "\\new\\x.cfg", &header, &value), -1);
  files.FailNth(MemOp::Seek, 2, ERROR_INVALID_PARAMETER);
  EXPECT_EQ(WriteConfigFile(files, kModule, kFlag, &header, &value), -1);
  EXPECT_EQ(WriteConfigFile(files, kModule, kFlag, &header, nullptr), -1);
  EXPECT_EQ(WriteConfigFile(files, kModule, kFlag, &header, &value), 0);
}

}  // namespace
}  // namespace hu
