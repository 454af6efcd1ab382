#include "mcuflash/image_source.h"

#include <cstdio>
#include <utility>

#include "common/platform/trace.h"
#include "mcuflash/config_file.h"
#include "mcuflash/s19_image_file.h"
#include "mcuflash/s19_line_file.h"

namespace hu {
namespace {
const char* const kStm8Tag = "STM8QX4B";
constexpr int kPlatformWithTwoSizes = 8;
}  // namespace

CImageSource::CImageSource(std::unique_ptr<CS19File> reader) : m_pReader(std::move(reader)) {}

CImageSource::~CImageSource() = default;

int CImageSource::Open() {
  if (!m_pReader->Load()) {
    Trace("%s::Open load %s failed\n", Name(), m_pReader->FileName().c_str());
    return -1;
  }
  const std::string tag = m_pReader->Tag();
  if (!TagAccepted(tag)) {
    Trace("%s::Open platform [%s] refused\n", Name(), tag.c_str());
    return -1;
  }
  SetState(eTranState_Start);
  return 0;
}

void CImageSource::Begin() {
  m_pReader->Rewind();
  SetState(eTranState_Start);
}

size_t CImageSource::ReadBlock(uint8_t* destination, size_t maximum) {
  return m_pReader->ReadBlock(destination, maximum);
}

CStm8ImageSource::CStm8ImageSource(Files& files, const std::string& modulePath, int platformType,
                                   McuNotifier* notifier)
    : CImageSource(std::make_unique<CS19ImageFile>(files, modulePath, notifier)),
      m_files(files),
      m_strModulePath(modulePath),
      m_nPlatformType(platformType) {}

bool CStm8ImageSource::Prepare() {
  if (m_nPlatformType != kPlatformWithTwoSizes) return m_pReader->Select(false, 0);
  if (m_strVersion.find("IAP") != std::string::npos) {
    // The MCU runs its loader and cannot tell its size: use the remembered one.
    int sizeCode = -1;
    if (ReadFlagFile(m_files, m_strModulePath, &sizeCode) != 0) sizeCode = -1;
    return m_pReader->Select(true, sizeCode);
  }
  int year = 0;
  int month = 0;
  int day = 0;
  std::sscanf(m_strVersion.c_str(), "3900R%04d%02d%02d", &year, &month, &day);
  const int sizeCode = year <= 2012 ? 0 : 1;
  if (WriteFlagFile(m_files, m_strModulePath, sizeCode) != 0) {
    Trace("CStm8ImageSource::Prepare flag file not written\n");
  }
  return m_pReader->Select(true, sizeCode);
}

bool CStm8ImageSource::TagAccepted(const std::string& tag) const {
  return tag.find(kStm8Tag) != std::string::npos;
}

CLineImageSource::CLineImageSource(Files& files, const std::string& modulePath)
    : CImageSource(std::make_unique<CS19LineFile>(files, modulePath)) {}

bool CLineImageSource::Prepare() {
  return m_pReader->Select(false, 0);
}

size_t CLineImageSource::ReadBlock(uint8_t* destination, size_t maximum) {
  const size_t n = CImageSource::ReadBlock(destination, maximum);
  if (n == 0) SetState(eTranState_End);
  return n;
}

bool CLineImageSource::TagAccepted(const std::string& tag) const {
  return tag.find(kStm8Tag) == std::string::npos;
}

}  // namespace hu
