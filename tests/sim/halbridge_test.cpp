#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/platform/host/serial/unit_reboot.h"
#include "sysmend/packages/kit_layout.h"
#include "tests/sim/sim_test_unit.h"

namespace hu {
namespace {

using testio::HostFileExists;
using testio::MakeRequest;
using testio::Pattern;
using testio::SimUnit;

const char kUnitIni[] =
    "# hand-written unit\n"
    "[unit]\n"
    "code_page = 936\n"
    "\n"
    "[ports]\n"
    "COM4 = /dev/null\n"
    "\n"
    "[versions]\n"
    "boot = 1a2b3c4d\n"
    "os = 3A1F0C00000000\n"
    "conf = 00a100000001\n";

// The library's entries as the updater binds them.
struct Entries {
  PFN_UpdatePack UpdatePack = nullptr;
  PFN_ResetBootConf ResetBootConf = nullptr;
  PFN_EraseFlase EraseFlase = nullptr;
  PFN_GetSysVerInfo GetSysVerInfo = nullptr;
  PFN_SysSoftReset SysSoftReset = nullptr;
  PFN_UpdateState UpdateState = nullptr;

  explicit Entries(Module& m)
      : UpdatePack(reinterpret_cast<PFN_UpdatePack>(m.GetProcAddress("UpdatePack"))),
        ResetBootConf(reinterpret_cast<PFN_ResetBootConf>(m.GetProcAddress("ResetBootConf"))),
        EraseFlase(reinterpret_cast<PFN_EraseFlase>(m.GetProcAddress("EraseFlase"))),
        GetSysVerInfo(reinterpret_cast<PFN_GetSysVerInfo>(m.GetProcAddress("GetSysVerInfo"))),
        SysSoftReset(reinterpret_cast<PFN_SysSoftReset>(m.GetProcAddress("SysSoftReset"))),
        UpdateState(reinterpret_cast<PFN_UpdateState>(m.GetProcAddress("UpdateState"))) {}

  std::string Version(uint32_t kind) {
    char16_t buffer[260];
    buffer[0] = u'?';
    GetSysVerInfo(kind, buffer);
    return Utf16ToUtf8(buffer);
  }
};

class HalbridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(sim_.Install(true, {}, true, &error)) << error;
    module_ = sim_.LoadHalbridge();
    ASSERT_NE(module_, nullptr);
    entries_ = std::make_unique<Entries>(*module_);
    ASSERT_NE(entries_->UpdatePack, nullptr);
    ASSERT_NE(entries_->GetSysVerInfo, nullptr);
  }

  SimUnit sim_{kUnitIni};
  std::unique_ptr<Module> module_;
  std::unique_ptr<Entries> entries_;
};

TEST_F(HalbridgeTest, UpdatePackWritesExactlyTheRequestedRange) {
  const std::string data = Pattern(4096, 3);
  std::string path = sim_.KitFile("3A1F0C01234567.nb0", data);
  EXPECT_EQ(entries_->Version(kVersionOs), "3A1F0C00000000");

  FlashRequest request = MakeRequest(path, 100, 1000);
  ASSERT_EQ(entries_->UpdatePack(kImageOs, &request), 1);
  EXPECT_EQ(sim_.Read("flash/os.img"), data.substr(100, 1000));
  EXPECT_EQ(entries_->Version(kVersionOs), "3A1F0C01234567");  // the file title

  // The new version is kept in unit.ini, every other line as it was.
  std::string ini = sim_.Read("unit.ini");
  EXPECT_NE(ini.find("os = 3A1F0C01234567\n"), std::string::npos);
  EXPECT_NE(ini.find("# hand-written unit\n"), std::string::npos);
  EXPECT_NE(ini.find("COM4 = /dev/null\n"), std::string::npos);
  EXPECT_NE(ini.find("boot = 1a2b3c4d\n"), std::string::npos);

  std::string log = sim_.Read("flash/calls.log");
  EXPECT_NE(log.find("UpdatePack kind=os path=\"\\StorageCard\\UpdateKitM\\3A1F0C01234567.nb0\" offset=100 "
                     "length=1000 version=3A1F0C01234567 -> 1\n"),
            std::string::npos)
      << log;

  // Device paths ignore case.
  FlashRequest lower = MakeRequest(AsciiLower(path), 0, 8);
  ASSERT_EQ(entries_->UpdatePack(kImageLogo1, &lower), 1);
  EXPECT_EQ(sim_.Read("flash/logo1.img"), data.substr(0, 8));

  // A range past the end of the file writes nothing.
  FlashRequest beyond = MakeRequest(path, 4000, 200);
  EXPECT_EQ(entries_->UpdatePack(kImageOs, &beyond), 0);
  EXPECT_EQ(sim_.Read("flash/os.img"), data.substr(100, 1000));
  EXPECT_NE(sim_.Read("flash/calls.log").find("-> 0 range beyond the end"), std::string::npos);

  FlashRequest unterminated = MakeRequest(path, 0, 10);
  for (char16_t& unit : unterminated.path) unit = u'A';
  EXPECT_EQ(entries_->UpdatePack(kImageOs, &unterminated), 0);
  EXPECT_EQ(entries_->UpdatePack(6, &request), 0);  // no such image kind
  EXPECT_EQ(entries_->UpdatePack(kImageOs, nullptr), 0);
}

// A container with boot, OS and configuration sections behind its 440-byte header.
std::string Container(const std::string& boot, const std::string& os, const std::string& conf) {
  std::string file(container::kHeaderSize, '\0');
  auto* h = reinterpret_cast<uint8_t*>(file.data());
  auto putText = [&](size_t at, const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) WriteLe16(h + at + 2 * i, static_cast<uint8_t>(text[i]));
  };
  putText(0, "kvr version1.0");
  putText(48, "BO");
  putText(66, "C");
  putText(78, "V12X-0A1B2C3-1.2.3");
  uint32_t at = container::kHeaderSize;
  auto section = [&](size_t record, const std::string& bytes) {
    WriteLe32(h + record + 20, at);
    WriteLe32(h + record + 24, static_cast<uint32_t>(bytes.size()));
    at += static_cast<uint32_t>(bytes.size());
  };
  section(244, boot);
  section(272, os);
  section(384, conf);
  return file + boot + os + conf;
}

TEST_F(HalbridgeTest, ContainerSectionsCarryTheContainerVersions) {
  const std::string boot = Pattern(16, 1), os = Pattern(32, 2);
  std::string conf = Pattern(container::kConfBlockSize, 5);
  WriteLe32(reinterpret_cast<uint8_t*>(conf.data()) + 64, 65568);  // customer 0x20 in the low 16 bits
  WriteLe32(reinterpret_cast<uint8_t*>(conf.data()) + 12, 26);
  std::string path = sim_.KitFile("full.kvq", Container(boot, os, conf));

  FlashRequest bootReq = MakeRequest(path, 440, 16), osReq = MakeRequest(path, 456, 32),
               confReq = MakeRequest(path, 488, container::kConfBlockSize);
  ASSERT_EQ(entries_->UpdatePack(kImageBoot, &bootReq), 1);
  ASSERT_EQ(entries_->UpdatePack(kImageOs, &osReq), 1);
  ASSERT_EQ(entries_->UpdatePack(kImageConf, &confReq), 1);
  EXPECT_EQ(sim_.Read("flash/boot.img"), boot);
  EXPECT_EQ(sim_.Read("flash/os.img"), os);
  EXPECT_EQ(sim_.Read("flash/conf.img"), conf);
  EXPECT_EQ(entries_->Version(kVersionBoot), "V12");
  EXPECT_EQ(entries_->Version(kVersionOs), "0A1B2C3");
  EXPECT_EQ(entries_->Version(kVersionConf), "00200000001a");  // padded with zeros as installed

  // Logos carry no version.
  FlashRequest logo = MakeRequest(sim_.KitFile("logo.bmp", "BMlogo"), 0, 6);
  ASSERT_EQ(entries_->UpdatePack(kImageLogo2, &logo), 1);
  EXPECT_EQ(sim_.Read("flash/logo2.img"), "BMlogo");
  EXPECT_EQ(sim_.Read("unit.ini").find("logo"), std::string::npos);
}

TEST_F(HalbridgeTest, EraseResetAndStateAreRecorded) {
  scratch::WriteFile(sim_.unit() / "flash/apparea.img", "old application");
  EXPECT_EQ(entries_->EraseFlase(), 1);
  EXPECT_TRUE(HostFileExists(sim_.unit() / "flash/apparea.img"));
  EXPECT_EQ(sim_.Read("flash/apparea.img"), "");
  EXPECT_EQ(entries_->ResetBootConf(), 1);
  entries_->UpdateState(0x102);
  std::string log = sim_.Read("flash/calls.log");
  EXPECT_NE(log.find("EraseFlase erase application area -> 1"), std::string::npos);
  EXPECT_NE(log.find("ResetBootConf reset boot configuration -> 1"), std::string::npos);
  EXPECT_NE(log.find("UpdateState code=258 low8=2 -> done"), std::string::npos);
  EXPECT_EQ(entries_->GetSysVerInfo(3, nullptr), 0);
}

TEST_F(HalbridgeTest, SysSoftResetRecordsACleanRebootAndEnds) {
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The updater marks the boot clean through the kernel, then resets through the library.
    sim_.Devices()->SetCleanRebootFlag();
    entries_->SysSoftReset();
    ::_exit(99);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  UnitReboot record;
  ASSERT_TRUE(ReadUnitReboot(sim_.unit().dir(), &record));
  EXPECT_EQ(record.reason, "SysSoftReset");
  EXPECT_TRUE(record.clean);
}

TEST(HalbridgeInstall, WithoutListHidesEntriesAndAbsentLibraryIsRemoved) {
  SimUnit sim(kUnitIni);
  std::string error;
  ASSERT_TRUE(sim.Install(true, {"UpdateState", "GetSysVerInfo"}, true, &error)) << error;
  {
    auto module = sim.LoadHalbridge();
    ASSERT_NE(module, nullptr);
    Entries entries(*module);
    EXPECT_EQ(entries.UpdateState, nullptr);
    EXPECT_EQ(entries.GetSysVerInfo, nullptr);
    EXPECT_NE(entries.UpdatePack, nullptr);
    EXPECT_NE(entries.ResetBootConf, nullptr);
    EXPECT_NE(entries.EraseFlase, nullptr);
    EXPECT_NE(entries.SysSoftReset, nullptr);
  }
  EXPECT_NE(sim.Read("unit.ini").find("without = UpdateState,GetSysVerInfo"), std::string::npos);

  ASSERT_TRUE(sim.Install(false, {}, false, &error)) << error;
  EXPECT_FALSE(HostFileExists(sim.unit() / "fs/Windows/Halbridge.dll"));
  EXPECT_EQ(sim.LoadHalbridge(), nullptr);
  EXPECT_EQ(sim.Devices()->OpenDevice("CON1:"), nullptr);
  EXPECT_NE(sim.Read("unit.ini").find("CON1 = no"), std::string::npos);
}

}  // namespace
}  // namespace hu
