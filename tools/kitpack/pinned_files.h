#pragma once
#include <memory>
#include <string>

#include "common/platform/files.h"

namespace hu::kitpack {

// Reserved device path under which the product code reads the kit file in place.
constexpr char kInputDevicePath[] = "\\$kitpack$\\input.kit";

// A Files that shows one host file, read-only, at one device path and hands
// every other path to `inner` (none when null: those fail with
// ERROR_PATH_NOT_FOUND).
class PinnedFiles : public Files {
 public:
  PinnedFiles(Files* inner, std::string devicePath, std::string hostPath);

  std::unique_ptr<File> Open(const std::string& path, FileAccess access, FileCreate create,
                             uint32_t shareMode = 0) override;
  std::unique_ptr<FindHandle> FindFirst(const std::string& pattern, FindData* first) override;
  bool CreateDirectory(const std::string& path) override;
  bool RemoveDirectory(const std::string& path) override;
  bool DeleteFile(const std::string& path) override;
  bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) override;
  bool MoveFile(const std::string& from, const std::string& to) override;
  uint32_t GetAttributes(const std::string& path) override;
  bool SetAttributes(const std::string& path, uint32_t attributes) override;
  bool GetDiskFreeSpace(const std::string& path, DiskSpace* out) override;

 private:
  bool IsPinned(const std::string& path) const;
  bool Refuse(const std::string& path) const;  // false, with the last error set

  Files* inner_;
  std::string devicePath_;
  std::string hostPath_;
};

}  // namespace hu::kitpack
