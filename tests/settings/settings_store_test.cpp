#include "common/settings/settings_store.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "common/platform/testing/capture_trace.h"
#include "common/platform/testing/fake_devices.h"
#include "common/platform/testing/mem_registry.h"
#include "common/platform/text.h"

namespace hu {
namespace {

using Op = MemRegistry::Op;

const char kSetting[] = "SOFTWARE\\Dravik\\App\\9TRB2\\Setting";
const char kEvent[] = "SoftWare\\Dravik\\App\\9TRB2\\Event";
const char kOs[] = "SoftWare\\Dravik\\Os";
const char kProfiles[] = "System\\StorageManager\\Profiles\\";

class SettingsStoreTest : public ::testing::Test {
 protected:
  uint32_t Dword(const std::string& key, const std::string& name) {
    RegValue v;
    uint32_t out = 0xFFFFFFFF;
    if (!reg.Peek(key, name, &v) || !v.AsDword(&out)) ADD_FAILURE() << key << " " << name;
    return out;
  }
  bool Has(const std::string& key, const std::string& name) { return reg.Peek(key, name, nullptr); }

  MemRegistry reg;
  SettingsStore store{reg};
  CaptureTrace trace;
};

TEST(SettingsTable, HoldsTheSixtyEightValuesOnce) {
  std::set<std::string> values;
  int canbusReaders = 0;
  for (const SettingInfo& row : SettingsTable()) {
    values.insert(AsciiLower(row.key) + "|" + AsciiLower(row.value));
    if (std::string(row.value) == "Canbus") ++canbusReaders;
    EXPECT_NE(row.access, 0) << row.accessor;
  }
  EXPECT_EQ(values.size(), 68u);
  EXPECT_EQ(SettingsTable().size(), 69u);  // "Canbus" has two readers
  EXPECT_EQ(canbusReaders, 2);
}

// Every generated accessor reaches its own row: a distinct value per row is
// read back through the getter, and setters and init setters land on the row.
class AccessorWiring : public SettingsStoreTest {
 protected:
  const SettingInfo& Find(const char* accessor) {
    for (const SettingInfo& row : table) {
      if (std::string(row.accessor) == accessor) return row;
    }
    ADD_FAILURE() << accessor;
    return table.front();
  }
  void CheckGet(const SettingInfo& row, bool (SettingsStore::*get)(uint32_t&)) {
    const uint32_t seeded = 1000 + static_cast<uint32_t>(&row - table.data());
    reg.Put(row.key, row.value, RegValue::Dword(seeded));
    uint32_t v = 0;
    EXPECT_TRUE((store.*get)(v)) << row.accessor;
    EXPECT_EQ(v, seeded) << row.accessor;
  }
  void CheckGet(const SettingInfo& row, bool (SettingsStore::*get)(std::string&)) {
    const std::string seeded = std::string("v-") + row.accessor;
    reg.Put(row.key, row.value, RegValue::String(seeded));
    std::string v;
    EXPECT_TRUE((store.*get)(v)) << row.accessor;
    EXPECT_EQ(v, seeded) << row.accessor;
  }
  void CheckSet(const SettingInfo& row, bool (SettingsStore::*set)(uint32_t)) {
    EXPECT_TRUE((store.*set)(42)) << row.accessor;
    EXPECT_EQ(Dword(row.key, row.value), 42u) << row.accessor;
  }
  void CheckSet(const SettingInfo& row, bool (SettingsStore::*set)(const std::string&)) {
    EXPECT_TRUE((store.*set)("set")) << row.accessor;
    RegValue v;
    std::string s;
    EXPECT_TRUE(reg.Peek(row.key, row.value, &v) && v.AsString(&s) && s == "set") << row.accessor;
  }
  void CheckInit(const SettingInfo& row, bool (SettingsStore::*init)(uint32_t, bool)) {
    reg.DeleteKey(row.key);
    EXPECT_TRUE((store.*init)(5, false)) << row.accessor;
    EXPECT_TRUE((store.*init)(6, false)) << row.accessor;
    EXPECT_EQ(Dword(row.key, row.value), 5u) << row.accessor;
    EXPECT_TRUE((store.*init)(7, true)) << row.accessor;
    EXPECT_EQ(Dword(row.key, row.value), 7u) << row.accessor;
  }

  std::vector<SettingInfo> table = SettingsTable();
};

TEST_F(AccessorWiring, EveryAccessorUsesItsRow) {
  int accessors = 0;
#define HU_TEST_Get(N, T) CheckGet(Find(#N), &SettingsStore::Get##N);
#define HU_TEST_Set(N, T) CheckSet(Find(#N), &SettingsStore::Set##N);
#define HU_TEST_Init(N, T) CheckInit(Find(#N), &SettingsStore::Init##N);
#define HU_TEST(Kind, N, T) HU_TEST_##Kind(N, T) ++accessors;
#define HU_TEST_ROW(N, Key, Value, T, Access, Default) HU_SETTINGS_ACCESS_##Access(HU_TEST, N, T)
  HU_SETTINGS_VALUES(HU_TEST_ROW)
  int expected = 0;
  for (const SettingInfo& row : table) {
    for (uint8_t bit : {kSettingRead, kSettingWrite, kSettingInit}) expected += (row.access & bit) ? 1 : 0;
  }
  EXPECT_EQ(accessors, expected);
}

TEST_F(SettingsStoreTest, MissingValuesYieldTheirDefaults) {
  struct Case {
    bool (SettingsStore::*get)(uint32_t&);
    uint32_t expected;
  };
  const Case cases[] = {
      {&SettingsStore::GetCanbusTimeAdjust, 1}, {&SettingsStore::GetCanbusAuxState, 1},
      {&SettingsStore::GetAvinMirror, 0},       {&SettingsStore::GetBackCarAlp, 15},
      {&SettingsStore::GetSubwoofer, 1},        {&SettingsStore::GetCanbus, 1},
      {&SettingsStore::GetCanbusDefault0, 0},   {&SettingsStore::GetSleep, 0},
      {&SettingsStore::GetBackCar, 0},          {&SettingsStore::GetBlueTooth, 3},
      {&SettingsStore::GetBTMusicState, 13},    {&SettingsStore::GetCarLamp, 0},
      {&SettingsStore::GetCOM3_INDEPENDENT, 0}, {&SettingsStore::GetVolumeMute, 1},
      {&SettingsStore::GetDeviceID, 1},         {&SettingsStore::GetGPSVolumeMute, 1},
      {&SettingsStore::GetDisMode, 1},          {&SettingsStore::GetCameraType, 0},
      // No default: the caller's own value stays.
      {&SettingsStore::GetDvdUsb, 0xDEAD},      {&SettingsStore::GetBackLight, 0xDEAD},
      {&SettingsStore::GetStateBackCar, 0xDEAD},
  };
  // Once with the keys missing, once with the keys present but the values missing.
  for (bool keysPresent : {false, true}) {
    if (keysPresent) {
      for (const SettingInfo& row : SettingsTable()) reg.CreateKey(row.key);
    }
    for (const Case& c : cases) {
      uint32_t v = 0xDEAD;
      EXPECT_FALSE((store.*c.get)(v));
      EXPECT_EQ(v, c.expected) << &c - cases;
    }
    if (!keysPresent) {
      EXPECT_TRUE(reg.AllKeys().empty());  // reads create no key
    }
  }
}

TEST_F(SettingsStoreTest, ReadRejectsAValueOfAnotherType) {
  uint32_t v = 9;
  reg.Put(kSetting, "DvdUsb", RegValue::String("1"));
  EXPECT_FALSE(store.GetDvdUsb(v));
  EXPECT_EQ(v, 9u);
  std::string s = "keep";
  reg.Put(kSetting, "CanbusType", RegValue::Dword(1));
  EXPECT_FALSE(store.GetCanbusType(s));
  EXPECT_EQ(s, "keep");
}

TEST_F(SettingsStoreTest, StringsAreStoredAsTerminatedUtf16) {
  ASSERT_TRUE(store.SetCustomerID("\xE4\xB8\xADZ"));  // U+4E2D 'Z'
  RegValue raw;
  ASSERT_TRUE(reg.Peek("software\\dravik\\app\\9trb2\\setting", "customerid", &raw));
  EXPECT_EQ(raw.type, REG_SZ);
  EXPECT_EQ(raw.data, (std::vector<uint8_t>{0x2D, 0x4E, 'Z', 0, 0, 0}));
  std::string back;
  EXPECT_TRUE(store.GetCustomerID(back));
  EXPECT_EQ(back, "\xE4\xB8\xADZ");
  ASSERT_TRUE(store.SetTranslateWndName("Nav"));
  EXPECT_TRUE(Has("SoftWare\\Q7Sys\\WndName", "TranslateWndName"));
}

TEST_F(SettingsStoreTest, WriteCreatesAMissingKeyAndTracesFailures) {
  EXPECT_TRUE(store.SetDvdUsb(4));
  EXPECT_EQ(Dword(kSetting, "DvdUsb"), 4u);
  EXPECT_EQ(reg.Calls(Op::kCreateKey), 1);
  EXPECT_TRUE(trace.Lines().empty());

  // A failed set is traced and still answers true.
  reg.FailNext(Op::kSetValue, 1);
  EXPECT_TRUE(store.SetDvdUsb(5));
  EXPECT_EQ(Dword(kSetting, "DvdUsb"), 4u);
  EXPECT_EQ(trace.Lines(), std::vector<std::string>{
                               "zqa error RegSetValueEx :SOFTWARE\\Dravik\\App\\9TRB2\\Setting,DvdUsb\n"});

  trace.Clear();
  reg.FailNext(Op::kOpenKey, 1);
  reg.FailNext(Op::kCreateKey, 1);
  EXPECT_FALSE(store.SetOSDState(1));
  EXPECT_EQ(trace.Lines(), std::vector<std::string>{
                               "zqa error SaveRegeditValue :SoftWare\\Dravik\\App\\OSDState,OSDState\n"});
  EXPECT_FALSE(Has("SoftWare\\Dravik\\App\\OSDState", "OSDState"));
}

TEST_F(SettingsStoreTest, InitWritesOnlyAnAbsentValueUnlessForced) {
  EXPECT_TRUE(store.InitBlueTooth(1, false));  // key missing: created and written
  EXPECT_EQ(Dword(kEvent, "BlueTooth"), 1u);
  EXPECT_TRUE(store.InitSleep(2, false));  // key there, value missing
  EXPECT_EQ(Dword(kEvent, "Sleep"), 2u);
  EXPECT_TRUE(trace.Lines().empty());

  reg.ResetCalls();
  EXPECT_TRUE(store.InitBlueTooth(2, false));
  EXPECT_EQ(Dword(kEvent, "BlueTooth"), 1u);
  EXPECT_EQ(reg.Calls(Op::kSetValue), 0);
  EXPECT_EQ(trace.Lines(), std::vector<std::string>{
                               "zqa error ConfirmRegeditValue1 :SoftWare\\Dravik\\App\\9TRB2\\Event,BlueTooth\n"});

  // An existing value of another type still counts as present.
  reg.Put(kEvent, "CarLamp", RegValue::String("x"));
  EXPECT_TRUE(store.InitCarLamp(1, false));
  EXPECT_EQ(reg.Calls(Op::kSetValue), 0);

  EXPECT_TRUE(store.InitBlueTooth(3, true));
  EXPECT_EQ(Dword(kEvent, "BlueTooth"), 3u);
}

TEST_F(SettingsStoreTest, InitFailureTraces) {
  reg.FailNext(Op::kOpenKey, 1);
  reg.FailNext(Op::kCreateKey, 1);
  EXPECT_FALSE(store.InitCanbusAwake(1, false));
  reg.FailNext(Op::kSetValue, 1);
  EXPECT_TRUE(store.InitCanbusAwake(1, false));
  EXPECT_FALSE(Has(kSetting, "CanbusAwake"));
  EXPECT_EQ(trace.Lines(),
            (std::vector<std::string>{
                "zqa error ConfirmRegeditValue2 :SOFTWARE\\Dravik\\App\\9TRB2\\Setting,CanbusAwake\n",
                "zqa error ConfirmRegeditValue3 :SOFTWARE\\Dravik\\App\\9TRB2\\Setting,CanbusAwake\n"}));
}

TEST_F(SettingsStoreTest, TwoWritersOfOneValueLeaveOneOfTheirValues) {
  constexpr uint32_t kRounds = 2000;
  auto writer = [this](uint32_t base) {
    SettingsStore own(reg);
    own.InitAvinMirror(base, false);
    for (uint32_t i = 0; i < kRounds; ++i) {
      own.SetMCUVER("writer" + std::to_string(base) + "-" + std::to_string(i));
      own.SetIpod(base + i);
      uint32_t seen = 0;
      if (own.GetIpod(seen) && seen > kRounds && seen < 100000) ADD_FAILURE() << seen;
    }
    own.SetIpod(base + kRounds);
  };
  std::thread a(writer, 0);
  std::thread b(writer, 100000);
  a.join();
  b.join();
  uint32_t last = Dword(kSetting, "Ipod");
  EXPECT_TRUE(last == kRounds || last == 100000 + kRounds) << last;
  std::string version;
  ASSERT_TRUE(store.GetMCUVER(version));
  EXPECT_TRUE(version == "writer0-1999" || version == "writer100000-1999") << version;
  uint32_t first = Dword(kSetting, "AvinMirror");
  EXPECT_TRUE(first == 0 || first == 100000);
  EXPECT_EQ(reg.OpenKey(kSetting)->ValueNames().size(), 3u);
}

TEST_F(SettingsStoreTest, StorageFolderNamesFallBackToTheirDefaults) {
  const char* defaults[] = {"SDMMC", "StorageCard", "Hard Disk", "NANDFlash", "\xE7\xA1\xAC\xE7\x9B\x98"};
  for (int n = 0; n < 5; ++n) {
    std::string name;
    EXPECT_TRUE(store.GetStorageFolderName(n, name));
    EXPECT_EQ(name, defaults[n]);
  }
  std::string name = "x";
  EXPECT_FALSE(store.GetStorageFolderName(5, name));
  EXPECT_EQ(name, "StorageCard");
  EXPECT_FALSE(store.GetStorageFolderName(-1, name));
}

TEST_F(SettingsStoreTest, StorageFolderNamesComeFromTheirProfiles) {
  const std::string p = kProfiles;
  reg.Put(p + "SDMemory", "Folder", RegValue::String("Storage Card"));
  std::string name;
  store.GetStorageFolderName(0, name);
  EXPECT_EQ(name, "Storage Card");  // SDMemory0 missing: SDMemory's
  store.GetStorageFolderName(2, name);
  EXPECT_EQ(name, "Hard Disk");  // only number 0 falls back

  reg.Put(p + "SDMemory0", "Folder", RegValue::String("SDMMC Card"));
  reg.Put(p + "USBHDProfile", "Folder", RegValue::String("USB Disk"));
  reg.Put(p + "SMFLASH1", "Folder", RegValue::String("ResidentFlash"));
  reg.Put(p + "USBHDProfile0", "Folder", RegValue::String("USB Disk2"));
  const char* expected[] = {"SDMMC Card", "Storage Card", "USB Disk", "ResidentFlash", "USB Disk2"};
  for (int n = 0; n < 5; ++n) {
    EXPECT_TRUE(store.GetStorageFolderName(n, name));
    EXPECT_EQ(name, expected[n]);
  }
}

TEST_F(SettingsStoreTest, PushStateFallsBackToTheStorageCardForNumbersZeroAndTwo) {
  const std::string p = kProfiles;
  reg.Put(p + "SDMemory", "PushState", RegValue::Dword(1));
  // 4 has no fallback and keeps the caller's value; 3 (no profile) and 5 (no storage) clear it.
  const struct { int n; bool found; uint32_t state; } reads[] = {
      {0, true, 1}, {1, true, 1}, {2, true, 1}, {4, false, 9}, {3, false, 0}, {5, false, 0}};
  for (const auto& r : reads) {
    uint32_t state = 9;
    EXPECT_EQ(store.GetPushState(r.n, state), r.found) << r.n;
    EXPECT_EQ(state, r.state) << r.n;
  }

  for (int n : {0, 2, 4}) EXPECT_TRUE(store.SetPushState(n, 10 + n));
  EXPECT_EQ(Dword(p + "SDMemory0", "PushState"), 10u);
  EXPECT_EQ(Dword(p + "USBHDProfile", "PushState"), 12u);
  EXPECT_EQ(Dword(p + "USBHDProfile0", "PushState"), 14u);
  for (int n : {0, 2, 4}) {
    uint32_t state = 0;
    EXPECT_TRUE(store.GetPushState(n, state));
    EXPECT_EQ(state, 10u + n);
  }
  const auto keys = reg.AllKeys();
  EXPECT_FALSE(store.SetPushState(3, 1));
  EXPECT_FALSE(store.SetPushState(6, 1));
  EXPECT_EQ(reg.AllKeys(), keys);
  EXPECT_FALSE(Has(p + "SMFLASH1", "PushState"));
}

TEST_F(SettingsStoreTest, DumpFoldersAreWrittenWithoutTheirTerminator) {
  const char kDump[] = "System\\ErrorReporting\\DumpSettings";
  const std::u16string folder = u"\\StorageCard\\DumpFiles";
  std::vector<uint8_t> expected;
  for (char16_t u : folder) {
    expected.push_back(static_cast<uint8_t>(u));
    expected.push_back(static_cast<uint8_t>(u >> 8));
  }
  EXPECT_TRUE(store.SetDumpFolders());
  for (const char* name : {"DumpDirectory", "ExtraFilesDirectory", "CabDirectory"}) {
    RegValue raw;
    ASSERT_TRUE(reg.Peek(kDump, name, &raw)) << name;
    EXPECT_EQ(raw.type, REG_SZ);
    EXPECT_EQ(raw.data, expected) << name;
  }

  // One failed set fails the whole, and the other two are still written.
  reg.DeleteKey(kDump);
  reg.FailNext(Op::kSetValue, 1);
  EXPECT_FALSE(store.SetDumpFolders());
  EXPECT_FALSE(Has(kDump, "DumpDirectory"));
  EXPECT_TRUE(Has(kDump, "ExtraFilesDirectory"));
  EXPECT_TRUE(Has(kDump, "CabDirectory"));
  EXPECT_TRUE(trace.Contains("zqa error RegSetValueEx :System\\ErrorReporting\\DumpSettings,DumpDirectory\n"));
}

TEST_F(SettingsStoreTest, TimeFormatGoesToBothKeys) {
  EXPECT_TRUE(store.SetTimeFormat(24));
  EXPECT_EQ(Dword("SOFTWARE\\Q7Sys\\Time", "TimeFormat"), 24u);
  EXPECT_EQ(Dword(kSetting, "TimeFormat"), 24u);
  reg.FailNext(Op::kOpenKey, 2);
  reg.FailNext(Op::kCreateKey, 1);
  EXPECT_FALSE(store.SetTimeFormat(12));
  EXPECT_EQ(Dword(kSetting, "TimeFormat"), 12u);  // the second still written
}

TEST_F(SettingsStoreTest, DerivedQueries) {
  EXPECT_FALSE(store.IsSleepRequest());
  reg.Put(kEvent, "Sleep", RegValue::Dword(2));
  EXPECT_FALSE(store.IsSleepRequest());
  reg.Put(kEvent, "Sleep", RegValue::Dword(3));
  EXPECT_TRUE(store.IsSleepRequest());

  EXPECT_FALSE(store.IsFmOutKt());
  for (const char* kind : {"K", "kt0803", "QN8027", ""}) {
    reg.Put(kOs, "FMOUT_TYPE", RegValue::String(kind));
    EXPECT_FALSE(store.IsFmOutKt()) << kind;
  }
  for (const char* kind : {"KT", "KT0803L"}) {
    reg.Put(kOs, "FMOUT_TYPE", RegValue::String(kind));
    EXPECT_TRUE(store.IsFmOutKt()) << kind;
  }
}

// The shared fake, recording the names opened.
struct RecordingDevices : FakeDevices {
  std::unique_ptr<Device> OpenDevice(const std::string& name) override {
    opened.push_back(name);
    return FakeDevices::OpenDevice(name);
  }
  std::vector<std::string> opened;
};

TEST_F(SettingsStoreTest, MfcDevicePresence) {
  EXPECT_FALSE(store.IsMfcDevicePresent());  // no device service
  RecordingDevices devices;
  SettingsStore withDevices(reg, &devices);
  EXPECT_FALSE(withDevices.IsMfcDevicePresent());
  devices.SetPresent("MFC1:", true);
  EXPECT_TRUE(withDevices.IsMfcDevicePresent());
  EXPECT_EQ(devices.opened, (std::vector<std::string>{"MFC1:", "MFC1:"}));
}

// A missing CPU_TYPE reads as S3C6410 and a missing PROJECTTYPE as 18.
TEST_F(SettingsStoreTest, PlatformTypeOfEveryRow) {
  constexpr uint32_t kNoProject = 0xFFFFFFFF;
  struct Row {
    const char* cpu;  // null: absent
    uint32_t project;
    int code;
  };
  const Row rows[] = {
      {"S3C6410", 18, 0},   {"S5PC100", 18, 1},   {"S5P6450", 18, 2},   {"S3C6410", 19, 3},
      {"S3C6410", 17, 3},   {"S5PC100", 19, 4},   {"S5PC100", 17, 4},   {"S5P6450", 19, 5},
      {"S5P6450", 17, 5},   {"S5P6450", 16, 6},   {"MSTAR2521", 16, 7}, {"MSTAR2521", 19, 8},
      {"MSTAR2521", 17, 8}, {"MSTAR786", 19, 9},  {"MSTAR786", 17, 9},  {"MSTAR786", 18, 13},
      {"S5P6450", 20, 10},  {"MSTAR2521", 18, 11}, {"MSTAR2531", 19, 12}, {"MSTAR2531", 17, 12},
      // No row: 0.
      {"mstar786", 18, 0},  {"MSTAR2531", 18, 0}, {"S3C6410", 16, 0},   {"S5PC100", 20, 0},
      {"MSTAR786", 21, 0},  {"", 18, 0},
      // Defaults.
      {nullptr, kNoProject, 0}, {nullptr, 19, 3}, {"MSTAR786", kNoProject, 13},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << (r.cpu ? r.cpu : "(none)") << " " << r.project);
    reg.DeleteKey(kOs);
    if (r.cpu) reg.Put(kOs, "CPU_TYPE", RegValue::String(r.cpu));
    if (r.project != kNoProject) reg.Put(kOs, "PROJECTTYPE", RegValue::Dword(r.project));
    EXPECT_EQ(store.GetPlatformType(), r.code);
  }
}

}  // namespace
}  // namespace hu
