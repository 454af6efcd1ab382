#pragma once
#include <cstdint>
#include <string>

#include "common/platform/registry.h"

namespace hu {

// Where the unit's storages are mounted. Each root is a device path of at most
// kStorageRootUnits - 1 UTF-16 units.
struct StorageRoots {
  std::string dravik, nandFlash, storageCard, dravik2, secondCard, dravik2Copy;

  bool operator==(const StorageRoots& o) const {
    return dravik == o.dravik && nandFlash == o.nandFlash && storageCard == o.storageCard &&
           dravik2 == o.dravik2 && secondCard == o.secondCard && dravik2Copy == o.dravik2Copy;
  }
  bool operator!=(const StorageRoots& o) const { return !(*this == o); }
};

inline constexpr size_t kStorageRootUnits = 260;

// The table of the running updater; filled once at start-up on the UI thread.
StorageRoots& GlobalStorageRoots();
// Empties the table (tests).
void ResetGlobalStorageRoots();

// "\NandFlash", "\Storagecard", "\Dravik", "\Dravik2"; the second card and the
// Dravik2 copy have no default and are emptied.
void SetDefaultStorageRoots(StorageRoots& roots);

// Overwrites the roots from the "Folder" values of the storage-manager
// profiles; a profile or value that cannot be read keeps its root.
void GetDiskInfo(Registry& registry, StorageRoots& roots, uint32_t osMajorVersion);

// Folder of the program with its trailing backslash; the whole path when it has
// no backslash.
std::string GetModuleFolder(const std::string& modulePath);
// First-level folder of the program with its trailing backslash
// ("\StorageCard\x\Sysmend.exe" gives "\StorageCard\"); "\" for a program at
// the root, "" for a bare file name.
std::string GetModuleRootFolder(const std::string& modulePath);
// GetModuleRootFolder + "UpdateKitM".
std::string GetUpdatePacksPath(const std::string& modulePath);

}  // namespace hu
