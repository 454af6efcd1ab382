#include "common/platform/file_tree.h"

#include "common/platform/errors.h"

namespace hu {

bool SnapshotFindHandle::Next(FindData* out) {
  if (next_ >= entries_.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return false;
  }
  *out = entries_[next_++];
  return true;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return "\\" + name;
  if (dir.back() == '\\') return dir + name;
  return dir + "\\" + name;
}

std::string ParentPath(const std::string& path) {
  // The device's file system takes either separator.
  size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

bool CreateDirTree(Files& files, const std::string& path) {
  if (IsDirectoryEntry(files.GetAttributes(path))) return true;
  std::string whole = path;
  // A trailing separator would make the last attempt repeat the one before.
  while (whole.size() > 1 && (whole.back() == '\\' || whole.back() == '/')) whole.pop_back();
  for (size_t i = 1; i < whole.size(); ++i) {
    if (whole[i] == '\\' || whole[i] == '/') files.CreateDirectory(whole.substr(0, i));
  }
  return files.CreateDirectory(whole);
}

void CopyTreeFile(Files& files, const std::string& from, const std::string& to, bool overwrite) {
  if (overwrite || files.GetAttributes(to) == INVALID_FILE_ATTRIBUTES) {
    if (!files.CopyFile(from, to, false)) files.CopyFile(from, to, false);
  }
}

void CopyTreeByFiles(Files& files, const std::string& from, const std::string& to, bool overwrite,
                     const std::function<void()>& onFile) {
  FindData fd;
  auto find = files.FindFirst(JoinPath(from, "*.*"), &fd);
  if (!find) return;
  CreateDirTree(files, to);
  do {
    const std::string source = JoinPath(from, fd.name);
    const std::string target = JoinPath(to, fd.name);
    if (IsDirectoryEntry(fd.attributes)) {
      if (fd.name != "." && fd.name != "..") CopyTreeByFiles(files, source, target, overwrite, onFile);
      continue;
    }
    CopyTreeFile(files, source, target, overwrite);
    if (onFile) onFile();
  } while (find->Next(&fd));
}

void Files::CopyTree(const std::string& from, const std::string& to, bool overwrite,
                     const std::function<void()>& onFile) {
  CopyTreeByFiles(*this, from, to, overwrite, onFile);
}

}  // namespace hu
