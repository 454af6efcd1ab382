#pragma once
// Byte layout of update containers and pack archives, shared by the readers
// of the updater and the writers of the kit tool so that it is stated once.
#include <cstddef>
#include <cstdint>
#include <string>

namespace hu {

inline uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void WriteLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void WriteLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

namespace container {

constexpr size_t kHeaderSize = 440;
constexpr size_t kMagicOffset = 0;
constexpr size_t kMagicBytes = 40;  // 20 UTF-16 units
constexpr char kMagic[] = "kvr version1.0";
constexpr size_t kLettersOffset = 48;
constexpr size_t kVersionOffset = 78;
constexpr size_t kVersionUnits = 50;  // 0-terminated, at most 49 characters
constexpr size_t kTableOffset = 244;
constexpr size_t kRecordSize = 28;
constexpr size_t kRecordReserved = 20;

// The application section is a pack whose magic lies at this distance.
constexpr size_t kAppMagicOffset = 20;
constexpr size_t kAppMagicRead = 15;

// The configuration block and the fields its version text is made of.
constexpr size_t kConfBlockSize = 783;
constexpr size_t kConfCustomerOffset = 64;
constexpr size_t kConfVersionOffset = 12;

}  // namespace container

// Sections of a container, in the order of their letters.
enum class SectionKind { Boot, Os, App, Logo1, Logo2, Logo3, Conf };
constexpr int kSectionKinds = 7;

struct SectionRecord {
  uint8_t reserved[container::kRecordReserved] = {};
  uint32_t offset = 0;
  uint32_t length = 0;
};

// Where a section's record lies in the header (the table puts the
// configuration before logo 3).
size_t SectionRecordOffset(SectionKind kind);
// The letter unit(s) that mark a section: position of the first unit, its
// value, and the second unit's value (0 when the section has one letter).
struct SectionLetters {
  size_t offset;
  char16_t first;
  char16_t second;
};
SectionLetters SectionLettersOf(SectionKind kind);
const char* SectionName(SectionKind kind);  // "boot", "os", "app", "logo1" ...

SectionRecord DecodeSectionRecord(const uint8_t* header, SectionKind kind);
void EncodeSectionRecord(uint8_t* header, SectionKind kind, const SectionRecord& record);

namespace pack {

constexpr size_t kInfoSize = 20;
constexpr size_t kHeadSizeOffset = 8;
constexpr size_t kCountOffset = 12;
constexpr size_t kTotalSizeOffset = 16;
constexpr size_t kMagicOffset = 20;
constexpr char kMagic[] = "version:kvr1.0";
constexpr size_t kMagicCompare = 14;
constexpr size_t kMagicField = 15;  // with its 0 byte
constexpr size_t kIndexOffset = 39;
constexpr size_t kMaxLine = 259;  // bytes, line feed included
constexpr size_t kMemberBinary = 12;

constexpr char kGroupOpen[] = "fileInfo";
constexpr char kGroupClose[] = "fileEnd";
constexpr char kIndexEnd[] = "fileHeadEnd";

constexpr char kKitPrefix[] = "\\kit";
constexpr char kAppVerMember[] = "\\kit\\AppVerInfo.cfg";
constexpr char kPackInfoMember[] = "\\kit\\AukPackInfo.ini";

}  // namespace pack

struct PackArchiveInfo {
  uint8_t reserved[8] = {};
  uint32_t ulHeadSize = 0;
  uint32_t ulFileCount = 0;
  uint32_t ulTotalSize = 0;
};

PackArchiveInfo DecodePackInfo(const uint8_t* bytes);
void EncodePackInfo(uint8_t* bytes, const PackArchiveInfo& info);

// One index entry as it follows a member line: stored length, body offset
// from the pack base, unpacked length.
struct MemberFields {
  uint32_t stored = 0;
  uint32_t offset = 0;
  uint32_t unpacked = 0;
};
MemberFields DecodeMemberFields(const uint8_t* bytes);
std::string EncodeMemberFields(const MemberFields& fields);

}  // namespace hu
