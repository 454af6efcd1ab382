#include "sysmend/app/app_updater.h"

#include <gtest/gtest.h>

#include "common/ui/dialog.h"
#include "common/ui/local_windows.h"
#include "sysmend/app/step_panel.h"
#include "tests/sysmend_app/sysmend_fixture.h"

namespace hu {
namespace {

// A dialog holding only the status panel, the bar and the percent text.
class ViewDialog : public Dialog, public UpdateView {
 public:
  explicit ViewDialog(Desktop& desktop) : Dialog(desktop, 999), panel_(*this, 1009, 800) {
    DefineControl(ControlKind::Panel, 1009).SetPanelLineCount(StepPanel::kLines);
    DefineControl(ControlKind::Progress, 1013);
  }
  StepPanel& Panel() override { return panel_; }
  void SetProgress(int percent) override {
    GetDlgItem(1013)->SetPos(percent);
    progress.push_back(percent);
  }
  void ShowUpdateControls(bool) override {}
  void Repaint() override {}
  void NoticeAppUdpateResult(uint32_t code) override { notices.push_back(code); }

  std::vector<std::string> Lines() const {
    std::vector<std::string> out;
    for (int n = StepPanel::kFirstMessageLine; n < StepPanel::kLines; ++n) {
      const PanelLine* l = panel_.Line(n);
      if (l && !l->text.empty()) out.push_back(l->text + (l->color ? " [red]" : ""));
    }
    return out;
  }

  std::vector<int> progress;
  std::vector<uint32_t> notices;

 private:
  StepPanel panel_;
};

class AppUpdaterTest : public ::testing::Test, public SysmendFixture {
 protected:
  AppUpdaterTest() : desktop(clock, windows), view(desktop) {
    view.Create();
    files.PutFile("\\Dravik\\$KVR$\\App\\Appvisor.exe", "old app");
    files.PutFile("\\Dravik\\$KVR$\\App\\AppVerInfo.cfg", AppVerInfo("1.0"));
    files.PutFile("\\NandFlash\\user\\photo.jpg", "user data");
    files.PutFile("\\NandFlash\\$KVR$\\AppConfig\\x.cfg", "app data");
  }

  PackSlot PackSlotFor(const std::string& pack) {
    PutKitFile("app.auk", pack);
    PackSlot slot;
    slot.present = true;
    slot.path = kitFolder + "\\app.auk";
    slot.length = static_cast<uint32_t>(pack.size());
    slot.version = "2.0";
    return slot;
  }

  LocalWindows windows;
  Desktop desktop;
  ViewDialog view;
  std::string module = "\\StorageCard\\Sysmend\\";
};

TEST_F(AppUpdaterTest, FirstUpdateMovesTheApplicationAsideWithoutBackups) {
  CAppUpdater updater(files, clock, codePage, view, module);
  PackSlot slot = PackSlotFor(AppPack("2.0", {{"Appvisor.exe", "new app"}}));
  EXPECT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kRenamed);
  EXPECT_FALSE(files.Exists(CAppUpdater::kAppDir));
  EXPECT_EQ(files.FileBytes("\\Dravik\\$KVR$\\App_old\\Appvisor.exe"), "old app");
  EXPECT_FALSE(files.Exists(updater.DravikBackup()));

  // Phase 2 after the reboot.
  EXPECT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kInstalled);
  EXPECT_EQ(files.FileBytes("\\Dravik\\$KVR$\\App\\Appvisor.exe"), "new app");
  EXPECT_FALSE(files.Exists(CAppUpdater::kAppOldDir));
  EXPECT_EQ(files.FileBytes(CAppUpdater::kSuccessFlag), std::string("app Update Flag!", 17));
  EXPECT_EQ(files.FileBytes(CAppUpdater::kScreenCheckFlag), std::string("Screen Check Flag!", 19));
  EXPECT_FALSE(files.Exists("\\NandFlash\\$KVR$"));
  EXPECT_EQ(files.FileBytes("\\NandFlash\\user\\photo.jpg"), "user data");
  EXPECT_EQ(view.notices, std::vector<uint32_t>{1});
  EXPECT_EQ(view.Lines().back(), "App updated OK ! ");
  EXPECT_EQ(updater.m_nAppUpdateErr, 0u);
  for (int p : view.progress) EXPECT_GE(p, 2);
}

TEST_F(AppUpdaterTest, BackupsAreMadeAfterAnEarlierUpdateAndRestoreAFailedUnpack) {
  files.PutFile(CAppUpdater::kSuccessFlag, "app Update Flag!");
  files.PutFile(module + "UpdatePathInfo.ini", "[Ver]\r\nVersion=1.0\r\n");
  CAppUpdater updater(files, clock, codePage, view, module);
  // A member body that is not gzip data makes the unpack fail.
  testkit::Group kit{"\\kit\\", {{"\\kit\\Appvisor.exe", "x", "not gzip"}}};
  PackSlot slot = PackSlotFor(testkit::BuildPack({kit}));
  EXPECT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kRenamed);
  EXPECT_EQ(files.FileBytes(updater.DravikBackup() + "\\$KVR$\\App\\Appvisor.exe"), "old app");
  EXPECT_EQ(files.FileBytes(updater.NandFlashBackup() + "\\user\\photo.jpg"), "user data");
  EXPECT_EQ(view.Lines().front(), "Back up APP OK!");

  EXPECT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kInstalled);
  EXPECT_NE(updater.m_nAppUpdateErr, 0u);
  EXPECT_EQ(files.FileBytes("\\Dravik\\$KVR$\\App\\Appvisor.exe"), "old app");
  EXPECT_EQ(files.FileBytes("\\NandFlash\\user\\photo.jpg"), "user data");
  EXPECT_EQ(files.FileBytes("\\NandFlash\\$KVR$\\AppConfig\\x.cfg"), "app data");
  EXPECT_FALSE(files.Exists(updater.DravikBackup()));
  EXPECT_FALSE(files.Exists(updater.FailureFlag()));
  EXPECT_EQ(view.notices, std::vector<uint32_t>{2});
  EXPECT_EQ(view.Lines().back(), "App updated Failed!  [red]");
}

TEST_F(AppUpdaterTest, FailedUnpackWithoutBackupsKeepsTheOldApplication) {
  CAppUpdater updater(files, clock, codePage, view, module);
  testkit::Group kit{"\\kit\\", {{"\\kit\\Appvisor.exe", "x", "not gzip"}}};
  PackSlot slot = PackSlotFor(testkit::BuildPack({kit}));
  ASSERT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kRenamed);
  EXPECT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kInstalled);
  EXPECT_EQ(files.FileBytes("\\Dravik\\$KVR$\\App\\Appvisor.exe"), "old app");
  EXPECT_EQ(files.FileBytes("\\NandFlash\\user\\photo.jpg"), "user data");
  EXPECT_FALSE(files.Exists(CAppUpdater::kAppOldDir));
}

TEST_F(AppUpdaterTest, InterruptedUnpackIsRedoneNotMovedOverTheOldApplication) {
  CAppUpdater updater(files, clock, codePage, view, module);
  PackSlot slot = PackSlotFor(AppPack("2.0", {{"Appvisor.exe", "new app"}}));
  ASSERT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kRenamed);
  // Power lost half-way through the unpack: a partial App and the old one aside.
  files.PutFile("\\Dravik\\$KVR$\\App\\half.dll", "partial");
  EXPECT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kRenamed);
  EXPECT_EQ(files.FileBytes("\\Dravik\\$KVR$\\App_old\\Appvisor.exe"), "old app");
  EXPECT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kInstalled);
  EXPECT_EQ(files.FileBytes("\\Dravik\\$KVR$\\App\\Appvisor.exe"), "new app");
  EXPECT_FALSE(files.Exists("\\Dravik\\$KVR$\\App\\half.dll"));
}

TEST_F(AppUpdaterTest, RecoveryAfterPowerLossRestoresFromBackups) {
  CAppUpdater updater(files, clock, codePage, view, module);
  EXPECT_FALSE(updater.NeedAppRecovery());
  files.PutFile(updater.DravikBackup() + "\\$KVR$\\App\\Appvisor.exe", "old app");
  files.PutFile(updater.NandFlashBackup() + "\\user\\photo.jpg", "user data");
  updater.WriteAppFailedFlag();
  EXPECT_EQ(files.FileBytes(updater.FailureFlag()), std::string("App_Update_Failed_Flag!", 24));
  files.DeleteFile("\\NandFlash\\user\\photo.jpg");
  files.PutFile("\\Dravik\\$KVR$\\App\\Appvisor.exe", "half new");
  EXPECT_TRUE(updater.NeedAppRecovery());
  files.PutFile(CAppUpdater::kSuccessFlag, "x");
  EXPECT_FALSE(updater.NeedAppRecovery());
  files.DeleteFile(CAppUpdater::kSuccessFlag);

  updater.RecoverApp();
  EXPECT_EQ(files.FileBytes("\\Dravik\\$KVR$\\App\\Appvisor.exe"), "old app");
  EXPECT_EQ(files.FileBytes("\\NandFlash\\user\\photo.jpg"), "user data");
  EXPECT_FALSE(files.Exists(updater.DravikBackup()));
  EXPECT_FALSE(files.Exists(updater.FailureFlag()));
  EXPECT_FALSE(updater.NeedAppRecovery());
}

TEST_F(AppUpdaterTest, ProgressMapping) {
  CAppUpdater updater(files, clock, codePage, view, module);
  updater.BackupProgress(0, 1, 0);
  updater.BackupProgress(0, 50, 0);
  updater.BackupProgress(0, 60, 5);  // an error changes nothing
  files.MakeDirs(updater.NandFlashBackup());
  updater.BackupProgress(0, 50, 0);
  updater.BackupProgress(2, 0, 100);  // restore, not the first partition: 4 x v / 100 + 86
  updater.BackupProgress(4, 0, 50);   // delete backup: 4 x 50 / 100 + 96
  updater.BackupProgress(3, 0, 50);   // clearing shows nothing
  EXPECT_EQ(view.progress, (std::vector<int>{2, 50, 40, 90, 98}));
  updater.BackupProgress(1, 0, 50);
  EXPECT_EQ(view.Lines().back(), "Back up APP now ( 90% )");
  updater.BackupProgress(1, 0, 100);
  EXPECT_EQ(view.Lines().back(), "Back up APP OK!");
}

// An earlier update succeeded and the head unit staged the kit: backups are made.
class BackedUpUpdateTest : public AppUpdaterTest {
 protected:
  BackedUpUpdateTest() {
    files.PutFile(CAppUpdater::kSuccessFlag, "app Update Flag!");
    files.PutFile(module + "UpdatePathInfo.ini", "[Ver]\r\nVersion=1.0\r\n");
  }
  void ExpectOldApplicationAndUserFiles(const CAppUpdater& updater) {
    EXPECT_EQ(files.FileBytes("\\Dravik\\$KVR$\\App\\Appvisor.exe"), "old app");
    EXPECT_EQ(files.FileBytes("\\NandFlash\\user\\photo.jpg"), "user data");
    EXPECT_EQ(files.FileBytes("\\NandFlash\\$KVR$\\AppConfig\\x.cfg"), "app data");
    EXPECT_FALSE(files.Exists(CAppUpdater::kAppOldDir));
    EXPECT_FALSE(files.Exists(updater.DravikBackup()));
    EXPECT_TRUE(files.Exists(CAppUpdater::kSuccessFlag));
  }
};

// A disk that fills during the unpack: the half-unpacked application goes
// first, so the failure flag that makes the recovery resumable can be written.
TEST_F(BackedUpUpdateTest, UnpackThatFillsTheDiskRecoversTheOldApplication) {
  CAppUpdater updater(files, clock, codePage, view, module);
  PackSlot slot = PackSlotFor(AppPack("2.0", {{"Appvisor.exe", "new app"}, {"maps.dat", std::string(300000, 'm')}}));
  ASSERT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kRenamed);
  files.SetQuota(files.UsedBytes() + 100000);
  EXPECT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kInstalled);
  EXPECT_EQ(updater.m_nAppUpdateErr, 4u);
  EXPECT_FALSE(trace.Contains("create flag file"));  // every flag found its room
  ExpectOldApplicationAndUserFiles(updater);
  EXPECT_EQ(view.Lines().back(), "App updated Failed!  [red]");
}

// Once the backup holds the old application, its room serves the new one.
TEST_F(BackedUpUpdateTest, OldApplicationMakesRoomOnceTheBackupHoldsIt) {
  files.PutFile("\\Dravik\\$KVR$\\App\\big.dat", std::string(200000, 'o'));
  CAppUpdater updater(files, clock, codePage, view, module);
  PackSlot slot = PackSlotFor(AppPack("2.0", {{"Appvisor.exe", "new app"}, {"big.dat", std::string(200000, 'n')}}));
  ASSERT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kRenamed);
  files.SetQuota(files.UsedBytes() + 100000);
  EXPECT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kInstalled);
  EXPECT_EQ(updater.m_nAppUpdateErr, 0u);
  EXPECT_EQ(files.FileBytes("\\Dravik\\$KVR$\\App\\big.dat"), std::string(200000, 'n'));
  EXPECT_FALSE(files.Exists(updater.FailureFlag()));
  EXPECT_FALSE(updater.NeedAppRecovery());
}

// Run from inside the partition it backs up, the updater's own folder is
// neither copied into its backup nor cleared by the recovery.
TEST_F(BackedUpUpdateTest, UpdaterInsideThePartitionKeepsItsOwnFolder) {
  module = "\\Dravik\\Sysmend\\";
  files.PutFile(module + "Sysmend.exe", "updater");
  files.PutFile(module + "UpdatePathInfo.ini", "[Ver]\r\nVersion=1.0\r\n");
  CAppUpdater updater(files, clock, codePage, view, module);
  testkit::Group kit{"\\kit\\", {{"\\kit\\Appvisor.exe", "x", "not gzip"}}};
  PackSlot slot = PackSlotFor(testkit::BuildPack({kit}));
  ASSERT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kRenamed);
  EXPECT_FALSE(files.Exists(updater.DravikBackup() + "\\Sysmend"));
  EXPECT_EQ(files.FileBytes(updater.DravikBackup() + "\\$KVR$\\App\\Appvisor.exe"), "old app");
  EXPECT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kInstalled);
  ExpectOldApplicationAndUserFiles(updater);
  EXPECT_EQ(files.FileBytes(module + "Sysmend.exe"), "updater");
}

// Leftovers the updater cannot delete plainly do not turn into a reboot at every start.
TEST_F(AppUpdaterTest, LeftoversThatResistDeletionNeitherBlockNorLoop) {
  files.PutFile(CAppUpdater::kSuccessFlag, "app Update Flag!");
  files.PutFile("\\Dravik\\$KVR$\\App_old\\locked.dll", "stale");
  files.SetAttributes("\\Dravik\\$KVR$\\App_old\\locked.dll", FILE_ATTRIBUTE_READONLY);
  CAppUpdater updater(files, clock, codePage, view, module);
  PackSlot slot = PackSlotFor(AppPack("2.0", {{"Appvisor.exe", "new app"}}));
  EXPECT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kRenamed);
  EXPECT_FALSE(files.Exists("\\Dravik\\$KVR$\\App_old\\locked.dll"));
  EXPECT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kInstalled);

  // The application cannot be moved aside: the update stops where it is.
  files.FailNth(MemOp::Move, 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kStuck);
  EXPECT_EQ(files.FileBytes("\\Dravik\\$KVR$\\App\\Appvisor.exe"), "new app");
  EXPECT_EQ(view.Lines().back(), "App updated Failed!  [red]");
}

// A first phase whose second does not come (the kit removed or refused) is undone.
TEST_F(AppUpdaterTest, PendingPhaseIsRolledBack) {
  CAppUpdater updater(files, clock, codePage, view, module);
  PackSlot slot = PackSlotFor(AppPack("2.0", {{"Appvisor.exe", "new app"}}));
  EXPECT_FALSE(updater.PendingAppPhase());
  ASSERT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kRenamed);
  EXPECT_TRUE(updater.PendingAppPhase());
  updater.RollBackPendingPhase();
  EXPECT_EQ(files.FileBytes("\\Dravik\\$KVR$\\App\\Appvisor.exe"), "old app");
  EXPECT_FALSE(files.Exists(CAppUpdater::kAppOldDir));
  EXPECT_FALSE(updater.PendingAppPhase());

  // The same after an unpack cut short: its partial files go.
  ASSERT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kRenamed);
  files.DeleteFile(CAppUpdater::kSuccessFlag);
  files.PutFile("\\Dravik\\$KVR$\\App\\half.dll", "partial");
  EXPECT_TRUE(updater.PendingAppPhase());
  updater.RollBackPendingPhase();
  EXPECT_EQ(files.FileBytes("\\Dravik\\$KVR$\\App\\Appvisor.exe"), "old app");
  EXPECT_FALSE(files.Exists("\\Dravik\\$KVR$\\App\\half.dll"));
}

// Without a backup the old application stays beside the new one: when both
// cannot fit, the update stops before moving anything (no reboot for nothing).
TEST_F(AppUpdaterTest, NoRoomBesideTheOldApplicationStopsBeforePhaseOne) {
  CAppUpdater updater(files, clock, codePage, view, module);
  PackSlot slot = PackSlotFor(AppPack("2.0", {{"Appvisor.exe", "new app"}}));
  files.SetDiskSpace("Dravik", 0x100000, 0x300000);
  EXPECT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kStuck);
  EXPECT_EQ(files.FileBytes("\\Dravik\\$KVR$\\App\\Appvisor.exe"), "old app");
  EXPECT_FALSE(files.Exists(CAppUpdater::kAppOldDir));
  EXPECT_TRUE(trace.Contains("CheckDiskRoom::disk is not enough"));

  // An unpack cut short beside the old application is redone, not judged for room.
  files.MakeDirs(CAppUpdater::kAppOldDir);
  files.PutFile("\\Dravik\\$KVR$\\App_old\\Appvisor.exe", "old app");
  files.PutFile("\\Dravik\\$KVR$\\App\\half.dll", "partial");
  EXPECT_EQ(updater.Run(slot, false, {}), CAppUpdater::Outcome::kRenamed);
  EXPECT_FALSE(files.Exists(CAppUpdater::kAppDir));
}

}  // namespace
}  // namespace hu
