#pragma once
#include <cstdint>
#include <string>

#include "common/platform/files.h"
#include "common/platform/text.h"
#include "sysmend/packages/kit_layout.h"

namespace hu {

// Validates an update container and answers questions about its header; it
// never changes the file.
class CKvqParser {
 public:
  CKvqParser(Files& files, CodePage& codePage);

  bool IsVaildKvrFile(const std::string& path);

  bool IsHasBoot() const { return IsHas(SectionKind::Boot); }
  bool IsHasOS() const { return IsHas(SectionKind::Os); }
  bool IsHasApp() const { return IsHas(SectionKind::App); }
  bool IsHasLogo1() const { return IsHas(SectionKind::Logo1); }
  bool IsHasLogo2() const { return IsHas(SectionKind::Logo2); }
  bool IsHasLogo3() const { return IsHas(SectionKind::Logo3); }
  bool IsHasConf() const { return IsHas(SectionKind::Conf); }
  bool IsHas(SectionKind kind) const;

  // False with `out` untouched when the section is absent.
  bool GetSectionInfo(SectionKind kind, SectionRecord* out) const;

  bool GetBootVer(std::string* out) const;
  bool GetOSVer(std::string* out) const;
  bool GetAppVer(std::string* out) const;
  bool GetKvrVer(std::string* out) const;
  bool GetConfVer(std::string* out);

  // The validated path; empty until a validation succeeds.
  const std::string& Path() const { return m_strPath; }
  const uint8_t* Header() const { return m_header; }

 private:
  std::u16string VersionText() const;

  Files& files_;
  CodePage& codePage_;
  std::string m_strPath;
  uint8_t m_header[container::kHeaderSize] = {};
};

}  // namespace hu
