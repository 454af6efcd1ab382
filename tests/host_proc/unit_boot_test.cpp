// `unitctl boot` and `unitctl ps` run as people run them, and the unit's reboot.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>

#include "common/platform/host/host_files.h"
#include "common/platform/host/host_processes.h"
#include "common/platform/host/run_records.h"
#include "common/platform/host/serial/unit_reboot.h"
#include "tests/host_proc/proc_test_support.h"
#include "tools/unitctl/unit_boot.h"

namespace hu {
namespace {

class UnitBootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    ASSERT_TRUE(MakeTestUnit(Unit()));
  }
  std::string Unit() const { return dir_ / "u"; }
  std::string Fs(const std::string& rel) const { return Unit() + "/fs/" + rel; }
  void Put(const std::string& rel, const std::string& content, mode_t mode = 0644) {
    std::string path = Fs(rel);
    MakeRunDirs(path.substr(0, path.rfind('/')));
    WriteHostFileMode(path, content, mode);
  }
  CommandResult Unitctl(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {HU_UNITCTL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv, dir_ / "stderr");
  }
  std::unique_ptr<HostProcesses> Processes(const std::string& module) {
    files_ = std::make_unique<HostFiles>(Unit() + "/fs");
    HostProcessesConfig config;
    config.unitDir = Unit();
    config.modulePath = module;
    config.hostPath = [this](const std::string& p) { return files_->HostPath(p); };
    return std::make_unique<HostProcesses>(std::move(config));
  }

  TempDir dir_;
  std::unique_ptr<HostFiles> files_;
};

TEST_F(UnitBootTest, BootsAgainAfterAReboot) {
  Put("Windows/leftover.exe", "virtual");
  Put("dravik/$KVR$/App/Appvisor.exe", "virtual");
  CommandResult r = Unitctl({"boot", Unit(), "--", HU_PROC_PEER, "reboot-once"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "peer: first boot\n"
            "boot 1: host_proc_peer reboot-once -> rebooted\n"
            "peer: second boot\n"
            "boot 2: host_proc_peer reboot-once -> closed, started \\dravik\\$KVR$\\App\\Appvisor.exe\n");
  // The second boot saw nothing of the first: only itself.
  EXPECT_EQ(scratch::ReadFile(Fs("boot2_ps.txt")), "\\Windows\\Peer.exe\n");
  EXPECT_FALSE(ReadUnitReboot(Unit(), nullptr)) << "the reboot record is consumed";

  CommandResult ps = Unitctl({"ps", Unit()});
  EXPECT_EQ(ps.code, 0) << ps.err;
  EXPECT_EQ(ps.out.find("PID   HOST     STARTED"), 0u) << ps.out;
  EXPECT_NE(ps.out.find(" virtual  "), std::string::npos) << ps.out;
  EXPECT_NE(ps.out.find("\\dravik\\$KVR$\\App\\Appvisor.exe\n"), std::string::npos) << ps.out;
  EXPECT_EQ(ps.out.find("leftover"), std::string::npos) << ps.out;
}

TEST_F(UnitBootTest, ReportsHowTheLastRunEnded) {
  CommandResult crash = Unitctl({"boot", Unit(), "--", HU_PROC_PEER, "crash"});
  EXPECT_EQ(crash.code, 1);
  EXPECT_EQ(crash.out.find("boot 1: host_proc_peer crash -> crashed (signal 6"), 0u) << crash.out;

  // The last program's own code is handed on.
  CommandResult failed = Unitctl({"boot", Unit(), "--", HU_PROC_PEER, "exit", "3"});
  EXPECT_EQ(failed.code, 3);
  EXPECT_EQ(failed.out, "boot 1: host_proc_peer exit 3 -> exited with code 3\n");

  CommandResult looping = Unitctl({"boot", Unit(), "--max-boots", "2", "--", HU_PROC_PEER, "reboot-always"});
  EXPECT_EQ(looping.code, 1);
  EXPECT_EQ(looping.out,
            "boot 1: host_proc_peer reboot-always -> rebooted\n"
            "boot 2: host_proc_peer reboot-always -> rebooted\n");
  EXPECT_NE(looping.err.find("after 2 boots"), std::string::npos) << looping.err;

  CommandResult missing = Unitctl({"boot", Unit(), "--", dir_ / "no-such-program"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.err.find("cannot run"), std::string::npos) << missing.err;
}

TEST_F(UnitBootTest, ARebootEndsTheUnitsProgramsAndEmptiesRun) {
  Put("Windows/sleeper.exe", "#!/bin/sh\nexec sleep 30\n", 0755);
  Put("Windows/virtual.exe", "x");
  auto processes = Processes("\\Windows\\Tester.exe");
  uint32_t sleeper = 0;
  ASSERT_TRUE(processes->CreateProcess("\\Windows\\sleeper.exe", "", &sleeper));
  ASSERT_TRUE(processes->CreateProcess("\\Windows\\virtual.exe", ""));
  ProcessRecord record;
  ASSERT_TRUE(processes->table().Read(sleeper, &record));
  scratch::WriteFile(Unit() + "/run/clean_reboot", "mark");

  CommandResult ps = Unitctl({"ps", Unit()});
  EXPECT_NE(ps.out.find(std::to_string(record.hostPid) + " "), std::string::npos) << ps.out;
  EXPECT_NE(ps.out.find(std::to_string(::getpid()) + " "), std::string::npos) << ps.out;

  std::string error;
  // The test process itself is the one program a reboot may not end here.
  ASSERT_TRUE(RebootUnitRun(Unit(), &error)) << error;
  EXPECT_FALSE(HostProcessAlive(record.hostPid, record.hostStart));
  EXPECT_TRUE(processes->Snapshot().empty());
  EXPECT_EQ(::access((Unit() + "/run/clean_reboot").c_str(), F_OK), -1);
  EXPECT_EQ(::access((Unit() + "/run").c_str(), F_OK), 0);
  EXPECT_EQ(::access(Fs("Windows/virtual.exe").c_str(), F_OK), 0) << "the file system stays";

  CommandResult notUnit = Unitctl({"ps", dir_ / "nothing"});
  EXPECT_EQ(notUnit.code, 1);
}

}  // namespace
}  // namespace hu
