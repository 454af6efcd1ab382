#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/platform/files.h"
#include "common/platform/text.h"
#include "sysmend/packages/kit_layout.h"

namespace hu {

// Result codes of pack extraction.
enum PackResult : uint32_t {
  kPackOk = 0,
  kPackNoIndex = 1,      // index unreadable, no pack path, member not found
  kPackNoRoom = 2,       // not enough disk room, or no pack object
  kPackOpenFailed = 3,   // a file could not be opened or created (or a member may not be written)
  kPackWriteFailed = 4,  // writing an extracted file failed
  kPackReadFailed = 5,   // magic mismatch or a member body could not be read
  kPackNoMemory = 6,
  kPackNoInfo = 7,       // PackArchiveInfo could not be read
  kPackNoTarget = 8,     // the target directory could not be created
  kPackSmallBuffer = 9,  // UnZipFile: no buffer or one shorter than the member
};

struct PackProgress {
  uint32_t percentage = 0;  // 0..100
  uint32_t result = 0;      // the current result code
};

// Called as callback(0, report, context).
using PackCallback = std::function<void(uint32_t code, const PackProgress& report, void* context)>;

struct PackMember {
  std::string name;  // full device path, UTF-8
  uint32_t stored = 0;
  uint32_t offset = 0;  // of the gzip body, from the pack base
  uint32_t unpacked = 0;
};

struct PackGroup {
  std::string name;  // the members' folder with a trailing backslash
  std::vector<PackMember> members;
};

// Reads a pack archive's index and extracts its members, to disk or one into
// memory. The pack may lie at an offset inside a container.
class CPackUnzip {
 public:
  CPackUnzip(Files& files, CodePage& codePage, const std::string& packPath);

  void SetOffset(uint32_t offset) { m_nOffset = offset; }
  void SetCallback(PackCallback callback, void* context);

  uint32_t CheckZipPack();
  bool GetPackInfo(PackArchiveInfo* out);
  bool GetTotalSize(uint32_t* out);
  bool OpenZipPack();
  uint32_t DoUnzipPack(const std::string& targetDir);
  // `length` in: the buffer's size; out: the member's unpacked length.
  uint32_t UnZipFile(const std::string& memberPath, uint8_t* buffer, uint32_t* length);

  // The index as last read; every OpenZipPack (also inside DoUnzipPack and
  // UnZipFile) reads it again, so references into it do not outlive those calls.
  const std::vector<PackGroup>& Groups() const { return m_groups; }
  uint32_t MemberCount() const { return m_nFileCount; }
  // Whether the members' declared lengths, added up, stay within the total
  // the pack declares (what the room check believed); a pack that claims
  // less than it holds is refused before anything is written.
  bool MembersFitTotal() const;
  const std::string& PackPath() const { return m_strPackPath; }

 private:
  std::unique_ptr<File> OpenPack();
  bool ParseIndex(const uint8_t* text, size_t length);

  Files& files_;
  CodePage& codePage_;
  std::string m_strPackPath;
  PackCallback m_pCallback;
  void* m_pContext = nullptr;
  std::vector<PackGroup> m_groups;
  uint32_t m_nFileCount = 0;
  uint32_t m_nTotalSize = 0;
  uint32_t m_nOffset = 0;
};

// Where a member lands when extracted into `targetDir`: "\kit..." members
// below targetDir, any other at its own path. Empty when the member must not
// be written (a ".." component, or a "\kit" name that would leave targetDir).
std::string PackMemberTarget(const std::string& memberName, const std::string& targetDir);

// What an extraction of many members learns once: the pack's size, and the
// folder the last member went to (made already, so the next member in it
// needs no look). With `order` and `position` (the member extracted now) set,
// the members after it are read and inflated on a second core while its file
// is written.
struct PackExtraction {
  PackExtraction();
  ~PackExtraction();
  PackExtraction(const PackExtraction&) = delete;
  PackExtraction& operator=(const PackExtraction&) = delete;
  std::optional<uint64_t> packSize;
  std::string madeFolder;
  const std::vector<const PackMember*>* order = nullptr;
  size_t position = 0;
  struct Ahead;
  std::unique_ptr<Ahead> ahead;
};

// Extracts one member of the open pack `pack` (base offset `base`) into
// targetDir: reads its body and inflates it into a new file, no longer than
// the member's declared length (longer fails with kPackNoIndex). A result code.
// `extraction` (optional) carries what one member learned to the next.
uint32_t ExtractPackMember(Files& files, File& pack, uint64_t base, const PackMember& member,
                           const std::string& targetDir, PackExtraction* extraction = nullptr);

// The application version of a pack ("\kit\AppVerInfo.cfg"); "" when absent.
std::string ReadPackAppVer(Files& files, CodePage& codePage, const std::string& packPath,
                           uint32_t offset = 0);
// "PackType" of section "AukPackInfo" in "\kit\AukPackInfo.ini"; "" when absent.
std::string ReadPackType(Files& files, CodePage& codePage, const std::string& packPath,
                         uint32_t offset = 0);

}  // namespace hu
