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
    size_t end = path.find_first_of("\\/", start);
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

struct Extraction {
  Files& files;
  std::vector<PackFile>& packs;
  const std::string& targetDir;
  const std::function<void(uint32_t, uint32_t)>& progress;
  uint64_t entries = 0;
  uint64_t done = 0;
};

uint64_t CountEntries(const TreeDir& dir) {
  uint64_t n = dir.files.size();
  for (const auto& sub : dir.dirs) n += CountEntries(*sub.second);
  return n;
}

uint32_t ExtractDir(Extraction& x, const TreeDir& dir) {
  for (const auto& entry : dir.files) {
    PackFile& pack = x.packs[entry.pack];
    if (!pack.file) {
      pack.file = x.files.Open(pack.path, FileAccess::Read, FileCreate::OpenExisting, 0);
      if (!pack.file) {
        Trace("\n CPackUnzip::OpenZipPack m_strPackPath = %s  nErrCode = %d \n", pack.path.c_str(),
              static_cast<int>(GetLastError()));
        return kPackOpenFailed;
      }
    }
    uint32_t result = ExtractPackMember(x.files, *pack.file, 0, entry.member, x.targetDir);
    ++x.done;
    uint32_t percentage = static_cast<uint32_t>(x.done * 100 / x.entries);
    if (x.progress && percentage > 0) x.progress(percentage, result);
    if (result != kPackOk) return result;
  }
  for (const auto& sub : dir.dirs) {
    if (uint32_t result = ExtractDir(x, *sub.second)) return result;
  }
  return kPackOk;
}

}  // namespace

uint32_t ExtractIncrementalPacks(Files& files, CodePage& codePage, const std::vector<std::string>& packPaths,
                                 const std::string& targetDir,
                                 const std::function<void(uint32_t percentage, uint32_t result)>& progress) {
  TreeDir root;
  std::vector<PackFile> packs;
  for (size_t i = 0; i < packPaths.size(); ++i) {
    CPackUnzip unzip(files, codePage, packPaths[i]);
    if (!unzip.OpenZipPack() || !unzip.MembersFitTotal()) return kPackNoIndex;
    packs.push_back(PackFile{packPaths[i], nullptr});
    for (const auto& group : unzip.Groups()) {
      for (const auto& member : group.members) AddOnce(root, i, member);
    }
  }
  Extraction x{files, packs, targetDir, progress};
  x.entries = CountEntries(root);
  if (x.entries == 0) return kPackOk;
  return ExtractDir(x, root);
}

}  // namespace hu
