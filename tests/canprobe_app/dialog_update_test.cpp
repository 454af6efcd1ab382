#include "canprobe/dialog_update.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "canprobe/canbox_file_maker.h"
#include "canprobe/canprobe_app.h"
#include "canprobe/dialog_update_file.h"
#include "canprobe/link_center.h"
#include "canprobe/service_bridge.h"
#include "common/platform/testing/capture_trace.h"
#include "common/platform/testing/fake_processes.h"
#include "common/platform/testing/fake_serial.h"
#include "common/platform/testing/mem_files.h"
#include "common/platform/testing/mem_registry.h"
#include "common/platform/testing/passthrough_code_page.h"
#include "common/settings/settings_values.h"
#include "common/ui/local_windows.h"
#include "sim/canbox/canbox_simulator.h"
#include "tests/canprobe_link/thread_platform.h"

namespace hu {
namespace {

constexpr const char* kDir = "\\SDMMC\\Canprobe";

// A unit whose CAN box sits raw on COM4, on a fast real-time clock: the
// link's reader threads and the upgrade worker run for real.
class UnitPlatform : public Platform {
 public:
  UnitPlatform() : fakeProcesses("\\SDMMC\\Canprobe\\Canprobe.exe") {}
  Files& files() override { return memFiles; }
  Registry& registry() override { return memRegistry; }
  Clock& clock() override { return fastClock; }
  Sync& sync() override { return threadSync; }
  Processes& processes() override { return fakeProcesses; }
  CodePage& codePage() override { return passthrough; }
  Windows* windows() override { return &localWindows; }
  Serial* serial() override { return &fakeSerial; }

  MemFiles memFiles;
  MemRegistry memRegistry;
  FastClock fastClock;
  ThreadSync threadSync;
  FakeProcesses fakeProcesses;
  PassthroughCodePage passthrough;
  LocalWindows localWindows;
  FakeSerial fakeSerial;
};

std::vector<uint8_t> Firmware(size_t n) {
  std::vector<uint8_t> image(n);
  for (size_t i = 0; i < n; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  for (size_t i = 5; i < n; i += 61) image[i] = 0x0D;
  return image;
}

class DialogUpdateTest : public ::testing::Test {
 protected:
  DialogUpdateTest() {
    unit.memRegistry.Put(kSettingsKeyOs, "CPU_TYPE", RegValue::String("S3C6410"));
    unit.memRegistry.Put(kSettingsKeyOs, "PROJECTTYPE", RegValue::Dword(18));
    unit.memFiles.PutFile(std::string(kDir) + "\\CarInfoDescription.txt", std::string("VZD3A000105=Cruze test\n"));
    line = &unit.fakeSerial.AddPort("COM4");
    line->SetPeer([this](const uint8_t* bytes, size_t n) { line->PeerWrite(box.Feed(bytes, n)); });
    CServiceBridge::Reset();
    DialogUpdateFile::LastFolder().clear();
  }
  ~DialogUpdateTest() override {
    LinkCenter::Destroy();
    CServiceBridge::Reset();
  }
  int Run(const std::string& script) {
    Desktop desktop(unit.clock(), unit.localWindows);
    CCanprobeApp app(unit, desktop);
    std::istringstream in(script);
    UiOptions ui;
    ui.frontEnd = "script";
    ui.inputPath = "-";
    return app.Run(ui, out, err, in);
  }
  bool Shown(const std::string& text) const { return out.str().find(text) != std::string::npos; }

  UnitPlatform unit;
  CanBoxSimulator box;
  FakeSerialLine* line = nullptr;
  std::ostringstream out, err;
};

TEST_F(DialogUpdateTest, ReadVehicleTypeShowsTypeDateAndDescription) {
  EXPECT_EQ(Run("click 1038\n"
                "expect \"VersionId:VZD3A000105\" 20000\n"
                "expect \"CarId:0105\"\n"
                "expect \"Data:2013-03-10\"\n"
                "expect \"Car:Cruze test\"\n"
                "close\n"),
            0)
      << err.str();
  EXPECT_GE(box.GetStats().typeRequests, 1u);
}

TEST_F(DialogUpdateTest, OtherVehicleSetsIdTwoHundredFiftyFour) {
  // The Chinese switch puts the other-vehicle row first.
  EXPECT_EQ(Run("click 1043\nclick 1020\nexpect \"返回\"\nselect 1039 0\nclick 1020\n"
                "expect \"VersionId:VZD3A000105\" 20000\nclose\n"),
            0)
      << err.str();
  EXPECT_EQ(box.VehicleId(), 254);
}

TEST_F(DialogUpdateTest, VehicleTableRowsMapThroughTheTableFile) {
  unit.memFiles.PutFile(std::string(kDir) + "\\CarTypeDef.txt", std::string("Zeta=42\n"));
  Desktop desktop(unit.clock(), unit.localWindows);
  CToolConfig config(unit.files(), unit.codePage(), std::string(kDir) + "\\tool.cfg");
  CanprobeServices services{unit, unit.localWindows, &config, kDir};
  DialogUpdate page(desktop, services);
  ASSERT_TRUE(page.Create());
  const Control* list = page.GetDlgItem(DialogUpdate::IDC_CARLIST);
  ASSERT_EQ(list->GetItemCount(), 12);  // 11 built-in rows, then the table
  EXPECT_EQ(list->GetItemText(11), "Zeta");
  EXPECT_EQ(page.CarIdOf("Zeta"), 42);
  EXPECT_EQ(page.CarIdOf("别克GL8"), 9);
  EXPECT_EQ(page.CarIdOf("BUICK GL8"), 255);  // English names only through their own table
  EXPECT_EQ(page.CarIdOf("其它车型"), 254);
  EXPECT_FALSE(list->IsWindowVisible());
  page.WindowProc(WM_COMMAND, DialogUpdate::IDC_ENGLISH, 0);
  EXPECT_EQ(list->GetItemText(0), "Other non-Buick Series");
  EXPECT_EQ(page.GetDlgItemText(DialogUpdate::IDC_UPDATE), "UpdateCanBox");
  page.WindowProc(WM_COMMAND, DialogUpdate::IDC_SETCAR, 0);
  EXPECT_TRUE(page.IsSelectionView());
  EXPECT_TRUE(list->IsWindowVisible());
  EXPECT_EQ(page.GetDlgItemText(DialogUpdate::IDC_EXIT), "返回");
  page.WindowProc(WM_COMMAND, DialogUpdate::IDC_EXIT, 0);
  EXPECT_FALSE(page.IsSelectionView());
  page.DestroyWindow();
}

TEST_F(DialogUpdateTest, UpgradeThroughTheFileDialogProgramsTheDecodedImage) {
  const std::vector<uint8_t> firmware = Firmware(700);
  std::string file;
  ASSERT_TRUE(MakeCanboxFile(firmware, &file));
  unit.memFiles.PutFile(std::string(kDir) + "\\box.canbox", file);
  CaptureTrace trace;
  EXPECT_EQ(Run("click 1019\nselect 1044 0\nclick 1\n"
                "expect \"升级完成! 总耗时\" 60000\n"
                "expect \"升级后车型: VZD3A000105\"\n"
                "close\n"),
            0)
      << err.str();
  const std::vector<uint8_t> flash = box.Image();
  ASSERT_GE(flash.size(), firmware.size());
  EXPECT_EQ(std::vector<uint8_t>(flash.begin(), flash.begin() + firmware.size()), firmware);
  EXPECT_EQ(box.GetMode(), CanBoxSimulator::Mode::App);
  EXPECT_TRUE(trace.Contains("HexFileName: box.canbox\n"));
  EXPECT_TRUE(trace.Contains("(m_byCarWantToUpdate = 255)not need Sleep(2000)"));
}

TEST_F(DialogUpdateTest, SilentBoxWhileProgrammingFailsAndEnablesTheButtons) {
  std::string file;
  ASSERT_TRUE(MakeCanboxFile(Firmware(700), &file));
  unit.memFiles.PutFile(std::string(kDir) + "\\box.canbox", file);
  CanBoxFaults faults;
  faults.silentAfter = 5;  // falls silent a little way into programming
  box.SetFaults(faults);
  // The final click needs the read button enabled again; the read that
  // failed last is what the exit code tells.
  EXPECT_EQ(Run("click 1019\nselect 1044 0\nclick 1\n"
                "expect \"升级失败!!!请重试!\" 60000\n"
                "click 1038\nexpect \"没有收到CAN数据！\" 20000\n"
                "close\n"),
            1)
      << err.str();
  EXPECT_EQ(err.str(), "没有收到CAN数据！\n");
  EXPECT_TRUE(Shown(" 失败!"));
  EXPECT_EQ(box.GetStats().erases, 1u);
  EXPECT_LT(box.GetStats().programs, 6u);  // 700 bytes make 6 blocks
}

TEST_F(DialogUpdateTest, CancellingTheFileDialogEndsAfterTheLoaderCommands) {
  EXPECT_EQ(Run("click 1019\nclick 2\nclick 1038\nexpect \"VersionId:\" 20000\nclose\n"), 0) << err.str();
  EXPECT_EQ(box.GetStats().loaderCommands, 6u);
}

TEST_F(DialogUpdateTest, LeavingStartsTheFrontEndAndEndsTheProgram) {
  unit.memFiles.PutFile("\\dravik\\$KVR$\\App\\Startdeck.exe", std::string("x"));
  EXPECT_EQ(Run("click 1021\nwait 10000\n"), 0) << err.str();
  const std::vector<FakeProcesses::Start> starts = unit.fakeProcesses.Starts();
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].path, "\\dravik\\$KVR$\\App\\Startdeck.exe");
  EXPECT_EQ(LinkCenter::Existing(), nullptr);
}

TEST_F(DialogUpdateTest, OperationsPageSendsTheLoaderCommandAndClosesTheFrontEnd) {
  unit.memFiles.PutFile("\\Windows\\explorer.exe", std::string("x"));
  unit.memFiles.PutFile("\\Windows\\desktop\\keep", std::string());
  const uint32_t appvisor = unit.fakeProcesses.AddProcess("\\DRAVIK\\$KVR$\\APP\\appvisor.exe");
  EXPECT_EQ(Run("tab 3\nclick 1024\nclick 1022\nclose\n"), 0) << err.str();
  EXPECT_EQ(box.GetStats().loaderCommands, 1u);
  EXPECT_EQ(box.GetMode(), CanBoxSimulator::Mode::Loader);
  const std::vector<FakeProcesses::Termination> ended = unit.fakeProcesses.Terminations();
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ended[0].pid, appvisor);
  ASSERT_EQ(unit.fakeProcesses.Starts().size(), 1u);
  EXPECT_EQ(unit.fakeProcesses.Starts()[0].path, "\\Windows\\explorer.exe");
  std::string shortcut;
  ASSERT_TRUE(unit.memFiles.GetFile("\\Windows\\desktop\\MyApp.lnk", &shortcut));
  EXPECT_EQ(shortcut, "21#\"\\dravik\\$KVR$\\App\"");
  EXPECT_EQ(shortcut.size(), 22u);
}

}  // namespace
}  // namespace hu
