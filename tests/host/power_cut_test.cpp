#include "common/platform/host/power_cut.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "common/platform/host/host_files.h"
#include "common/platform/host/serial/unit_reboot.h"
#include "tests/host/temp_dir.h"

namespace hu {
namespace {

// Runs `body` in a child process with files over UNIT/fs that lose power at
// operation `cutAfter`; the child's wait status.
template <typename Body>
int RunCut(const TempDir& unit, uint64_t cutAfter, Body body) {
  pid_t child = ::fork();
  if (child == 0) {
    PowerCut cut(unit.path(), cutAfter, 3);
    HostFilesOptions options;
    options.powerCut = &cut;
    HostFiles files(unit / "fs", options);
    body(files);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}

void Write(Files& files, const std::string& path, const std::string& bytes) {
  auto f = files.Open(path, FileAccess::Write, FileCreate::CreateAlways);
  uint32_t done = 0;
  if (f) f->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &done);
}

class PowerCutTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::mkdir((unit / "fs").c_str(), 0755), 0); }
  TempDir unit;
};

TEST_F(PowerCutTest, WriteInProgressIsCutShortAndTheUnitIsMarkedRebooted) {
  const std::string content(1000, 'x');
  int status = RunCut(unit, 2, [&](Files& files) {
    Write(files, "\\a.bin", content);  // operation 1 opens, 2 writes
    Write(files, "\\never.bin", "x");
  });
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  EXPECT_LT(scratch::ReadFile(unit / "fs/a.bin").size(), content.size());
  EXPECT_NE(::access((unit / "fs/never.bin").c_str(), F_OK), 0);
  EXPECT_EQ(scratch::ReadFile(PowerCut::CountPath(unit.path())), "2\n");
  EXPECT_EQ(scratch::ReadFile(PowerCut::LogPath(unit.path())).rfind("cut at 2: Write \\a.bin", 0), 0u);
  UnitReboot reboot;
  ASSERT_TRUE(ReadUnitReboot(unit.path(), &reboot));
  EXPECT_EQ(reboot.reason, "PowerCut");
}

TEST_F(PowerCutTest, OperationThePowerFailsInDoesNotHappenAndCopiesAreLeftPartial) {
  scratch::WriteFile(unit / "fs/src.bin", std::string(5000, 's'));
  int status = RunCut(unit, 2, [](Files& files) {
    files.CreateDirectory("\\dir");
    files.CopyFile("\\src.bin", "\\dir\\copy.bin", false);
    files.DeleteFile("\\src.bin");
  });
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_LT(scratch::ReadFile(unit / "fs/dir/copy.bin").size(), 5000u);
  EXPECT_EQ(scratch::ReadFile(unit / "fs/src.bin").size(), 5000u);  // the delete never ran

  status = RunCut(unit, 2, [](Files& files) { files.DeleteFile("\\src.bin"); });
  ASSERT_TRUE(WIFEXITED(status));  // the count goes on across processes: 3 is past the cut
  EXPECT_EQ(scratch::ReadFile(PowerCut::CountPath(unit.path())), "3\n");
}

TEST_F(PowerCutTest, CountingOnlyNeverCuts) {
  int status = RunCut(unit, 0, [](Files& files) {
    for (int i = 0; i < 5; ++i) Write(files, "\\f" + std::to_string(i), "data");
    files.Open("\\f0", FileAccess::Read, FileCreate::OpenExisting);  // reads do not count
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(scratch::ReadFile(PowerCut::CountPath(unit.path())), "10\n");
}

}  // namespace
}  // namespace hu
