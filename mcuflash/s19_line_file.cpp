#include "mcuflash/s19_line_file.h"

#include <cstring>
#include <new>

#include "common/platform/trace.h"
#include "mcuflash/mcu_file_frame.h"

namespace hu {

CS19LineFile::CS19LineFile(Files& files, std::string modulePath)
    : CS19File(files, std::move(modulePath)) {}

bool CS19LineFile::Load() {
  m_dwPosition = 0;
  std::memset(m_szHeaderTag, 0, sizeof m_szHeaderTag);
  if (!m_bFound) {
    Trace("CS19LineFile::Load no image file selected\n");
    return false;
  }
  if (!LoadFile("CS19LineFile::Load")) return false;
  return AcceptText();
}

bool CS19LineFile::AcceptText() {
  ReadHeaderTag();
  if (!CheckRecords()) {
    FreeText();
    m_nTextLen = 0;
    return false;
  }
  return true;
}

bool CS19LineFile::TakeText(const char* text, size_t length) {
  m_dwPosition = 0;
  std::memset(m_szHeaderTag, 0, sizeof m_szHeaderTag);
  try {
    m_text.assign(text, text + length);
  } catch (const std::bad_alloc&) {
    return false;
  }
  m_nTextLen = length;
  return AcceptText();
}

bool CS19LineFile::NextRecord(size_t from, size_t* start, size_t* count) const {
  const char* text = m_text.data();
  size_t p = from;
  while (p < m_nTextLen && text[p] != 'S') ++p;
  if (p >= m_nTextLen) return false;
  *start = p;
  const int c = CMcuFileFrame::HexPair(text, m_nTextLen, p + 2);
  // An unreadable count makes a record of no characters; CheckRecords refuses it.
  *count = c < 0 ? 0 : (static_cast<size_t>(c) + 2) * 2;
  return true;
}

bool CS19LineFile::CheckRecords() const {
  const char* text = m_text.data();
  bool ended = false;
  size_t start = 0;
  size_t count = 0;
  for (size_t from = 0; NextRecord(from, &start, &count); from = start + count) {
    if (count == 0 || count > kMaxLine || count > m_nTextLen - start) {
      Trace("CS19LineFile::Load record at %u does not fit\n", static_cast<unsigned>(start));
      return false;
    }
    const char type = text[start + 1];
    unsigned sum = 0;
    int check = -1;
    bool digits = type >= '0' && type <= '9';
    for (size_t at = start + 2; digits && at < start + count; at += 2) {
      check = CMcuFileFrame::HexPair(text, m_nTextLen, at);
      if (check < 0) digits = false;
      else if (at + 2 < start + count) sum += static_cast<unsigned>(check);
    }
    if (!digits) {
      Trace("CS19LineFile::Load bad character in record at %u\n", static_cast<unsigned>(start));
      return false;
    }
    if (((sum & 0xFF) ^ 0xFF) != static_cast<unsigned>(check)) {
      Trace("CS19LineFile::Load check error at %u: 0x%02x\n", static_cast<unsigned>(start),
            static_cast<unsigned>(check));
      return false;
    }
    if (type >= '7') ended = true;
  }
  if (!ended) Trace("CS19LineFile::Load no end record\n");
  return ended;
}

void CS19LineFile::ReadHeaderTag() {
  const char* text = m_text.data();
  if (m_nTextLen < 2 || text[0] != 'S' || text[1] != '0') return;
  const int count = CMcuFileFrame::HexPair(text, m_nTextLen, 2);
  if (count < 3 || (count - 3) * 2 >= static_cast<int>(kTagSize)) return;
  char tag[kTagSize] = {};
  for (int i = 0; i < count - 3; ++i) {
    const int b = CMcuFileFrame::HexPair(text, m_nTextLen, 8 + 2 * static_cast<size_t>(i));
    if (b < 0) return;
    tag[i] = static_cast<char>(b);
  }
  std::memcpy(m_szHeaderTag, tag, sizeof tag);
}

size_t CS19LineFile::ReadBlock(uint8_t* destination, size_t maximum) {
  if (destination == nullptr || m_dwPosition >= m_nTextLen) return 0;
  size_t start = 0;
  size_t count = 0;
  if (!NextRecord(m_dwPosition, &start, &count)) {
    m_dwPosition = static_cast<uint32_t>(m_nTextLen);
    return 0;
  }
  if (count == 0 || count > maximum || count > m_nTextLen - start) {
    // Load refuses such texts; never copy more than the caller holds.
    Trace("CS19LineFile::ReadBlock record at %u does not fit\n", static_cast<unsigned>(start));
    return 0;
  }
  std::memcpy(destination, m_text.data() + start, count);
  m_dwPosition = static_cast<uint32_t>(start + count);
  return count;
}

}  // namespace hu
