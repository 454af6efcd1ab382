#include "delete_tree.h"

#include "common/platform/errors.h"
#include "common/platform/trace.h"
#include "sysmend/packages/dir_oper.h"
#include "common/platform/file_tree.h"

namespace hu {

bool DeleteTree(Files& files, Clock& clock, const std::string& path) {
  FindData fd;
  auto find = files.FindFirst(JoinPath(path, "*.*"), &fd);
  if (find) {
    do {
      if (fd.name == "." || fd.name == "..") continue;
      std::string full = JoinPath(path, fd.name);
      if (fd.attributes == FILE_ATTRIBUTE_DIRECTORY) {
        DeleteTree(files, clock, full);
        continue;
      }
      if (!files.DeleteFile(full)) {
        Trace("Del File Failed=%s. Err = %d \n", full.c_str(), static_cast<int>(GetLastError()));
      }
      clock.Sleep(CDirOper::kFilePauseMs);
    } while (find->Next(&fd));
    find.reset();
  }
  return files.RemoveDirectory(path);
}

namespace {

constexpr uint32_t kBlockingBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

void ClearBlockingBits(Files& files, const std::string& path, uint32_t attributes) {
  if ((attributes & kBlockingBits) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    files.SetAttributes(path, attributes & ~kBlockingBits);
  }
}

}  // namespace

bool PurgeTree(Files& files, Clock& clock, const std::string& path) {
  uint32_t top = files.GetAttributes(path);
  if (top == INVALID_FILE_ATTRIBUTES) return true;
  if (!IsDirectoryEntry(top)) {
    ClearBlockingBits(files, path, top);
    if (files.DeleteFile(path)) return true;
    Trace("Del File Failed=%s. Err = %d \n", path.c_str(), static_cast<int>(GetLastError()));
    return false;
  }
  FindData fd;
  auto find = files.FindFirst(JoinPath(path, "*.*"), &fd);
  if (find) {
    do {
      std::string full = JoinPath(path, fd.name);
      if (IsDirectoryEntry(fd.attributes)) {
        PurgeTree(files, clock, full);
        continue;
      }
      ClearBlockingBits(files, full, fd.attributes);
      if (!files.DeleteFile(full)) {
        Trace("Del File Failed=%s. Err = %d \n", full.c_str(), static_cast<int>(GetLastError()));
      }
      clock.Sleep(CDirOper::kFilePauseMs);
    } while (find->Next(&fd));
    find.reset();
  }
  ClearBlockingBits(files, path, top);
  files.RemoveDirectory(path);
  return files.GetAttributes(path) == INVALID_FILE_ATTRIBUTES;
}

}  // namespace hu
