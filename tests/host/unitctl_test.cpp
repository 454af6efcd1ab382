// unitctl run as a subprocess, the way people and scripts use it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "common/platform/errors.h"
#include "common/platform/host/host_registry.h"
#include "tests/host/temp_dir.h"

namespace hu {
namespace {

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}

class UnitctlTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.ok()); }
  std::string Unit() const { return dir_ / "u"; }

  Result Run(const std::vector<std::string>& args) {
    std::string cmd = ShellQuote(HU_UNITCTL_PATH);
    for (const auto& a : args) cmd += " " + ShellQuote(a);
    std::string errFile = dir_ / "stderr";
    cmd += " 2>" + ShellQuote(errFile) + " </dev/null";
    Result r;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int status = ::pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = scratch::ReadFile(errFile);
    return r;
  }

  // The value of NAME=... in `info` output.
  std::string InfoValue(const std::string& name) {
    Result r = Run({"info", Unit()});
    EXPECT_EQ(r.code, 0) << r.err;
    size_t at = r.out.find(name + "=");
    if (at == std::string::npos) return "<absent>";
    size_t end = r.out.find('\n', at);
    return r.out.substr(at + name.size() + 1, end - at - name.size() - 1);
  }

  TempDir dir_;
};

TEST_F(UnitctlTest, InitThenInfoFollowsTheRegistry) {
  Result init = Run({"init", Unit(), "--cpu", "MSTAR786", "--project", "18"});
  ASSERT_EQ(init.code, 0) << init.err;
  Result info = Run({"info", Unit()});
  ASSERT_EQ(info.code, 0) << info.err;
  EXPECT_EQ(info.out,
            "PlatformType=13\n"
            "DravikRoot=\\Dravik\n"
            "NandFlashRoot=\\NandFlash\n"
            "StorageCardRoot=\\StorageCard\n"
            "Dravik2Root=\\Dravik2\n"
            "SecondCardRoot=\\SDMMC\n"
            "Dravik2CopyRoot=\n");
  for (const char* folder : {"StorageCard", "SDMMC", "Dravik", "NandFlash", "Windows"}) {
    EXPECT_EQ(::access((Unit() + "/fs/" + folder).c_str(), F_OK), 0) << folder;
  }
  EXPECT_EQ(::access((Unit() + "/run").c_str(), F_OK), 0);
  EXPECT_EQ(::access((Unit() + "/flash").c_str(), F_OK), 0);

  ASSERT_EQ(Run({"reg", Unit(), "set", "SOFTWARE\\Dravik\\Os", "CPU_TYPE", "sz", "S5P6450"}).code, 0);
  ASSERT_EQ(Run({"reg", Unit(), "set", "SoftWare\\Dravik\\Os", "PROJECTTYPE", "dword", "20"}).code, 0);
  EXPECT_EQ(InfoValue("PlatformType"), "10");
  Result get = Run({"reg", Unit(), "get", "software\\dravik\\os", "projecttype"});
  EXPECT_EQ(get.out, "20\n");
  ASSERT_EQ(Run({"reg", Unit(), "set", "SoftWare\\Dravik\\Os", "PROJECTTYPE", "dword", "0x11"}).code, 0);
  EXPECT_EQ(Run({"reg", Unit(), "get", "SoftWare\\Dravik\\Os", "PROJECTTYPE"}).out, "17\n");
  EXPECT_EQ(Run({"reg", Unit(), "get", "SoftWare\\Dravik\\Os", "CPU_TYPE"}).out, "S5P6450\n");

  // A profile without its Folder value leaves the default root.
  const std::string smflash = "System\\StorageManager\\Profiles\\SMFLASH";
  ASSERT_EQ(Run({"reg", Unit(), "set", smflash, "Folder", "sz", "Other"}).code, 0);
  EXPECT_EQ(InfoValue("DravikRoot"), "\\Other");
  ASSERT_EQ(Run({"reg", Unit(), "delete", smflash, "Folder"}).code, 0);
  EXPECT_EQ(InfoValue("DravikRoot"), "\\Dravik");
  ASSERT_EQ(Run({"reg", Unit(), "set", "System\\StorageManager\\Profiles\\SMFLASH2", "Folder", "sz", "D2"}).code, 0);
  EXPECT_EQ(InfoValue("Dravik2Root"), "\\D2");
  EXPECT_EQ(InfoValue("Dravik2CopyRoot"), "\\D2");
}

TEST_F(UnitctlTest, InitRefusesAnExistingUnitUnlessForced) {
  ASSERT_EQ(Run({"init", Unit(), "--code-page", "1252"}).code, 0);
  EXPECT_NE(scratch::ReadFile(Unit() + "/unit.ini").find("code_page = 1252"), std::string::npos);
  ASSERT_EQ(Run({"reg", Unit(), "set", "SoftWare\\Dravik\\Os", "CPU_TYPE", "sz", "S5PC100"}).code, 0);
  Result again = Run({"init", Unit()});
  EXPECT_EQ(again.code, 1);
  EXPECT_NE(again.err.find("unit exists"), std::string::npos) << again.err;
  Result forced = Run({"init", Unit(), "--force"});
  EXPECT_EQ(forced.code, 0) << forced.err;
  EXPECT_EQ(Run({"reg", Unit(), "get", "SoftWare\\Dravik\\Os", "CPU_TYPE"}).out, "S5PC100\n")
      << "forcing without --cpu keeps the unit's value";
  EXPECT_NE(scratch::ReadFile(Unit() + "/unit.ini").find("code_page = 1252"), std::string::npos);
  ASSERT_EQ(Run({"init", Unit(), "--force", "--cpu", "MSTAR2521"}).code, 0);
  EXPECT_EQ(Run({"reg", Unit(), "get", "SoftWare\\Dravik\\Os", "CPU_TYPE"}).out, "MSTAR2521\n");
}

TEST_F(UnitctlTest, ExportImportRoundTrip) {
  ASSERT_EQ(Run({"init", Unit()}).code, 0);
  ASSERT_EQ(Run({"reg", Unit(), "set", "SoftWare\\Q7Sys\\WndName", "TranslateWndName", "sz", "a \"b\" \\c"}).code, 0);
  Result exported = Run({"reg", Unit(), "export"});
  ASSERT_EQ(exported.code, 0) << exported.err;
  EXPECT_EQ(exported.out.rfind("REGEDIT4\n\n", 0), 0u);
  EXPECT_NE(exported.out.find("\"TranslateWndName\"=\"a \\\"b\\\" \\\\c\"\n"), std::string::npos) << exported.out;
  EXPECT_NE(exported.out.find("\"PROJECTTYPE\"=dword:00000012\n"), std::string::npos);

  std::string file = dir_ / "reg.txt";
  ASSERT_EQ(Run({"reg", Unit(), "export", file}).code, 0);
  EXPECT_EQ(scratch::ReadFile(file), exported.out);
  std::string other = dir_ / "v";
  ASSERT_EQ(Run({"init", other}).code, 0);
  ASSERT_EQ(Run({"reg", other, "delete", "SoftWare"}).code, 0);
  ASSERT_EQ(Run({"reg", other, "import", file}).code, 0);
  EXPECT_EQ(Run({"reg", other, "export"}).out, exported.out);

  scratch::WriteFile(dir_ / "bad.txt", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:zz\n");
  Result bad = Run({"reg", Unit(), "import", dir_ / "bad.txt"});
  EXPECT_EQ(bad.code, 1);
  EXPECT_NE(bad.err.find("bad.txt: line 3"), std::string::npos) << bad.err;
}

TEST_F(UnitctlTest, ErrorsAreOneLineWithTheirExitCode) {
  auto oneLine = [](const Result& r) {
    return !r.err.empty() && r.err.find('\n') == r.err.size() - 1 && r.err.rfind("unitctl: ", 0) == 0;
  };
  Result usage = Run({"reg"});
  EXPECT_EQ(usage.code, 2);
  EXPECT_TRUE(oneLine(usage)) << usage.err;
  Result unknown = Run({"frobnicate"});
  EXPECT_EQ(unknown.code, 2);
  EXPECT_TRUE(oneLine(unknown)) << unknown.err;
  Result help = Run({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("init"), std::string::npos);

  Result missing = Run({"info", dir_ / "none"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_TRUE(oneLine(missing)) << missing.err;
  EXPECT_NE(missing.err.find(dir_ / "none"), std::string::npos);

  ASSERT_EQ(Run({"init", Unit()}).code, 0);
  Result badDword = Run({"reg", Unit(), "set", "A", "x", "dword", "0x100000000"});
  EXPECT_EQ(badDword.code, 2);
  EXPECT_TRUE(oneLine(badDword)) << badDword.err;
  EXPECT_EQ(Run({"reg", Unit(), "set", "A", "x", "qword", "1"}).code, 2);
  Result noValue = Run({"reg", Unit(), "get", "A", "x"});
  EXPECT_EQ(noValue.code, 1);
  EXPECT_TRUE(oneLine(noValue)) << noValue.err;

  scratch::WriteFile(Unit() + "/registry.db", std::string(8192, '\x5a'));
  ::unlink((Unit() + "/registry.db-wal").c_str());
  ::unlink((Unit() + "/registry.db-shm").c_str());
  Result broken = Run({"info", Unit()});
  EXPECT_EQ(broken.code, 1);
  EXPECT_TRUE(oneLine(broken)) << broken.err;
  EXPECT_NE(broken.err.find("registry.db"), std::string::npos) << broken.err;
}

TEST_F(UnitctlTest, ConcurrentWritersFromSeveralProcesses) {
  ASSERT_EQ(Run({"init", Unit()}).code, 0);
  // Four unitctl processes and this one write the registry at the same time.
  std::string script = "pids=; ";
  for (int p = 0; p < 4; ++p) {
    script += "(for i in 1 2 3 4 5 6 7 8; do " + ShellQuote(HU_UNITCTL_PATH) + " reg " + ShellQuote(Unit()) +
              " set 'Load\\P" + std::to_string(p) + "' V$i dword $i || exit 1; done) & pids=\"$pids $!\"; ";
  }
  script += "rc=0; for j in $pids; do wait $j || rc=1; done; exit $rc";
  FILE* p = ::popen(("sh -c " + ShellQuote(script)).c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string error;
  auto reg = HostRegistry::Open(Unit() + "/registry.db", false, &error);
  ASSERT_NE(reg, nullptr) << error;
  for (uint32_t i = 0; i < 40; ++i) {
    EXPECT_EQ(reg->CreateKey("Load\\Here")->SetValue("V" + std::to_string(i), RegValue::Dword(i)), ERROR_SUCCESS);
  }
  EXPECT_EQ(::pclose(p), 0);
  for (int proc = 0; proc < 4; ++proc) {
    auto key = reg->OpenKey("load\\p" + std::to_string(proc));
    ASSERT_NE(key, nullptr) << proc;
    EXPECT_EQ(key->ValueNames().size(), 8u) << proc;
  }
  EXPECT_EQ(reg->OpenKey("Load\\Here")->ValueNames().size(), 40u);
}

}  // namespace
}  // namespace hu
