#include "common/platform/host/host_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <vector>

#include "common/platform/errors.h"
#include "common/platform/file_tree.h"
#include "tests/host/temp_dir.h"

namespace hu {
namespace {

std::map<std::string, uint32_t> List(Files& files, const std::string& pattern) {
  std::map<std::string, uint32_t> out;
  FindData d;
  auto h = files.FindFirst(pattern, &d);
  if (!h) return out;
  do {
    out[d.name] = d.attributes;
  } while (h->Next(&d));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  return out;
}

bool WriteDevice(Files& files, const std::string& path, const std::string& content) {
  auto f = files.Open(path, FileAccess::Write, FileCreate::CreateAlways);
  uint32_t done = 0;
  return f && f->Write(content.data(), static_cast<uint32_t>(content.size()), &done) && done == content.size();
}

std::string ReadDevice(Files& files, const std::string& path) {
  auto f = files.Open(path, FileAccess::Read, FileCreate::OpenExisting);
  if (!f) return "<missing>";
  std::string out;
  char buf[7];  // small on purpose: several reads
  uint32_t done = 0;
  while (f->Read(buf, sizeof buf, &done) && done > 0) out.append(buf, done);
  return out;
}

class HostFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    ASSERT_EQ(::mkdir((dir_ / "fs").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir_ / "fs/Dravik").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir_ / "fs/Dravik/App").c_str(), 0755), 0);
  }
  std::string Root() const { return dir_ / "fs"; }
  TempDir dir_;
};

TEST_F(HostFilesTest, ResolvesComponentsIgnoringCaseAndKeepsNewSpelling) {
  HostFiles files(Root());
  EXPECT_EQ(files.HostPath("\\dravik\\APP\\x.cfg"), Root() + "/Dravik/App/x.cfg");
  EXPECT_EQ(files.HostPath("/DRAVIK/app"), Root() + "/Dravik/App");
  EXPECT_EQ(files.HostPath("\\Dravik\\New\\Sub"), Root() + "/Dravik/New/Sub");
  ASSERT_TRUE(files.CreateDirectory("\\DRAVIK\\New"));
  struct stat st {};
  EXPECT_EQ(::stat((Root() + "/Dravik/New").c_str(), &st), 0) << "created under the existing folder, as spelt";
  EXPECT_TRUE(WriteDevice(files, "\\dravik\\new\\A.txt", "x"));
  EXPECT_EQ(ReadDevice(files, "\\DRAVIK\\NEW\\a.TXT"), "x");
}

TEST_F(HostFilesTest, DotDotStopsAtTheRoot) {
  HostFiles files(Root());
  EXPECT_EQ(files.HostPath("\\..\\..\\etc\\passwd"), Root() + "/etc/passwd");
  EXPECT_EQ(files.HostPath("\\Dravik\\..\\..\\..\\x"), Root() + "/x");
  EXPECT_EQ(files.HostPath("\\Dravik\\.\\App\\..\\App"), Root() + "/Dravik/App");
  EXPECT_EQ(files.HostPath("\\"), Root());
  // Writing through ".." lands inside the root.
  EXPECT_TRUE(WriteDevice(files, "\\..\\escape.txt", "no"));
  EXPECT_EQ(scratch::ReadFile(Root() + "/escape.txt"), "no");
  EXPECT_NE(::access((dir_ / "escape.txt").c_str(), F_OK), 0);
}

TEST_F(HostFilesTest, SymlinksLeavingTheRootAreRefused) {
  TempDir outside;
  scratch::WriteFile(outside / "secret", "s");
  ASSERT_EQ(::symlink(outside.path().c_str(), (Root() + "/Out").c_str()), 0);
  ASSERT_EQ(::symlink("../..", (Root() + "/Dravik/Up").c_str()), 0);
  ASSERT_EQ(::symlink((outside / "secret").c_str(), (Root() + "/Dravik/file").c_str()), 0);
  ASSERT_EQ(::symlink("App", (Root() + "/Dravik/Inside").c_str()), 0);
  // Deeper paths are looked up whole past the volume: a link anywhere on
  // the way must still be seen, in any spelling of the path.
  ASSERT_EQ(::mkdir((Root() + "/Dravik/App/Sub").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((Root() + "/Dravik/App/Sub/X").c_str(), 0755), 0);
  ASSERT_EQ(::symlink(outside.path().c_str(), (Root() + "/Dravik/App/Sub/Away").c_str()), 0);
  HostFiles files(Root());
  EXPECT_EQ(files.HostPath("\\dravik\\APP\\sub\\away\\secret"), "");
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(files.HostPath("\\Dravik\\App\\Sub\\Away\\secret"), "");
  EXPECT_TRUE(WriteDevice(files, "\\DRAVIK\\inside\\SUB\\x\\deep.txt", "deep"));
  EXPECT_EQ(scratch::ReadFile(Root() + "/Dravik/App/Sub/X/deep.txt"), "deep");

  EXPECT_EQ(files.HostPath("\\out\\secret"), "");
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(files.Open("\\Out\\secret", FileAccess::Read, FileCreate::OpenExisting), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(WriteDevice(files, "\\Dravik\\Up\\planted", "x"));
  EXPECT_NE(::access((dir_ / "planted").c_str(), F_OK), 0);
  EXPECT_EQ(ReadDevice(files, "\\Dravik\\file"), "<missing>");
  EXPECT_FALSE(files.CopyFile("\\Dravik\\file", "\\copy", false));
  // Links that stay inside work; every link lists as one, so that walks
  // delete it and never go into it.
  EXPECT_TRUE(WriteDevice(files, "\\Dravik\\Inside\\ok.txt", "ok"));
  EXPECT_EQ(scratch::ReadFile(Root() + "/Dravik/App/ok.txt"), "ok");
  auto listed = List(files, "\\Dravik\\*");
  EXPECT_EQ(listed["Up"], FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(listed["file"], FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(listed["Inside"], FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_FALSE(IsDirectoryEntry(listed["Inside"]));
  // Deleting a link removes the link alone, wherever it leads.
  for (const char* link : {"\\Dravik\\file", "\\Dravik\\Up", "\\Dravik\\Inside"}) {
    EXPECT_TRUE(files.DeleteFile(link)) << link;
    EXPECT_EQ(files.GetAttributes(link), INVALID_FILE_ATTRIBUTES) << link;
  }
  EXPECT_EQ(scratch::ReadFile(outside / "secret"), "s");
  EXPECT_EQ(scratch::ReadFile(Root() + "/Dravik/App/ok.txt"), "ok");
}

TEST_F(HostFilesTest, PathsLongerThanTheDeviceTakesAreRefused) {
  HostFiles files(Root());
  std::string path = "\\Dravik";
  while (path.size() + 11 <= kMaxDevicePath) path += "\\" + std::string(10, 'd');
  ASSERT_TRUE(CreateDirTree(files, path));
  std::string longest = path + "\\" + std::string(kMaxDevicePath - path.size() - 1, 'f');
  EXPECT_TRUE(WriteDevice(files, longest, "x"));
  EXPECT_FALSE(WriteDevice(files, longest + "g", "x"));
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
}

TEST_F(HostFilesTest, RejectsLongAndInvalidNames) {
  HostFiles files(Root());
  std::string longest(255, 'a');
  EXPECT_TRUE(files.CreateDirectory("\\" + longest));
  EXPECT_FALSE(files.CreateDirectory("\\" + longest + "b"));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  EXPECT_EQ(files.Open("\\Dravik\\" + std::string(300, 'x') + "\\f", FileAccess::Write, FileCreate::CreateAlways),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  for (const char* bad : {"\\a*b", "\\a?b", "\\a:b", "\\a|b", "\\a\"b", "\\a\tb"}) {
    EXPECT_FALSE(WriteDevice(files, bad, "x")) << bad;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME) << bad;
  }
  EXPECT_FALSE(WriteDevice(files, std::string("\\a\0b", 4), "x"));
}

TEST_F(HostFilesTest, ErrorCodes) {
  HostFiles files(Root());
  EXPECT_EQ(files.Open("\\Dravik\\none", FileAccess::Read, FileCreate::OpenExisting), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(files.Open("\\Dravik\\nodir\\f", FileAccess::Write, FileCreate::CreateAlways), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(files.Open("\\Dravik\\nodir\\f", FileAccess::Read, FileCreate::OpenExisting), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  ASSERT_TRUE(WriteDevice(files, "\\Dravik\\f", "1"));
  EXPECT_EQ(files.Open("\\Dravik\\F", FileAccess::Write, FileCreate::CreateNew), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_EQ(files.Open("\\Dravik\\f\\g", FileAccess::Write, FileCreate::CreateAlways), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(files.Open("\\Dravik\\App", FileAccess::Read, FileCreate::OpenExisting), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(files.CreateDirectory("\\dravik\\app"));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(files.CreateDirectory("\\Dravik\\a\\b"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(files.RemoveDirectory("\\Dravik"));
  EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
  EXPECT_FALSE(files.RemoveDirectory("\\Dravik\\none"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(files.DeleteFile("\\Dravik\\App"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(files.DeleteFile("\\Dravik\\none"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(files.GetAttributes("\\Dravik\\none\\x"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  FindData d;
  EXPECT_EQ(files.FindFirst("\\Dravik\\*.kvq", &d), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(files.FindFirst("\\Nowhere\\*.*", &d), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  // Read-only files refuse writing and deleting, even to root.
  ASSERT_TRUE(files.SetAttributes("\\Dravik\\f", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(files.Open("\\Dravik\\f", FileAccess::ReadWrite, FileCreate::OpenExisting), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(files.Open("\\Dravik\\f", FileAccess::Write, FileCreate::CreateAlways), nullptr);
  EXPECT_FALSE(files.DeleteFile("\\Dravik\\f"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadDevice(files, "\\Dravik\\f"), "1");
  ASSERT_TRUE(files.SetAttributes("\\Dravik\\f", FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(files.DeleteFile("\\Dravik\\f"));
}

// The root is looked at only when a path's first component is missing: a
// root that went away must still read as a missing path, not a missing file.
// Names read for a missed lookup are kept between calls; whatever another
// program does to the folder meanwhile, even right after a file was made
// here, must still be seen.
TEST_F(HostFilesTest, KeptFolderNamesSeeChangesByOthers) {
  HostFiles files(Root());
  const std::string app = Root() + "/Dravik/App/";
  ASSERT_TRUE(WriteDevice(files, "\\Dravik\\App\\mine.txt", "1"));
  std::ofstream(app + "OTHER.TXT") << "theirs";
  EXPECT_EQ(ReadDevice(files, "\\dravik\\app\\other.txt"), "theirs");
  ASSERT_TRUE(WriteDevice(files, "\\Dravik\\App\\Other.txt", "mine"));
  EXPECT_EQ(ReadDevice(files, "\\Dravik\\App\\OTHER.TXT"), "mine") << "written into the twin, not beside it";
  struct stat st {};
  EXPECT_NE(::stat((app + "Other.txt").c_str(), &st), 0);

  ASSERT_EQ(::unlink((app + "OTHER.TXT").c_str()), 0);
  EXPECT_EQ(files.GetAttributes("\\Dravik\\App\\other.txt"), INVALID_FILE_ATTRIBUTES);

  // Bits left for a name by another program: a new file of that name drops them.
  ASSERT_TRUE(WriteDevice(files, "\\Dravik\\App\\a.txt", "a"));
  std::ofstream(app + HostFiles::SidecarName()) << "2\tfresh.txt\n";
  ASSERT_TRUE(WriteDevice(files, "\\Dravik\\App\\fresh.txt", "f"));
  EXPECT_EQ(files.GetAttributes("\\Dravik\\App\\fresh.txt"), static_cast<uint32_t>(FILE_ATTRIBUTE_ARCHIVE));

  // A twin made by another program just after this one made a file.
  for (int i = 0; i < 20; ++i) {
    const std::string n = "n" + std::to_string(i);
    ASSERT_TRUE(WriteDevice(files, "\\Dravik\\App\\" + n + ".a", "x"));
    std::ofstream(app + "N" + std::to_string(i) + ".B") << "b";
    EXPECT_EQ(ReadDevice(files, "\\Dravik\\App\\" + n + ".b"), "b") << n;
  }
}

TEST_F(HostFilesTest, ARootThatWentAwayIsAMissingPath) {
  HostFiles files(Root());
  ASSERT_TRUE(WriteDevice(files, "\\Dravik\\f", "1"));
  ASSERT_EQ(std::system(("rm -rf '" + Root() + "'").c_str()), 0);
  EXPECT_EQ(files.GetAttributes("\\Dravik\\f"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(files.Open("\\Dravik", FileAccess::Read, FileCreate::OpenExisting), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(files.CreateDirectory("\\New"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  // A plain file where the root was: nothing below it exists, nor does its folder.
  std::ofstream(Root()) << "x";
  EXPECT_FALSE(files.CreateDirectory("\\New"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(HostFilesTest, ReadWriteSeek) {
  HostFiles files(Root());
  auto f = files.Open("\\Dravik\\data.bin", FileAccess::ReadWrite, FileCreate::CreateNew);
  ASSERT_NE(f, nullptr);
  uint32_t done = 0;
  ASSERT_TRUE(f->Write("0123456789", 10, &done));
  EXPECT_EQ(done, 10u);
  EXPECT_EQ(f->Size(), 10u);
  uint64_t pos = 0;
  ASSERT_TRUE(f->Seek(-3, SeekFrom::End, &pos));
  EXPECT_EQ(pos, 7u);
  char buf[8] = {};
  ASSERT_TRUE(f->Read(buf, sizeof buf, &done));
  EXPECT_EQ(std::string(buf, done), "789");
  ASSERT_TRUE(f->Read(buf, sizeof buf, &done));
  EXPECT_EQ(done, 0u) << "end of file reads nothing and succeeds";
  EXPECT_FALSE(f->Seek(-20, SeekFrom::Current));
  EXPECT_TRUE(f->Flush());
  f.reset();
  auto again = files.Open("\\Dravik\\data.bin", FileAccess::Write, FileCreate::OpenAlways);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(again->Size(), 10u);
  again.reset();
  ASSERT_NE(files.Open("\\Dravik\\data.bin", FileAccess::Write, FileCreate::TruncateExisting), nullptr);
  EXPECT_EQ(ReadDevice(files, "\\Dravik\\data.bin"), "");
}

TEST_F(HostFilesTest, FindSnapshotSurvivesDeletion) {
  HostFiles files(Root());
  for (const char* n : {"\\Dravik\\App\\a", "\\Dravik\\App\\b", "\\Dravik\\App\\c"}) ASSERT_TRUE(WriteDevice(files, n, "x"));
  FindData d;
  auto h = files.FindFirst("\\Dravik\\App\\*.*", &d);
  ASSERT_NE(h, nullptr);
  std::vector<std::string> seen;
  do {
    seen.push_back(d.name);
    EXPECT_TRUE(files.DeleteFile("\\Dravik\\App\\" + d.name));
  } while (h->Next(&d));
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_TRUE(files.RemoveDirectory("\\Dravik\\App"));
}

TEST_F(HostFilesTest, CopyAndMove) {
  HostFiles files(Root());
  ASSERT_TRUE(WriteDevice(files, "\\Dravik\\src.txt", "content"));
  ASSERT_TRUE(files.SetAttributes("\\Dravik\\src.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_TRUE(files.CopyFile("\\Dravik\\src.txt", "\\Dravik\\App\\dst.txt", true));
  EXPECT_EQ(ReadDevice(files, "\\Dravik\\App\\dst.txt"), "content");
  EXPECT_EQ(files.GetAttributes("\\Dravik\\App\\dst.txt"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_FALSE(files.CopyFile("\\Dravik\\src.txt", "\\Dravik\\App\\DST.txt", true));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  ASSERT_TRUE(WriteDevice(files, "\\Dravik\\other.txt", "new"));
  EXPECT_TRUE(files.CopyFile("\\Dravik\\other.txt", "\\Dravik\\App\\dst.txt", false));
  EXPECT_EQ(ReadDevice(files, "\\Dravik\\App\\dst.txt"), "new");
  EXPECT_EQ(files.GetAttributes("\\Dravik\\App\\dst.txt"), FILE_ATTRIBUTE_ARCHIVE) << "attributes follow the source";
  EXPECT_FALSE(files.CopyFile("\\Dravik\\src.txt", "\\DRAVIK\\SRC.TXT", false)) << "a file onto itself";
  EXPECT_EQ(ReadDevice(files, "\\Dravik\\src.txt"), "content");
  EXPECT_FALSE(files.CopyFile("\\Dravik\\none", "\\Dravik\\x", false));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  // Files and folders move; an existing target is refused.
  EXPECT_FALSE(files.MoveFile("\\Dravik\\src.txt", "\\Dravik\\other.txt"));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(files.MoveFile("\\Dravik\\src.txt", "\\Dravik\\App\\moved.txt"));
  EXPECT_EQ(files.GetAttributes("\\Dravik\\src.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(files.GetAttributes("\\Dravik\\App\\moved.txt"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_TRUE(files.MoveFile("\\dravik\\app", "\\Dravik\\App_BK"));
  EXPECT_EQ(ReadDevice(files, "\\Dravik\\App_BK\\moved.txt"), "content");
  EXPECT_FALSE(files.MoveFile("\\Dravik\\App_BK", "\\Dravik\\App_BK\\inner"));
  // A change of case only renames.
  EXPECT_TRUE(files.MoveFile("\\Dravik\\App_BK", "\\Dravik\\APP_bk"));
  EXPECT_EQ(List(files, "\\Dravik\\app_*").count("APP_bk"), 1u);
  EXPECT_FALSE(files.MoveFile("\\Dravik\\none", "\\Dravik\\x"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(HostFilesTest, DiskSpaceOverrides) {
  HostFiles plain(Root());
  DiskSpace host;
  ASSERT_TRUE(plain.GetDiskFreeSpace("\\Dravik", &host));
  EXPECT_GT(host.total, 0u);
  EXPECT_GE(host.total, host.totalFree);

  ASSERT_EQ(::mkdir((Root() + "/NandFlash").c_str(), 0755), 0);
  HostFilesOptions options;
  options.disk.all.freeBytes = 1000;
  options.disk.volumes["nandflash"].freeBytes = 5;
  options.disk.volumes["nandflash"].totalBytes = 10;
  HostFiles files(Root(), options);
  DiskSpace d;
  ASSERT_TRUE(files.GetDiskFreeSpace("\\NANDFLASH\\", &d));
  EXPECT_EQ(d.freeToCaller, 5u);
  EXPECT_EQ(d.totalFree, 5u);
  EXPECT_EQ(d.total, 10u);
  ASSERT_TRUE(files.GetDiskFreeSpace("\\Dravik\\App", &d));
  EXPECT_EQ(d.freeToCaller, 1000u);
  EXPECT_EQ(d.total, host.total) << "the total of the host stays when not replaced";
  EXPECT_FALSE(files.GetDiskFreeSpace("\\StorageCard", &d)) << "no card, no space";
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

// Attribute bits on each file system kind, through extended attributes and
// through the side file that stands in where those are refused.
struct AttrCase {
  const char* base;
  bool sidecarOnly;
};

class HostFilesAttributes : public ::testing::TestWithParam<AttrCase> {};

TEST_P(HostFilesAttributes, ListedPersistedAndCarried) {
  if (::access(GetParam().base, W_OK) != 0) GTEST_SKIP() << GetParam().base << " not writable";
  TempDir dir(GetParam().base);
  ASSERT_TRUE(dir.ok());
  HostFilesOptions options;
  options.sidecarAttributesOnly = GetParam().sidecarOnly;
  {
    HostFiles files(dir.path(), options);
    ASSERT_TRUE(files.CreateDirectory("\\Kit"));
    ASSERT_TRUE(files.CreateDirectory("\\Kit\\Hidden"));
    ASSERT_TRUE(files.CreateDirectory("\\Kit\\Plain"));
    ASSERT_TRUE(WriteDevice(files, "\\Kit\\a.kvq", "1"));
    ASSERT_TRUE(WriteDevice(files, "\\Kit\\B.KVQ", "22"));
    ASSERT_TRUE(WriteDevice(files, "\\Kit\\README", "3"));
    ASSERT_TRUE(WriteDevice(files, "\\Kit\\ro.auk", "4"));
    ASSERT_TRUE(WriteDevice(files, "\\Kit\\sys.bin", "5"));
    ASSERT_TRUE(files.SetAttributes("\\kit\\hidden", FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(files.SetAttributes("\\Kit\\ro.auk", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(files.SetAttributes("\\Kit\\sys.bin", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(files.SetAttributes("\\Kit\\README", FILE_ATTRIBUTE_NORMAL));
  }
  HostFiles files(dir.path(), options);  // a later process sees the same bits
  auto all = List(files, "\\Kit\\*.*");
  std::map<std::string, uint32_t> expected = {
      {"Hidden", 0x12}, {"Plain", 0x10}, {"a.kvq", 0x20}, {"B.KVQ", 0x20},
      {"README", 0x80}, {"ro.auk", 0x01}, {"sys.bin", 0x06}};
  EXPECT_EQ(all, expected);
  EXPECT_EQ(files.GetAttributes("\\KIT\\HIDDEN"), 0x12u);
  auto kvq = List(files, "\\Kit\\*.kvq");
  EXPECT_EQ(kvq.size(), 2u);
  EXPECT_EQ(kvq.count("a.kvq") + kvq.count("B.KVQ"), 2u);
  EXPECT_EQ(List(files, "\\Kit\\?.kvq").size(), 2u);
  EXPECT_EQ(List(files, "\\Kit\\readme").size(), 1u) << "a plain name finds the entry itself";

  // Moves and copies carry the bits; removal leaves no trace behind.
  ASSERT_TRUE(files.MoveFile("\\Kit\\sys.bin", "\\Kit\\Plain\\sys2.bin"));
  EXPECT_EQ(files.GetAttributes("\\Kit\\Plain\\sys2.bin"), 0x06u);
  ASSERT_TRUE(files.CopyFile("\\Kit\\Plain\\sys2.bin", "\\Kit\\sys3.bin", true));
  EXPECT_EQ(files.GetAttributes("\\Kit\\sys3.bin"), 0x06u);
  ASSERT_TRUE(files.DeleteFile("\\Kit\\sys3.bin"));
  ASSERT_TRUE(WriteDevice(files, "\\Kit\\sys3.bin", "new"));
  EXPECT_EQ(files.GetAttributes("\\Kit\\sys3.bin"), 0x20u) << "a new file does not inherit old bits";
  ASSERT_TRUE(files.SetAttributes("\\Kit\\Plain", FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(files.DeleteFile("\\Kit\\Plain\\sys2.bin"));
  EXPECT_TRUE(files.RemoveDirectory("\\Kit\\Plain"));
  EXPECT_TRUE(files.RemoveDirectory("\\Kit\\Hidden"));
  EXPECT_EQ(List(files, "\\Kit\\*").count(HostFiles::SidecarName()), 0u);
  EXPECT_EQ(files.HostPath(std::string("\\Kit\\") + HostFiles::SidecarName()), "");
}

INSTANTIATE_TEST_SUITE_P(FileSystems, HostFilesAttributes,
                         ::testing::Values(AttrCase{"/tmp", false}, AttrCase{"/tmp", true},
                                           AttrCase{"/dev/shm", false}, AttrCase{"/dev/shm", true}),
                         [](const auto& info) {
                           return std::string(info.param.base[1] == 't' ? "Tmp" : "Shm") +
                                  (info.param.sidecarOnly ? "SideFile" : "Xattr");
                         });

}  // namespace
}  // namespace hu
