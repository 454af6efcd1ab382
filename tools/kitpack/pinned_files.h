#pragma once
#include <memory>
#include <string>
#include <vector>

#include "common/platform/files.h"

namespace hu::kitpack {

// Reserved device path under which the product code reads the kit file in place.
constexpr char kInputDevicePath[] = "\\$kitpack$\\input.kit";

// A Files that shows host files, read-only, at device paths of their own and
// hands every other path to `inner` (none when null: those fail with
// ERROR_PATH_NOT_FOUND).
class PinnedFiles : public Files {
 public:
  PinnedFiles(Files* inner, std::string devicePath, std::string hostPath);
  // A folder that holds exactly the files then pinned into it with
  // PinInFolder, whatever `inner` has there; used to stand the kits under
  // test in for a unit's update folder.
  PinnedFiles(Files* inner, std::string folder);
  void PinInFolder(const std::string& name, const std::string& hostPath);
  // Every change to `inner` is refused as well: for runs that must write nothing.
  void SetReadOnly() { readOnly_ = true; }

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
  struct Pin {
    std::string devicePath;
    std::string hostPath;
  };
  const Pin* PinOf(const std::string& path) const;
  bool IsPinned(const std::string& path) const { return PinOf(path) != nullptr; }
  // The pinned folder or a path below it that is not a pin.
  bool IsHidden(const std::string& path) const;
  bool Writable(const std::string& path) const;
  bool Refuse(const std::string& path) const;  // false, with the last error set

  Files* inner_;
  std::vector<Pin> pins_;
  std::string folder_;  // empty: no pinned folder
  bool readOnly_ = false;
};

}  // namespace hu::kitpack
