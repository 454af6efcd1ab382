#pragma once
#include <string>
#include <vector>

#include "common/platform/files.h"

namespace hu {

// An enumeration over a listing taken at FindFirst: its first entry went out
// with FindFirst, Next gives the rest, then ERROR_NO_MORE_FILES.
class SnapshotFindHandle : public FindHandle {
 public:
  explicit SnapshotFindHandle(std::vector<FindData> entries) : entries_(std::move(entries)) {}
  bool Next(FindData* out) override;

 private:
  std::vector<FindData> entries_;
  size_t next_ = 1;
};

// `dir` and `name` joined by one backslash.
std::string JoinPath(const std::string& dir, const std::string& name);
// The folder part of `path`: up to (not including) its last backslash or
// slash; "" when none.
std::string ParentPath(const std::string& path);

// True at once when `path` is an existing folder; otherwise tries to create
// every folder along the path, prefix by prefix, and answers the result of
// the last attempt (the whole path).
bool CreateDirTree(Files& files, const std::string& path);

// A file or folder attribute word that names a folder a walk goes into. A
// link to a folder is not one: walks delete or skip links, never follow them
// (a link to an ancestor would never end, one to another partition would
// take its files along).
inline bool IsDirectoryEntry(uint32_t attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// One file of a tree copy: with `overwrite` false a file already at `to` is
// kept; a copy that fails is tried once more.
void CopyTreeFile(Files& files, const std::string& from, const std::string& to, bool overwrite);

// Files::CopyTree built from the other calls of `files`, one file at a time.
void CopyTreeByFiles(Files& files, const std::string& from, const std::string& to, bool overwrite,
                     const std::function<void()>& onFile);

}  // namespace hu
