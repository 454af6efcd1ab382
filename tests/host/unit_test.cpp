#include "common/platform/host/unit.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <sstream>

#include "common/platform/errors.h"
#include "common/platform/host/file_trace_sink.h"
#include "common/platform/host/host_platform.h"
#include "common/platform/host/iconv_code_page.h"
#include "common/platform/testing/capture_trace.h"
#include "tests/host/temp_dir.h"

namespace hu {
namespace {

TEST(IniFileTest, SetRewritesOneLineAndKeepsTheRest) {
  IniFile ini;
  ini.Parse(
      "# head\n"
      "[Unit]\n"
      "code_page = 936 \r\n"
      "; note\n"
      "\n"
      "[ports]\n"
      "COM4 = /dev/ttyUSB0\n"
      "[disk]\n");
  EXPECT_EQ(ini.Get("unit", "CODE_PAGE"), "936");
  EXPECT_EQ(ini.Get("ports", "com4"), "/dev/ttyUSB0");
  EXPECT_EQ(ini.Get("ports", "note", "none"), "none");
  EXPECT_EQ(ini.Section("PORTS").at("Com4"), "/dev/ttyUSB0");
  ini.Set("unit", "code_page", "1252");
  ini.Set("unit", "time_scale", "0.5");
  ini.Set("ports", "COM1", "/dev/pts/3");
  ini.Set("disk", "free_bytes", "10");
  ini.Set("versions", "os", "6.0");
  EXPECT_EQ(ini.Text(),
            "# head\n"
            "[Unit]\n"
            "code_page = 1252\n"
            "time_scale = 0.5\n"
            "; note\n"
            "\n"
            "[ports]\n"
            "COM4 = /dev/ttyUSB0\n"
            "COM1 = /dev/pts/3\n"
            "[disk]\n"
            "free_bytes = 10\n"
            "\n"
            "[versions]\n"
            "os = 6.0\n");
  IniFile again;
  again.Parse(ini.Text());
  EXPECT_EQ(again.Get("versions", "os"), "6.0");
}

class UnitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    ::unsetenv("HU_TIME_SCALE");
  }
  void TearDown() override { ::unsetenv("HU_TIME_SCALE"); }
  std::unique_ptr<Unit> Load(const std::string& ini) {
    scratch::WriteFile(dir_ / "unit.ini", ini);
    std::string error;
    auto unit = Unit::Load(dir_.path(), &error);
    EXPECT_NE(unit, nullptr) << error;
    return unit;
  }
  TempDir dir_;
};

TEST_F(UnitTest, DefaultsAndValues) {
  auto bare = Load("");
  EXPECT_EQ(bare->codePage(), 936u);
  EXPECT_EQ(bare->timeScale(), 1.0);
  EXPECT_EQ(bare->osMajor(), 6u);
  EXPECT_FALSE(bare->deviceEnabled("CON1"));
  EXPECT_EQ(bare->registryDb(), dir_ / "registry.db");
  EXPECT_EQ(bare->fs(), dir_ / "fs");

  auto unit = Load(
      "[unit]\ncode_page = 1252\ntime_scale = 0.01\nos_major = 5\n"
      "[devices]\nCON1 = yes\nMFC1 = no\n"
      "[modules]\nsysmend = \\StorageCard\\Sysmend\\Sysmend.exe\n"
      "[disk]\nfree_bytes = 4096\nNandFlash.free_bytes = 12\nNANDFLASH.total_bytes = 99\nbad = x\n");
  EXPECT_EQ(unit->codePage(), 1252u);
  EXPECT_EQ(unit->timeScale(), 0.01);
  EXPECT_EQ(unit->osMajor(), 5u);
  EXPECT_TRUE(unit->deviceEnabled("con1"));
  EXPECT_FALSE(unit->deviceEnabled("MFC1"));
  EXPECT_EQ(unit->modules().at("SYSMEND"), "\\StorageCard\\Sysmend\\Sysmend.exe");
  DiskOverrides disk = unit->diskOverrides();
  EXPECT_EQ(disk.all.freeBytes, 4096);
  EXPECT_EQ(disk.all.totalBytes, -1);
  ASSERT_EQ(disk.volumes.count("nandflash"), 1u);
  EXPECT_EQ(disk.volumes["nandflash"].freeBytes, 12);
  EXPECT_EQ(disk.volumes["nandflash"].totalBytes, 99);

  ::setenv("HU_TIME_SCALE", "0.5", 1);
  EXPECT_EQ(unit->timeScale(), 0.5);
  ::setenv("HU_TIME_SCALE", "-3", 1);
  EXPECT_EQ(unit->timeScale(), 0.01) << "a useless override is ignored";
  auto zero = Load("[unit]\ntime_scale = 0\n");
  ::unsetenv("HU_TIME_SCALE");
  EXPECT_EQ(zero->timeScale(), 1.0);
}

TEST_F(UnitTest, SaveKeepsTheFile) {
  auto unit = Load("# mine\n[ports]\nCOM4 = /dev/ttyUSB0\n");
  unit->Set("ports", "COM4", "/dev/pts/7");
  std::string error;
  ASSERT_TRUE(unit->Save(&error)) << error;
  EXPECT_EQ(scratch::ReadFile(dir_ / "unit.ini"), "# mine\n[ports]\nCOM4 = /dev/pts/7\n");
}

TEST_F(UnitTest, MissingUnitNamesThePath) {
  std::string error;
  EXPECT_EQ(Unit::Load(dir_ / "nothing", &error), nullptr);
  EXPECT_NE(error.find(dir_ / "nothing"), std::string::npos) << error;
  EXPECT_EQ(Unit::Load(dir_.path(), &error), nullptr);
  EXPECT_NE(error.find("unit.ini"), std::string::npos) << error;
}

TEST(IconvCodePageTest, Cp936BothWaysAndBadInput) {
  IconvCodePage cp(936);
  ASSERT_TRUE(cp.valid());
  EXPECT_EQ(cp.Number(), 936u);
  const std::string gbk = "\xD6\xD0\xCE\xC4 ok";  // "中文 ok"
  EXPECT_EQ(cp.ToUtf8(gbk), "\xE4\xB8\xAD\xE6\x96\x87 ok");
  EXPECT_EQ(cp.FromUtf8("\xE4\xB8\xAD\xE6\x96\x87 ok"), gbk);
  EXPECT_EQ(cp.ToUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(cp.ToUtf8("a\xD6"), "a\xEF\xBF\xBD") << "a cut double byte at the end";
  EXPECT_EQ(cp.FromUtf8("x\xF0\x9F\x98\x80y"), "x?y") << "no such character in the code page";
  EXPECT_EQ(cp.FromUtf8("x\xC3y"), "x?y") << "broken UTF-8 keeps what follows";

  IconvCodePage utf8(65001);
  EXPECT_EQ(utf8.ToUtf8("\xE4\xB8\xAD"), "\xE4\xB8\xAD");
  EXPECT_EQ(utf8.ToUtf8("a\xFF"), "a\xEF\xBF\xBD");
  IconvCodePage unknown(4242);
  EXPECT_FALSE(unknown.valid());
  EXPECT_EQ(unknown.ToUtf8("ab\x80"), "ab\xEF\xBF\xBD");
}

TEST(FileTraceSinkTest, LinesOfSeveralProcessesStayWhole) {
  TempDir dir;
  std::string log = dir / "trace.log";
  constexpr int kLines = 300;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  FileTraceSink sink(log, false);
  const std::string mine = child == 0 ? "\n child CTrace::Line %d \n" : "\n parent CTrace::Line %d \n";
  for (int i = 0; i < kLines; ++i) {
    char buf[64];
    std::snprintf(buf, sizeof buf, mine.c_str(), i);
    sink.Write(buf);
  }
  if (child == 0) _exit(0);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  std::string text = scratch::ReadFile(log);
  std::set<std::string> parts;
  std::istringstream in(text);
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    ++count;
    EXPECT_TRUE(line.rfind(" child CTrace::Line ", 0) == 0 || line.rfind(" parent CTrace::Line ", 0) == 0) << line;
    parts.insert(line);
  }
  EXPECT_EQ(count, 2 * kLines);
  EXPECT_EQ(parts.size(), static_cast<size_t>(2 * kLines));
}

TEST(HostPlatformTest, OpensAUnitAndOwnsTheTraceSink) {
  TempDir dir;
  std::string error;
  HostOptions opts;
  opts.modulePath = "\\StorageCard\\Sysmend\\Sysmend.exe";
  opts.commandLine = "auto";
  EXPECT_EQ(HostPlatform::Open(dir / "missing", opts, &error), nullptr);
  EXPECT_NE(error.find(dir / "missing"), std::string::npos) << error;

  scratch::WriteFile(dir / "unit.ini", "[unit]\ncode_page = 936\ntime_scale = 0.01\n");
  ASSERT_EQ(::mkdir((dir / "fs").c_str(), 0755), 0);
  error.clear();
  EXPECT_EQ(HostPlatform::Open(dir.path(), opts, &error), nullptr);
  EXPECT_NE(error.find(dir / "registry.db"), std::string::npos) << error;

  ASSERT_NE(HostRegistry::Open(dir / "registry.db", true, &error), nullptr) << error;
  CaptureTrace before;
  {
    auto platform = HostPlatform::Open(dir.path(), opts, &error);
    ASSERT_NE(platform, nullptr) << error;
    EXPECT_EQ(platform->processes().GetModuleFileName(), opts.modulePath);
    EXPECT_EQ(platform->processes().GetCommandLine(), "auto");
    auto running = platform->processes().Snapshot();
    ASSERT_EQ(running.size(), 1u);  // the program itself
    EXPECT_EQ(running[0].exePath, opts.modulePath);
    EXPECT_EQ(platform->codePage().Number(), 936u);
    EXPECT_EQ(platform->hostClock().timeScale(), 0.01);
    EXPECT_TRUE(platform->files().CreateDirectory("\\StorageCard"));
    EXPECT_EQ(::access((dir / "fs/StorageCard").c_str(), F_OK), 0);
    EXPECT_NE(platform->registry().CreateKey("SoftWare\\Dravik"), nullptr);
    EXPECT_NE(platform->sync().CreateMutex("x"), nullptr);
    EXPECT_EQ(::access((dir / "run").c_str(), F_OK), 0);
    EXPECT_NE(platform->windows(), nullptr);
    Trace("\n CSysmendDlg::OnInitDialog %d \n", 7);
  }
  Trace("after\n");
  EXPECT_EQ(scratch::ReadFile(dir / "trace.log"), "\n CSysmendDlg::OnInitDialog 7 \n");
  EXPECT_TRUE(before.Contains("after")) << "the previous sink is back";
  EXPECT_FALSE(before.Contains("OnInitDialog"));
}

}  // namespace
}  // namespace hu
