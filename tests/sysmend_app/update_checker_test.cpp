#include "sysmend/app/update_checker.h"

#include <gtest/gtest.h>

#include "sysmend/app/packs_shearcher.h"
#include "tests/sysmend_app/sysmend_fixture.h"

namespace hu {
namespace {

const char kOs[] = "3A1F0C01234567";      // generation 0 (digit 6 is 0)
const char kOsGen1[] = "3A1F0C21234567";  // generation 1 (digit 6 has bit 1), same hardware
const char kBoot[] = "12345678";
const char kConf[] = "00A100000001";

class UpdateCheckerTest : public ::testing::Test, public SysmendFixture {
 protected:
  void SetUp() override {
    InstallHalbridge();
    SetInstalled(kOs, kBoot, kConf, "1.0.0");
  }

  std::vector<std::string> Run(bool autoMode) {
    CPacksShearcher shearcher(files, codePage);
    EXPECT_TRUE(shearcher.ShearchPacksInfoVec(kitFolder));
    packs = *shearcher.m_pPackInfoVec();
    InstalledVersions installed(files, registry, &library, &devices);
    UpdateChecker checker(files, codePage, registry, installed);
    EXPECT_TRUE(checker.CheckUpdatePacks(&packs, autoMode));
    plan = UpdatePlan();
    ready = checker.PreparePackSlots(&packs, "\\StorageCard\\UpdateKitM", &plan);
    std::vector<std::string> lines;
    for (const StatusLine& l : plan.lines) lines.push_back(l.text + (l.color ? " [red]" : ""));
    return lines;
  }

  std::vector<PackInfo> packs;
  UpdatePlan plan;
  bool ready = false;
};

TEST_F(UpdateCheckerTest, VerdictLinesInFolderOrderAndSkippedFiles) {
  PutKitFile(std::string(kOs) + ".nb0", "os image");
  PutKitFile("LOGO2.BMP", "logo");
  PutKitFile("logo4.bmp", "not a logo slot");
  PutKitFile("photo.bmp", "skipped");
  PutKitFile("noextension", "skipped");
  PutKitFile("22345678.bin", "boot of another cpu");
  PutKitFile("00A100000002.kvr", "configuration");

  std::vector<std::string> manual = Run(false);
  EXPECT_EQ(manual, (std::vector<std::string>{
                        "kvr File is valid ! (ver: 00A100000002)",
                        "boot File is invalid, boot cpu invalid ! (ver: 22345678) [red]",
                        "os File is valid ! (ver: 3A1F0C01234567)",
                        "logo File is valid ! (ver: LOGO2)",
                    }));
  EXPECT_TRUE(ready);
  EXPECT_TRUE(plan.slots[kSlotOs].present);
  EXPECT_EQ(plan.slots[kSlotOs].length, 8u);
  EXPECT_TRUE(plan.slots[kSlotLogo2].present);
  EXPECT_FALSE(plan.slots[kSlotBoot].present);

  std::vector<std::string> automatic = Run(true);
  EXPECT_EQ(automatic[2], "os File is invalid, the same ver of os with local (ver: 3A1F0C01234567) [red]");
  EXPECT_FALSE(plan.slots[kSlotOs].present);
}

TEST_F(UpdateCheckerTest, UnknownInstalledVersionAndSecondImageIgnored) {
  FakeHalbridge::versions[kVersionBoot] = "";
  PutKitFile("12345678.bin", "boot");
  PutKitFile("a.3A1F0C01234567.nb0", "first os");
  PutKitFile("b.3A1F0C01234567.nb0", "second os");
  std::vector<std::string> lines = Run(false);
  EXPECT_EQ(lines[0], "boot File is unknow, Getting terminal version failed ! (ver: 12345678) [red]");
  // The title is the name without its extension, the text after the last point.
  EXPECT_EQ(lines[1], "os File is invalid, os cpu invalid ! (ver: a.3A1F0C01234567) [red]");
  EXPECT_FALSE(plan.slots[kSlotOs].present);
}

TEST_F(UpdateCheckerTest, GenerationChangeNeedsBothOsAndApplication) {
  PutKitFile(std::string(kOsGen1) + ".nb0", "new generation os");
  std::vector<std::string> alone = Run(false);
  EXPECT_EQ(alone, (std::vector<std::string>{
                       "os file is invalid, os generation don't match! (ver: 3A1F0C21234567) [red]"}));
  EXPECT_FALSE(ready);
  EXPECT_EQ(packs[0].flag, 21u);

  PutKitFile("newapp.auk", AppPack("V2.0"));
  std::vector<std::string> paired = Run(false);
  EXPECT_EQ(paired, (std::vector<std::string>{"os file is valid ! (ver: 3A1F0C21234567)",
                                              "auk file is valid ! (ver: V2.0)"}));
  EXPECT_TRUE(ready);
  EXPECT_TRUE(plan.slots[kSlotOs].present);
  EXPECT_EQ(plan.slots[kSlotApp].path, "\\StorageCard\\UpdateKitM\\newapp.auk");
  EXPECT_EQ(plan.slots[kSlotApp].version, "V2.0");
  EXPECT_FALSE(plan.loosePack);
}

TEST_F(UpdateCheckerTest, SameApplicationInstallsByHandButNotAutomatically) {
  PutKitFile("app.auk", AppPack("1.0.0"));
  files.PutFile("\\Dravik\\$KVR$\\KitUpdated.flg", std::string("app Update Flag!", 17));
  EXPECT_EQ(Run(false), (std::vector<std::string>{"auk File is valid ! (ver: app)"}));
  EXPECT_TRUE(plan.slots[kSlotApp].present);
  EXPECT_TRUE(plan.loosePack);
  EXPECT_EQ(plan.loosePacks.size(), 1u);
  EXPECT_EQ(Run(true), (std::vector<std::string>{"auk File is invalid, the same ver of app with local (ver: app) [red]"}));
  EXPECT_FALSE(ready);
}

TEST_F(UpdateCheckerTest, ContainerWithInstalledBootAndOsGivesOnlyItsApplication) {
  std::string pack = AppPack("1.1.0");
  // Boot version text before the first '-' loses its last character.
  std::string kit = testkit::BuildContainer(u"12345678X-3A1F0C01234567-1.1.0",
                                            {{SectionKind::Boot, "BOOT"}, {SectionKind::Os, "OSIMAGE"},
                                             {SectionKind::App, pack}, {SectionKind::Logo1, "L1"}});
  PutKitFile("full.kvq", kit);
  std::vector<std::string> lines = Run(true);
  EXPECT_EQ(lines, (std::vector<std::string>{"kvq file is valid ! (name:full)",
                                             "kvq File ver:12345678X-3A1F0C01234567-1.1.0"}));
  EXPECT_TRUE(plan.hasContainer);
  EXPECT_TRUE(plan.slots[kSlotApp].present);
  EXPECT_EQ(plan.slots[kSlotApp].offset, 440u + 4 + 7);
  EXPECT_EQ(plan.slots[kSlotApp].length, pack.size());
  EXPECT_EQ(plan.slots[kSlotApp].version, "1.1.0");
  EXPECT_FALSE(plan.slots[kSlotOs].present);
  EXPECT_FALSE(plan.slots[kSlotBoot].present);
  EXPECT_FALSE(plan.slots[kSlotLogo1].present);
  EXPECT_FALSE(plan.loosePack);
}

TEST_F(UpdateCheckerTest, ContainerRefusedForTheInstalledImagesStaysRefused) {
  std::string kit = testkit::BuildContainer(u"12345678X-3A1F0C01234567-x",
                                            {{SectionKind::Boot, "BOOT"}, {SectionKind::Os, "OSIMAGE"}});
  PutKitFile("same.kvq", kit);
  std::vector<std::string> lines = Run(true);
  EXPECT_EQ(lines[0], "kvq file is invalid, the same ver of os with local (name:same) [red]");
  EXPECT_FALSE(ready);
  // By hand the same images may be written again.
  lines = Run(false);
  EXPECT_EQ(lines[0], "kvq file is valid ! (name:same)");
  EXPECT_TRUE(plan.slots[kSlotOs].present);
  EXPECT_TRUE(plan.slots[kSlotBoot].present);
  EXPECT_EQ(plan.slots[kSlotBoot].version, "12345678");
}

TEST_F(UpdateCheckerTest, BadContainerAndSecondContainer) {
  PutKitFile("a.kvq", testkit::BuildContainer(u"12345678X-3A1F0C01234567-1", {{SectionKind::Logo3, "L3"}}));
  PutKitFile("b.kvq", testkit::BuildContainer(u"12345678X-3A1F0C01234567-1", {{SectionKind::Logo3, "L3"}}));
  PutKitFile("c.kvq", "not a container");
  std::vector<std::string> lines = Run(false);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "kvq file is valid ! (name:a)");
  EXPECT_EQ(lines[2], "kvq file is ignored for other valid pack ! (name:b) [red]");
  EXPECT_EQ(lines[4], "kvq file is invalid pack !!! (name:c) [red]");
  EXPECT_EQ(lines[5], "kvq File ver: [red]");
  EXPECT_TRUE(plan.slots[kSlotLogo3].present);
}

TEST_F(UpdateCheckerTest, KvrappFilesAloneAreWorkToDo) {
  files.PutFile("\\StorageCard\\UpdateKitM\\kvrapp\\skin\\a.png", "a");
  std::vector<std::string> lines = Run(false);
  EXPECT_EQ(lines, (std::vector<std::string>{"There is 1 file in kvrapp dir to copy to app dir !"}));
  EXPECT_TRUE(ready);
  files.PutFile("\\StorageCard\\UpdateKitM\\kvrapp\\b.png", "b");
  EXPECT_EQ(Run(false).back(), "There are 2 files in kvrapp dir to copy to app dir !");
}

TEST_F(UpdateCheckerTest, StepStripFollowsTheApplicationFolder) {
  files.DeleteFile("\\Dravik\\$KVR$\\App\\AppVerInfo.cfg");
  files.RemoveDirectory("\\Dravik\\$KVR$\\App");
  PutKitFile("app.auk", AppPack("1.2.0"));
  Run(false);
  // No application folder and only the application to install: straight to "Update".
  EXPECT_EQ(plan.stepLayout, 5);
  EXPECT_EQ(plan.selectedStep, 6);
  EXPECT_TRUE(plan.directUpdate);
  EXPECT_EQ(plan.formatBox, UpdatePlan::FormatBox::Disabled);

  files.MakeDirs("\\dravik\\$KVR$\\App");
  Run(false);
  EXPECT_EQ(plan.stepLayout, 5);
  EXPECT_EQ(plan.selectedStep, 0);
  EXPECT_EQ(plan.formatBox, UpdatePlan::FormatBox::Ticked);

  files.DeleteFile(kitFolder + "\\app.auk");
  PutKitFile("LOGO1.bmp", "logo");
  Run(false);
  EXPECT_EQ(plan.stepLayout, 4);
  EXPECT_EQ(plan.formatBox, UpdatePlan::FormatBox::Disabled);
}

TEST_F(UpdateCheckerTest, IncrementalPacksAreLoosePacks) {
  PutKitFile("1.0.1.aukinc", AppPack("1.0.1", {{"a.txt", "A"}}, true));
  PutKitFile("1.0.2.auk", AppPack("1.0.2", {{"b.txt", "B"}}, true));
  Run(false);
  ASSERT_EQ(packs.size(), 2u);
  EXPECT_EQ(packs[0].kind, static_cast<uint32_t>(kPackIncremental));
  EXPECT_EQ(packs[1].kind, static_cast<uint32_t>(kPackIncremental));
  EXPECT_TRUE(plan.loosePack);
  EXPECT_EQ(plan.loosePacks.size(), 2u);
  // Versions read from the file names keep their points.
  std::vector<std::string> lines = Run(true);
  EXPECT_EQ(lines[0], "auk File is valid ! (ver: 1.0.1)");
}

TEST(FileTitles, ExtensionIsTheTextAfterTheLastPoint) {
  const std::pair<const char*, const char*> titles[] = {
      {"\\StorageCard\\UpdateKitM\\1.1.1.aukinc", "1.1.1"},
      {"\\S\\3A1F0C01234567.x.nb0", "3A1F0C01234567.x"},
      {"\\S\\noext", "noext"},
      {"\\S.d\\noext", "noext"},
  };
  for (const auto& [path, title] : titles) EXPECT_EQ(FileTitleOf(path), title) << path;
  // A logo's title ends at the first point: "logo1.old.bmp" is logo 1.
  EXPECT_EQ(LogoTitleOf("\\S\\logo1.old.bmp"), "logo1");
}

TEST(UpdateGenerations, OsAndApplication) {
  SysmendFixture unit;
  InstalledVersions installed(unit.files, unit.registry, nullptr, nullptr);
  UpdateChecker checker(unit.files, unit.codePage, unit.registry, installed);
  EXPECT_EQ(checker.OsGeneration("3A1F0C01234567"), 0u);
  EXPECT_EQ(checker.OsGeneration("3A1F0C31234567"), 1u);
  EXPECT_EQ(checker.OsGeneration("3A1F0C4"), 0u);
  EXPECT_EQ(checker.OsGeneration("short"), 0u);
  unit.registry.Put("SOFTWARE\\Dravik\\Os", "CPU_TYPE", RegValue::String("mstar786"));
  EXPECT_EQ(checker.GetCPUType(), 1);
  EXPECT_EQ(checker.OsGeneration("3A1F0C01234567"), 1u);
  EXPECT_EQ(UpdateChecker::AppGeneration("v1"), 1u);
  EXPECT_EQ(UpdateChecker::AppGeneration("1.0"), 0u);
  EXPECT_EQ(UpdateChecker::AppGeneration(""), 0u);
}

}  // namespace
}  // namespace hu
