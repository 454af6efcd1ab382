#include "kit_layout.h"

#include <cstring>

namespace hu {

namespace {
// Index of each kind in the section table.
int TableIndex(SectionKind kind) {
  switch (kind) {
    case SectionKind::Boot: return 0;
    case SectionKind::Os: return 1;
    case SectionKind::App: return 2;
    case SectionKind::Logo1: return 3;
    case SectionKind::Logo2: return 4;
    case SectionKind::Conf: return 5;
    case SectionKind::Logo3: return 6;
  }
  return 0;
}
}  // namespace

size_t SectionRecordOffset(SectionKind kind) {
  return container::kTableOffset + container::kRecordSize * static_cast<size_t>(TableIndex(kind));
}

SectionLetters SectionLettersOf(SectionKind kind) {
  switch (kind) {
    case SectionKind::Boot: return {48, u'B', 0};
    case SectionKind::Os: return {50, u'O', 0};
    case SectionKind::App: return {52, u'A', 0};
    case SectionKind::Logo1: return {54, u'L', u'1'};
    case SectionKind::Logo2: return {58, u'L', u'2'};
    case SectionKind::Logo3: return {62, u'L', u'3'};
    case SectionKind::Conf: return {66, u'C', 0};
  }
  return {48, 0, 0};
}

const char* SectionName(SectionKind kind) {
  switch (kind) {
    case SectionKind::Boot: return "boot";
    case SectionKind::Os: return "os";
    case SectionKind::App: return "app";
    case SectionKind::Logo1: return "logo1";
    case SectionKind::Logo2: return "logo2";
    case SectionKind::Logo3: return "logo3";
    case SectionKind::Conf: return "conf";
  }
  return "";
}

SectionRecord DecodeSectionRecord(const uint8_t* header, SectionKind kind) {
  const uint8_t* p = header + SectionRecordOffset(kind);
  SectionRecord r;
  std::memcpy(r.reserved, p, container::kRecordReserved);
  r.offset = ReadLe32(p + 20);
  r.length = ReadLe32(p + 24);
  return r;
}

void EncodeSectionRecord(uint8_t* header, SectionKind kind, const SectionRecord& record) {
  uint8_t* p = header + SectionRecordOffset(kind);
  std::memcpy(p, record.reserved, container::kRecordReserved);
  WriteLe32(p + 20, record.offset);
  WriteLe32(p + 24, record.length);
}

PackArchiveInfo DecodePackInfo(const uint8_t* bytes) {
  PackArchiveInfo info;
  std::memcpy(info.reserved, bytes, sizeof info.reserved);
  info.ulHeadSize = ReadLe32(bytes + pack::kHeadSizeOffset);
  info.ulFileCount = ReadLe32(bytes + pack::kCountOffset);
  info.ulTotalSize = ReadLe32(bytes + pack::kTotalSizeOffset);
  return info;
}

void EncodePackInfo(uint8_t* bytes, const PackArchiveInfo& info) {
  std::memcpy(bytes, info.reserved, sizeof info.reserved);
  WriteLe32(bytes + pack::kHeadSizeOffset, info.ulHeadSize);
  WriteLe32(bytes + pack::kCountOffset, info.ulFileCount);
  WriteLe32(bytes + pack::kTotalSizeOffset, info.ulTotalSize);
}

MemberFields DecodeMemberFields(const uint8_t* bytes) {
  return MemberFields{ReadLe32(bytes), ReadLe32(bytes + 4), ReadLe32(bytes + 8)};
}

std::string EncodeMemberFields(const MemberFields& fields) {
  uint8_t b[pack::kMemberBinary];
  WriteLe32(b, fields.stored);
  WriteLe32(b + 4, fields.offset);
  WriteLe32(b + 8, fields.unpacked);
  return std::string(reinterpret_cast<const char*>(b), sizeof b);
}

}  // namespace hu
