#include "tools/kitpack/pinned_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/platform/errors.h"
#include "common/platform/file_tree.h"
#include "common/platform/text.h"

namespace hu::kitpack {

namespace {

class HostReadFile : public File {
 public:
  explicit HostReadFile(int fd) : fd_(fd) {}
  ~HostReadFile() override { ::close(fd_); }

  bool Read(void* buffer, uint32_t size, uint32_t* done) override {
    uint32_t total = 0;
    while (total < size) {
      ssize_t n = ::read(fd_, static_cast<char*>(buffer) + total, size - total);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        if (done) *done = total;
        SetLastError(ERROR_READ_FAULT);
        return false;
      }
      if (n == 0) break;
      total += static_cast<uint32_t>(n);
    }
    if (done) *done = total;
    return true;
  }
  bool Write(const void*, uint32_t, uint32_t* done) override {
    if (done) *done = 0;
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  bool Seek(int64_t distance, SeekFrom from, uint64_t* position) override {
    int whence = from == SeekFrom::Begin ? SEEK_SET : from == SeekFrom::Current ? SEEK_CUR : SEEK_END;
    off_t at = ::lseek(fd_, static_cast<off_t>(distance), whence);
    if (at < 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    if (position) *position = static_cast<uint64_t>(at);
    return true;
  }
  uint64_t Size() override {
    struct stat st;
    return ::fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  }
  bool Flush() override { return true; }

 private:
  int fd_;
};

}  // namespace

PinnedFiles::PinnedFiles(Files* inner, std::string devicePath, std::string hostPath) : inner_(inner) {
  pins_.push_back({std::move(devicePath), std::move(hostPath)});
}

PinnedFiles::PinnedFiles(Files* inner, std::string folder) : inner_(inner), folder_(std::move(folder)) {
  while (!folder_.empty() && folder_.back() == '\\') folder_.pop_back();
}

void PinnedFiles::PinInFolder(const std::string& name, const std::string& hostPath) {
  pins_.push_back({folder_ + "\\" + name, hostPath});
}

const PinnedFiles::Pin* PinnedFiles::PinOf(const std::string& path) const {
  for (const Pin& p : pins_) {
    if (EqualsNoCase(path, p.devicePath)) return &p;
  }
  return nullptr;
}

bool PinnedFiles::IsHidden(const std::string& path) const {
  if (folder_.empty()) return false;
  std::string folder = path;
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  if (EqualsNoCase(folder, folder_)) return true;
  return folder.size() > folder_.size() && folder[folder_.size()] == '\\' &&
         EqualsNoCase(folder.substr(0, folder_.size()), folder_);
}

bool PinnedFiles::Writable(const std::string& path) const {
  return inner_ != nullptr && !readOnly_ && !IsPinned(path) && !IsHidden(path);
}

bool PinnedFiles::Refuse(const std::string& path) const {
  SetLastError(IsPinned(path) || (readOnly_ && inner_ != nullptr) ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
  return false;
}

std::unique_ptr<File> PinnedFiles::Open(const std::string& path, FileAccess access, FileCreate create,
                                        uint32_t shareMode) {
  if (const Pin* pin = PinOf(path)) {
    if (access != FileAccess::Read ||
        (create != FileCreate::OpenExisting && create != FileCreate::OpenAlways)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    int fd = ::open(pin->hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
      ::close(fd);
      fd = -1;
      errno = EISDIR;
    }
    if (fd < 0) {
      SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
      return nullptr;
    }
    return std::make_unique<HostReadFile>(fd);
  }
  bool reading = access == FileAccess::Read && (create == FileCreate::OpenExisting);
  if (inner_ == nullptr || IsHidden(path) || (readOnly_ && !reading)) {
    SetLastError(inner_ == nullptr || IsHidden(path) ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return inner_->Open(path, access, create, shareMode);
}

std::unique_ptr<FindHandle> PinnedFiles::FindFirst(const std::string& pattern, FindData* first) {
  size_t cut = pattern.rfind('\\');
  std::string folder = cut == std::string::npos ? std::string() : pattern.substr(0, cut);
  std::string spec = pattern.substr(cut == std::string::npos ? 0 : cut + 1);
  if (!folder_.empty() && EqualsNoCase(folder, folder_) && (spec == "*.*" || spec == "*")) {
    // Listed as the host lists a folder: by name ignoring case.
    std::vector<FindData> entries;
    for (const Pin& p : pins_) {
      struct stat st {};
      if (::stat(p.hostPath.c_str(), &st) != 0) continue;
      entries.push_back({p.devicePath.substr(folder_.size() + 1), FILE_ATTRIBUTE_ARCHIVE, static_cast<uint64_t>(st.st_size)});
    }
    std::sort(entries.begin(), entries.end(), [](const FindData& a, const FindData& b) {
      std::string la = AsciiLower(a.name), lb = AsciiLower(b.name);
      return la != lb ? la < lb : a.name < b.name;
    });
    if (entries.empty()) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    *first = entries.front();
    return std::make_unique<SnapshotFindHandle>(std::move(entries));
  }
  if (inner_ == nullptr || IsHidden(folder)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  return inner_->FindFirst(pattern, first);
}

bool PinnedFiles::CreateDirectory(const std::string& path) {
  return Writable(path) ? inner_->CreateDirectory(path) : Refuse(path);
}
bool PinnedFiles::RemoveDirectory(const std::string& path) {
  return Writable(path) ? inner_->RemoveDirectory(path) : Refuse(path);
}
bool PinnedFiles::DeleteFile(const std::string& path) {
  return Writable(path) ? inner_->DeleteFile(path) : Refuse(path);
}
bool PinnedFiles::CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
  if (IsPinned(from) || IsHidden(from) || !Writable(to)) return Refuse(to);
  return inner_->CopyFile(from, to, failIfExists);
}
bool PinnedFiles::MoveFile(const std::string& from, const std::string& to) {
  if (!Writable(from) || !Writable(to)) return Refuse(to);
  return inner_->MoveFile(from, to);
}
uint32_t PinnedFiles::GetAttributes(const std::string& path) {
  if (IsPinned(path)) return FILE_ATTRIBUTE_READONLY;
  if (!folder_.empty() && IsHidden(path)) {
    std::string folder = path;
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    if (EqualsNoCase(folder, folder_)) return FILE_ATTRIBUTE_DIRECTORY;
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (!inner_) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  return inner_->GetAttributes(path);
}
bool PinnedFiles::SetAttributes(const std::string& path, uint32_t attributes) {
  return Writable(path) ? inner_->SetAttributes(path, attributes) : Refuse(path);
}
bool PinnedFiles::GetDiskFreeSpace(const std::string& path, DiskSpace* out) {
  return inner_ ? inner_->GetDiskFreeSpace(path, out) : Refuse(path);
}

}  // namespace hu::kitpack
