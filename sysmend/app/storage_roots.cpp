#include "storage_roots.h"

#include <memory>

#include "common/platform/errors.h"
#include "common/platform/text.h"
#include "common/platform/trace.h"

namespace hu {
namespace {

// The profile value is queried into a buffer of this many bytes, as on the
// device: a longer value cannot be read (ERROR_MORE_DATA) rather than being
// cut, so a root is never a truncated folder name.
constexpr size_t kFolderBytes = 260;
static_assert(1 + kFolderBytes / 2 < kStorageRootUnits, "a read folder always fits a root");

// Replaces `root` with "\" + the profile's "Folder"; false, leaving it, when
// the profile or its value cannot be read.
bool ReadFolder(Registry& registry, const char* profile, std::string& root) {
  std::unique_ptr<RegKey> key = registry.OpenKey(profile);
  if (!key) return false;
  RegValue value;
  if (key->QueryValue("Folder", &value) != ERROR_SUCCESS) return false;
  if (value.type != REG_SZ || value.data.size() > kFolderBytes) return false;
  // Up to the first zero unit or the end: the stored text need not be terminated.
  root = "\\" + Utf16LeBytesToUtf8(value.data.data(), value.data.size());
  return true;
}

}  // namespace

StorageRoots& GlobalStorageRoots() {
  static StorageRoots roots;
  return roots;
}

void ResetGlobalStorageRoots() { GlobalStorageRoots() = StorageRoots{}; }

void SetDefaultStorageRoots(StorageRoots& roots) {
  roots.nandFlash = "\\NandFlash";
  roots.storageCard = "\\Storagecard";
  roots.dravik = "\\Dravik";
  roots.dravik2 = "\\Dravik2";
  roots.secondCard.clear();
  roots.dravik2Copy.clear();
}

void GetDiskInfo(Registry& registry, StorageRoots& roots, uint32_t osMajorVersion) {
  if (ReadFolder(registry, "System\\StorageManager\\Profiles\\SDMemory\\", roots.storageCard)) {
    if (osMajorVersion < 6) {
      Trace("CAppvisorDlg::GetDiskInfo wince5.0 SDMemory Suc.\n");
    } else {
      Trace("CAppvisorDlg::GetDiskInfo wince6.0 SDMemory Suc.\n");
    }
  }
  ReadFolder(registry, "System\\StorageManager\\Profiles\\SDMemory0\\", roots.secondCard);
  ReadFolder(registry, "System\\StorageManager\\Profiles\\SMFLASH1\\", roots.nandFlash);
  ReadFolder(registry, "System\\StorageManager\\Profiles\\SMFLASH\\", roots.dravik);
  if (ReadFolder(registry, "System\\StorageManager\\Profiles\\SMFLASH2\\", roots.dravik2)) {
    roots.dravik2Copy = roots.dravik2;
  }
}

std::string GetModuleFolder(const std::string& modulePath) {
  const size_t slash = modulePath.rfind('\\');
  if (slash == std::string::npos) return modulePath;
  return modulePath.substr(0, slash + 1);
}

std::string GetModuleRootFolder(const std::string& modulePath) {
  if (modulePath.empty()) return std::string();
  const size_t slash = modulePath.find('\\', 1);
  if (slash != std::string::npos) return modulePath.substr(0, slash + 1);
  // No first-level folder: a program at the root, or a bare file name.
  return modulePath[0] == '\\' ? std::string("\\") : std::string();
}

std::string GetUpdatePacksPath(const std::string& modulePath) {
  const std::string packPath = GetModuleRootFolder(modulePath) + "UpdateKitM";
  Trace(" CSysmendDlg::GetUpdatePacksPath strPackPath = %s\r\n", packPath.c_str());
  return packPath;
}

}  // namespace hu
