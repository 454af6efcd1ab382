#include "sysmend/packages/dir_oper.h"

#include <gtest/gtest.h>

#include "common/platform/errors.h"
#include "common/platform/testing/capture_trace.h"
#include "common/platform/testing/manual_clock.h"
#include "common/platform/testing/mem_files.h"
#include "sysmend/packages/back_up_dir.h"
#include "sysmend/packages/delete_tree.h"

namespace hu {
namespace {

class DirOperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    files.PutFile("\\App\\a.exe", "aaaa");
    files.PutFile("\\App\\sub\\b.dat", "bb");
    files.PutFile("\\App\\sub\\deeper\\c.ini", "c");
    ops.SetCallback([this](const DirWalkProgress& r, void*) { walks.push_back(r); }, nullptr);
  }
  MemFiles files;
  ManualClock clock;
  CaptureTrace trace;
  CDirOper ops{files, clock};
  std::vector<DirWalkProgress> walks;
};

TEST_F(DirOperTest, CountsAndSizes) {
  EXPECT_EQ(ops.CountFiles("\\App", false), 3u);
  EXPECT_EQ(ops.CountFiles("\\App", true), 1u);
  EXPECT_EQ(ops.GetDirSize("\\App"), 7u);
  EXPECT_EQ(ops.CountFiles("\\Nowhere", false), 0u);
}

TEST_F(DirOperTest, CreateDirTreePrefixByPrefix) {
  files.MakeDirs("\\A");
  files.ResetCounts();
  EXPECT_TRUE(ops.CreateDirTree("\\A\\B\\C"));
  EXPECT_TRUE(files.IsDirectory("\\A\\B\\C"));
  EXPECT_EQ(files.Count(MemOp::CreateDirectory), 3u);  // \A (exists), \A\B, \A\B\C
  files.ResetCounts();
  EXPECT_TRUE(ops.CreateDirTree("\\A\\B\\C\\"));
  EXPECT_EQ(files.Count(MemOp::CreateDirectory), 0u);
  // The answer is that of the last attempt only.
  files.FailNth(MemOp::CreateDirectory, 2, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(ops.CreateDirTree("\\X\\Y\\Z"));
  EXPECT_TRUE(files.IsDirectory("\\X"));
  EXPECT_FALSE(files.Exists("\\X\\Y"));
}

TEST_F(DirOperTest, CopyDirCopiesEveryFileAndPausesAfterEach) {
  EXPECT_EQ(ops.CopyDir("\\App", "\\Bk\\App", true), 3u);
  EXPECT_EQ(files.FileBytes("\\Bk\\App\\sub\\deeper\\c.ini"), "c");
  EXPECT_EQ(files.FileBytes("\\Bk\\App\\a.exe"), "aaaa");
  ASSERT_EQ(walks.size(), 3u);
  EXPECT_EQ(walks[2].operation, 0u);
  EXPECT_EQ(walks[2].total, 3u);
  EXPECT_EQ(walks[2].handled, 3u);
  EXPECT_EQ(clock.SleptMs(), 15u);
}

TEST_F(DirOperTest, CopyDirOfEmptySourceIsOneAndCreatesNothing) {
  files.MakeDirs("\\Empty\\only_folders");
  EXPECT_EQ(ops.CopyDir("\\Empty", "\\Target", true), 1u);
  EXPECT_EQ(ops.CopyDir("\\Missing", "\\Target", true), 1u);
  EXPECT_FALSE(files.Exists("\\Target"));
  EXPECT_TRUE(walks.empty());
}

TEST_F(DirOperTest, CopyDirWithoutOverwriteKeepsExistingFilesButCountsThem) {
  files.PutFile("\\Bk\\a.exe", "mine");
  EXPECT_EQ(ops.CopyDir("\\App", "\\Bk", false), 3u);
  EXPECT_EQ(files.FileBytes("\\Bk\\a.exe"), "mine");
  EXPECT_EQ(files.FileBytes("\\Bk\\sub\\b.dat"), "bb");
  EXPECT_EQ(walks.size(), 3u);
}

TEST_F(DirOperTest, FailedCopyIsTriedOnceMore) {
  files.FailNth(MemOp::Copy, 1, ERROR_SHARING_VIOLATION);
  EXPECT_EQ(ops.CopyDir("\\App", "\\Bk", true), 3u);
  EXPECT_EQ(files.FileBytes("\\Bk\\a.exe"), "aaaa");
  files.FailNth(MemOp::Copy, 1, ERROR_DISK_FULL);
  files.FailNth(MemOp::Copy, 2, ERROR_DISK_FULL);
  EXPECT_EQ(ops.CopyDir("\\App", "\\Bk2", true), 3u);  // failures only cost the file
}

TEST_F(DirOperTest, DeleteDirRemovesTheTreeAndReports) {
  EXPECT_EQ(ops.DeleteDir("\\App"), 3u);
  EXPECT_FALSE(files.Exists("\\App"));
  ASSERT_EQ(walks.size(), 3u);
  EXPECT_EQ(walks[0].operation, 1u);
  EXPECT_EQ(walks[0].total, 3u);
  EXPECT_EQ(clock.SleepCalls(), 3u);
  files.MakeDirs("\\Bare");
  EXPECT_EQ(ops.DeleteDir("\\Bare"), 0u);
  EXPECT_FALSE(files.Exists("\\Bare"));
}

TEST_F(DirOperTest, DeleteTreeTreatsAHiddenFolderAsAFile) {
  files.PutFile("\\T\\plain\\x", "x");
  files.PutFile("\\T\\h\\y", "y");
  files.PutFile("\\T\\z", "z");
  files.SetAttributes("\\T\\h", FILE_ATTRIBUTE_HIDDEN);
  EXPECT_FALSE(DeleteTree(files, clock, "\\T"));
  EXPECT_TRUE(trace.Contains("Del File Failed=\\T\\h. Err = 5 \n"));
  EXPECT_TRUE(files.Exists("\\T\\h\\y"));
  EXPECT_FALSE(files.Exists("\\T\\plain"));
  EXPECT_FALSE(files.Exists("\\T\\z"));
  EXPECT_TRUE(DeleteTree(files, clock, "\\App"));
  EXPECT_FALSE(files.Exists("\\App"));
  EXPECT_GE(clock.SleepCalls(), 4u);
}

class BackUpDirTest : public ::testing::Test {
 protected:
  void Fill(int n) {
    for (int i = 0; i < n; ++i) files.PutFile("\\App\\f" + std::to_string(i), "12345");
  }
  std::vector<uint32_t> Percentages(uint32_t kind) {
    std::vector<uint32_t> out;
    for (const auto& r : reports) {
      if (r.first == kind) out.push_back(r.second.percentage);
    }
    return out;
  }
  MemFiles files;
  ManualClock clock;
  CaptureTrace trace;
  CBackUpDir backup{files, clock, "\\App", "\\Storage\\Bk"};
  std::vector<std::pair<uint32_t, BackUpProgress>> reports;
  void SetUp() override {
    backup.SetCallback([this](uint32_t kind, const BackUpProgress& r, void*) { reports.emplace_back(kind, r); },
                       nullptr);
  }
};

TEST_F(BackUpDirTest, ThreeFileBackupReports33And66And100) {
  Fill(3);
  EXPECT_EQ(backup.Backup(), 3u);
  EXPECT_EQ(Percentages(CBackUpDir::kBackup), (std::vector<uint32_t>{33, 66, 100}));
  EXPECT_EQ(files.FileBytes("\\Storage\\Bk\\f2"), "12345");
  // The next walk reports afresh, from its own start.
  EXPECT_EQ(backup.DeleteBackup(), 3u);
  EXPECT_EQ(Percentages(CBackUpDir::kDeleteBackup), (std::vector<uint32_t>{33, 66, 100}));
  EXPECT_EQ(reports.back().second.operation, 1u);
}

TEST_F(BackUpDirTest, RepeatedPercentagesAreReportedOnce) {
  Fill(250);
  EXPECT_EQ(backup.Backup(), 250u);
  auto p = Percentages(CBackUpDir::kBackup);
  ASSERT_EQ(p.size(), 100u);
  EXPECT_EQ(p.front(), 1u);
  EXPECT_EQ(p.back(), 100u);
}

TEST_F(BackUpDirTest, LeftRoomNeedsSizePlusHalfAMiB) {
  Fill(2);  // 10 bytes
  files.SetDiskSpace("\\Storage", 10 + 0x80000, 1 << 30);
  EXPECT_TRUE(backup.CheckLeftRoom());
  EXPECT_TRUE(trace.Contains("\r\nCheckDiskRoom::file temp file len  =10 \n"));
  files.SetDiskSpace("\\Storage", 10 + 0x80000 - 1, 1 << 30);
  EXPECT_FALSE(backup.CheckLeftRoom());
  EXPECT_FALSE(files.Exists("\\Storage\\Bk"));
  EXPECT_EQ(backup.Backup(), 0u);
  files.SetDiskSpace("\\Storage", 1ull << 32, 1ull << 40);  // high part set: room enough
  EXPECT_EQ(backup.Backup(), 2u);
}

TEST_F(BackUpDirTest, RestoreAndDeleteSource) {
  Fill(2);
  files.PutFile("\\Storage\\Bk\\f0", "saved");
  files.PutFile("\\Storage\\Bk\\f1", "saved");
  EXPECT_EQ(backup.Restore(false), 2u);
  EXPECT_EQ(files.FileBytes("\\App\\f0"), "12345");
  EXPECT_EQ(backup.Restore(true), 2u);
  EXPECT_EQ(files.FileBytes("\\App\\f0"), "saved");
  EXPECT_EQ(backup.Kind(), CBackUpDir::kRestore);
  EXPECT_EQ(backup.DeleteSource(), 2u);
  EXPECT_FALSE(files.Exists("\\App"));
}

}  // namespace
}  // namespace hu
