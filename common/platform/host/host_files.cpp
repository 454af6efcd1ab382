#include "common/platform/host/host_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <linux/openat2.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <set>
#include <cstring>
#include <vector>

#include "common/platform/errors.h"
#include "common/platform/file_tree.h"
#include "common/platform/text.h"
#include "common/platform/host/power_cut.h"

namespace hu {
namespace {

constexpr const char* kAttrXattr = "user.hu.attributes";
constexpr const char* kSidecar = ".hu-attributes";
constexpr size_t kMaxName = 255;
// Bits kept by SetAttributes; READONLY of a plain file lives in its mode.
constexpr uint32_t kStoredMask =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

uint32_t FromErrno(int e) {
  switch (e) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG:
    case ELOOP: return ERROR_INVALID_NAME;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOMEM:
    case EMFILE:
    case ENFILE: return ERROR_NOT_ENOUGH_MEMORY;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EBADF: return ERROR_INVALID_HANDLE;
    default: return ERROR_ACCESS_DENIED;  // EACCES, EPERM, EROFS, EISDIR, EXDEV ...
  }
}

bool Fail(uint32_t code) {
  SetLastError(code);
  return false;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// '*' any run, '?' one character, ASCII case ignored.
bool WildMatch(const char* p, const char* s) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*s) {
    if (*p == '*') {
      star = p++;
      resume = s;
    } else if (*p == '?' || (*p && Lower(*p) == Lower(*s))) {
      ++p;
      ++s;
    } else if (star) {
      p = star + 1;
      s = ++resume;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return *p == 0;
}

// As the device does, "x.*" also matches "x" (so "*.*" lists every name).
bool NameMatches(const std::string& pattern, const std::string& name) {
  if (WildMatch(pattern.c_str(), name.c_str())) return true;
  if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
      name.find('.') == std::string::npos) {
    return WildMatch(pattern.substr(0, pattern.size() - 2).c_str(), name.c_str());
  }
  return false;
}

// A name the device's file system accepts; `wildcards` for a FindFirst pattern.
bool ValidName(const std::string& name, bool wildcards) {
  if (name.empty() || name.size() > kMaxName) return false;
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20) return false;
    if (c == '<' || c == '>' || c == ':' || c == '"' || c == '|') return false;
    if (!wildcards && (c == '*' || c == '?')) return false;
  }
  return true;
}

bool IsReadOnlyFile(const struct stat& st) { return !S_ISDIR(st.st_mode) && !(st.st_mode & S_IWUSR); }

using SidecarMap = std::map<std::string, uint32_t>;

SidecarMap ParseSidecar(const std::string& text) {
  SidecarMap map;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    size_t tab = line.find('\t');
    if (tab == std::string::npos || tab == 0 || tab + 1 >= line.size()) continue;
    char* stop = nullptr;
    unsigned long bits = std::strtoul(line.c_str(), &stop, 10);
    if (stop != line.c_str() + tab) continue;
    map[line.substr(tab + 1)] = static_cast<uint32_t>(bits) & kStoredMask;
  }
  return map;
}

bool ReadAll(int fd, std::string* out) {
  out->clear();
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out->append(buf, static_cast<size_t>(n));
  }
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

SidecarMap ReadSidecar(const std::string& folder) {
  int fd = ::open((folder + "/" + kSidecar).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  ::flock(fd, LOCK_SH);
  std::string text;
  ReadAll(fd, &text);
  ::close(fd);
  return ParseSidecar(text);
}

// Read-modify-write of one entry under the side file's own lock, so that two
// processes setting attributes in one folder do not lose each other's bits.
bool UpdateSidecar(const std::string& folder, const std::string& name, const uint32_t* bits) {
  std::string path = folder + "/" + kSidecar;
  if (bits == nullptr && ::access(path.c_str(), F_OK) != 0) return true;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return Fail(FromErrno(errno));
  ::flock(fd, LOCK_EX);
  std::string text;
  ReadAll(fd, &text);
  SidecarMap map = ParseSidecar(text);
  if (bits) {
    map[name] = *bits;
  } else {
    map.erase(name);
  }
  bool ok = true;
  if (map.empty()) {
    ::unlink(path.c_str());
  } else {
    std::string out;
    for (const auto& [entry, value] : map) out += std::to_string(value) + "\t" + entry + "\n";
    ok = ::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0 && WriteAll(fd, out.data(), out.size());
    if (!ok) SetLastError(FromErrno(errno));
  }
  ::close(fd);
  return ok;
}

#ifndef SYS_getxattrat
#define SYS_getxattrat 464  // Linux 6.13; one number on x86-64 and arm64 alike
#endif
std::atomic<bool> gGetxattratWorks{true};

// The attribute of `name` in the open folder `folderFd` (links followed, as
// getxattr does) without the kernel walking the whole path again, as a walk
// over thousands of entries would have it; by path where the kernel lacks it.
ssize_t ReadAttrXattr(int folderFd, const std::string& name, const std::string& host, char* buf, size_t size) {
  if (folderFd >= 0 && gGetxattratWorks.load(std::memory_order_relaxed)) {
    struct {
      uint64_t value;
      uint32_t size;
      uint32_t flags;
    } args{reinterpret_cast<uintptr_t>(buf), static_cast<uint32_t>(size), 0};
    const long n = ::syscall(SYS_getxattrat, folderFd, name.c_str(), 0, kAttrXattr, &args, sizeof args);
    // A sandbox may refuse a call it does not know with EPERM.
    if (n >= 0 || (errno != ENOSYS && errno != EPERM)) return n;
    if (errno == ENOSYS) gGetxattratWorks.store(false, std::memory_order_relaxed);
  }
  return ::getxattr(host.c_str(), kAttrXattr, buf, size);
}

// Stored bits of `host` from its extended attribute or its folder's side
// file; `host` empty looks at the side file alone. `folderFd` is the open
// folder where the caller has it, else -1.
bool StoredBits(int folderFd, const std::string& host, const std::string& folder, const std::string& name,
                const SidecarMap* sidecar, uint32_t* bits) {
  char buf[32];
  const ssize_t n = host.empty() ? -1 : ReadAttrXattr(folderFd, name, host, buf, sizeof buf - 1);
  if (n > 0) {
    buf[n] = 0;
    char* stop = nullptr;
    unsigned long v = std::strtoul(buf, &stop, 10);
    if (stop == buf + n) {
      *bits = static_cast<uint32_t>(v) & kStoredMask;
      return true;
    }
  }
  SidecarMap own;
  if (sidecar == nullptr) {
    own = ReadSidecar(folder);
    sidecar = &own;
  }
  auto it = sidecar->find(name);
  if (it == sidecar->end()) return false;
  *bits = it->second;
  return true;
}

uint32_t ComposeAttributes(const struct stat& st, bool stored, uint32_t bits) {
  uint32_t a;
  if (S_ISDIR(st.st_mode)) {
    a = FILE_ATTRIBUTE_DIRECTORY | (stored ? bits : 0);
  } else {
    a = stored ? (bits & ~FILE_ATTRIBUTE_READONLY) : FILE_ATTRIBUTE_ARCHIVE;
  }
  if (!(st.st_mode & S_IWUSR)) a |= FILE_ATTRIBUTE_READONLY;
  return a == 0 ? FILE_ATTRIBUTE_NORMAL : a;
}

class HostFile : public File {
 public:
  HostFile(int fd, PowerCut* powerCut, std::string path) : fd_(fd), powerCut_(powerCut), path_(std::move(path)) {}
  ~HostFile() override { ::close(fd_); }
  HostFile(const HostFile&) = delete;
  HostFile& operator=(const HostFile&) = delete;

  bool Read(void* buffer, uint32_t size, uint32_t* done) override {
    uint32_t total = 0;
    char* p = static_cast<char*>(buffer);
    while (total < size) {
      ssize_t n = ::read(fd_, p + total, size - total);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        if (done) *done = total;
        return Fail(errno == EBADF ? ERROR_ACCESS_DENIED : (errno == EIO ? ERROR_READ_FAULT : FromErrno(errno)));
      }
      if (n == 0) break;
      total += static_cast<uint32_t>(n);
    }
    if (done) *done = total;
    return true;
  }

  bool Write(const void* buffer, uint32_t size, uint32_t* done) override {
    uint32_t total = 0;
    const char* p = static_cast<const char*>(buffer);
    if (powerCut_ && powerCut_->Step("Write", path_)) {
      WriteAll(fd_, p, powerCut_->PartialLength(size));
      powerCut_->Cut();
    }
    while (total < size) {
      ssize_t n = ::write(fd_, p + total, size - total);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (done) *done = total;
        int e = n < 0 ? errno : ENOSPC;
        return Fail(e == EBADF ? ERROR_ACCESS_DENIED : (e == EIO ? ERROR_WRITE_FAULT : FromErrno(e)));
      }
      total += static_cast<uint32_t>(n);
    }
    if (done) *done = total;
    return true;
  }

  bool Seek(int64_t distance, SeekFrom from, uint64_t* position) override {
    int whence = from == SeekFrom::Begin ? SEEK_SET : (from == SeekFrom::Current ? SEEK_CUR : SEEK_END);
    off_t r = ::lseek(fd_, static_cast<off_t>(distance), whence);
    if (r < 0) return Fail(ERROR_INVALID_PARAMETER);
    if (position) *position = static_cast<uint64_t>(r);
    return true;
  }

  uint64_t Size() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
      SetLastError(FromErrno(errno));
      return 0;
    }
    return static_cast<uint64_t>(st.st_size);
  }

  bool Flush() override {
    if (::fdatasync(fd_) != 0 && errno != EINVAL) return Fail(ERROR_WRITE_FAULT);
    return true;
  }

 private:
  int fd_;
  PowerCut* powerCut_;
  std::string path_;
};

}  // namespace

HostFiles::HostFiles(const std::string& hostRoot, const HostFilesOptions& options)
    : root_(hostRoot), options_(options) {
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
  realRoot_ = RealRoot();
}

const char* HostFiles::SidecarName() { return kSidecar; }

void HostFiles::PowerStep(const char* operation, const std::string& path, const std::function<void()>& partial) {
  if (options_.powerCut == nullptr || !options_.powerCut->Step(operation, path)) return;
  if (partial) partial();
  options_.powerCut->Cut();
}

std::string HostFiles::RealRoot() const {
  // Fixed at construction when the root exists then; otherwise looked up
  // each time, so no thread ever writes the member after start.
  if (!realRoot_.empty()) return realRoot_;
  char buf[PATH_MAX];
  return ::realpath(root_.c_str(), buf) != nullptr ? std::string(buf) : std::string();
}

bool HostFiles::InsideRoot(const std::string& hostPath) const {
  const std::string real = RealRoot();
  char buf[PATH_MAX];
  if (real.empty() || ::realpath(hostPath.c_str(), buf) == nullptr) return false;
  std::string target = buf;
  if (target == real) return true;
  if (real == "/") return true;
  return target.size() > real.size() && target.compare(0, real.size(), real) == 0 &&
         target[real.size()] == '/';
}

namespace {
size_t Utf16Length(const std::string& utf8) {
  size_t units = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) != 0x80) ++units;  // a lead byte starts a character
    if (c >= 0xF0) ++units;           // outside the basic plane: a surrogate pair
  }
  return units;
}
}  // namespace

namespace {

// Paths at least this deep are looked up whole past their first component
// (a volume, which callers often spell otherwise than the host does, found
// among the root's names): one openat2 and one fstat instead of an lstat of
// every component. Shallower ones gain nothing: a new file costs the whole
// lookup and its folder's too.
constexpr size_t kWholeLookupDepth = 5;
std::atomic<bool> gOpenat2Works{true};

// The stat of `path` when every component is spelled exactly and none is a
// link (openat2 refuses links anywhere on the way, which the walk by
// components must look at); else the errno. ENOSYS turns the lookup off.
int StatExact(const std::string& path, struct stat* st) {
  if (!gOpenat2Works.load(std::memory_order_relaxed)) return ENOSYS;
  struct open_how how {};
  how.flags = O_PATH | O_CLOEXEC | O_NOFOLLOW;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  const long fd = ::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOSYS) gOpenat2Works.store(false, std::memory_order_relaxed);
    return error;
  }
  const int rc = ::fstat(static_cast<int>(fd), st);
  const int error = errno;
  ::close(static_cast<int>(fd));
  return rc == 0 ? 0 : error;
}

}  // namespace

bool HostFiles::Resolve(const std::string& devicePath, Resolved* out, bool linkItself) {
  std::vector<std::string> parts;
  std::string cur;
  // Folds "." and ".." by the text alone: ".." at the root stays at the root,
  // and no ".." ever reaches the host.
  auto push = [&](std::string& comp) -> uint32_t {
    if (comp.empty() || comp == ".") {
    } else if (comp == "..") {
      if (!parts.empty()) parts.pop_back();
    } else {
      if (!ValidName(comp, false)) return ERROR_INVALID_NAME;
      if (EqualsNoCase(comp, kSidecar)) return ERROR_ACCESS_DENIED;
      parts.push_back(comp);
    }
    comp.clear();
    return ERROR_SUCCESS;
  };
  for (char c : devicePath) {
    if (c == '\\' || c == '/') {
      if (uint32_t code = push(cur)) return Fail(code);
    } else if (c == '\0') {
      return Fail(ERROR_INVALID_NAME);
    } else {
      cur += c;
    }
  }
  if (uint32_t code = push(cur)) return Fail(code);
  // The device refuses longer paths; a walk that would go deeper stops here.
  if (Utf16Length(devicePath) > kMaxDevicePath) return Fail(ERROR_FILENAME_EXCED_RANGE);

  if (RealRoot().empty()) return Fail(ERROR_PATH_NOT_FOUND);
  *out = Resolved();
  out->host = root_;
  out->isRoot = parts.empty();
  out->exists = true;
  out->parentExists = true;
  // The root's own stat is needed only for the root itself, or when its
  // first component is missing (the root may be what is gone); otherwise
  // the lstat below it shows the root is there.
  if (parts.empty()) {
    if (::stat(root_.c_str(), &out->st) != 0) return Fail(ERROR_PATH_NOT_FOUND);
  } else {
    out->st.st_mode = S_IFDIR;
    out->volume = AsciiLower(parts.front());
  }

  const size_t first = parts.size() >= kWholeLookupDepth ? LookUpPastVolume(parts, out) : 0;
  for (size_t k = first; k < parts.size(); ++k) {
    const std::string& comp = parts[k];
    out->parent = out->host;
    out->parentExists = out->exists;
    auto absent = [&](bool inFile) {
      out->exists = false;
      if (inFile) out->parentExists = false;  // a plain file used as a folder
      out->host += "/" + comp;
      out->name = comp;
    };
    if (!out->exists || !S_ISDIR(out->st.st_mode)) {
      absent(out->exists);
      continue;
    }
    std::string found;
    struct stat lst {};
    // The exact spelling is the common case: its lstat serves for the rest.
    const bool exact = ::lstat((out->host + "/" + comp).c_str(), &lst) == 0;
    if (!exact && k == 0) {
      if (::stat(root_.c_str(), &out->st) != 0) return Fail(ERROR_PATH_NOT_FOUND);
      if (!S_ISDIR(out->st.st_mode)) {
        absent(true);
        continue;
      }
    }
    found = exact ? comp : FindTwin(out->host, out->st, comp);
    if (found.empty()) {
      absent(false);
      continue;
    }
    out->host += "/" + found;
    out->name = found;
    if (!exact && ::lstat(out->host.c_str(), &lst) != 0) {
      out->exists = false;
      continue;
    }
    out->link = S_ISLNK(lst.st_mode);
    if (!out->link) {
      out->st = lst;
      continue;
    }
    if (!InsideRoot(out->host) || ::stat(out->host.c_str(), &out->st) != 0) {
      if (!linkItself || k + 1 != parts.size()) return Fail(ERROR_ACCESS_DENIED);
      out->st = lst;
    }
  }
  return true;
}

size_t HostFiles::LookUpPastVolume(const std::vector<std::string>& parts, Resolved* out) {
  struct stat st {};
  if (::stat(root_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
  bool alone = false;
  const std::string volume = FindTwin(root_, st, parts.front(), &alone);
  if (volume.empty() || !alone) return 0;
  std::string rel;
  for (size_t k = 1; k + 1 < parts.size(); ++k) rel += "/" + parts[k];
  const std::string folder = root_ + "/" + volume + rel;
  const std::string realFolder = RealRoot() + "/" + volume + rel;
  const std::string& last = parts.back();
  int error = StatExact(realFolder + "/" + last, &st);
  if (error == 0) {
    out->parent = folder;
    out->host = folder + "/" + last;
    out->name = last;
    out->st = st;
    return parts.size();
  }
  // Missing, or spelled otherwise: the last component is looked at alone
  // when its folder is there as spelled.
  if (error != ENOENT || StatExact(realFolder, &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
  out->host = folder;
  out->name = parts[parts.size() - 2];
  out->st = st;
  return parts.size() - 1;
}

namespace {
bool SameStamp(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}
// Folders whose names are kept at once; more are rare outside a tree walk.
constexpr size_t kKeptFolders = 64;

// Every entry of a host folder by lower-case name, to the first of its case
// twins in host order (a stable choice). False when the folder cannot be read.
// `plain` (optional) gets the lower-case names whose only entry is a plain
// file or folder (no link, no twin, a type the listing told).
bool ReadNames(const std::string& folder, std::map<std::string, std::string>* names,
               std::set<std::string>* plain = nullptr) {
  DIR* d = ::opendir(folder.c_str());
  if (d == nullptr) return false;
  std::set<std::string> unsure;
  while (dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    const std::string key = AsciiLower(n);
    std::string& kept = (*names)[key];
    if (!kept.empty() || (e->d_type != DT_REG && e->d_type != DT_DIR)) unsure.insert(key);
    if (kept.empty() || n < kept) kept = n;
  }
  ::closedir(d);
  if (plain) {
    for (const auto& entry : *names) {
      if (unsure.count(entry.first) == 0) plain->insert(entry.first);
    }
  }
  return true;
}
}  // namespace

std::string HostFiles::FindTwin(const std::string& folder, const struct stat& st, const std::string& name,
                                bool* alone) {
  const std::string key = AsciiLower(name);
  auto lookUp = [&](const FolderNames& f) {
    if (alone) *alone = f.plain.count(key) != 0;
    auto it = f.names.find(key);
    return it == f.names.end() ? std::string() : it->second;
  };
  {
    std::lock_guard<std::mutex> lock(namesMutex_);
    auto it = folderNames_.find(folder);
    if (it != folderNames_.end() && it->second.dev == st.st_dev && it->second.ino == st.st_ino &&
        SameStamp(it->second.mtime, st.st_mtim) && SameStamp(it->second.ctime, st.st_ctim)) {
      return lookUp(it->second);
    }
  }
  FolderNames f;
  f.dev = st.st_dev;
  f.ino = st.st_ino;
  f.mtime = st.st_mtim;
  f.ctime = st.st_ctim;
  if (!ReadNames(folder, &f.names, &f.plain)) return std::string();
  std::string found = lookUp(f);
  std::lock_guard<std::mutex> lock(namesMutex_);
  if (folderNames_.size() >= kKeptFolders) folderNames_.clear();
  folderNames_[folder] = std::move(f);
  return found;
}

bool HostFiles::NoteCreated(const std::string& folder, const std::string& name) {
  std::lock_guard<std::mutex> lock(namesMutex_);
  auto it = folderNames_.find(folder);
  if (it == folderNames_.end()) return false;
  FolderNames& f = it->second;
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || st.st_dev != f.dev || st.st_ino != f.ino) {
    folderNames_.erase(it);
    return false;
  }
  f.mtime = st.st_mtim;
  f.ctime = st.st_ctim;
  const std::string key = AsciiLower(name);
  std::string& kept = f.names[key];
  // What this object makes is a plain file or folder; beside a twin it is not alone.
  if (kept.empty()) {
    f.plain.insert(key);
  } else if (kept != name) {
    f.plain.erase(key);
  }
  if (kept.empty() || name < kept) kept = name;
  return f.names.count(kSidecar) == 0;
}

std::string HostFiles::HostPath(const std::string& devicePath) {
  Resolved r;
  if (!Resolve(devicePath, &r)) return std::string();
  return r.host;
}

uint32_t HostFiles::AttributesOf(const std::string& folder, const std::string& name,
                                 const struct stat& st) {
  uint32_t bits = 0;
  bool stored = !options_.sidecarAttributesOnly
                    ? StoredBits(-1, folder + "/" + name, folder, name, nullptr, &bits)
                    : StoredBits(-1, "", folder, name, nullptr, &bits);
  return ComposeAttributes(st, stored, bits);
}

bool HostFiles::StoreAttributes(const std::string& folder, const std::string& name, uint32_t bits) {
  std::string host = folder + "/" + name;
  if (!options_.sidecarAttributesOnly) {
    std::string text = std::to_string(bits);
    if (::setxattr(host.c_str(), kAttrXattr, text.data(), text.size(), 0) == 0) {
      return UpdateSidecar(folder, name, nullptr);
    }
    if (errno != ENOTSUP && errno != EPERM && errno != EACCES) return Fail(FromErrno(errno));
  }
  return UpdateSidecar(folder, name, &bits);
}

void HostFiles::ForgetAttributes(const std::string& folder, const std::string& name) {
  UpdateSidecar(folder, name, nullptr);
}

void HostFiles::MoveAttributes(const std::string& fromFolder, const std::string& fromName,
                               const std::string& toFolder, const std::string& toName) {
  SidecarMap map = ReadSidecar(fromFolder);
  auto it = map.find(fromName);
  // The extended attribute, if any, travelled with the rename; a stale entry
  // at the target must not survive either.
  ForgetAttributes(toFolder, toName);
  if (it == map.end()) return;
  uint32_t bits = it->second;
  ForgetAttributes(fromFolder, fromName);
  StoreAttributes(toFolder, toName, bits);
}

std::unique_ptr<File> HostFiles::Open(const std::string& path, FileAccess access, FileCreate create,
                                      uint32_t /*shareMode*/) {
  Resolved r;
  if (!Resolve(path, &r)) return nullptr;
  if (r.isRoot || (r.exists && S_ISDIR(r.st.st_mode))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (!r.parentExists) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  int flags = O_CLOEXEC | (access == FileAccess::Read ? O_RDONLY
                                                      : (access == FileAccess::Write ? O_WRONLY : O_RDWR));
  switch (create) {
    case FileCreate::CreateNew:
      if (r.exists) {
        SetLastError(ERROR_FILE_EXISTS);
        return nullptr;
      }
      flags |= O_CREAT | O_EXCL;
      break;
    case FileCreate::CreateAlways: flags |= O_CREAT | O_TRUNC; break;
    case FileCreate::OpenExisting:
      if (!r.exists) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
      }
      break;
    case FileCreate::OpenAlways: flags |= O_CREAT; break;
    case FileCreate::TruncateExisting:
      if (!r.exists) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
      }
      if (access == FileAccess::Read) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
      }
      flags |= O_TRUNC;
      break;
  }
  bool writes = access != FileAccess::Read || (flags & O_TRUNC);
  // Root ignores permission bits; the device refuses writes to read-only files.
  if (r.exists && writes && IsReadOnlyFile(r.st)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if ((flags & O_TRUNC) || ((flags & O_CREAT) && !r.exists)) PowerStep("Open", path);
  int fd = ::open(r.host.c_str(), flags, 0666);
  if (fd < 0) {
    int e = errno;
    if (e == ENOENT) {
      SetLastError((flags & O_CREAT) ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
    } else {
      SetLastError(e == EISDIR ? ERROR_ACCESS_DENIED : FromErrno(e));
    }
    return nullptr;
  }
  if (!r.exists && !NoteCreated(r.parent, r.name)) ForgetAttributes(r.parent, r.name);
  SetLastError(r.exists && (create == FileCreate::CreateAlways || create == FileCreate::OpenAlways)
                   ? ERROR_ALREADY_EXISTS
                   : ERROR_SUCCESS);
  return std::make_unique<HostFile>(fd, access == FileAccess::Read ? nullptr : options_.powerCut, path);
}

bool HostFiles::ListFolder(const Resolved& folder, const std::string& spec, std::vector<Listed>* out) {
  out->clear();
  DIR* d = ::opendir(folder.host.c_str());
  if (d == nullptr) return Fail(FromErrno(errno));
  // Entries are looked at from the open folder: no path walk for each one.
  for (dirent* e; (e = ::readdir(d)) != nullptr;) {
    std::string n = e->d_name;
    if (n == "." || n == ".." || EqualsNoCase(n, kSidecar) || !NameMatches(spec, n)) continue;
    Listed l;
    if (::fstatat(::dirfd(d), n.c_str(), &l.st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    l.link = S_ISLNK(l.st.st_mode);
    l.fd.name = std::move(n);
    out->push_back(std::move(l));
  }

  const SidecarMap sidecar = ReadSidecar(folder.host);
  for (Listed& l : *out) {
    const std::string host = folder.host + "/" + l.fd.name;
    // A link that leads out of the root, or nowhere, shows as a bare link:
    // it can be deleted, and nothing it leads to is ever reached.
    if (l.link && (!InsideRoot(host) || ::stat(host.c_str(), &l.st) != 0)) {
      l.fd.attributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT;
      l.fd.size = 0;
      continue;
    }
    l.attributes.stored = StoredBits(::dirfd(d), options_.sidecarAttributesOnly ? std::string() : host,
                                     folder.host, l.fd.name, &sidecar, &l.attributes.bits);
    l.fd.attributes = ComposeAttributes(l.st, l.attributes.stored, l.attributes.bits);
    if (l.link) l.fd.attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    l.fd.size = S_ISDIR(l.st.st_mode) ? 0 : static_cast<uint64_t>(l.st.st_size);
  }
  ::closedir(d);
  out->erase(std::remove_if(out->begin(), out->end(),
                            [](const Listed& l) { return l.fd.attributes == INVALID_FILE_ATTRIBUTES; }),
             out->end());
  std::sort(out->begin(), out->end(), [](const Listed& a, const Listed& b) {
    std::string la = AsciiLower(a.fd.name), lb = AsciiLower(b.fd.name);
    return la != lb ? la < lb : a.fd.name < b.fd.name;
  });
  return true;
}

std::unique_ptr<FindHandle> HostFiles::FindFirst(const std::string& pattern, FindData* first) {
  size_t cut = pattern.find_last_of("\\/");
  std::string folder = cut == std::string::npos ? std::string() : pattern.substr(0, cut);
  std::string spec = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
  if (spec.empty() || spec == "." || spec == "..") {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (!ValidName(spec, true)) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  Resolved r;
  if (!Resolve(folder, &r)) return nullptr;
  if (!r.exists || !S_ISDIR(r.st.st_mode)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  std::vector<Listed> listed;
  if (!ListFolder(r, spec, &listed)) return nullptr;
  if (listed.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  std::vector<FindData> entries;
  entries.reserve(listed.size());
  for (Listed& l : listed) entries.push_back(std::move(l.fd));
  *first = entries.front();
  SetLastError(ERROR_SUCCESS);
  return std::make_unique<SnapshotFindHandle>(std::move(entries));
}

bool HostFiles::CreateDirectory(const std::string& path) {
  Resolved r;
  if (!Resolve(path, &r)) return false;
  if (r.exists) return Fail(ERROR_ALREADY_EXISTS);
  if (!r.parentExists) return Fail(ERROR_PATH_NOT_FOUND);
  PowerStep("CreateDirectory", path);
  if (::mkdir(r.host.c_str(), 0777) != 0) {
    int e = errno;
    return Fail(e == EEXIST ? ERROR_ALREADY_EXISTS : (e == ENOENT ? ERROR_PATH_NOT_FOUND : FromErrno(e)));
  }
  if (!NoteCreated(r.parent, r.name)) ForgetAttributes(r.parent, r.name);
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool HostFiles::RemoveDirectory(const std::string& path) {
  Resolved r;
  if (!Resolve(path, &r, true)) return false;
  if (r.isRoot) return Fail(ERROR_ACCESS_DENIED);
  if (!r.exists) return Fail(r.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
  if (r.link) return RemoveLink(path, r);
  if (!S_ISDIR(r.st.st_mode)) return Fail(ERROR_INVALID_NAME);
  PowerStep("RemoveDirectory", path);
  if (::rmdir(r.host.c_str()) != 0) {
    int e = errno;
    if (e != ENOTEMPTY && e != EEXIST) return Fail(FromErrno(e));
    // A folder whose only entry is the attribute side file is empty to the device.
    bool onlySidecar = true;
    if (DIR* d = ::opendir(r.host.c_str())) {
      while (dirent* ent = ::readdir(d)) {
        std::string n = ent->d_name;
        if (n != "." && n != ".." && n != kSidecar) onlySidecar = false;
      }
      ::closedir(d);
    }
    if (!onlySidecar) return Fail(ERROR_DIR_NOT_EMPTY);
    ::unlink((r.host + "/" + kSidecar).c_str());
    if (::rmdir(r.host.c_str()) != 0) return Fail(FromErrno(errno));
  }
  ForgetAttributes(r.parent, r.name);
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool HostFiles::RemoveLink(const std::string& path, const Resolved& r) {
  PowerStep("DeleteFile", path);
  if (::unlink(r.host.c_str()) != 0) return Fail(FromErrno(errno));
  ForgetAttributes(r.parent, r.name);
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool HostFiles::DeleteFile(const std::string& path) {
  Resolved r;
  if (!Resolve(path, &r, true)) return false;
  if (r.isRoot) return Fail(ERROR_ACCESS_DENIED);
  if (!r.exists) return Fail(r.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
  // A link goes itself, whatever it leads to.
  if (r.link) return RemoveLink(path, r);
  if (S_ISDIR(r.st.st_mode) || IsReadOnlyFile(r.st)) return Fail(ERROR_ACCESS_DENIED);
  PowerStep("DeleteFile", path);
  if (::unlink(r.host.c_str()) != 0) return Fail(FromErrno(errno));
  ForgetAttributes(r.parent, r.name);
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool HostFiles::CopyContent(const Resolved& from, const Resolved& to) {
  int in = ::open(from.host.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Fail(FromErrno(errno));
  int out = ::open(to.host.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) {
    int e = errno;
    ::close(in);
    return Fail(e == ENOENT ? ERROR_PATH_NOT_FOUND : FromErrno(e));
  }
  int err = 0;
  // The kernel copies without the bytes passing through here; where it
  // cannot (another file system, an old kernel) they are read and written.
  bool done = false;
  for (bool started = false; !done;) {
    const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t{1} << 30, 0);
    if (n > 0) {
      started = true;
    } else if (n == 0) {
      done = true;
    } else if (errno != EINTR) {
      if (!started && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) break;
      err = errno;
      done = true;
    }
  }
  if (!done) {
    std::vector<char> buf(static_cast<size_t>(std::clamp<off_t>(from.st.st_size, 4096, 256 * 1024)));
    for (;;) {
      ssize_t n = ::read(in, buf.data(), buf.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        err = errno;
        break;
      }
      if (n == 0) break;
      if (!WriteAll(out, buf.data(), static_cast<size_t>(n))) {
        err = errno ? errno : ENOSPC;
        break;
      }
    }
  }
  if (err == 0) {
    struct timespec times[2] = {from.st.st_atim, from.st.st_mtim};
    ::futimens(out, times);
    ::fchmod(out, from.st.st_mode & 07777);
  }
  ::close(in);
  if (::close(out) != 0 && err == 0) err = errno;
  if (err != 0) {
    // No half-copied target is left behind.
    ::unlink(to.host.c_str());
    return Fail(err == EIO ? ERROR_WRITE_FAULT : FromErrno(err));
  }
  return true;
}

bool HostFiles::CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
  Resolved src, dst;
  if (!Resolve(from, &src) || !Resolve(to, &dst)) return false;
  if (!src.exists) return Fail(src.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
  if (S_ISDIR(src.st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (dst.isRoot || (dst.exists && S_ISDIR(dst.st.st_mode))) return Fail(ERROR_ACCESS_DENIED);
  if (!dst.parentExists) return Fail(ERROR_PATH_NOT_FOUND);
  if (dst.exists) {
    if (failIfExists) return Fail(ERROR_FILE_EXISTS);
    if (dst.st.st_dev == src.st.st_dev && dst.st.st_ino == src.st.st_ino) return Fail(ERROR_SHARING_VIOLATION);
    if (IsReadOnlyFile(dst.st)) return Fail(ERROR_ACCESS_DENIED);
  }
  return CopyResolved(to, src, dst, nullptr, true);
}

bool HostFiles::CopyResolved(const std::string& to, const Resolved& src, const Resolved& dst,
                             const StoredAttributes* known, bool targetSidecar) {
  PowerStep("CopyFile", to, [&] {
    // The target is left cut short, as a copy in progress would be.
    std::string content;
    int in = ::open(src.host.c_str(), O_RDONLY | O_CLOEXEC);
    if (in >= 0) ReadAll(in, &content);
    if (in >= 0) ::close(in);
    int out = ::open(dst.host.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out >= 0) WriteAll(out, content.data(), options_.powerCut->PartialLength(content.size()));
  });
  if (!CopyContent(src, dst)) return false;
  StoredAttributes a;
  if (known) {
    a = *known;
  } else {
    a.stored = StoredBits(-1, options_.sidecarAttributesOnly ? std::string() : src.host, src.parent, src.name,
                          nullptr, &a.bits);
  }
  if (a.stored) {
    StoreAttributes(dst.parent, dst.name, a.bits);
  } else {
    // Only a file copied over has an attribute of its own to drop.
    if (dst.exists) ::removexattr(dst.host.c_str(), kAttrXattr);
    if (targetSidecar) ForgetAttributes(dst.parent, dst.name);
  }
  SetLastError(ERROR_SUCCESS);
  return true;
}

void HostFiles::CopyTree(const std::string& from, const std::string& to, bool overwrite,
                         const std::function<void()>& onFile) {
  Resolved src;
  std::vector<Listed> listed;
  if (!Resolve(from, &src) || !src.exists || !S_ISDIR(src.st.st_mode) || !ListFolder(src, "*.*", &listed) ||
      listed.empty()) {
    return;
  }
  CreateDirTree(*this, to);
  // The target folder is listed once; a file whose name (in any case) is not
  // there yet is a new file and needs no lookup of its own. Anything else
  // (a name already taken, a link, a target that is not a plain folder) takes
  // the ordinary per-file way.
  Resolved dst;
  std::map<std::string, std::string> taken;
  std::set<std::string> plain;
  const bool direct =
      Resolve(to, &dst) && dst.exists && S_ISDIR(dst.st.st_mode) && ReadNames(dst.host, &taken, &plain);
  bool targetSidecar = taken.count(kSidecar) != 0;
  for (const Listed& e : listed) {
    const std::string source = JoinPath(from, e.fd.name);
    const std::string target = JoinPath(to, e.fd.name);
    if (S_ISDIR(e.st.st_mode) && !e.link) {
      CopyTree(source, target, overwrite, onFile);
      continue;
    }
    std::string key = AsciiLower(e.fd.name);
    if (direct && !overwrite && plain.count(key) != 0) {
      // Kept as it is: the per-file way would find it there and copy nothing.
    } else if (direct && !e.link && S_ISREG(e.st.st_mode) && taken.count(key) == 0) {
      Resolved s;
      s.host = src.host + "/" + e.fd.name;
      s.parent = src.host;
      s.name = e.fd.name;
      s.exists = s.parentExists = true;
      s.st = e.st;
      Resolved d;
      d.host = dst.host + "/" + e.fd.name;
      d.parent = dst.host;
      d.name = e.fd.name;
      d.parentExists = true;
      if (!CopyResolved(target, s, d, &e.attributes, targetSidecar)) CopyFile(source, target, false);
      // Bits that found no extended attribute went to a side file.
      if (e.attributes.stored) targetSidecar = true;
    } else {
      CopyTreeFile(*this, source, target, overwrite);
    }
    taken.emplace(std::move(key), e.fd.name);
    if (onFile) onFile();
  }
}

bool HostFiles::MoveFile(const std::string& from, const std::string& to) {
  Resolved src, dst;
  if (!Resolve(from, &src) || !Resolve(to, &dst)) return false;
  if (src.isRoot || dst.isRoot) return Fail(ERROR_ACCESS_DENIED);
  if (!src.exists) return Fail(src.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
  if (!dst.parentExists) return Fail(ERROR_PATH_NOT_FOUND);
  PowerStep("MoveFile", from + " -> " + to);
  std::string target = dst.host;
  if (dst.exists) {
    if (dst.host != src.host) return Fail(ERROR_ALREADY_EXISTS);
    // The same entry under another spelling: a change of case only.
    size_t cut = to.find_last_of("\\/");
    std::string given = cut == std::string::npos ? to : to.substr(cut + 1);
    if (given == src.name || given.empty()) {
      SetLastError(ERROR_SUCCESS);
      return true;
    }
    target = src.parent + "/" + given;
    if (::rename(src.host.c_str(), target.c_str()) != 0) return Fail(FromErrno(errno));
    MoveAttributes(src.parent, src.name, src.parent, given);
    SetLastError(ERROR_SUCCESS);
    return true;
  }
  if (::renameat2(AT_FDCWD, src.host.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
    int e = errno;
    if (e == EINVAL || e == ENOSYS) {
      // File systems without RENAME_NOREPLACE.
      struct stat st {};
      if (::lstat(target.c_str(), &st) == 0) return Fail(ERROR_ALREADY_EXISTS);
      e = ::rename(src.host.c_str(), target.c_str()) == 0 ? 0 : errno;
    }
    if (e == EXDEV && !S_ISDIR(src.st.st_mode)) {
      if (!CopyContent(src, dst)) return false;
      if (::unlink(src.host.c_str()) != 0) {
        int u = errno;
        ::unlink(target.c_str());
        return Fail(FromErrno(u));
      }
      e = 0;
    }
    if (e == EEXIST || e == ENOTEMPTY) return Fail(ERROR_ALREADY_EXISTS);
    if (e != 0) return Fail(FromErrno(e));
  }
  MoveAttributes(src.parent, src.name, dst.parent, dst.name);
  SetLastError(ERROR_SUCCESS);
  return true;
}

uint32_t HostFiles::GetAttributes(const std::string& path) {
  Resolved r;
  if (!Resolve(path, &r, true)) return INVALID_FILE_ATTRIBUTES;
  if (r.isRoot) return FILE_ATTRIBUTE_DIRECTORY;
  if (!r.exists) {
    SetLastError(r.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  SetLastError(ERROR_SUCCESS);
  if (r.link && S_ISLNK(r.st.st_mode)) return FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT;
  return AttributesOf(r.parent, r.name, r.st) | (r.link ? static_cast<uint32_t>(FILE_ATTRIBUTE_REPARSE_POINT) : 0u);
}

bool HostFiles::SetAttributes(const std::string& path, uint32_t attributes) {
  Resolved r;
  if (!Resolve(path, &r)) return false;
  if (r.isRoot) return Fail(ERROR_ACCESS_DENIED);
  if (!r.exists) return Fail(r.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
  PowerStep("SetAttributes", path);
  uint32_t bits = attributes & kStoredMask;
  if (!S_ISDIR(r.st.st_mode)) {
    mode_t mode = r.st.st_mode & 07777;
    mode = (bits & FILE_ATTRIBUTE_READONLY) ? (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
    if (::chmod(r.host.c_str(), mode) != 0) return Fail(FromErrno(errno));
    bits &= ~FILE_ATTRIBUTE_READONLY;
  }
  if (!StoreAttributes(r.parent, r.name, bits)) return false;
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool HostFiles::GetDiskFreeSpace(const std::string& path, DiskSpace* out) {
  Resolved r;
  if (!Resolve(path, &r)) return false;
  if (!r.exists) return Fail(ERROR_PATH_NOT_FOUND);
  struct statvfs vfs {};
  if (::statvfs(r.host.c_str(), &vfs) != 0) return Fail(FromErrno(errno));
  out->freeToCaller = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  out->totalFree = static_cast<uint64_t>(vfs.f_bfree) * vfs.f_frsize;
  out->total = static_cast<uint64_t>(vfs.f_blocks) * vfs.f_frsize;

  DiskOverride o = options_.disk.all;
  auto it = options_.disk.volumes.find(r.volume);
  if (!r.volume.empty() && it != options_.disk.volumes.end()) {
    if (it->second.freeBytes >= 0) o.freeBytes = it->second.freeBytes;
    if (it->second.totalBytes >= 0) o.totalBytes = it->second.totalBytes;
  }
  if (o.freeBytes >= 0) out->freeToCaller = out->totalFree = static_cast<uint64_t>(o.freeBytes);
  if (o.totalBytes >= 0) out->total = static_cast<uint64_t>(o.totalBytes);
  SetLastError(ERROR_SUCCESS);
  return true;
}

}  // namespace hu
