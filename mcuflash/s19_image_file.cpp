#include "mcuflash/s19_image_file.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "common/platform/trace.h"

namespace hu {
namespace {
std::atomic<int> gLastDecodePercent{0};
}  // namespace

void CS19ImageFile::ResetDecodeProgress() {
  gLastDecodePercent.store(0);
}

CS19ImageFile::CS19ImageFile(Files& files, std::string modulePath, McuNotifier* notifier)
    : CS19File(files, std::move(modulePath)), m_pNotifier(notifier) {}

bool CS19ImageFile::Load() {
  m_image.clear();
  m_dwImageLen = 0;
  m_dwPosition = 0;
  m_frame.Reset();
  if (!m_bFound) {
    Trace("CS19ImageFile::Load no image file selected\n");
    return false;
  }
  if (!LoadFile("CS19ImageFile::Load")) return false;
  const bool ok = DecodeText(m_text.data(), m_nTextLen);
  FreeText();
  return ok;
}

bool CS19ImageFile::DecodeText(const char* text, size_t length) {
  m_dwImageLen = 0;
  m_dwPosition = 0;
  m_frame.Reset();
  try {
    m_image.assign(length, 0);
  } catch (const std::bad_alloc&) {
    Trace("CS19ImageFile::DecodeText out of memory\n");
    return false;
  }
  // The image ends where the highest record ends, so that a gap or a repeated
  // record neither cuts off the tail nor adds bytes that are not in the file.
  size_t extent = 0;
  size_t p = 0;
  for (;;) {
    if (p >= length) {
      Trace("CS19ImageFile::DecodeText no end record\n");
      break;
    }
    if (text[p] != 'S') {
      ++p;
    } else if (p + 1 >= length) {
      Trace("CS19ImageFile::DecodeText no end record\n");
      break;
    } else if (text[p + 1] > '6') {
      m_dwImageLen = static_cast<uint32_t>(extent);
      return true;
    } else if (text[p + 1] < '1') {
      ++p;  // the S0 header, or no record type at all
    } else {
      if (!m_frame.Decode(text, length, p) || !m_frame.SaveDataToBuf(m_image.data(), m_image.size())) {
        break;
      }
      if (m_frame.m_dwAddress >= kImageBase && m_frame.DataLength() > 0) {
        extent = std::max(extent, m_frame.m_dwAddress - kImageBase + m_frame.DataLength());
      }
      p += m_frame.TextLength();
    }
    ReportProgress(p, length);
  }
  m_image.clear();
  return false;
}

void CS19ImageFile::ReportProgress(size_t position, size_t total) {
  const int percent = static_cast<int>(static_cast<uint64_t>(position) * 100u / total);
  if (gLastDecodePercent.exchange(percent) == percent) return;
  if (m_pNotifier != nullptr) m_pNotifier->Notify(kNotifyDecodeProgress, percent, true);
}

size_t CS19ImageFile::ReadBlock(uint8_t* destination, size_t maximum) {
  const size_t end = std::min<size_t>(m_dwImageLen, m_image.size());
  if (destination == nullptr || m_dwPosition >= end) return 0;
  const size_t n = std::min(maximum, end - m_dwPosition);
  std::memcpy(destination, m_image.data() + m_dwPosition, n);
  m_dwPosition += static_cast<uint32_t>(n);
  return n;
}

}  // namespace hu
