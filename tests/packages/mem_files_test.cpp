#include "common/platform/testing/mem_files.h"

#include <gtest/gtest.h>

#include "common/platform/errors.h"

namespace hu {
namespace {

std::vector<std::string> Find(MemFiles& files, const std::string& pattern) {
  std::vector<std::string> names;
  FindData fd;
  auto h = files.FindFirst(pattern, &fd);
  if (!h) return names;
  do names.push_back(fd.name);
  while (h->Next(&fd));
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ERROR_NO_MORE_FILES));
  return names;
}

TEST(MemFilesTest, NamesIgnoreCaseAndKeepTheFirstSpelling) {
  MemFiles files;
  files.PutFile("\\Dravik\\$KVR$\\App\\AppVerInfo.cfg", "v");
  EXPECT_EQ(files.FileBytes("\\dravik\\$kvr$\\app\\APPVERINFO.CFG"), "v");
  auto f = files.Open("\\DRAVIK\\$KVR$\\APP\\new.TXT", FileAccess::Write, FileCreate::CreateNew);
  ASSERT_TRUE(f);
  EXPECT_EQ(Find(files, "\\dravik\\*.*"), (std::vector<std::string>{"$KVR$"}));
  EXPECT_EQ(Find(files, "\\Dravik\\$KVR$\\App\\*.cfg"), (std::vector<std::string>{"AppVerInfo.cfg"}));
  EXPECT_EQ(Find(files, "\\Dravik\\$KVR$\\App\\n?w.*"), (std::vector<std::string>{"new.TXT"}));
  EXPECT_EQ(files.GetAttributes("\\dravik"), static_cast<uint32_t>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_TRUE(files.SetAttributes("\\dravik", FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(files.GetAttributes("\\DRAVIK"), static_cast<uint32_t>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
}

TEST(MemFilesTest, DeviceErrorCodes) {
  MemFiles files;
  files.PutFile("\\a\\f.txt", "x");
  EXPECT_FALSE(files.Open("\\a\\none.txt", FileAccess::Read, FileCreate::OpenExisting));
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(files.Open("\\b\\none.txt", FileAccess::Read, FileCreate::OpenExisting));
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(files.Open("\\a\\f.txt", FileAccess::Write, FileCreate::CreateNew));
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ERROR_FILE_EXISTS));
  EXPECT_FALSE(files.RemoveDirectory("\\a"));
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ERROR_DIR_NOT_EMPTY));
  EXPECT_FALSE(files.CreateDirectory("\\x\\y"));
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(files.CopyFile("\\a\\f.txt", "\\a\\F.TXT", false));  // onto itself
  EXPECT_TRUE(files.CopyFile("\\a\\f.txt", "\\a\\g.txt", true));
  EXPECT_FALSE(files.CopyFile("\\a\\f.txt", "\\a\\g.txt", true));
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ERROR_FILE_EXISTS));
  EXPECT_FALSE(files.MoveFile("\\a\\f.txt", "\\a\\g.txt"));
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(files.MoveFile("\\a", "\\a\\inside"));
  EXPECT_TRUE(files.MoveFile("\\a", "\\moved"));
  EXPECT_EQ(files.FileBytes("\\moved\\g.txt"), "x");
  EXPECT_FALSE(files.DeleteFile("\\moved"));
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(files.FindFirst("\\moved\\*.zzz", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(files.FindFirst("\\nope\\*.*", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));
}

TEST(MemFilesTest, FileReadWriteSeek) {
  MemFiles files;
  files.MakeDirs("\\d");
  auto f = files.Open("\\d\\f", FileAccess::ReadWrite, FileCreate::CreateAlways);
  ASSERT_TRUE(f);
  uint32_t done = 0;
  ASSERT_TRUE(f->Write("hello", 5, &done));
  ASSERT_TRUE(f->Seek(8, SeekFrom::Begin));
  ASSERT_TRUE(f->Write("!", 1, &done));
  EXPECT_EQ(f->Size(), 9u);
  uint64_t pos = 0;
  ASSERT_TRUE(f->Seek(-9, SeekFrom::End, &pos));
  EXPECT_EQ(pos, 0u);
  char buf[16];
  ASSERT_TRUE(f->Read(buf, sizeof buf, &done));
  EXPECT_EQ(std::string(buf, done), std::string("hello\0\0\0!", 9));
  ASSERT_TRUE(f->Read(buf, sizeof buf, &done));
  EXPECT_EQ(done, 0u);
  EXPECT_FALSE(f->Seek(-1, SeekFrom::Begin));
  auto r = files.Open("\\d\\f", FileAccess::Read, FileCreate::OpenExisting);
  EXPECT_FALSE(r->Write("x", 1, &done));
  EXPECT_EQ(files.OpenFileCount(), 2);
}

TEST(MemFilesTest, EnumerationIsASnapshot) {
  MemFiles files;
  files.PutFile("\\d\\a", "");
  files.PutFile("\\d\\b", "");
  FindData fd;
  auto h = files.FindFirst("\\d\\*.*", &fd);
  ASSERT_TRUE(h);
  EXPECT_TRUE(files.DeleteFile("\\d\\b"));
  files.PutFile("\\d\\c", "");
  ASSERT_TRUE(h->Next(&fd));
  EXPECT_EQ(fd.name, "b");
  EXPECT_FALSE(h->Next(&fd));
}

TEST(MemFilesTest, QuotaFailuresCountersAndSpace) {
  MemFiles files;
  files.MakeDirs("\\Storage Card");
  files.SetQuota(10);
  auto f = files.Open("\\Storage Card\\x", FileAccess::Write, FileCreate::CreateAlways);
  uint32_t done = 0;
  EXPECT_FALSE(f->Write("0123456789ABC", 13, &done));
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ERROR_DISK_FULL));
  EXPECT_EQ(done, 10u);
  f.reset();
  EXPECT_TRUE(files.DeleteFile("\\Storage Card\\x"));
  EXPECT_EQ(files.UsedBytes(), 0u);

  files.ResetCounts();
  files.FailNth(MemOp::Open, 2, ERROR_SHARING_VIOLATION);
  EXPECT_TRUE(files.Open("\\Storage Card\\y", FileAccess::Write, FileCreate::CreateAlways));
  EXPECT_FALSE(files.Open("\\Storage Card\\y", FileAccess::Read, FileCreate::OpenExisting));
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(files.Open("\\Storage Card\\y", FileAccess::Read, FileCreate::OpenExisting));
  EXPECT_EQ(files.Count(MemOp::Open), 3u);
  EXPECT_EQ(files.Count(MemOp::Create), 1u);

  files.SetDiskSpace("Storage Card", 100, 200);
  DiskSpace s;
  ASSERT_TRUE(files.GetDiskFreeSpace("\\STORAGE CARD", &s));
  EXPECT_EQ(s.freeToCaller, 100u);
  EXPECT_EQ(s.total, 200u);
  ASSERT_TRUE(files.GetDiskFreeSpace("\\", &s));
  EXPECT_EQ(s.total, 1ull << 40);
  EXPECT_FALSE(files.GetDiskFreeSpace("\\Storage Card\\missing", &s));
}

}  // namespace
}  // namespace hu
