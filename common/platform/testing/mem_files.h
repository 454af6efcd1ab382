#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/platform/files.h"

namespace hu {

// Operations of MemFiles that tests can count and make fail.
enum class MemOp {
  Open,             // every Open call
  Create,           // Open calls whose disposition may create or truncate a file
  Read,             // File::Read
  Write,            // File::Write
  Seek,             // File::Seek
  FindFirst,        // FindFirst
  CreateDirectory,  // CreateDirectory
  RemoveDirectory,  // RemoveDirectory
  Delete,           // DeleteFile
  Copy,             // CopyFile
  Move,             // MoveFile
  DiskSpace,        // GetDiskFreeSpace
  kCount,
};

// An in-memory device file system: "\" separated, case-insensitive (ASCII)
// components that keep their first spelling, attributes, wildcard enumeration
// over a snapshot, and the device's error codes. Thread-safe.
class MemFiles : public Files {
 public:
  MemFiles();
  ~MemFiles() override;
  MemFiles(const MemFiles&) = delete;
  MemFiles& operator=(const MemFiles&) = delete;

  // Files
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

  // Direct helpers for tests: no counting, no injected failures, no quota.
  // PutFile creates missing parent folders and replaces an existing file.
  void PutFile(const std::string& path, const std::string& bytes);
  void PutFile(const std::string& path, const std::vector<uint8_t>& bytes);
  bool GetFile(const std::string& path, std::string* bytes) const;
  std::string FileBytes(const std::string& path) const;  // "" when missing
  void MakeDirs(const std::string& path);
  bool Exists(const std::string& path) const;
  bool IsDirectory(const std::string& path) const;
  // Every folder and file below the root as full paths in their kept spelling
  // ("\a", "\a\b.txt"), folders first within a folder, sorted ignoring case.
  std::vector<std::string> ListAll() const;

  // Space reported for paths below a top-level folder ("\Storage Card" or
  // "Storage Card"); other paths report `SetDefaultDiskSpace` (1 TiB by default).
  void SetDiskSpace(const std::string& topFolder, uint64_t freeToCaller, uint64_t total);
  void SetDefaultDiskSpace(uint64_t freeToCaller, uint64_t total);
  // Total bytes all files may hold; a write past it writes what fits and fails
  // with ERROR_DISK_FULL. UINT64_MAX (the default) is no limit.
  void SetQuota(uint64_t bytes);
  uint64_t UsedBytes() const;

  // The n-th (1 = the next) operation of `op` from now fails with `error`.
  void FailNth(MemOp op, uint32_t n, uint32_t error);
  void ClearFailures();
  uint64_t Count(MemOp op) const;
  void ResetCounts();
  // Files opened and not yet destroyed.
  int OpenFileCount() const;

  struct Node;
  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace hu
