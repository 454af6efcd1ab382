#pragma once
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/platform/files.h"

namespace hu {

class PowerCut;

// Replacement figures for GetDiskFreeSpace; a negative field keeps the host's own.
struct DiskOverride {
  int64_t freeBytes = -1;
  int64_t totalBytes = -1;
};

struct DiskOverrides {
  DiskOverride all;
  // Keyed by the first component of the device path, lower case ("nandflash").
  std::map<std::string, DiskOverride> volumes;
};

struct HostFilesOptions {
  DiskOverrides disk;
  // Keeps attribute bits in the per-folder side file even where the file
  // system takes extended attributes (to exercise that path).
  bool sidecarAttributesOnly = false;
  // Reliability runs: the power may fail in any mutating operation. Not owned.
  PowerCut* powerCut = nullptr;
};

// The device's file system over a host folder. Device paths ("\Dravik\x.cfg",
// '/' accepted too) resolve component by component ignoring ASCII case; a
// component that does not exist keeps the spelling given. No device path
// reaches outside the root: ".." stops at the root and a symbolic link that
// leads out of it is refused (ERROR_ACCESS_DENIED).
//
// Share modes are accepted but not enforced: two opens of one file both succeed.
class HostFiles : public Files {
 public:
  explicit HostFiles(const std::string& hostRoot, const HostFilesOptions& options = {});

  void SetDiskOverrides(const DiskOverrides& disk) { options_.disk = disk; }
  const std::string& root() const { return root_; }

  // Host path of a device path (resolution only, nothing is created); empty
  // with the last error set when the path is invalid or would leave the root.
  std::string HostPath(const std::string& devicePath);

  std::unique_ptr<File> Open(const std::string& path, FileAccess access, FileCreate create,
                             uint32_t shareMode = 0) override;
  std::unique_ptr<FindHandle> FindFirst(const std::string& pattern, FindData* first) override;
  bool CreateDirectory(const std::string& path) override;
  bool RemoveDirectory(const std::string& path) override;
  bool DeleteFile(const std::string& path) override;
  bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) override;
  bool MoveFile(const std::string& from, const std::string& to) override;
  uint32_t GetAttributes(const std::string& path) override;
  bool SetAttributes(const std::string& path, uint32_t attributes) override;
  bool GetDiskFreeSpace(const std::string& path, DiskSpace* out) override;
  // The same walk as the one built from FindFirst and CopyFile, with each
  // folder listed once and new files copied without looking their paths up.
  void CopyTree(const std::string& from, const std::string& to, bool overwrite,
                const std::function<void()>& onFile) override;

  // Name of the per-folder side file that holds attribute bits where
  // extended attributes are refused; never listed and never reachable.
  static const char* SidecarName();

 private:
  struct Resolved {
    std::string host;     // host path
    std::string parent;   // host path of the containing folder
    std::string name;     // host name of the last component ("" for the root)
    std::string volume;   // first device component, lower case
    bool exists = false;
    bool parentExists = false;
    bool isRoot = false;
    // The last component is a link; `st` is its target's, or the link's own
    // when it leads out of the root or nowhere (then only `linkItself` lookups succeed).
    bool link = false;
    struct stat st {};
  };
  // Attribute bits kept for an entry beyond what its mode shows.
  struct StoredAttributes {
    bool stored = false;
    uint32_t bits = 0;
  };
  // An entry of a folder listing with what a copy needs beside its FindData.
  struct Listed {
    FindData fd;
    struct stat st {};  // of the link's target for a link
    bool link = false;
    StoredAttributes attributes;
  };
  // False with the last error set (invalid name, or a link out of the root).
  // With `linkItself` a last component that is a link out of the root (or a
  // dangling one) resolves to the link itself, for the calls that act on the
  // link and never on what it leads to.
  bool Resolve(const std::string& devicePath, Resolved* out, bool linkItself = false);
  // Resolves a path past its first component at once: that component (a
  // volume, often spelled otherwise than on the host) from the root's names
  // kept while the root's stat shows no change, when it is a lone plain
  // entry; the rest by one openat2 that refuses links (StatExact). The index
  // of the first component left to the walk (parts.size() when none, all
  // but the last when only the last is missing or spelled otherwise); 0 when
  // the walk by components must do it all.
  size_t LookUpPastVolume(const std::vector<std::string>& parts, Resolved* out);
  // Removes the link `r` itself (DeleteFile and RemoveDirectory of a link).
  bool RemoveLink(const std::string& path, const Resolved& r);
  // The entries of `folder` matching `spec`, in find order (links out of the
  // root and the side file left out). False with the last error set when the
  // folder cannot be read.
  bool ListFolder(const Resolved& folder, const std::string& spec, std::vector<Listed>* out);
  // Copies `src` over the missing or replaceable `dst` (checks done by the
  // caller); `known` gives the source's stored bits when they are already
  // read, and `targetSidecar` false says the target folder has no side file.
  bool CopyResolved(const std::string& to, const Resolved& src, const Resolved& dst,
                    const StoredAttributes* known, bool targetSidecar);
  std::string RealRoot() const;
  bool InsideRoot(const std::string& hostPath) const;

  uint32_t AttributesOf(const std::string& folder, const std::string& name,
                        const struct stat& st);
  bool StoreAttributes(const std::string& folder, const std::string& name, uint32_t bits);
  void ForgetAttributes(const std::string& folder, const std::string& name);
  void MoveAttributes(const std::string& fromFolder, const std::string& fromName,
                      const std::string& toFolder, const std::string& toName);
  bool CopyContent(const Resolved& from, const Resolved& to);
  // Counts a mutating operation for a power cut; when the power fails in it,
  // `partial` (if any) leaves what of the operation reached the disk and the
  // process ends.
  void PowerStep(const char* operation, const std::string& path, const std::function<void()>& partial = {});

  // The names of a folder as last read for a lookup that missed its exact
  // spelling (lower case to the first of its case twins in host order), with
  // the folder's identity and change times when read. They hold while the
  // folder's stat shows the same: every change to a folder gives it a new
  // change time, which kernels with fine-grained timestamps (Linux 6.13 on)
  // keep distinct even within one clock tick.
  struct FolderNames {
    dev_t dev = 0;
    ino_t ino = 0;
    struct timespec mtime {};
    struct timespec ctime {};
    std::map<std::string, std::string> names;
    std::set<std::string> plain;  // lower-case names of a lone plain file or folder
  };
  // The host name in `folder` (stat `st`, taken before) of `name` in any
  // case; empty when there is none.
  // `alone` (optional) tells whether that entry is a lone plain file or folder.
  std::string FindTwin(const std::string& folder, const struct stat& st, const std::string& name,
                       bool* alone = nullptr);
  // After this object made `name` in `folder`: the names read before stay
  // good with it added (a change by another program in between is not seen).
  // True when the folder is then known to have no attribute side file.
  bool NoteCreated(const std::string& folder, const std::string& name);

  std::string root_;
  std::string realRoot_;
  HostFilesOptions options_;
  std::mutex namesMutex_;
  std::map<std::string, FolderNames> folderNames_;
};

}  // namespace hu
