#include "dir_oper.h"

#include "common/platform/file_tree.h"
#include "common/platform/text.h"

namespace hu {

namespace {
bool IsDotEntry(const std::string& name) { return name == "." || name == ".."; }

std::string Trimmed(std::string path) {
  while (path.size() > 1 && path.back() == '\\') path.pop_back();
  return path;
}
}  // namespace

bool CDirOper::IsKept(const std::string& path) const {
  for (const std::string& kept : m_kept) {
    if (EqualsNoCase(Trimmed(kept), Trimmed(path))) return true;
  }
  return false;
}

bool CDirOper::HoldsKept(const std::string& path) const {
  std::string prefix = Trimmed(path) + "\\";
  for (const std::string& kept : m_kept) {
    std::string k = Trimmed(kept);
    if (k.size() > prefix.size() && EqualsNoCase(k.substr(0, prefix.size()), prefix)) return true;
  }
  return false;
}

void CDirOper::CopyLevel(const std::string& source, const std::string& target, bool overwrite,
                         const std::function<void()>& onFile) {
  // Only the folders on the way to a kept one are walked here; the rest goes
  // through the file system's own tree copy.
  if (!HoldsKept(source)) {
    files_.CopyTree(source, target, overwrite, onFile);
    return;
  }
  FindData fd;
  auto find = files_.FindFirst(JoinPath(source, "*.*"), &fd);
  if (!find) return;
  hu::CreateDirTree(files_, target);
  do {
    std::string from = JoinPath(source, fd.name);
    if (IsDirectoryEntry(fd.attributes)) {
      if (!IsDotEntry(fd.name) && !IsKept(from)) CopyLevel(from, JoinPath(target, fd.name), overwrite, onFile);
      continue;
    }
    CopyTreeFile(files_, from, JoinPath(target, fd.name), overwrite);
    onFile();
  } while (find->Next(&fd));
}

CDirOper::CDirOper(Files& files, Clock& clock) : files_(files), clock_(clock) {}

void CDirOper::SetCallback(DirOperCallback callback, void* context) {
  m_pCallback = std::move(callback);
  m_pContext = context;
}

void CDirOper::Report(uint32_t operation, uint32_t total, uint32_t handled) {
  if (m_pCallback) m_pCallback(DirWalkProgress{operation, total, handled}, m_pContext);
}

DirMeasure CDirOper::Measure(const std::string& path, bool topOnly) {
  DirMeasure m;
  FindData fd;
  auto find = files_.FindFirst(JoinPath(path, "*.*"), &fd);
  if (!find) return m;
  do {
    if (IsDirectoryEntry(fd.attributes)) {
      if (!topOnly && !IsDotEntry(fd.name) && !IsKept(JoinPath(path, fd.name))) {
        DirMeasure below = Measure(JoinPath(path, fd.name), false);
        m.files += below.files;
        m.size += below.size;
      }
    } else {
      ++m.files;
      m.size += static_cast<uint32_t>(fd.size);
    }
  } while (find->Next(&fd));
  return m;
}

uint32_t CDirOper::CountFiles(const std::string& path, bool topOnly) { return Measure(path, topOnly).files; }

uint32_t CDirOper::GetDirSize(const std::string& path) { return Measure(path, false).size; }

bool CDirOper::CreateDirTree(const std::string& path) { return hu::CreateDirTree(files_, path); }

uint32_t CDirOper::CopyDir(const std::string& source, const std::string& target, bool overwrite) {
  return CopyDir(source, target, overwrite, CountFiles(source, false));
}

uint32_t CDirOper::CopyDir(const std::string& source, const std::string& target, bool overwrite,
                           uint32_t total) {
  m_nCopyTotal = total;
  if (m_nCopyTotal == 0) return 1;
  m_nCopyCount = 0;
  CopyLevel(source, target, overwrite, [this] {
    ++m_nCopyCount;
    Report(kCopy, m_nCopyTotal, m_nCopyCount);
    clock_.Sleep(kFilePauseMs);
  });
  return m_nCopyCount;
}

uint32_t CDirOper::DeleteDir(const std::string& path) {
  m_nDeleteTotal = CountFiles(path, false);
  m_nDeleteCount = 0;
  DeleteLevel(path);
  return m_nDeleteCount;
}

void CDirOper::DeleteLevel(const std::string& path) {
  FindData fd;
  auto find = files_.FindFirst(JoinPath(path, "*.*"), &fd);
  if (!find) {
    files_.RemoveDirectory(path);
    return;
  }
  do {
    std::string full = JoinPath(path, fd.name);
    if (IsDirectoryEntry(fd.attributes)) {
      if (!IsDotEntry(fd.name) && !IsKept(full)) DeleteLevel(full);
      continue;
    }
    if (!files_.DeleteFile(full) && (fd.attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      // Trees the updater deletes are its own copies: a read-only bit copied
      // along must not keep a backup alive.
      files_.SetAttributes(full, fd.attributes & ~FILE_ATTRIBUTE_READONLY);
      files_.DeleteFile(full);
    }
    ++m_nDeleteCount;
    Report(kDelete, m_nDeleteTotal, m_nDeleteCount);
    clock_.Sleep(kFilePauseMs);
  } while (find->Next(&fd));
  find.reset();
  files_.RemoveDirectory(path);
}

}  // namespace hu
