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

}  // namespace hu
