#include "sysmend/packages/auk_unzip.h"

#include <gtest/gtest.h>

#include "common/platform/testing/capture_trace.h"
#include "common/platform/testing/manual_clock.h"
#include "common/platform/testing/mem_files.h"
#include "kit_builder.h"
#include "common/platform/testing/passthrough_code_page.h"
#include "sysmend/packages/incremental_packs.h"

namespace hu {
namespace {

using testkit::BuildPack;

constexpr char kPack[] = "\\SDMMC\\UpdateKitM\\app.auk";
constexpr char kTarget[] = "\\Storage\\Tmp";
constexpr uint64_t kMiB = 1 << 20;

class AukUnzipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // 3 members of 1000 bytes each.
    files.PutFile(kPack, BuildPack({{"\\kit\\", {{"\\kit\\a", std::string(1000, 'a')},
                                                 {"\\kit\\b", std::string(1000, 'b')},
                                                 {"\\kit\\c", std::string(1000, 'c')}}}}));
    auk.SetCallback([this](uint32_t code, const PackProgress& r, void*) {
      EXPECT_EQ(code, 0u);
      reports.push_back(r);
    }, nullptr);
  }
  MemFiles files;
  ManualClock clock;
  PassthroughCodePage codePage;
  CaptureTrace trace;
  CAukUnzip auk{files, clock, codePage};
  std::vector<PackProgress> reports;
};

TEST_F(AukUnzipTest, ClearsTheTargetAndExtracts) {
  files.PutFile("\\Storage\\Tmp\\old\\stale.txt", "stale");
  EXPECT_EQ(auk.Unzip(kPack, kTarget), 0u);
  EXPECT_EQ(files.FileBytes("\\Storage\\Tmp\\b"), std::string(1000, 'b'));
  EXPECT_FALSE(files.Exists("\\Storage\\Tmp\\old"));
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[2].percentage, 100u);
  EXPECT_TRUE(trace.Contains("\r\nCheckDiskRoom::file temp file len  =3000"));
}

TEST_F(AukUnzipTest, CapacityBelowNeedFailsBeforeAnythingIsDeleted) {
  files.PutFile("\\Storage\\Tmp\\keep.txt", "keep");
  files.SetDiskSpace("\\Storage", 10 * kMiB, kMiB + 2999);
  EXPECT_EQ(auk.Unzip(kPack, kTarget), 2u);
  EXPECT_EQ(files.FileBytes("\\Storage\\Tmp\\keep.txt"), "keep");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].percentage, 0u);
  EXPECT_EQ(reports[0].result, 2u);
}

TEST_F(AukUnzipTest, FreeSpaceMustCoverThePackPlusOneMiB) {
  files.SetDiskSpace("\\Storage", kMiB + 3000, 100 * kMiB);
  EXPECT_EQ(auk.Unzip(kPack, kTarget), 0u);
  files.SetDiskSpace("\\Storage", kMiB + 2999, 100 * kMiB);
  EXPECT_EQ(auk.Unzip(kPack, kTarget), 2u);
  EXPECT_TRUE(trace.Contains("\r\nCheckDiskRoom::disk is not enough"));
}

TEST_F(AukUnzipTest, FilesThatSurviveTheClearCountAsTakenSpace) {
  // A read-only file cannot be deleted; its bytes count as room already taken.
  files.PutFile("\\Storage\\Tmp\\ro.bin", std::string(5000, 'x'));
  files.SetAttributes("\\Storage\\Tmp\\ro.bin", FILE_ATTRIBUTE_READONLY);
  files.SetDiskSpace("\\Storage", kMiB + 3000 - 5000, 100 * kMiB);
  EXPECT_EQ(auk.Unzip(kPack, kTarget), 0u);
  EXPECT_EQ(auk.RunningTotal(), 5000u);
  EXPECT_TRUE(trace.Contains("Del File Failed=\\Storage\\Tmp\\ro.bin. Err = 5 \n"));
}

TEST_F(AukUnzipTest, LeftoversLargerThanTheNeedDoNotWrapAround) {
  files.PutFile("\\Storage\\Tmp\\ro.bin", std::string(2 * kMiB, 'x'));
  files.SetAttributes("\\Storage\\Tmp\\ro.bin", FILE_ATTRIBUTE_READONLY);
  files.SetDiskSpace("\\Storage", 0, 100 * kMiB);
  EXPECT_EQ(auk.Unzip(kPack, kTarget), 0u);
}

TEST_F(AukUnzipTest, FailuresAreReportedWithTheirCode) {
  EXPECT_EQ(auk.Unzip("", kTarget), 1u);
  files.PutFile("\\bad.auk", std::string(100, 'z'));
  EXPECT_EQ(auk.Unzip("\\bad.auk", kTarget), 5u);
  EXPECT_EQ(auk.Unzip("\\none.auk", kTarget), 3u);
  files.PutFile("\\Storage\\file", "a file where the folder should be");
  EXPECT_EQ(auk.Unzip(kPack, "\\Storage\\file\\sub"), 8u);
  files.FailNth(MemOp::DiskSpace, 1, 21);
  EXPECT_EQ(auk.Unzip(kPack, kTarget), 2u);
  EXPECT_TRUE(trace.Contains("\r\nGetDiskFreeSpaceEx strTemp = \\Storage\\Tmp bDisk = 0 Err = 21"));
  ASSERT_EQ(reports.size(), 5u);
  std::vector<uint32_t> codes;
  for (const auto& r : reports) codes.push_back(r.result);
  EXPECT_EQ(codes, (std::vector<uint32_t>{1, 5, 3, 8, 2}));
}

TEST_F(AukUnzipTest, PackInsideAContainer) {
  std::string pack = BuildPack({{"\\kit\\", {{"\\kit\\x", "x"}}}});
  files.PutFile("\\k.kvq", std::string(440, '\0') + pack);
  auk.SetOffset(440);
  EXPECT_EQ(auk.Unzip("\\k.kvq", kTarget), 0u);
  EXPECT_EQ(files.FileBytes("\\Storage\\Tmp\\x"), "x");
}

TEST(IncrementalPacksTest, EachPathComesFromTheFirstPackHoldingIt) {
  MemFiles files;
  PassthroughCodePage codePage;
  files.PutFile("\\u\\1.2.0.aukinc", BuildPack({{"\\kit\\", {{"\\kit\\shared.txt", "new"}}},
                                                 {"\\kit\\d\\", {{"\\kit\\d\\only_new", "n"}}}}));
  files.PutFile("\\u\\1.1.0.aukinc", BuildPack({{"\\kit\\", {{"\\kit\\SHARED.txt", "old"}, {"\\kit\\only_old", "o"}}},
                                                 {"\\Windows\\", {{"\\Windows\\w.dll", "w"}}}}));
  EXPECT_EQ(ExtractIncrementalPacks(files, codePage, {"\\u\\1.2.0.aukinc", "\\u\\1.1.0.aukinc"}, "\\T"), 0u);
  EXPECT_EQ(files.FileBytes("\\T\\shared.txt"), "new");
  EXPECT_EQ(files.FileBytes("\\T\\only_old"), "o");
  EXPECT_EQ(files.FileBytes("\\T\\d\\only_new"), "n");
  EXPECT_EQ(files.FileBytes("\\Windows\\w.dll"), "w");
  EXPECT_EQ(files.OpenFileCount(), 0);

  files.PutFile("\\u\\broken.aukinc", "not a pack");
  EXPECT_EQ(ExtractIncrementalPacks(files, codePage, {"\\u\\1.2.0.aukinc", "\\u\\broken.aukinc"}, "\\T2"), 1u);
  EXPECT_FALSE(files.Exists("\\T2"));
  files.PutFile("\\u\\evil.aukinc", BuildPack({{"\\kit\\", {{"\\kit\\..\\x", "x"}}}}));
  EXPECT_NE(ExtractIncrementalPacks(files, codePage, {"\\u\\evil.aukinc"}, "\\T3"), 0u);
  EXPECT_FALSE(files.Exists("\\x"));
}

}  // namespace
}  // namespace hu
