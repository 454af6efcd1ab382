#pragma once
#include <memory>
#include <string>

#include "sysmend/packages/kvq_parser.h"
#include "sysmend/packages/public_ver_checker.h"

namespace hu {

// Where the installed versions come from (the unit's readers, or a test's).
class InstalledVersionSource {
 public:
  virtual ~InstalledVersionSource() = default;
  virtual std::string ReadOSVer() = 0;
  virtual std::string ReadBootVer() = 0;
  virtual std::string ReadAppVer() = 0;
};

// One container's parser bound to a version checker.
class CKvqUnzip {
 public:
  CKvqUnzip(Files& files, CodePage& codePage, InstalledVersionSource& installed)
      : m_pKvqParser(std::make_unique<CKvqParser>(files, codePage)), installed_(installed) {}

  void SetVerChecker(CPublicVerChecker* checker) { m_pVerChecker = checker; }
  bool Open(const std::string& path);

  uint32_t CheckOSVer(bool checkSame);
  uint32_t CheckBootVer(bool checkSame);
  uint32_t CheckAppVer(bool checkSame);

  std::unique_ptr<CKvqParser> m_pKvqParser;
  CPublicVerChecker* m_pVerChecker = nullptr;

 private:
  uint32_t Check(std::string (InstalledVersionSource::*read)(), bool (CKvqParser::*get)(std::string*) const,
                 uint32_t (CPublicVerChecker::*check)(const std::string&, const std::string&, bool),
                 bool checkSame);

  std::string m_strPath;
  InstalledVersionSource& installed_;
};

}  // namespace hu
