// The two-phase application update through the unit's boots.
#include <filesystem>

#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"

namespace hu::e2e {
namespace {
namespace fs = std::filesystem;

const char kOs[] = "3A1F0C01234567";
const char kBoot[] = "12345678";

class AppUpdateE2E : public ::testing::Test {
 protected:
  AppUpdateE2E()
      : unit({"--os-version", kOs, "--boot-version", kBoot, "--conf-version", "00A100000001", "--app-version",
              "1.0.0"}) {
    unit.Put("Dravik/$KVR$/App/Appvisor.exe", "application 1.0.0");
    unit.Put("Dravik/$KVR$/App/Skin/a.skn", "old skin");
    unit.Put("NandFlash/$KVR$/AppConfig/DeviceConfig.cfg", "settings");
    unit.Put("NandFlash/Music/song.mp3", "a song");
    // An earlier update succeeded and the head unit staged the kit: backups are made.
    unit.Put("Dravik/$KVR$/KitUpdated.flg", std::string("app Update Flag!", 17));
    unit.Put("StorageCard/Sysmend/UpdatePathInfo.ini", "[Ver]\r\nVersion=1.0\r\n[Q7UpdatePacks]\r\n");
    fs::create_directories(unit.Fs("StorageCard/UpdateKitM"));
    WriteFile(app.path() + "/Appvisor.exe", "application 1.1.0");
    WriteFile(app.path() + "/Skin/a.skn", "new skin");
    WriteFile(app.path() + "/Maps/maps.dat", std::string(70000, 'm'));
  }

  RunResult Kitpack(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {Bin("kitpack")};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv);
  }

  RunResult Boot(const std::vector<std::string>& sysmendArgs = {"auto"}) {
    std::vector<std::string> argv = {Bin("unitctl"), "boot", unit.dir(), "--", Bin("sysmend")};
    argv.insert(argv.end(), sysmendArgs.begin(), sysmendArgs.end());
    return RunProgram(argv, "", 60000);
  }

  TestUnit unit;
  TempDir app;
  TempDir work;
};

TEST_F(AppUpdateE2E, ContainerWithTheInstalledImagesReplacesOnlyTheApplication) {
  ASSERT_EQ(Kitpack({"auk", work.path() + "/app.auk", app.path(), "--version", "1.1.0"}).exitCode, 0);
  WriteFile(work.path() + "/os.nb0", "OS");
  WriteFile(work.path() + "/boot.bin", "BOOT");
  RunResult kit = Kitpack({"kvq", unit.Fs("StorageCard/UpdateKitM/full.kvq"), "--version",
                           std::string(kBoot) + "X-" + kOs + "-1.1.0", "--boot", work.path() + "/boot.bin", "--os",
                           work.path() + "/os.nb0", "--app", work.path() + "/app.auk"});
  ASSERT_EQ(kit.exitCode, 0) << kit.err;

  RunResult boot = Boot();
  EXPECT_EQ(boot.exitCode, 0) << boot.out << boot.err;
  EXPECT_NE(boot.out.find("rebooted"), std::string::npos) << boot.out;
  EXPECT_NE(boot.out.find("Appvisor.exe"), std::string::npos) << boot.out;
  EXPECT_NE(boot.out.find("App updated OK ! "), std::string::npos);
  EXPECT_FALSE(unit.Exists("flash/os.img"));
  EXPECT_FALSE(unit.Exists("flash/boot.img"));

  auto installed = TreeOf(unit.Fs("Dravik/$KVR$/App"));
  auto expected = TreeOf(app.path());
  for (const auto& f : expected) EXPECT_EQ(installed[f.first], f.second) << f.first;
  EXPECT_EQ(installed["AppVerInfo.cfg"].substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(installed.size(), expected.size() + 1);
  EXPECT_TRUE(unit.Exists("fs/Dravik/$KVR$/KitUpdated.flg"));
  EXPECT_TRUE(unit.Exists("fs/Dravik/$KVR$/ScreenCheckFlag.dat"));
  EXPECT_FALSE(unit.Exists("fs/Dravik/$KVR$/App_old"));
  EXPECT_FALSE(unit.Exists("fs/StorageCard/Sysmend/Dravik_BK"));
  EXPECT_FALSE(unit.Exists("fs/StorageCard/Sysmend/Nandflash_BK"));
  EXPECT_EQ(unit.Read("fs/NandFlash/Music/song.mp3"), "a song");
  EXPECT_FALSE(unit.Exists("fs/NandFlash/$KVR$"));
  RunResult ps = RunProgram({Bin("unitctl"), "ps", unit.dir()});
  EXPECT_NE(ps.out.find("Appvisor.exe"), std::string::npos) << ps.out;
}

TEST_F(AppUpdateE2E, ApplicationThatFailsToUnpackIsRestoredFromTheBackups) {
  ASSERT_EQ(Kitpack({"auk", work.path() + "/app.auk", app.path(), "--version", "1.1.0"}).exitCode, 0);
  // Cut the pack short: the last member's body lies beyond the file and the
  // unpack fails part-way (damaged deflate data alone is not detected).
  std::string pack = ReadFile(work.path() + "/app.auk");
  WriteFile(unit.Fs("StorageCard/UpdateKitM/app.auk"), pack.substr(0, pack.size() - 50));

  RunResult boot = Boot();
  EXPECT_EQ(boot.exitCode, 1) << boot.out << boot.err;
  EXPECT_NE(boot.out.find("App updated Failed! "), std::string::npos) << boot.out;
  EXPECT_NE(boot.err.find("App updated Failed! "), std::string::npos) << "the failure reaches a script too";
  // The partitions were cleared and restored: read them as the device does.
  EXPECT_EQ(unit.ReadDevice("\\dravik\\$KVR$\\App\\Appvisor.exe"), "application 1.0.0");
  EXPECT_EQ(unit.ReadDevice("\\dravik\\$KVR$\\App\\Skin\\a.skn"), "old skin");
  EXPECT_EQ(unit.ReadDevice("\\NandFlash\\Music\\song.mp3"), "a song");
  EXPECT_EQ(unit.ReadDevice("\\NandFlash\\$KVR$\\AppConfig\\DeviceConfig.cfg"), "settings");
  EXPECT_FALSE(unit.Exists("fs/StorageCard/Sysmend/AppUpdateFailed.dat"));
  EXPECT_FALSE(unit.Exists("fs/StorageCard/Sysmend/Dravik_BK"));
}

TEST_F(AppUpdateE2E, PowerLossAfterTheFailureFlagRecoversAtTheNextBoot) {
  // The state a power loss leaves after the failure flag was written: backups
  // present, the partitions half cleared, no success flag.
  unit.Put("StorageCard/Sysmend/Dravik_BK/$KVR$/App/Appvisor.exe", "application 1.0.0");
  unit.Put("StorageCard/Sysmend/Nandflash_BK/Music/song.mp3", "a song");
  unit.Put("StorageCard/Sysmend/AppUpdateFailed.dat", std::string("App_Update_Failed_Flag!", 24));
  fs::remove(unit.Fs("Dravik/$KVR$/KitUpdated.flg"));
  fs::remove(unit.Fs("NandFlash/Music/song.mp3"));
  unit.Put("Dravik/$KVR$/App/Appvisor.exe", "half written");

  RunResult boot = Boot();
  EXPECT_EQ(boot.exitCode, 0) << boot.out << boot.err;
  EXPECT_NE(boot.out.find("App Updated OK, it will run APP after 3 second!"), std::string::npos) << boot.out;
  EXPECT_EQ(unit.Read("fs/Dravik/$KVR$/App/Appvisor.exe"), "application 1.0.0");
  EXPECT_EQ(unit.Read("fs/NandFlash/Music/song.mp3"), "a song");
  EXPECT_TRUE(unit.Exists("fs/Dravik/$KVR$/KitUpdated.flg"));
  EXPECT_FALSE(unit.Exists("fs/StorageCard/Sysmend/Dravik_BK"));
}

// A loose pack goes through the same room check, progress and result codes
// as a container's application section.
TEST_F(AppUpdateE2E, LoosePackReportsProgressAndKeepsTheKitWhenThereIsNoRoom) {
  const std::string pack = unit.Fs("StorageCard/UpdateKitM/app.auk");
  ASSERT_EQ(Kitpack({"auk", pack, app.path(), "--version", "1.1.0"}).exitCode, 0);
  unit.Put("StorageCard/Sysmend/UpdatePathInfo.ini",
           "[Ver]\r\nVersion=1.0\r\n[Q7UpdatePacks]\r\nPack1=\\StorageCard\\UpdateKitM\\app.auk\r\n");
  unit.SetIni("disk", "dravik.total_bytes", "100000");

  RunResult boot = Boot({"auto", "--ui-log", work.path() + "/ui.jsonl"});
  EXPECT_NE(boot.out.find("App updated Failed! "), std::string::npos) << boot.out;
  EXPECT_EQ(unit.ReadDevice("\\dravik\\$KVR$\\App\\Appvisor.exe"), "application 1.0.0");
  EXPECT_TRUE(unit.Exists("fs/StorageCard/UpdateKitM/app.auk")) << "the kit stays for a unit with more room";
  EXPECT_TRUE(unit.Exists("fs/StorageCard/Sysmend/UpdatePathInfo.ini"));

  // With room, each of the pack's members moves the bar (scaled to 80 while backups exist).
  unit.SetIni("disk", "dravik.total_bytes", "");
  unit.Put("Dravik/$KVR$/KitUpdated.flg", std::string("app Update Flag!", 17));
  boot = Boot({"auto", "--ui-log", work.path() + "/ui.jsonl"});
  EXPECT_NE(boot.out.find("App updated OK ! "), std::string::npos) << boot.out;
  EXPECT_EQ(unit.ReadDevice("\\dravik\\$KVR$\\App\\Appvisor.exe"), "application 1.1.0");
  std::string log = ReadFile(work.path() + "/ui.jsonl");
  for (const char* percent : {"\"20%\"", "\"40%\"", "\"60%\"", "\"80%\""}) {
    EXPECT_NE(log.find(percent), std::string::npos) << percent;
  }
}

// Run from inside the partition it backs up, the updater neither copies its
// backup into itself nor clears its own folder.
TEST_F(AppUpdateE2E, UpdaterRunFromThePartitionItBacksUp) {
  fs::create_directories(unit.Fs("Dravik/UpdateKitM"));
  ASSERT_EQ(Kitpack({"auk", unit.Fs("Dravik/UpdateKitM/app.auk"), app.path(), "--version", "1.1.0"}).exitCode, 0);
  unit.Put("Dravik/Sysmend/UpdatePathInfo.ini", "[Ver]\r\nVersion=1.0\r\n[Q7UpdatePacks]\r\n");
  RunResult boot = Boot({"--module", "\\Dravik\\Sysmend\\Sysmend.exe", "auto"});
  EXPECT_EQ(boot.exitCode, 0) << boot.out << boot.err;
  EXPECT_NE(boot.out.find("Back up APP OK!"), std::string::npos) << boot.out;
  EXPECT_NE(boot.out.find("App updated OK ! "), std::string::npos) << boot.out;
  EXPECT_EQ(unit.ReadDevice("\\dravik\\$KVR$\\App\\Appvisor.exe"), "application 1.1.0");
  EXPECT_EQ(unit.ReadDevice("\\NandFlash\\Music\\song.mp3"), "a song");
  EXPECT_FALSE(unit.Exists("fs/Dravik/Sysmend/Dravik_BK"));
}

}  // namespace
}  // namespace hu::e2e
