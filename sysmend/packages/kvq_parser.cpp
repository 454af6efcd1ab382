#include "kvq_parser.h"

#include <cstdio>
#include <cstring>

#include "common/platform/errors.h"
#include "common/platform/trace.h"

namespace hu {

CKvqParser::CKvqParser(Files& files, CodePage& codePage) : files_(files), codePage_(codePage) {}

bool CKvqParser::IsVaildKvrFile(const std::string& path) {
  m_strPath.clear();
  auto file = files_.Open(path, FileAccess::Read, FileCreate::OpenExisting, 0);
  if (!file) return false;

  uint32_t done = 0;
  bool ok = file->Read(m_header, container::kHeaderSize, &done);
  // The magic must end with its 0 unit inside the 20-unit field.
  std::u16string magic = Utf16LeBytes(m_header + container::kMagicOffset, container::kMagicBytes);
  bool terminated = false;
  for (size_t i = 0; i + 1 < container::kMagicBytes; i += 2) {
    if (m_header[i] == 0 && m_header[i + 1] == 0) {
      terminated = true;
      break;
    }
  }
  if (!ok || done < container::kHeaderSize || !terminated ||
      magic != Utf8ToUtf16(container::kMagic)) {
    Trace("\nCKvqParser::IsVaildKvrFile ReadFile Failed strPath=%s nErrCode = %d !!!\n", path.c_str(),
          static_cast<int>(GetLastError()));
    return false;
  }

  SectionRecord app = DecodeSectionRecord(m_header, SectionKind::App);
  if (app.length != 0) {
    if (!file->Seek(static_cast<int64_t>(app.offset) + container::kAppMagicOffset, SeekFrom::Begin)) {
      Trace("\nCKvqParser::IsVaildKvrFile read auk seek to auk version failed !!!\n");
      return false;
    }
    char buf[container::kAppMagicRead + 1] = {};
    uint32_t got = 0;
    if (!file->Read(buf, container::kAppMagicRead, &got)) {
      Trace("\nCKvqParser::IsVaildKvrFile ReadFile Failed strPath=%s nErrCode = %d !!!\n", path.c_str(),
            static_cast<int>(GetLastError()));
      std::memset(buf, 0, sizeof buf);
    }
    std::string text = codePage_.ToUtf8(std::string(buf, strnlen(buf, container::kAppMagicRead)));
    std::u16string wide = Utf8ToUtf16(text);
    if (wide.size() > container::kVersionUnits) wide.resize(container::kVersionUnits);
    std::u16string expected = Utf8ToUtf16(pack::kMagic);
    if (wide.compare(0, expected.size(), expected) != 0) {
      Trace("\nCKvqParser::IsVaildKvrFile read auk read  auk version is not ok  tszBuf:%s!!!\n",
            Utf16ToUtf8(wide).c_str());
      return false;
    }
  }

  m_strPath = path;
  file.reset();
  auto rec = [&](SectionKind k) { return DecodeSectionRecord(m_header, k); };
  SectionRecord b = rec(SectionKind::Boot), o = rec(SectionKind::Os), a = rec(SectionKind::App),
                l1 = rec(SectionKind::Logo1), l2 = rec(SectionKind::Logo2),
                l3 = rec(SectionKind::Logo3), c = rec(SectionKind::Conf);
  auto i = [](uint32_t v) { return static_cast<int>(v); };
  Trace("boot:off-%d,len-%d\n os:off-%d,len-%d\n app:off-%d,len-%d\n logo1:off-%d,len-%d\n "
        "logo2:off-%d,len-%d\n logo3:off-%d,len-%d\n conf:off-%d,len-%d\n",
        i(b.offset), i(b.length), i(o.offset), i(o.length), i(a.offset), i(a.length), i(l1.offset),
        i(l1.length), i(l2.offset), i(l2.length), i(l3.offset), i(l3.length), i(c.offset),
        i(c.length));
  Trace("Version:%s\n", Utf16ToUtf8(VersionText()).c_str());
  return true;
}

bool CKvqParser::IsHas(SectionKind kind) const {
  SectionLetters letters = SectionLettersOf(kind);
  if (ReadLe16(m_header + letters.offset) != letters.first) return false;
  if (letters.second != 0 && ReadLe16(m_header + letters.offset + 2) != letters.second) return false;
  return DecodeSectionRecord(m_header, kind).length != 0;
}

bool CKvqParser::GetSectionInfo(SectionKind kind, SectionRecord* out) const {
  if (!IsHas(kind)) return false;
  if (out) *out = DecodeSectionRecord(m_header, kind);
  return true;
}

std::u16string CKvqParser::VersionText() const {
  // At most 49 characters: the last unit of the field is never text.
  return Utf16LeBytes(m_header + container::kVersionOffset, (container::kVersionUnits - 1) * 2);
}

bool CKvqParser::GetBootVer(std::string* out) const {
  if (!IsHasBoot()) return false;
  std::u16string v = VersionText();
  size_t dash = v.find(u'-');
  // The boot part is one character shorter than the text before the '-'.
  if (dash != std::u16string::npos && dash > 0) v = v.substr(0, dash - 1);
  if (out) *out = Utf16ToUtf8(v);
  return true;
}

bool CKvqParser::GetOSVer(std::string* out) const {
  if (!IsHasOS()) return false;
  std::u16string v = VersionText();
  size_t dash = v.find(u'-');
  if (dash != std::u16string::npos) {
    size_t next = v.find(u'-', dash + 1);
    v = v.substr(dash + 1, next == std::u16string::npos ? std::u16string::npos : next - dash - 1);
  }
  if (out) *out = Utf16ToUtf8(v);
  return true;
}

bool CKvqParser::GetAppVer(std::string* out) const {
  if (!IsHasApp()) return false;
  std::u16string v = VersionText();
  size_t dash = v.rfind(u'-');
  if (dash != std::u16string::npos) v = v.substr(dash + 1);
  if (out) *out = Utf16ToUtf8(v);
  return true;
}

bool CKvqParser::GetKvrVer(std::string* out) const {
  std::u16string v = VersionText();
  if (v.empty()) return false;
  if (out) *out = Utf16ToUtf8(v);
  return true;
}

bool CKvqParser::GetConfVer(std::string* out) {
  SectionRecord conf;
  if (!GetSectionInfo(SectionKind::Conf, &conf)) return false;
  auto file = files_.Open(m_strPath, FileAccess::Read, FileCreate::OpenExisting, 0);
  if (!file) return false;
  if (!file->Seek(conf.offset, SeekFrom::Begin)) return false;
  uint8_t block[container::kConfBlockSize];
  uint32_t done = 0;
  if (!file->Read(block, sizeof block, &done) || done < sizeof block) return false;
  file.reset();
  char text[16];
  std::snprintf(text, sizeof text, "%4x%8x",
                static_cast<unsigned>(ReadLe32(block + container::kConfCustomerOffset) & 0xFFFFu),
                static_cast<unsigned>(ReadLe32(block + container::kConfVersionOffset)));
  if (out) *out = text;
  return true;
}

}  // namespace hu
