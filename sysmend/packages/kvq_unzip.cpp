#include "sysmend/packages/kvq_unzip.h"

#include <cstdint>

#include "common/platform/trace.h"

namespace hu {

bool CKvqUnzip::Open(const std::string& path) {
  if (!m_pKvqParser) return false;
  m_strPath = path;
  return m_pKvqParser->IsVaildKvrFile(path);
}

namespace {

// The boot and application checks write the OS check's texts, as the device does.
bool Ready(const CKvqUnzip& z) {
  if (z.m_pKvqParser && z.m_pVerChecker) return true;
  Trace("\n CKvqUnzip::CheckOSVer m_pKvqParser = %0X m_pVerChecker = %0X !!!\n",
        static_cast<unsigned>(reinterpret_cast<uintptr_t>(z.m_pKvqParser.get())),
        static_cast<unsigned>(reinterpret_cast<uintptr_t>(z.m_pVerChecker)));
  return false;
}

void NoContainerVersion() { Trace("\n CKvqUnzip::CheckOSVer m_pKvqParser->GetOSVe failed !!!\n"); }

}  // namespace

uint32_t CKvqUnzip::Check(std::string (InstalledVersionSource::*read)(),
                          bool (CKvqParser::*get)(std::string*) const,
                          uint32_t (CPublicVerChecker::*check)(const std::string&, const std::string&, bool),
                          bool checkSame) {
  if (!Ready(*this)) return kVerdictInvalidPack;
  std::string local = (installed_.*read)();
  std::string update;
  if (!((*m_pKvqParser).*get)(&update)) {
    NoContainerVersion();
    return kVerdictInvalidPack;
  }
  return (m_pVerChecker->*check)(local, update, checkSame);
}

uint32_t CKvqUnzip::CheckOSVer(bool checkSame) {
  return Check(&InstalledVersionSource::ReadOSVer, &CKvqParser::GetOSVer, &CPublicVerChecker::CheckOSVer, checkSame);
}

uint32_t CKvqUnzip::CheckBootVer(bool checkSame) {
  return Check(&InstalledVersionSource::ReadBootVer, &CKvqParser::GetBootVer, &CPublicVerChecker::CheckBootVer,
               checkSame);
}

uint32_t CKvqUnzip::CheckAppVer(bool checkSame) {
  return Check(&InstalledVersionSource::ReadAppVer, &CKvqParser::GetAppVer, &CPublicVerChecker::CheckAppVer,
               checkSame);
}

}  // namespace hu
