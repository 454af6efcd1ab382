#include "settings_store.h"

#include <iterator>

#include "common/platform/errors.h"
#include "common/platform/trace.h"

namespace hu {
namespace {

enum : uint8_t {
  kMaskR = kSettingRead,
  kMaskW = kSettingWrite,
  kMaskRW = kSettingRead | kSettingWrite,
  kMaskWI = kSettingWrite | kSettingInit,
  kMaskRWI = kSettingRead | kSettingWrite | kSettingInit,
};

enum class Id : size_t {
#define HU_SETTINGS_ID(N, Key, Value, T, Access, Default) N,
  HU_SETTINGS_VALUES(HU_SETTINGS_ID)
#undef HU_SETTINGS_ID
};

const SettingInfo kTable[] = {
#define HU_SETTINGS_ROW(N, Key, Value, T, Access, Default) \
  {#N, Key, Value, SettingType::k##T, kMask##Access, Default},
    HU_SETTINGS_VALUES(HU_SETTINGS_ROW)
#undef HU_SETTINGS_ROW
};

const SettingInfo& Row(Id id) { return kTable[static_cast<size_t>(id)]; }

RegValue MakeValue(uint32_t v) { return RegValue::Dword(v); }
RegValue MakeValue(const std::string& v) { return RegValue::String(v); }

constexpr char kProfiles[] = "System\\StorageManager\\Profiles\\";

struct StorageProfile {
  const char* defaultName;
  const char* folderProfile;    // where "Folder" is read
  const char* fallbackProfile;  // read when the own "Folder" is missing
  const char* pushProfile;      // where "PushState" is kept; null: none
  bool pushFallsBack;           // missing "PushState" is read from "SDMemory"
};

// By storage number.
const StorageProfile kStorages[] = {
    {"SDMMC", "SDMemory0", "SDMemory", "SDMemory0", true},
    {"StorageCard", "SDMemory", nullptr, "SDMemory", false},
    {"Hard Disk", "USBHDProfile", nullptr, "USBHDProfile", true},
    {"NANDFlash", "SMFLASH1", nullptr, nullptr, false},
    {"\xE7\xA1\xAC\xE7\x9B\x98", "USBHDProfile0", nullptr, "USBHDProfile0", false},  // "hard disk"
};

const StorageProfile* Storage(int number) {
  if (number < 0 || static_cast<size_t>(number) >= std::size(kStorages)) return nullptr;
  return &kStorages[number];
}

std::string Profile(const char* name) { return std::string(kProfiles) + name; }

struct PlatformRow {
  int code;
  const char* cpu;
  uint32_t project;
  uint32_t otherProject;  // a second project type of the same code, or the same
};

const PlatformRow kPlatformRows[] = {
    {0, "S3C6410", 18, 18},   {1, "S5PC100", 18, 18},   {2, "S5P6450", 18, 18},
    {3, "S3C6410", 19, 17},   {4, "S5PC100", 19, 17},   {5, "S5P6450", 19, 17},
    {6, "S5P6450", 16, 16},   {7, "MSTAR2521", 16, 16}, {8, "MSTAR2521", 19, 17},
    {9, "MSTAR786", 19, 17},  {13, "MSTAR786", 18, 18}, {10, "S5P6450", 20, 20},
    {11, "MSTAR2521", 18, 18}, {12, "MSTAR2531", 19, 17},
};

}  // namespace

std::vector<SettingInfo> SettingsTable() { return {std::begin(kTable), std::end(kTable)}; }

int PlatformTypeFor(const std::string& cpuType, uint32_t projectType) {
  for (const PlatformRow& row : kPlatformRows) {
    if (cpuType == row.cpu && (projectType == row.project || projectType == row.otherProject)) {
      return row.code;
    }
  }
  return 0;
}

SettingsStore::SettingsStore(Registry& registry, Devices* devices)
    : registry_(registry), devices_(devices) {}

// The named accessors: each forwards its table row to the algorithms below.
#define HU_SETTINGS_DEF_Get(N, T) \
  bool SettingsStore::Get##N(HU_SETTINGS_OUT_##T value) { return Get(Row(Id::N), value); }
#define HU_SETTINGS_DEF_Set(N, T)                                      \
  bool SettingsStore::Set##N(HU_SETTINGS_IN_##T value) {               \
    return Write(Row(Id::N).key, Row(Id::N).value, MakeValue(value));  \
  }
#define HU_SETTINGS_DEF_Init(N, T)                                           \
  bool SettingsStore::Init##N(HU_SETTINGS_IN_##T value, bool force) {        \
    return Init(Row(Id::N).key, Row(Id::N).value, MakeValue(value), force);  \
  }
#define HU_SETTINGS_DEF(Kind, N, T) HU_SETTINGS_DEF_##Kind(N, T)
#define HU_SETTINGS_DEFINE(N, Key, Value, T, Access, Default) \
  HU_SETTINGS_ACCESS_##Access(HU_SETTINGS_DEF, N, T)
HU_SETTINGS_VALUES(HU_SETTINGS_DEFINE)
#undef HU_SETTINGS_DEFINE
#undef HU_SETTINGS_DEF
#undef HU_SETTINGS_DEF_Init
#undef HU_SETTINGS_DEF_Set
#undef HU_SETTINGS_DEF_Get

bool SettingsStore::Get(const SettingInfo& row, uint32_t& value) {
  if (row.readDefault) value = *row.readDefault;
  return ReadDword(row.key, row.value, value);
}

bool SettingsStore::Get(const SettingInfo& row, std::string& value) {
  return ReadString(row.key, row.value, value);
}

bool SettingsStore::Read(const std::string& key, const std::string& name, RegValue& value) {
  std::unique_ptr<RegKey> handle = registry_.OpenKey(key);
  if (!handle) return false;
  return handle->QueryValue(name, &value) == ERROR_SUCCESS;
}

bool SettingsStore::ReadDword(const std::string& key, const std::string& name, uint32_t& value) {
  RegValue raw;
  return Read(key, name, raw) && raw.AsDword(&value);
}

bool SettingsStore::ReadString(const std::string& key, const std::string& name,
                               std::string& value) {
  RegValue raw;
  return Read(key, name, raw) && raw.AsString(&value);
}

SettingsStore::WriteResult SettingsStore::WriteValue(const std::string& key,
                                                     const std::string& name,
                                                     const RegValue& value) {
  std::unique_ptr<RegKey> handle = registry_.OpenKey(key);
  if (!handle) handle = registry_.CreateKey(key);
  if (!handle) {
    Trace("zqa error SaveRegeditValue :%s,%s\n", key.c_str(), name.c_str());
    return WriteResult::kNoKey;
  }
  if (handle->SetValue(name, value) != ERROR_SUCCESS) {
    Trace("zqa error RegSetValueEx :%s,%s\n", key.c_str(), name.c_str());
    return WriteResult::kSetFailed;
  }
  return WriteResult::kSet;
}

bool SettingsStore::Write(const std::string& key, const std::string& name, const RegValue& value) {
  return WriteValue(key, name, value) != WriteResult::kNoKey;
}

bool SettingsStore::Init(const std::string& key, const std::string& name, const RegValue& value,
                         bool force) {
  if (force) return Write(key, name, value);
  std::unique_ptr<RegKey> handle = registry_.OpenKey(key);
  const bool opened = handle != nullptr;
  if (!opened) handle = registry_.CreateKey(key);
  if (!handle) {
    Trace("zqa error ConfirmRegeditValue2 :%s,%s\n", key.c_str(), name.c_str());
    return false;
  }
  if (opened && handle->QueryValue(name, nullptr) == ERROR_SUCCESS) {
    handle.reset();
    Trace("zqa error ConfirmRegeditValue1 :%s,%s\n", key.c_str(), name.c_str());
    return true;
  }
  if (handle->SetValue(name, value) != ERROR_SUCCESS) {
    Trace("zqa error ConfirmRegeditValue3 :%s,%s\n", key.c_str(), name.c_str());
  }
  return true;
}

bool SettingsStore::GetStorageFolderName(int number, std::string& name) {
  const StorageProfile* storage = Storage(number);
  if (storage == nullptr) {
    name = "StorageCard";
    return false;
  }
  name = storage->defaultName;
  if (!ReadString(Profile(storage->folderProfile), "Folder", name) && storage->fallbackProfile) {
    ReadString(Profile(storage->fallbackProfile), "Folder", name);
  }
  return true;
}

bool SettingsStore::GetPushState(int number, uint32_t& state) {
  const StorageProfile* storage = Storage(number);
  if (storage == nullptr || storage->pushProfile == nullptr) {
    state = 0;
    return false;
  }
  if (ReadDword(Profile(storage->pushProfile), "PushState", state)) return true;
  return storage->pushFallsBack && ReadDword(Profile("SDMemory"), "PushState", state);
}

bool SettingsStore::SetPushState(int number, uint32_t state) {
  const StorageProfile* storage = Storage(number);
  if (storage == nullptr || storage->pushProfile == nullptr) return false;
  return Write(Profile(storage->pushProfile), "PushState", RegValue::Dword(state));
}

bool SettingsStore::SetDumpFolders() {
  static const char kKey[] = "System\\ErrorReporting\\DumpSettings";
  RegValue folder = RegValue::String("\\StorageCard\\DumpFiles");
  folder.data.resize(folder.data.size() - 2);  // the device's writer leaves out the zero
  bool all = true;
  for (const char* name : {"DumpDirectory", "ExtraFilesDirectory", "CabDirectory"}) {
    all = WriteValue(kKey, name, folder) == WriteResult::kSet && all;
  }
  return all;
}

bool SettingsStore::SetTimeFormat(uint32_t format) {
  const RegValue value = RegValue::Dword(format);
  const bool system = Write("SOFTWARE\\Q7Sys\\Time", "TimeFormat", value);
  return Write(kSettingsKeySetting, "TimeFormat", value) && system;
}

bool SettingsStore::IsSleepRequest() {
  uint32_t sleep = 0;
  return GetSleep(sleep) && sleep == 3;
}

bool SettingsStore::IsFmOutKt() {
  std::string kind;
  return GetFMOUT_TYPE(kind) && kind.compare(0, 2, "KT") == 0;
}

bool SettingsStore::IsMfcDevicePresent() {
  if (devices_ == nullptr) return false;
  return devices_->OpenDevice("MFC1:") != nullptr;
}

int SettingsStore::GetPlatformType() {
  uint32_t project = 18;
  std::string cpu = "S3C6410";
  ReadDword(kSettingsKeyOs, "PROJECTTYPE", project);
  ReadString(kSettingsKeyOs, "CPU_TYPE", cpu);
  return PlatformTypeFor(cpu, project);
}

}  // namespace hu
