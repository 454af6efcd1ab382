#include "mem_files.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "common/platform/errors.h"
#include "common/platform/file_tree.h"
#include "common/platform/text.h"

namespace hu {

namespace {

constexpr uint64_t kTiB = 1ull << 40;
constexpr size_t kOps = static_cast<size_t>(MemOp::kCount);

struct FileData {
  std::vector<uint8_t> bytes;
  bool linked = true;  // false once deleted or replaced; its bytes no longer count
};

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string cur;
  auto flush = [&]() {
    if (cur.empty() || cur == ".") {
    } else if (cur == "..") {
      if (!parts.empty()) parts.pop_back();
    } else {
      parts.push_back(cur);
    }
    cur.clear();
  };
  for (char c : path) {
    if (c == '\\' || c == '/') {
      flush();
    } else {
      cur.push_back(c);
    }
  }
  flush();
  return parts;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool WildMatch(const char* p, const char* s) {
  // Iterative glob with backtracking to the last '*'.
  const char* star = nullptr;
  const char* retry = nullptr;
  while (*s) {
    if (*p == '?' || (*p && *p != '*' && Lower(*p) == Lower(*s))) {
      ++p;
      ++s;
    } else if (*p == '*') {
      star = p++;
      retry = s;
    } else if (star) {
      p = star + 1;
      s = ++retry;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return *p == 0;
}

bool PatternMatches(const std::string& pattern, const std::string& name) {
  if (pattern == "*.*" || pattern == "*") return true;
  return WildMatch(pattern.c_str(), name.c_str());
}

}  // namespace

struct MemFiles::Node {
  std::string name;
  bool dir = false;
  uint32_t attributes = 0;  // bits other than DIRECTORY / NORMAL
  std::shared_ptr<FileData> data;
  std::map<std::string, std::unique_ptr<Node>> children;  // keyed by lower-case name

  Node* Child(const std::string& name) const {
    auto it = children.find(AsciiLower(name));
    return it == children.end() ? nullptr : it->second.get();
  }
  uint32_t Reported() const {
    if (dir) return FILE_ATTRIBUTE_DIRECTORY | attributes;
    return attributes == 0 ? static_cast<uint32_t>(FILE_ATTRIBUTE_NORMAL) : attributes;
  }
};

struct MemFiles::State {
  mutable std::mutex mutex;
  Node root;
  std::array<uint64_t, kOps> counts{};
  std::array<uint64_t, kOps> failAt{};
  std::array<uint32_t, kOps> failError{};
  uint64_t quota = UINT64_MAX;
  uint64_t used = 0;
  std::map<std::string, DiskSpace> space;
  DiskSpace defaultSpace{kTiB, kTiB, kTiB};
  int openFiles = 0;

  State() { root.dir = true; }

  // Counts the operation; true (last error set) when it is the one to fail.
  bool Hit(MemOp op) {
    size_t i = static_cast<size_t>(op);
    ++counts[i];
    if (failAt[i] != 0 && counts[i] == failAt[i]) {
      failAt[i] = 0;
      SetLastError(failError[i]);
      return true;
    }
    return false;
  }

  // The folder holding `parts` minus its last `drop` components; null with the
  // last error set when one is missing or a file.
  Node* Folder(const std::vector<std::string>& parts, size_t count) {
    Node* n = &root;
    for (size_t i = 0; i < count; ++i) {
      Node* c = n->Child(parts[i]);
      if (c == nullptr || !c->dir) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
      }
      n = c;
    }
    return n;
  }

  // The node at `parts`; null with ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND.
  Node* Find(const std::vector<std::string>& parts) {
    if (parts.empty()) return &root;
    Node* parent = Folder(parts, parts.size() - 1);
    if (parent == nullptr) return nullptr;
    Node* n = parent->Child(parts.back());
    if (n == nullptr) SetLastError(ERROR_FILE_NOT_FOUND);
    return n;
  }

  void Unlink(Node* n) {
    if (n->dir) {
      for (auto& c : n->children) Unlink(c.second.get());
    } else if (n->data && n->data->linked) {
      used -= n->data->bytes.size();
      n->data->linked = false;
    }
  }

  Node* AddChild(Node* parent, const std::string& name, bool dir) {
    auto node = std::make_unique<Node>();
    node->name = name;
    node->dir = dir;
    if (!dir) {
      node->data = std::make_shared<FileData>();
      node->attributes = FILE_ATTRIBUTE_ARCHIVE;
    }
    Node* raw = node.get();
    parent->children[AsciiLower(name)] = std::move(node);
    return raw;
  }

  Node* MakeDirs(const std::vector<std::string>& parts, size_t count) {
    Node* n = &root;
    for (size_t i = 0; i < count; ++i) {
      Node* c = n->Child(parts[i]);
      if (c == nullptr) c = AddChild(n, parts[i], true);
      if (!c->dir) return nullptr;
      n = c;
    }
    return n;
  }

  void Truncate(FileData& d) {
    if (d.linked) used -= d.bytes.size();
    d.bytes.clear();
  }
};

namespace {

class MemFile : public File {
 public:
  MemFile(std::shared_ptr<MemFiles::State> state, std::shared_ptr<FileData> data, FileAccess access)
      : state_(std::move(state)), data_(std::move(data)), access_(access) {}
  ~MemFile() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    --state_->openFiles;
  }

  bool Read(void* buffer, uint32_t size, uint32_t* done) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (done) *done = 0;
    if (state_->Hit(MemOp::Read)) return false;
    if (access_ == FileAccess::Write) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    const auto& b = data_->bytes;
    uint64_t avail = pos_ < b.size() ? b.size() - pos_ : 0;
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(avail, size));
    if (n > 0) std::memcpy(buffer, b.data() + pos_, n);
    pos_ += n;
    if (done) *done = n;
    return true;
  }

  bool Write(const void* buffer, uint32_t size, uint32_t* done) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (done) *done = 0;
    if (state_->Hit(MemOp::Write)) return false;
    if (access_ == FileAccess::Read) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    auto& b = data_->bytes;
    uint64_t end = pos_ + size;
    uint64_t growth = end > b.size() ? end - b.size() : 0;
    uint64_t n = size;
    bool full = false;
    if (data_->linked && growth > 0) {
      uint64_t room = state_->quota > state_->used ? state_->quota - state_->used : 0;
      if (growth > room) {
        full = true;
        // Only what fits below the quota is written.
        uint64_t maxEnd = b.size() + room;
        n = maxEnd > pos_ ? std::min<uint64_t>(size, maxEnd - pos_) : 0;
        end = pos_ + n;
        growth = end > b.size() ? end - b.size() : 0;
      }
      state_->used += growth;
    }
    if (end > b.size()) b.resize(end, 0);
    if (n > 0) std::memcpy(b.data() + pos_, buffer, n);
    pos_ += n;
    if (done) *done = static_cast<uint32_t>(n);
    if (full) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
    return true;
  }

  bool Seek(int64_t distance, SeekFrom from, uint64_t* position) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->Hit(MemOp::Seek)) return false;
    int64_t base = 0;
    if (from == SeekFrom::Current) base = static_cast<int64_t>(pos_);
    if (from == SeekFrom::End) base = static_cast<int64_t>(data_->bytes.size());
    int64_t target = base + distance;
    if (target < 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    pos_ = static_cast<uint64_t>(target);
    if (position) *position = pos_;
    return true;
  }

  uint64_t Size() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return data_->bytes.size();
  }

  bool Flush() override { return true; }

 private:
  std::shared_ptr<MemFiles::State> state_;
  std::shared_ptr<FileData> data_;
  FileAccess access_;
  uint64_t pos_ = 0;
};

FindData DataOf(const MemFiles::Node& n) {
  FindData d;
  d.name = n.name;
  d.attributes = n.Reported();
  d.size = n.dir ? 0 : n.data->bytes.size();
  return d;
}
}  // namespace

MemFiles::MemFiles() : state_(std::make_shared<State>()) {}
MemFiles::~MemFiles() = default;

std::unique_ptr<File> MemFiles::Open(const std::string& path, FileAccess access, FileCreate create,
                                     uint32_t /*shareMode*/) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  bool creates = create != FileCreate::OpenExisting;
  bool failed = state_->Hit(MemOp::Open);
  if (creates) failed = state_->Hit(MemOp::Create) || failed;
  if (failed) return nullptr;
  auto parts = SplitPath(path);
  if (parts.empty()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  Node* parent = state_->Folder(parts, parts.size() - 1);
  if (parent == nullptr) return nullptr;
  Node* node = parent->Child(parts.back());
  if (node != nullptr && node->dir) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  bool writes = access != FileAccess::Read;
  bool readOnly = node != nullptr && (node->attributes & FILE_ATTRIBUTE_READONLY) != 0;
  uint32_t okError = ERROR_SUCCESS;
  switch (create) {
    case FileCreate::CreateNew:
      if (node != nullptr) {
        SetLastError(ERROR_FILE_EXISTS);
        return nullptr;
      }
      break;
    case FileCreate::OpenExisting:
    case FileCreate::TruncateExisting:
      if (node == nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
      }
      break;
    case FileCreate::CreateAlways:
    case FileCreate::OpenAlways:
      if (node != nullptr) okError = ERROR_ALREADY_EXISTS;
      break;
  }
  bool truncates = node != nullptr &&
                   (create == FileCreate::CreateAlways || create == FileCreate::TruncateExisting);
  if (readOnly && (writes || truncates)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (node == nullptr) {
    node = state_->AddChild(parent, parts.back(), false);
  } else if (truncates) {
    state_->Truncate(*node->data);
  }
  ++state_->openFiles;
  SetLastError(okError);
  return std::make_unique<MemFile>(state_, node->data, access);
}

std::unique_ptr<FindHandle> MemFiles::FindFirst(const std::string& pattern, FindData* first) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->Hit(MemOp::FindFirst)) return nullptr;
  // The wildcard is the last component; everything before it is the folder.
  size_t cut = pattern.find_last_of("\\/");
  std::string wild = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
  auto folderParts = SplitPath(cut == std::string::npos ? std::string() : pattern.substr(0, cut));
  Node* folder = state_->Folder(folderParts, folderParts.size());
  if (folder == nullptr) return nullptr;
  std::vector<FindData> entries;
  if (!wild.empty()) {
    for (const auto& c : folder->children) {
      if (PatternMatches(wild, c.second->name)) entries.push_back(DataOf(*c.second));
    }
  }
  if (entries.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (first) *first = entries.front();
  SetLastError(ERROR_SUCCESS);
  return std::make_unique<SnapshotFindHandle>(std::move(entries));
}

bool MemFiles::CreateDirectory(const std::string& path) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->Hit(MemOp::CreateDirectory)) return false;
  auto parts = SplitPath(path);
  if (parts.empty()) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return false;
  }
  Node* parent = state_->Folder(parts, parts.size() - 1);
  if (parent == nullptr) return false;
  if (parent->Child(parts.back()) != nullptr) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return false;
  }
  state_->AddChild(parent, parts.back(), true);
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool MemFiles::RemoveDirectory(const std::string& path) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->Hit(MemOp::RemoveDirectory)) return false;
  auto parts = SplitPath(path);
  if (parts.empty()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  Node* parent = state_->Folder(parts, parts.size() - 1);
  if (parent == nullptr) return false;
  Node* node = parent->Child(parts.back());
  if (node == nullptr) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  if (!node->dir || (node->attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (!node->children.empty()) {
    SetLastError(ERROR_DIR_NOT_EMPTY);
    return false;
  }
  parent->children.erase(AsciiLower(parts.back()));
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool MemFiles::DeleteFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->Hit(MemOp::Delete)) return false;
  auto parts = SplitPath(path);
  Node* node = parts.empty() ? &state_->root : state_->Find(parts);
  if (node == nullptr) return false;
  if (node->dir || (node->attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  state_->Unlink(node);
  Node* parent = state_->Folder(parts, parts.size() - 1);
  parent->children.erase(AsciiLower(parts.back()));
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool MemFiles::CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->Hit(MemOp::Copy)) return false;
  auto src = SplitPath(from);
  Node* s = src.empty() ? &state_->root : state_->Find(src);
  if (s == nullptr) return false;
  if (s->dir) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  auto dst = SplitPath(to);
  if (dst.empty()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  Node* parent = state_->Folder(dst, dst.size() - 1);
  if (parent == nullptr) return false;
  Node* d = parent->Child(dst.back());
  if (d != nullptr) {
    if (d->dir || d == s || (d->attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    if (failIfExists) {
      SetLastError(ERROR_FILE_EXISTS);
      return false;
    }
  }
  uint64_t size = s->data->bytes.size();
  uint64_t freed = d != nullptr ? d->data->bytes.size() : 0;
  uint64_t after = state_->used - freed + size;
  if (after > state_->quota) {
    SetLastError(ERROR_DISK_FULL);
    return false;
  }
  if (d == nullptr) {
    d = state_->AddChild(parent, dst.back(), false);
  } else {
    state_->Unlink(d);
  }
  auto data = std::make_shared<FileData>();
  data->bytes = s->data->bytes;
  d->data = data;
  d->attributes = s->attributes;
  state_->used += size;
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool MemFiles::MoveFile(const std::string& from, const std::string& to) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->Hit(MemOp::Move)) return false;
  auto src = SplitPath(from);
  auto dst = SplitPath(to);
  if (src.empty() || dst.empty()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  Node* s = state_->Find(src);
  if (s == nullptr) return false;
  Node* parent = state_->Folder(dst, dst.size() - 1);
  if (parent == nullptr) return false;
  Node* d = parent->Child(dst.back());
  if (d == s) {  // a change of spelling only
    s->name = dst.back();
    SetLastError(ERROR_SUCCESS);
    return true;
  }
  if (d != nullptr) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return false;
  }
  // A folder cannot move below itself.
  if (s->dir && dst.size() > src.size()) {
    bool inside = true;
    for (size_t i = 0; i < src.size(); ++i) inside = inside && EqualsNoCase(src[i], dst[i]);
    if (inside) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
  }
  Node* srcParent = state_->Folder(src, src.size() - 1);
  auto it = srcParent->children.find(AsciiLower(src.back()));
  std::unique_ptr<Node> moved = std::move(it->second);
  srcParent->children.erase(it);
  moved->name = dst.back();
  parent->children[AsciiLower(dst.back())] = std::move(moved);
  SetLastError(ERROR_SUCCESS);
  return true;
}

uint32_t MemFiles::GetAttributes(const std::string& path) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  Node* n = state_->Find(SplitPath(path));
  return n == nullptr ? static_cast<uint32_t>(INVALID_FILE_ATTRIBUTES) : n->Reported();
}

bool MemFiles::SetAttributes(const std::string& path, uint32_t attributes) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  Node* n = state_->Find(SplitPath(path));
  if (n == nullptr) return false;
  n->attributes = attributes & ~(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_NORMAL);
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool MemFiles::GetDiskFreeSpace(const std::string& path, DiskSpace* out) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->Hit(MemOp::DiskSpace)) return false;
  auto parts = SplitPath(path);
  Node* n = state_->Find(parts);
  if (n == nullptr || !n->dir) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  DiskSpace s = state_->defaultSpace;
  if (!parts.empty()) {
    auto it = state_->space.find(AsciiLower(parts.front()));
    if (it != state_->space.end()) s = it->second;
  }
  if (out) *out = s;
  SetLastError(ERROR_SUCCESS);
  return true;
}

void MemFiles::PutFile(const std::string& path, const std::string& bytes) {
  PutFile(path, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

void MemFiles::PutFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto parts = SplitPath(path);
  if (parts.empty()) return;
  Node* parent = state_->MakeDirs(parts, parts.size() - 1);
  if (parent == nullptr) return;
  Node* n = parent->Child(parts.back());
  if (n != nullptr && n->dir) return;
  if (n == nullptr) n = state_->AddChild(parent, parts.back(), false);
  state_->Truncate(*n->data);
  n->data->bytes = bytes;
  if (n->data->linked) state_->used += bytes.size();
}

bool MemFiles::GetFile(const std::string& path, std::string* bytes) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  uint32_t saved = hu::GetLastError();
  Node* n = state_->Find(SplitPath(path));
  SetLastError(saved);
  if (n == nullptr || n->dir) return false;
  if (bytes) bytes->assign(n->data->bytes.begin(), n->data->bytes.end());
  return true;
}

std::string MemFiles::FileBytes(const std::string& path) const {
  std::string out;
  GetFile(path, &out);
  return out;
}

void MemFiles::MakeDirs(const std::string& path) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto parts = SplitPath(path);
  state_->MakeDirs(parts, parts.size());
}

bool MemFiles::Exists(const std::string& path) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  uint32_t saved = hu::GetLastError();
  bool found = state_->Find(SplitPath(path)) != nullptr;
  SetLastError(saved);
  return found;
}

bool MemFiles::IsDirectory(const std::string& path) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  uint32_t saved = hu::GetLastError();
  Node* n = state_->Find(SplitPath(path));
  SetLastError(saved);
  return n != nullptr && n->dir;
}

namespace {
void ListInto(const MemFiles::Node& n, const std::string& prefix, std::vector<std::string>* out) {
  for (int pass = 0; pass < 2; ++pass) {
    for (const auto& c : n.children) {
      if (c.second->dir != (pass == 0)) continue;
      std::string p = prefix + "\\" + c.second->name;
      out->push_back(p);
      if (c.second->dir) ListInto(*c.second, p, out);
    }
  }
}
}  // namespace

std::vector<std::string> MemFiles::ListAll() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  std::vector<std::string> out;
  ListInto(state_->root, "", &out);
  return out;
}

void MemFiles::SetDiskSpace(const std::string& topFolder, uint64_t freeToCaller, uint64_t total) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto parts = SplitPath(topFolder);
  std::string key = parts.empty() ? std::string() : AsciiLower(parts.front());
  state_->space[key] = DiskSpace{freeToCaller, total, freeToCaller};
}

void MemFiles::SetDefaultDiskSpace(uint64_t freeToCaller, uint64_t total) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->defaultSpace = DiskSpace{freeToCaller, total, freeToCaller};
}

void MemFiles::SetQuota(uint64_t bytes) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->quota = bytes;
}

uint64_t MemFiles::UsedBytes() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->used;
}

void MemFiles::FailNth(MemOp op, uint32_t n, uint32_t error) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  size_t i = static_cast<size_t>(op);
  if (i >= kOps || n == 0) return;
  state_->failAt[i] = state_->counts[i] + n;
  state_->failError[i] = error;
}

void MemFiles::ClearFailures() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->failAt.fill(0);
}

uint64_t MemFiles::Count(MemOp op) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  size_t i = static_cast<size_t>(op);
  return i < kOps ? state_->counts[i] : 0;
}

void MemFiles::ResetCounts() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  // Pending failures keep their distance from now.
  for (size_t i = 0; i < kOps; ++i) {
    if (state_->failAt[i] != 0) state_->failAt[i] -= state_->counts[i];
    state_->counts[i] = 0;
  }
}

int MemFiles::OpenFileCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->openFiles;
}

}  // namespace hu
