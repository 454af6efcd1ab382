#include "sysmend/app/storage_roots.h"

#include <gtest/gtest.h>

#include "common/platform/testing/capture_trace.h"
#include "common/platform/testing/mem_registry.h"

namespace hu {

void PrintTo(const StorageRoots& r, std::ostream* os) {
  *os << "{" << r.dravik << ", " << r.nandFlash << ", " << r.storageCard << ", " << r.dravik2 << ", "
      << r.secondCard << ", " << r.dravik2Copy << "}";
}

namespace {

const std::string kProfiles = "System\\StorageManager\\Profiles\\";

StorageRoots Defaults() {
  StorageRoots roots;
  SetDefaultStorageRoots(roots);
  return roots;
}

RegValue Utf16Units(size_t units, bool terminated) {
  RegValue v = RegValue::String(std::string(units, 'a'));
  if (!terminated) v.data.resize(v.data.size() - 2);
  return v;
}

class StorageRootsTest : public ::testing::Test {
 protected:
  void PutFolder(const std::string& profile, const std::string& folder) {
    reg.Put(kProfiles + profile, "Folder", RegValue::String(folder));
  }
  MemRegistry reg;
  CaptureTrace trace;
  StorageRoots roots = Defaults();
};

TEST(StorageRoots, DefaultsAndTheProcessTable) {
  StorageRoots roots;
  roots.secondCard = "\\old";
  roots.dravik2Copy = "\\old";
  SetDefaultStorageRoots(roots);
  EXPECT_EQ(roots, (StorageRoots{"\\Dravik", "\\NandFlash", "\\Storagecard", "\\Dravik2", "", ""}));

  SetDefaultStorageRoots(GlobalStorageRoots());
  EXPECT_EQ(GlobalStorageRoots().dravik, "\\Dravik");
  ResetGlobalStorageRoots();
  EXPECT_EQ(GlobalStorageRoots(), StorageRoots{});
}

TEST_F(StorageRootsTest, FullProfilesReplaceEveryRoot) {
  PutFolder("SDMemory", "Storage Card");
  PutFolder("SDMemory0", "SDMMC");
  PutFolder("SMFLASH1", "NandFlash2");
  PutFolder("SMFLASH", "dravik");
  PutFolder("SMFLASH2", "ResidentFlash");
  GetDiskInfo(reg, roots, 5);
  EXPECT_EQ(roots, (StorageRoots{"\\dravik", "\\NandFlash2", "\\Storage Card", "\\ResidentFlash",
                                 "\\SDMMC", "\\ResidentFlash"}));
  EXPECT_EQ(trace.Lines(), std::vector<std::string>{"CAppvisorDlg::GetDiskInfo wince5.0 SDMemory Suc.\n"});

  for (uint32_t major : {6u, 7u}) {
    trace.Clear();
    GetDiskInfo(reg, roots, major);
    EXPECT_EQ(trace.Lines(), std::vector<std::string>{"CAppvisorDlg::GetDiskInfo wince6.0 SDMemory Suc.\n"});
  }
}

TEST_F(StorageRootsTest, MissingProfilesOrFoldersKeepTheDefaults) {
  GetDiskInfo(reg, roots, 5);
  EXPECT_EQ(roots, Defaults());

  reg.CreateKey(kProfiles + "SDMemory");
  reg.Put(kProfiles + "SMFLASH2", "Name", RegValue::String("Flash"));
  PutFolder("SMFLASH1", "NAND");
  GetDiskInfo(reg, roots, 6);
  StorageRoots expected = Defaults();
  expected.nandFlash = "\\NAND";
  EXPECT_EQ(roots, expected);
  EXPECT_TRUE(trace.Lines().empty());  // the storage card profile was not read
}

TEST_F(StorageRootsTest, FolderIsReadWithinTwoHundredSixtyBytes) {
  // 130 units without a terminator fill the buffer exactly.
  reg.Put(kProfiles + "SMFLASH", "Folder", Utf16Units(130, false));
  // 129 units and the terminator, likewise.
  reg.Put(kProfiles + "SMFLASH1", "Folder", Utf16Units(129, true));
  // One unit more cannot be read.
  reg.Put(kProfiles + "SDMemory", "Folder", Utf16Units(130, true));
  reg.Put(kProfiles + "SDMemory0", "Folder", Utf16Units(4000, false));
  reg.Put(kProfiles + "SMFLASH2", "Folder", RegValue::Dword(1));
  GetDiskInfo(reg, roots, 5);
  EXPECT_EQ(roots.dravik, "\\" + std::string(130, 'a'));
  EXPECT_EQ(roots.nandFlash, "\\" + std::string(129, 'a'));
  EXPECT_EQ(roots.storageCard, "\\Storagecard");
  EXPECT_EQ(roots.secondCard, "");
  EXPECT_EQ(roots.dravik2, "\\Dravik2");
  EXPECT_EQ(roots.dravik2Copy, "");
}

TEST(ModuleFolders, CutThePathAtTheRightBackslash) {
  CaptureTrace trace;
  const std::string exe = "\\StorageCard\\x\\Sysmend.exe";
  EXPECT_EQ(GetModuleFolder(exe), "\\StorageCard\\x\\");
  EXPECT_EQ(GetModuleRootFolder(exe), "\\StorageCard\\");
  EXPECT_EQ(GetUpdatePacksPath(exe), "\\StorageCard\\UpdateKitM");
  EXPECT_EQ(trace.Lines(), std::vector<std::string>{
                               " CSysmendDlg::GetUpdatePacksPath strPackPath = \\StorageCard\\UpdateKitM\r\n"});

  EXPECT_EQ(GetModuleFolder("Sysmend.exe"), "Sysmend.exe");
  EXPECT_EQ(GetModuleRootFolder("Sysmend.exe"), "");
  EXPECT_EQ(GetUpdatePacksPath("Sysmend.exe"), "UpdateKitM");

  EXPECT_EQ(GetModuleFolder("\\Sysmend.exe"), "\\");
  EXPECT_EQ(GetModuleRootFolder("\\Sysmend.exe"), "\\");
  EXPECT_EQ(GetUpdatePacksPath("\\Sysmend.exe"), "\\UpdateKitM");

  EXPECT_EQ(GetModuleRootFolder("\\SDMMC\\Sysmend.exe"), "\\SDMMC\\");
  EXPECT_EQ(GetModuleRootFolder(""), "");
  EXPECT_EQ(GetModuleFolder(""), "");
}

}  // namespace
}  // namespace hu
