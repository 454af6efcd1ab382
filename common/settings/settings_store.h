#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/platform/devices.h"
#include "common/platform/registry.h"
#include "common/settings/settings_values.h"

namespace hu {

enum class SettingType : uint8_t { kDword, kString };
enum : uint8_t { kSettingRead = 1, kSettingWrite = 2, kSettingInit = 4 };

// One row of the value table (settings_values.h).
struct SettingInfo {
  const char* accessor;  // the name after Get/Set/Init
  const char* key;
  const char* value;
  SettingType type;
  uint8_t access;  // kSettingRead | kSettingWrite | kSettingInit
  std::optional<uint32_t> readDefault;
};

// Every row, in table order.
std::vector<SettingInfo> SettingsTable();

// The platform codes GetPlatformType derives from CPU_TYPE and PROJECTTYPE.
int PlatformTypeFor(const std::string& cpuType, uint32_t projectType);

// Typed access to the registry values the unit's programs share. It keeps no
// state: each call opens the key, reads or writes one value and closes it, so
// any number of stores (and processes) may use one registry; concurrent writers
// of a value race at the registry and the last write wins.
//
// For each row of HU_SETTINGS_VALUES, by its access kind:
//   bool GetName(uint32_t& value)            / (std::string& value)
//   bool SetName(uint32_t value)             / (const std::string& value)
//   bool InitName(uint32_t value, bool force)
// Getters store the row's default first, then read; they return whether the
// read succeeded. Setters and init setters follow Write and Init below.
class SettingsStore {
 public:
  explicit SettingsStore(Registry& registry, Devices* devices = nullptr);

#define HU_SETTINGS_DECL_Get(N, T) bool Get##N(HU_SETTINGS_OUT_##T value);
#define HU_SETTINGS_DECL_Set(N, T) bool Set##N(HU_SETTINGS_IN_##T value);
#define HU_SETTINGS_DECL_Init(N, T) bool Init##N(HU_SETTINGS_IN_##T value, bool force);
#define HU_SETTINGS_DECL(Kind, N, T) HU_SETTINGS_DECL_##Kind(N, T)
#define HU_SETTINGS_DECLARE(N, Key, Value, T, Access, Default) \
  HU_SETTINGS_ACCESS_##Access(HU_SETTINGS_DECL, N, T)
  HU_SETTINGS_VALUES(HU_SETTINGS_DECLARE)
#undef HU_SETTINGS_DECLARE
#undef HU_SETTINGS_DECL
#undef HU_SETTINGS_DECL_Init
#undef HU_SETTINGS_DECL_Set
#undef HU_SETTINGS_DECL_Get

  // Name of a storage by number (0 SD card slot, 1 storage card, 2 and 4 USB
  // disks, 3 NAND flash): the default name, replaced by the "Folder" of its
  // storage-manager profile when present. Unknown numbers give "StorageCard"
  // and false.
  bool GetStorageFolderName(int number, std::string& name);
  // "PushState" of the storage's profile (numbers 0, 1, 2 and 4); 0 and 2 fall
  // back to the storage card's state when their own is missing. Unknown
  // numbers read 0 and write nothing; both return false for them.
  bool GetPushState(int number, uint32_t& state);
  bool SetPushState(int number, uint32_t state);

  // Points the three crash-dump folders at "\StorageCard\DumpFiles" (stored
  // without its terminating zero); true only when all three were set.
  bool SetDumpFolders();
  // "TimeFormat" under the system time key and the application's settings;
  // true when both were written.
  bool SetTimeFormat(uint32_t format);

  // True when "Sleep" of the Event key reads 3.
  bool IsSleepRequest();
  // True when the FM transmitter kind ("FMOUT_TYPE") begins with "KT".
  bool IsFmOutKt();
  // True when the device "MFC1:" can be opened (it is closed at once); false
  // without a device service.
  bool IsMfcDevicePresent();
  // The platform code (0..13) of CPU_TYPE (default "S3C6410") and PROJECTTYPE
  // (default 18); 0 when no row matches.
  int GetPlatformType();

  // The three registry algorithms every accessor goes through. Read: open the
  // key, query, close; false when either fails, leaving `value` as it was.
  bool ReadDword(const std::string& key, const std::string& name, uint32_t& value);
  bool ReadString(const std::string& key, const std::string& name, std::string& value);
  // Open or create the key and set the value. False only when the key cannot
  // be had; a failed set is traced and still answers true.
  bool Write(const std::string& key, const std::string& name, const RegValue& value);
  // Without `force`, sets the value only when it does not exist yet (an
  // existing value answers true untouched); with `force`, as Write.
  bool Init(const std::string& key, const std::string& name, const RegValue& value, bool force);

 private:
  enum class WriteResult { kNoKey, kSetFailed, kSet };
  WriteResult WriteValue(const std::string& key, const std::string& name, const RegValue& value);
  bool Read(const std::string& key, const std::string& name, RegValue& value);
  bool Get(const SettingInfo& row, uint32_t& value);
  bool Get(const SettingInfo& row, std::string& value);

  Registry& registry_;
  Devices* devices_;
};

}  // namespace hu
