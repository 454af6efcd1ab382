#include "incremental_packs.h"

#include <map>
#include <memory>

#include "common/platform/errors.h"
#include "common/platform/trace.h"
#include "sysmend/packages/pack_unzip.h"

namespace hu {

namespace {

struct TreeEntry {
  size_t pack = 0;
  PackMember member;
};

// A folder of the merged tree: its files, then its subfolders, in the order first seen.
struct TreeDir {
  std::vector<TreeEntry> files;
  std::map<std::string, size_t> fileIndex;  // lower-case name -> position in files
  std::vector<std::pair<std::string, std::unique_ptr<TreeDir>>> dirs;
  std::map<std::string, size_t> dirIndex;

  TreeDir* Sub(const std::string& name) {
    std::string key = AsciiLower(name);
    auto it = dirIndex.find(key);
    if (it != dirIndex.end()) return dirs[it->second].second.get();
    dirIndex[key] = dirs.size();
    dirs.emplace_back(name, std::make_unique<TreeDir>());
    return dirs.back().second.get();
  }
};

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// Adds the member unless its path is already there; false when it was.
bool AddOnce(TreeDir& root, size_t pack, const PackMember& member) {
  auto parts = Components(member.name);
  if (parts.empty()) parts.push_back(member.name);
  TreeDir* dir = &root;
  for (size_t i = 0; i + 1 < parts.size(); ++i) dir = dir->Sub(parts[i]);
  std::string key = AsciiLower(parts.back());
  if (dir->fileIndex.count(key) != 0) return false;
  dir->fileIndex[key] = dir->files.size();
  dir->files.push_back(TreeEntry{pack, member});
  return true;
}

struct PackFile {
  std::string path;
  std::unique_ptr<File> file;
};

bool ExtractDir(Files& files, std::vector<PackFile>& packs, const TreeDir& dir, const std::string& targetDir) {
  for (const auto& entry : dir.files) {
    PackFile& pack = packs[entry.pack];
    if (!pack.file) {
      pack.file = files.Open(pack.path, FileAccess::Read, FileCreate::OpenExisting, 0);
      if (!pack.file) {
        Trace("\n CPackUnzip::OpenZipPack m_strPackPath = %s  nErrCode = %d \n", pack.path.c_str(),
              static_cast<int>(GetLastError()));
        return false;
      }
    }
    if (ExtractPackMember(files, *pack.file, 0, entry.member, targetDir) != kPackOk) return false;
  }
  for (const auto& sub : dir.dirs) {
    if (!ExtractDir(files, packs, *sub.second, targetDir)) return false;
  }
  return true;
}

}  // namespace

bool ExtractIncrementalPacks(Files& files, CodePage& codePage, const std::vector<std::string>& packPaths,
                             const std::string& targetDir) {
  TreeDir root;
  std::vector<PackFile> packs;
  for (size_t i = 0; i < packPaths.size(); ++i) {
    CPackUnzip unzip(files, codePage, packPaths[i]);
    if (!unzip.OpenZipPack()) return false;
    packs.push_back(PackFile{packPaths[i], nullptr});
    for (const auto& group : unzip.Groups()) {
      for (const auto& member : group.members) AddOnce(root, i, member);
    }
  }
  return ExtractDir(files, packs, root, targetDir);
}

}  // namespace hu
