// The unit's process table: programs entering and leaving it, virtual
// processes, host programs run for real, and ended processes dropped.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>

#include "common/platform/errors.h"
#include "common/platform/host/host_clock.h"
#include "common/platform/host/host_files.h"
#include "common/platform/host/host_processes.h"
#include "common/platform/host/host_windows.h"
#include "common/platform/host/process_table.h"
#include "common/platform/host/run_records.h"
#include "common/platform/text.h"
#include "tests/host_proc/proc_test_support.h"

namespace hu {
namespace {

class HostProcessesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    ASSERT_TRUE(MakeTestUnit(Unit()));
    files_ = std::make_unique<HostFiles>(Unit() + "/fs");
  }
  std::string Unit() const { return dir_ / "u"; }
  std::string Fs(const std::string& rel) const { return Unit() + "/fs/" + rel; }

  std::unique_ptr<HostProcesses> Make(const std::string& module, bool registerSelf = true) {
    HostProcessesConfig config;
    config.unitDir = Unit();
    config.modulePath = module;
    config.hostPath = [this](const std::string& p) { return files_->HostPath(p); };
    config.registerSelf = registerSelf;
    return std::make_unique<HostProcesses>(std::move(config));
  }
  // A file under fs/, its folders made.
  void Put(const std::string& rel, const std::string& content, mode_t mode = 0644) {
    std::string path = Fs(rel);
    MakeRunDirs(path.substr(0, path.rfind('/')));
    WriteHostFileMode(path, content, mode);
  }
  static bool Listed(HostProcesses& p, uint32_t pid) {
    for (const ProcessEntry& e : p.Snapshot()) {
      if (e.pid == pid) return true;
    }
    return false;
  }

  TempDir dir_;
  std::unique_ptr<HostFiles> files_;
};

TEST_F(HostProcessesTest, ProgramsEnterTheTableAndLeaveAtTheirEnd) {
  auto updater = Make("\\StorageCard\\Sysmend\\Sysmend.exe");
  uint32_t self = updater->CurrentProcessId();
  ASSERT_NE(self, 0u);
  ProcessRecord record;
  ASSERT_TRUE(updater->table().Read(self, &record));
  EXPECT_EQ(record.hostPid, ::getpid());
  EXPECT_EQ(record.path, "\\StorageCard\\Sysmend\\Sysmend.exe");
  {
    auto other = Make("\\Windows\\Other.exe");
    EXPECT_NE(other->CurrentProcessId(), self);
    std::vector<ProcessEntry> both = updater->Snapshot();
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[0].pid, self);
    EXPECT_EQ(both[1].exePath, "\\Windows\\Other.exe");
  }
  EXPECT_EQ(updater->Snapshot().size(), 1u);
  auto quiet = Make("\\Windows\\Tool.exe", false);
  EXPECT_EQ(quiet->CurrentProcessId(), 0u);
  EXPECT_EQ(quiet->Snapshot().size(), 1u);
  updater.reset();
  EXPECT_TRUE(quiet->Snapshot().empty());
}

TEST_F(HostProcessesTest, OtherFilesBecomeVirtualProcessesUntilTerminated) {
  // Executable but neither ELF nor a script: still not a host program.
  Put("Dravik/$KVR$/App/Appvisor.exe", "MZ not for this host", 0755);
  Put("Dravik/$KVR$/App/notes.txt", "text");
  auto self = Make("\\SDMMC\\Canprobe\\Canprobe.exe");
  uint32_t pid = 0;
  ASSERT_TRUE(self->CreateProcess("\\dravik\\$kvr$\\app\\APPVISOR.exe", "", &pid));
  uint32_t notes = 0;
  ASSERT_TRUE(self->CreateProcess("\\Dravik\\$KVR$\\App\\notes.txt", "", &notes));
  ProcessRecord record;
  ASSERT_TRUE(self->table().Read(pid, &record));
  EXPECT_TRUE(record.IsVirtual());
  EXPECT_EQ(record.path, "\\dravik\\$kvr$\\app\\APPVISOR.exe");
  EXPECT_EQ(record.parent, self->CurrentProcessId());
  EXPECT_TRUE(Listed(*self, pid));

  EXPECT_TRUE(self->TerminateProcess(pid, 0));
  EXPECT_FALSE(Listed(*self, pid));
  EXPECT_TRUE(Listed(*self, notes));
  SetLastError(0);
  EXPECT_FALSE(self->TerminateProcess(pid, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  EXPECT_FALSE(self->CreateProcess("\\Dravik\\$KVR$\\App\\Missing.exe", ""));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  // ".." stops at the root: this is fs/etc/passwd, which does not exist.
  EXPECT_FALSE(self->CreateProcess("\\..\\..\\..\\etc\\passwd", ""));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(self->CreateProcess("\\Dravik", ""));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(HostProcessesTest, KillByPathEndsTheFirstProcessOfThatProgram) {
  Put("dravik/$KVR$/App/Portmaster.exe", "x");
  Put("dravik/$KVR$/App/Zentrova.exe", "x");
  auto self = Make("\\StorageCard\\Mcuflash\\Mcuflash.exe");
  uint32_t first = 0, second = 0, other = 0;
  ASSERT_TRUE(self->CreateProcess("\\dravik\\$KVR$\\App\\Portmaster.exe", "", &first));
  ASSERT_TRUE(self->CreateProcess("\\dravik\\$KVR$\\App\\Zentrova.exe", "", &other));
  ASSERT_TRUE(self->CreateProcess("\\dravik\\$KVR$\\App\\Portmaster.exe", "", &second));
  const std::string wanted = "\\DRAVIK\\$KVR$\\APP\\PORTMASTER.EXE";
  for (const ProcessEntry& e : self->Snapshot()) {
    if (EqualsNoCase(e.exePath, wanted)) {
      EXPECT_TRUE(self->TerminateProcess(e.pid, 0));
      break;
    }
  }
  EXPECT_FALSE(Listed(*self, first));
  EXPECT_TRUE(Listed(*self, second));
  EXPECT_TRUE(Listed(*self, other));
}

TEST_F(HostProcessesTest, HostProgramsRunForRealWithTheUnitsCommandLine) {
  Put("Windows/runner.exe",
      "#!/bin/sh\n"
      "printf '%s|%s|%s\\n' \"$HU_UNIT\" \"$HU_UNIT_PID\" \"$*\" > \"$HU_UNIT/fs/args.tmp\"\n"
      "mv \"$HU_UNIT/fs/args.tmp\" \"$HU_UNIT/fs/args.txt\"\n"
      "exec sleep 30\n",
      0755);
  auto self = Make("\\StorageCard\\Sysmend\\Sysmend.exe");
  uint32_t pid = 0;
  ASSERT_TRUE(self->CreateProcess("\\Windows\\runner.exe", "one \"two words\"", &pid));
  ASSERT_TRUE(WaitUntil([&] { return ::access(Fs("args.txt").c_str(), F_OK) == 0; }));
  char* real = ::realpath(Unit().c_str(), nullptr);
  ASSERT_NE(real, nullptr);
  std::string unit = real;
  std::free(real);
  EXPECT_EQ(scratch::ReadFile(Fs("args.txt")), unit + "|" + std::to_string(pid) + "|--unit " + unit +
                                              " --module \\Windows\\runner.exe -- one two words\n");
  ProcessRecord record;
  ASSERT_TRUE(self->table().Read(pid, &record));
  ASSERT_FALSE(record.IsVirtual());
  EXPECT_TRUE(HostProcessAlive(record.hostPid, record.hostStart));
  EXPECT_TRUE(Listed(*self, pid));

  EXPECT_TRUE(self->TerminateProcess(pid, 0));
  EXPECT_FALSE(HostProcessAlive(record.hostPid, record.hostStart));
  EXPECT_FALSE(Listed(*self, pid));
}

// A process whose first thread has ended shows as a zombie while its other
// threads still run and hold its open files: it is not gone yet.
TEST(HostProcessAliveTest, ZombieLeaderWithLiveThreadsIsStillAlive) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    std::thread([fd = ready[1]] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the leader is gone by now
      (void)::write(fd, "x", 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
      ::_exit(0);
    }).detach();
    // Ends this thread alone, without unwinding through the test framework.
    ::syscall(SYS_exit, 0);
  }
  ASSERT_GT(child, 0);
  const uint64_t start = HostProcessStartTime(child);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  EXPECT_TRUE(HostProcessAlive(child, start));
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_FALSE(HostProcessAlive(child, start));
  ::close(ready[0]);
  ::close(ready[1]);
}

TEST_F(HostProcessesTest, EndedProcessesAreDropped) {
  Put("Windows/quick.exe", "#!/bin/sh\nexit 0\n", 0755);
  // ELF magic but nothing runnable: exec fails and nothing is listed.
  Put("Windows/broken.exe", std::string("\x7f" "ELF", 4) + "garbage", 0755);
  auto self = Make("\\StorageCard\\Sysmend\\Sysmend.exe");
  uint32_t quick = 0;
  ASSERT_TRUE(self->CreateProcess("\\Windows\\quick.exe", "", &quick));
  EXPECT_TRUE(WaitUntil([&] { return !Listed(*self, quick); }));
  size_t before = self->Snapshot().size();
  EXPECT_FALSE(self->CreateProcess("\\Windows\\broken.exe", ""));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(self->Snapshot().size(), before);

  // Entries a crash left: a host pid that is gone, and one reused by
  // another process (different start time).
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ProcessTable& table = self->table();
  ProcessRecord gone{table.AllocatePid(), "\\Windows\\Gone.exe", child, 0, 0, ""};
  ProcessRecord reused{table.AllocatePid(), "\\Windows\\Reused.exe", ::getpid(), 1, 0, ""};
  ASSERT_TRUE(table.Write(gone));
  ASSERT_TRUE(table.Write(reused));
  EXPECT_FALSE(Listed(*self, gone.pid));
  EXPECT_FALSE(Listed(*self, reused.pid));
  EXPECT_FALSE(table.Read(gone.pid, nullptr)) << "the stale entry is removed";
  EXPECT_TRUE(Listed(*self, self->CurrentProcessId()));
}

// A script read from a pipe on standard input keeps a thread blocked in the
// stream, holding its lock; starting a program must not wait for that reader.
TEST_F(HostProcessesTest, StartingAProgramDoesNotWaitForAReaderOfStandardInput) {
  Put("Windows/quick.exe", "#!/bin/sh\nexit 0\n", 0755);
  auto self = Make("\\StorageCard\\Sysmend\\Sysmend.exe");
  int input[2];
  ASSERT_EQ(::pipe(input), 0);
  const int savedIn = ::dup(0);
  ASSERT_EQ(::dup2(input[0], 0), 0);
  std::thread reader([] { std::fgetc(stdin); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // into its read
  auto started = std::async(std::launch::async, [&] { return self->CreateProcess("\\Windows\\quick.exe", ""); });
  const bool returned = started.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  // The byte ends the reader and, were it stuck, the start as well.
  EXPECT_EQ(::write(input[1], "x", 1), 1);
  reader.join();
  EXPECT_TRUE(returned);
  EXPECT_TRUE(started.get());
  ::dup2(savedIn, 0);
  for (int fd : {savedIn, input[0], input[1]}) ::close(fd);
  std::clearerr(stdin);
}

TEST_F(HostProcessesTest, AProgramOfOursTakesOverTheEntryMadeForIt) {
  Put("Windows/Peer.exe", std::string("#!/bin/sh\nexec ") + ShellQuote(HU_PROC_PEER) + " \"$@\"\n", 0755);
  auto self = Make("\\SDMMC\\Canprobe\\Canprobe.exe");
  HostClock clock(1.0);
  HostWindows windows(Unit() + "/run", clock, self->CurrentProcessId());
  uint32_t pid = 0;
  ASSERT_TRUE(self->CreateProcess("\\Windows\\Peer.exe", "window PeerClass PeerTitle", &pid));
  HWND hwnd = 0;
  ASSERT_TRUE(WaitUntil([&] { return (hwnd = windows.FindWindow("PeerClass", "PeerTitle")) != 0; }));
  int entries = 0;
  for (const ProcessEntry& e : self->Snapshot()) entries += e.exePath == "\\Windows\\Peer.exe";
  EXPECT_EQ(entries, 1);
  EXPECT_TRUE(Listed(*self, pid));
  // It closes normally and leaves the table itself.
  ASSERT_TRUE(windows.PostMessage(hwnd, WM_CLOSE, 0, 0));
  EXPECT_TRUE(WaitUntil([&] { return !Listed(*self, pid); }));
  EXPECT_EQ(windows.FindWindow("PeerClass", ""), 0u);
}

TEST(SplitCommandLineTest, BlanksSeparateAndQuotesGroup) {
  EXPECT_EQ(HostProcesses::SplitCommandLine("  auto  \"a b\" \"\"x\tlast "),
            (std::vector<std::string>{"auto", "a b", "x", "last"}));
  EXPECT_TRUE(HostProcesses::SplitCommandLine("").empty());
}

TEST(RunRecordTest, ValuesSurviveAndForeignFilesAreRefused) {
  TempDir dir;
  ProcessTable table(dir.path());
  uint32_t a = table.AllocatePid(), b = table.AllocatePid();
  EXPECT_NE(a, 0u);
  EXPECT_EQ(b, a + 1);
  ProcessRecord r{a, "\\Windows\\Odd\nname%41.exe", 0, 0, 7, "now"};
  ASSERT_TRUE(table.Write(r));
  ProcessRecord back;
  ASSERT_TRUE(table.Read(a, &back));
  EXPECT_EQ(back.path, r.path);
  EXPECT_EQ(back.parent, 7u);
  // An entry whose id differs from its file name, and an oversized file.
  scratch::WriteFile(table.dir() + "/" + std::to_string(b) + ".proc", "pid = 5\npath = \\x\nhost = virtual\n");
  EXPECT_FALSE(table.Read(b, nullptr));
  scratch::WriteFile(table.dir() + "/" + std::to_string(b) + ".proc", "pid = " + std::to_string(b) +
                                                                     "\npath = " + std::string(20000, 'x'));
  EXPECT_FALSE(table.Read(b, nullptr));
  EXPECT_EQ(table.List(false).size(), 1u);
}

}  // namespace
}  // namespace hu
