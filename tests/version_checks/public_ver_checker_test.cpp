#include "sysmend/packages/public_ver_checker.h"

#include <gtest/gtest.h>

#include "common/platform/testing/capture_trace.h"
#include "common/platform/testing/mem_files.h"

namespace hu {
namespace {

TEST(VersionDecoding, OsTextOfFourteenCharacters) {
  OsVerInfo info;
  ASSERT_TRUE(CPublicVerChecker::DecodeOsVer("3A1F0C01234567", &info));
  const uint8_t expected[17] = {3, 10, 0, 0, 1, 1, 3, 1, 0, 0, 6, 0, 0, 18, 52, 86, 7};
  for (int i = 0; i < 17; ++i) EXPECT_EQ(info.bytes[i], expected[i]) << "byte " << i;
}

TEST(VersionDecoding, LengthRules) {
  CaptureTrace trace;
  OsVerInfo info;
  // 13 characters: the 6-digit head cannot supply byte 11.
  EXPECT_FALSE(CPublicVerChecker::DecodeOsVer("3A1F0C1234567", &info));
  EXPECT_TRUE(trace.Contains("CPublicVerChecker::GetInfo nVerOffset + nByteCnts = 7  wcslen(lpVerInfo) = 6"));
  // 12 characters: bytes 10..12 are not decoded at all.
  OsVerInfo twelve;
  ASSERT_TRUE(CPublicVerChecker::DecodeOsVer("3A1FF1234567", &twelve));
  EXPECT_EQ(twelve.byOS3G(), 0);
  EXPECT_EQ(twelve.byOSCMMB(), 0);
  EXPECT_FALSE(CPublicVerChecker::DecodeOsVer("123456", &info));
  BootVerInfo boot;
  EXPECT_FALSE(CPublicVerChecker::DecodeBootVer("ABC", &boot));
}

TEST(VersionDecoding, GetInfoParsesLikeScanf) {
  uint8_t v = 0xEE;
  // A non-hexadecimal digit parses as nothing: the field is 0, not a failure.
  ASSERT_TRUE(CPublicVerChecker::GetInfo("Z", 0, 4, &v));
  EXPECT_EQ(v, 0);
  ASSERT_TRUE(CPublicVerChecker::GetInfo("9F", 4, 4, &v));
  EXPECT_EQ(v, 15);
  ASSERT_TRUE(CPublicVerChecker::GetInfo("9F", 0, 8, &v));
  EXPECT_EQ(v, 0x9F);
  EXPECT_FALSE(CPublicVerChecker::GetInfo("9F", 8, 4, &v));
}

class VerChecks : public ::testing::Test {
 protected:
  MemFiles files;
  CPublicVerChecker checker{files};
  CaptureTrace trace;
};

TEST_F(VerChecks, OsVerdicts) {
  const std::string local = "3A1F0C01234567";
  EXPECT_EQ(checker.CheckOSVer(local, local, false), 0u);
  EXPECT_EQ(checker.CheckOSVer(local, "3a1f0c01234567", true), 12u);
  EXPECT_EQ(checker.CheckOSVer(local, "4A1F0C01234567", false), 1u);  // cpu
  EXPECT_EQ(checker.CheckOSVer(local, "3B1F0C01234567", false), 2u);  // machine
  EXPECT_EQ(checker.CheckOSVer(local, "3A170C01234567", false), 3u);  // GPS bit 12
  EXPECT_EQ(checker.CheckOSVer(local, "3A1F8C01234567", false), 4u);  // flash
  EXPECT_EQ(checker.CheckOSVer(local, "3A1F0E01234567", false), 5u);  // 3G
  EXPECT_EQ(checker.CheckOSVer(local, "3A1F0D01234567", false), 6u);  // CMMB bit 23
  // Tail digits are decoded but never compared.
  EXPECT_EQ(checker.CheckOSVer(local, "3A1F0C07654321", false), 0u);
  EXPECT_EQ(checker.CheckOSVer(local, "short", false), 17u);
  EXPECT_TRUE(trace.Contains("CPublicVerChecker::CheckOSVer osVerLocal.byOSCMMB = 0 osVerUpdate.byOSCMMB = 4"));
}

TEST_F(VerChecks, BootVerdicts) {
  const std::string local = "12345678";
  EXPECT_EQ(checker.CheckBootVer(local, local, true), 13u);
  EXPECT_EQ(checker.CheckBootVer(local, local, false), 0u);
  EXPECT_EQ(checker.CheckBootVer(local, "22345678", false), 7u);
  EXPECT_EQ(checker.CheckBootVer(local, "13345678", false), 8u);
  EXPECT_EQ(checker.CheckBootVer(local, "12385678", false), 9u);  // bits 12..13
  EXPECT_EQ(checker.CheckBootVer(local, "ABC", false), 17u);
}

TEST_F(VerChecks, AppVerdictNeedsTheUpdatedFlag) {
  EXPECT_EQ(checker.CheckAppVer("V1.0", "v1.0", true), 0u);
  files.PutFile("\\Dravik\\$KVR$\\KitUpdated.flg", "app Update Flag!");
  EXPECT_EQ(checker.CheckAppVer("V1.0", "v1.0", true), 14u);
  EXPECT_EQ(checker.CheckAppVer("V1.0", "v1.0", false), 0u);
  EXPECT_EQ(checker.CheckAppVer("V1.0", "V1.1", true), 0u);
}

TEST_F(VerChecks, KvrVerdicts) {
  EXPECT_EQ(checker.CheckKvrVer("00A100000001", "00a100000002", true), 0u);
  EXPECT_EQ(checker.CheckKvrVer("00A100000001", "00a100000001", true), 18u);
  EXPECT_EQ(checker.CheckKvrVer("00A100000001", "00a100000001", false), 0u);
  EXPECT_EQ(checker.CheckKvrVer("00A100000001", "00B100000001", false), 19u);
  // Short texts are compared whole, never read before their start.
  EXPECT_EQ(checker.CheckKvrVer("00A1", "00A1", true), 18u);
  EXPECT_TRUE(checker.CheckResVer("Skin1", "SKIN1"));
  EXPECT_FALSE(checker.CheckResVer("Skin1", "Skin2"));
}

TEST(VerdictTexts, TableEnds) {
  EXPECT_STREQ(VerdictText(0), "is valid !");
  EXPECT_STREQ(VerdictText(20), "is unknow, Getting terminal version failed !");
  EXPECT_STREQ(VerdictText(23), "is invalid, os and app don't match!");
  EXPECT_STREQ(VerdictText(24), "");
}

TEST(SortPacks, HighestVersionFirst) {
  std::vector<std::string> paths = {"\\S\\UpdateKitM\\1.2.10.aukinc", "\\S\\UpdateKitM\\1.10.2.aukinc",
                                    "\\S\\UpdateKitM\\1.2.9.aukinc"};
  SortPacksByVersion(paths);
  EXPECT_EQ(paths[0], "\\S\\UpdateKitM\\1.10.2.aukinc");
  EXPECT_EQ(paths[1], "\\S\\UpdateKitM\\1.2.10.aukinc");
  EXPECT_EQ(paths[2], "\\S\\UpdateKitM\\1.2.9.aukinc");
  std::vector<std::string> odd = {"\\a\\x.aukinc", "\\a\\99999999.1.1.aukinc", "\\a\\0.0.1.aukinc"};
  SortPacksByVersion(odd);
  EXPECT_EQ(odd[0], "\\a\\99999999.1.1.aukinc");
  EXPECT_EQ(odd[2], "\\a\\x.aukinc");
}

}  // namespace
}  // namespace hu
