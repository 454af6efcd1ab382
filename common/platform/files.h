#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace hu {

// Windows attribute bits as the device's file system reports them.
enum : uint32_t {
  FILE_ATTRIBUTE_READONLY = 0x01,
  FILE_ATTRIBUTE_HIDDEN = 0x02,
  FILE_ATTRIBUTE_SYSTEM = 0x04,
  FILE_ATTRIBUTE_DIRECTORY = 0x10,
  FILE_ATTRIBUTE_ARCHIVE = 0x20,
  FILE_ATTRIBUTE_NORMAL = 0x80,
  FILE_ATTRIBUTE_REPARSE_POINT = 0x400,  // a link: acted on itself, never walked into
  INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu,
};

enum : uint32_t { FILE_SHARE_READ = 0x01, FILE_SHARE_WRITE = 0x02 };

enum class FileAccess { Read, Write, ReadWrite };

// CreateFileW creation dispositions.
enum class FileCreate {
  CreateNew,         // fails with ERROR_FILE_EXISTS when it exists
  CreateAlways,      // creates or truncates
  OpenExisting,      // fails with ERROR_FILE_NOT_FOUND when missing
  OpenAlways,        // opens or creates
  TruncateExisting,  // opens and truncates; fails when missing
};

enum class SeekFrom { Begin, Current, End };

// The longest device path, in UTF-16 units, a file operation takes (the
// device's MAX_PATH less its terminator); longer ones fail with
// ERROR_FILENAME_EXCED_RANGE.
constexpr size_t kMaxDevicePath = 259;

// An open file. Paths are device paths ("\dravik\$KVR$\App\x.cfg"), UTF-8.
class File {
 public:
  virtual ~File() = default;
  // Reads up to `size` bytes; `*done` is the count read (0 at end of file). False on failure.
  virtual bool Read(void* buffer, uint32_t size, uint32_t* done) = 0;
  // Writes `size` bytes; `*done` is the count written. False on failure (e.g. disk full).
  virtual bool Write(const void* buffer, uint32_t size, uint32_t* done) = 0;
  // Moves the file pointer; `*position` (optional) receives the new position.
  virtual bool Seek(int64_t distance, SeekFrom from, uint64_t* position = nullptr) = 0;
  virtual uint64_t Size() = 0;
  virtual bool Flush() = 0;
};

struct FindData {
  std::string name;  // the entry's own name, no folder
  uint32_t attributes = 0;
  uint64_t size = 0;
};

// An enumeration started by FindFirst; Next gives the following entries.
class FindHandle {
 public:
  virtual ~FindHandle() = default;
  // False (last error ERROR_NO_MORE_FILES) when no entry is left.
  virtual bool Next(FindData* out) = 0;
};

struct DiskSpace {
  uint64_t freeToCaller = 0;
  uint64_t total = 0;
  uint64_t totalFree = 0;
};

// The device's file system. Every failure returns false/null and sets the
// thread's last error (errors.h).
class Files {
 public:
  virtual ~Files() = default;

  virtual std::unique_ptr<File> Open(const std::string& path, FileAccess access,
                                     FileCreate create, uint32_t shareMode = 0) = 0;

  // Enumerates the folder of `pattern` with the wildcard of its last component
  // ("\a\b\*.*", "\a\*.kvq"), "." and ".." excluded, names matched ignoring
  // ASCII case. Null (ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND) when nothing matches.
  virtual std::unique_ptr<FindHandle> FindFirst(const std::string& pattern, FindData* first) = 0;

  virtual bool CreateDirectory(const std::string& path) = 0;  // parent must exist
  virtual bool RemoveDirectory(const std::string& path) = 0;  // must be empty
  virtual bool DeleteFile(const std::string& path) = 0;
  // CopyFileW: failIfExists refuses an existing target.
  virtual bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) = 0;
  // MoveFileW: files and folders; the target must not exist.
  virtual bool MoveFile(const std::string& from, const std::string& to) = 0;
  virtual uint32_t GetAttributes(const std::string& path) = 0;  // INVALID_FILE_ATTRIBUTES when missing
  virtual bool SetAttributes(const std::string& path, uint32_t attributes) = 0;
  virtual bool GetDiskFreeSpace(const std::string& path, DiskSpace* out) = 0;

  // Copies the files under folder `from` to the same places under `to`, one
  // folder at a time in find order, as FindFirst and CopyFile would: a target
  // folder is made (with its parents) only when its source lists entries; with
  // `overwrite` false a file already at the target is kept; a copy that fails
  // is tried once more. `onFile` runs after each file, copied or not.
  virtual void CopyTree(const std::string& from, const std::string& to, bool overwrite,
                        const std::function<void()>& onFile);
};

}  // namespace hu
