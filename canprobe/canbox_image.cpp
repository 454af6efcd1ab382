#include "canprobe/canbox_image.h"

#include <cstring>
#include <memory>

#include "common/platform/errors.h"
#include "common/platform/trace.h"

namespace hu {
namespace {

// Swaps bits 5 and 2 and bits 3 and 0, inverts bits 1 and 7: its own inverse.
uint8_t MixBits(uint8_t b) {
  uint8_t out = b & 0xD2;  // bits 7, 6, 4, 1 stay in place
  out |= ((b >> 5) & 1) << 2 | ((b >> 2) & 1) << 5;
  out |= ((b >> 3) & 1) << 0 | ((b >> 0) & 1) << 3;
  return static_cast<uint8_t>(out ^ 0x82);
}

int HexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// `digits` hexadecimal digits at `p`; -1 when one is not a digit.
long HexValue(const uint8_t* p, int digits) {
  long v = 0;
  for (int i = 0; i < digits; ++i) {
    int d = HexDigit(p[i]);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

const uint8_t kFirstRecord[] = {':', '1', '0', '2', '0', '0'};

}  // namespace

uint8_t UnscrambleCanboxByte(uint8_t b) { return static_cast<uint8_t>(MixBits(b) - 0x30); }
uint8_t ScrambleCanboxByte(uint8_t b) { return MixBits(static_cast<uint8_t>(b + 0x30)); }

bool CCanboxImage::Load(Files& files, const std::string& path, const std::string& moduleDir,
                        const Progress& progress) {
  m_image.clear();
  m_nLength = 0;
  m_nPosition = 0;
  m_path.clear();

  std::string chosen;
  if (!path.empty()) {
    const uint32_t attributes = files.GetAttributes(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) chosen = path;
  }
  if (chosen.empty()) {
    FindData found;
    std::unique_ptr<FindHandle> find = files.FindFirst(moduleDir + "\\*.canbox", &found);
    while (find && (found.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      if (!find->Next(&found)) find.reset();
    }
    if (!find) {
      Trace("CCanboxImage::Load no .canbox file (%s)\n", path.c_str());
      return false;
    }
    chosen = moduleDir + "\\" + found.name;
  }

  std::unique_ptr<File> file = files.Open(chosen, FileAccess::Read, FileCreate::OpenExisting, FILE_SHARE_READ);
  if (!file) {
    Trace("CCanboxImage::Load open %s failed %u\n", chosen.c_str(), GetLastError());
    return false;
  }
  const uint64_t size = file->Size();
  // Far beyond what 16-bit record addresses can describe.
  if (size == 0 || size > (64u << 20)) {
    Trace("CCanboxImage::Load %s has an unusable size\n", chosen.c_str());
    return false;
  }
  std::vector<uint8_t> text(static_cast<size_t>(size), 0);
  size_t got = 0;
  while (got < text.size()) {
    uint32_t done = 0;
    const size_t want = text.size() - got < (1u << 20) ? text.size() - got : (1u << 20);
    if (!file->Read(text.data() + got, static_cast<uint32_t>(want), &done)) {
      Trace("CCanboxImage::Load read %s failed %u\n", chosen.c_str(), GetLastError());
      return false;
    }
    if (done == 0) break;
    got += done;
  }
  if (got != text.size()) {
    Trace("CCanboxImage::Load read %s short\n", chosen.c_str());
    return false;
  }
  for (uint8_t& b : text) b = UnscrambleCanboxByte(b);
  if (!Decode(text.data(), text.size(), progress)) return false;
  m_path = chosen;
  return true;
}

bool CCanboxImage::Decode(const uint8_t* text, size_t size, const Progress& progress) {
  m_image.assign(size, 0);
  m_nLength = 0;
  m_nPosition = 0;
  if (text == nullptr || size == 0) return false;

  bool found = false;
  long previous = 0x200;
  int lastPercent = 0;
  size_t p = 0;
  while (p + 6 < size) {
    if (!found) {
      if (std::memcmp(text + p, kFirstRecord, sizeof kFirstRecord) != 0) {
        ++p;
        continue;
      }
      found = true;
    }
    const long v = text[p] == ':' ? HexValue(text + p + 3, 3) : -1;
    if (v < 0 || !(previous == 0x200 || v == previous + 1)) {
      ++p;
      continue;
    }
    // A taken record: count, 16-bit address, type (not examined), data.
    const long count = p + 9 <= size ? HexValue(text + p + 1, 2) : -1;
    const long address = p + 9 <= size ? HexValue(text + p + 3, 4) : -1;
    if (count < 0 || address < 0 || p + 9 + 2 * static_cast<size_t>(count) > size) {
      Trace("CCanboxImage::Decode damaged record at %u\n", static_cast<unsigned>(p));
      return false;
    }
    // A record below the image (the end record, a stray one) or beyond its
    // buffer is no image record.
    if (address < static_cast<long>(kImageBase) ||
        static_cast<size_t>(address - kImageBase) + static_cast<size_t>(count) > m_image.size()) {
      ++p;
      continue;
    }
    uint8_t* out = m_image.data() + (address - kImageBase);
    for (long k = 0; k < count; ++k) {
      const long byte = HexValue(text + p + 9 + 2 * k, 2);
      if (byte < 0) {
        Trace("CCanboxImage::Decode damaged record at %u\n", static_cast<unsigned>(p));
        return false;
      }
      out[k] = static_cast<uint8_t>(byte);
    }
    m_nLength += static_cast<size_t>(count);
    previous = v;
    p += 2 * static_cast<size_t>(count) + 11;

    const int percent = static_cast<int>(static_cast<uint64_t>(p < size ? p : size) * 100 / size);
    if (percent != lastPercent) {
      lastPercent = percent;
      if (progress) progress(percent);
    }
  }
  if (m_nLength == 0) {
    Trace("CCanboxImage::Decode no image record\n");
    return false;
  }
  // The image must lie within what was written: the length counts record bytes.
  if (m_nLength > m_image.size()) m_nLength = m_image.size();
  return true;
}

size_t CCanboxImage::ReadBlock(uint8_t* out, size_t max) {
  if (out == nullptr || m_nPosition >= m_nLength) return 0;
  size_t n = m_nLength - m_nPosition;
  if (n > max) n = max;
  std::memcpy(out, m_image.data() + m_nPosition, n);
  m_nPosition += n;
  return n;
}

std::vector<uint8_t> CCanboxImage::Image() const {
  return std::vector<uint8_t>(m_image.begin(), m_image.begin() + static_cast<std::ptrdiff_t>(m_nLength));
}

}  // namespace hu
