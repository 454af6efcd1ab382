#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/platform/clock.h"
#include "common/platform/files.h"

namespace hu {

// Per-file progress of a directory walk.
struct DirWalkProgress {
  uint32_t operation = 0;  // 0 copy, 1 delete
  uint32_t total = 0;      // files counted before the walk
  uint32_t handled = 0;    // files handled so far
};

// What one walk of a tree finds: its files and the low 32 bits of their sizes.
struct DirMeasure {
  uint32_t files = 0;
  uint32_t size = 0;
};

using DirOperCallback = std::function<void(const DirWalkProgress& report, void* context)>;

// Walks, copies, deletes and measures directory trees, reporting each file.
class CDirOper {
 public:
  enum : uint32_t { kCopy = 0, kDelete = 1 };
  // Pause after each file so the thread receiving the reports stays responsive.
  static constexpr uint32_t kFilePauseMs = 5;

  CDirOper(Files& files, Clock& clock);

  void SetCallback(DirOperCallback callback, void* context);
  // Folders the walks leave alone wherever they lie in a walked tree: not
  // measured, not copied (a backup kept inside the tree it copies would copy
  // itself for ever), not deleted.
  void SetKept(std::vector<std::string> folders) { m_kept = std::move(folders); }

  uint32_t CountFiles(const std::string& path, bool topOnly);
  uint32_t GetDirSize(const std::string& path);
  // Count and size in a single walk, for callers that need both.
  DirMeasure Measure(const std::string& path, bool topOnly);
  bool CreateDirTree(const std::string& path);
  // The number of files handled; 1 when the source holds no file at all.
  uint32_t CopyDir(const std::string& source, const std::string& target, bool overwrite);
  // The same with the source's file count already taken by the caller.
  uint32_t CopyDir(const std::string& source, const std::string& target, bool overwrite, uint32_t total);
  uint32_t DeleteDir(const std::string& path);

 private:
  void DeleteLevel(const std::string& path);
  void Report(uint32_t operation, uint32_t total, uint32_t handled);
  bool IsKept(const std::string& path) const;
  // Whether a kept folder lies strictly below `path`.
  bool HoldsKept(const std::string& path) const;
  void CopyLevel(const std::string& source, const std::string& target, bool overwrite,
                 const std::function<void()>& onFile);

  Files& files_;
  Clock& clock_;
  DirOperCallback m_pCallback;
  void* m_pContext = nullptr;
  uint32_t m_nCopyTotal = 0;
  uint32_t m_nCopyCount = 0;
  uint32_t m_nDeleteTotal = 0;
  uint32_t m_nDeleteCount = 0;
  std::vector<std::string> m_kept;
};

}  // namespace hu
