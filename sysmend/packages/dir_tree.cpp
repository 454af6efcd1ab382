#include "dir_tree.h"

namespace hu {

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return "\\" + name;
  if (dir.back() == '\\') return dir + name;
  return dir + "\\" + name;
}

std::string ParentPath(const std::string& path) {
  size_t cut = path.find_last_of('\\');
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

bool CreateDirTree(Files& files, const std::string& path) {
  if (IsDirectoryEntry(files.GetAttributes(path))) return true;
  std::string whole = path;
  // A trailing separator would make the last attempt repeat the one before.
  while (whole.size() > 1 && whole.back() == '\\') whole.pop_back();
  bool result = false;
  for (size_t i = 1; i < whole.size(); ++i) {
    if (whole[i] == '\\') files.CreateDirectory(whole.substr(0, i));
  }
  result = files.CreateDirectory(whole);
  return result;
}

}  // namespace hu
