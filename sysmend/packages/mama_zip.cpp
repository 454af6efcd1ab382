#include "mama_zip.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "common/platform/errors.h"
#include "common/platform/trace.h"
#include "common/platform/file_tree.h"
#include "sysmend/packages/kit_layout.h"

namespace hu {

namespace {

constexpr size_t kOutBlock = 64 * 1024;
constexpr uint8_t kFlagContinuation = 0x02;
constexpr uint8_t kFlagExtra = 0x04;
constexpr uint8_t kFlagName = 0x08;
constexpr uint8_t kFlagComment = 0x10;
constexpr uint8_t kFlagEncrypted = 0x20;
constexpr uint8_t kFlagReserved = 0xC0;
constexpr size_t kGzipHeader = 10;
constexpr size_t kZipLocalHeader = 30;
constexpr uint32_t kZipLocalSig = 0x04034b50;
constexpr uint32_t kZipDescriptorSig = 0x08074b50;

std::string Format(const char* format, const std::string& a) {
  char buf[600];
  std::snprintf(buf, sizeof buf, format, a.c_str());
  return buf;
}

}  // namespace

class CMamaZip::FileSink : public CMamaZip::Sink {
 public:
  FileSink(File& file, uint64_t& position, bool& writeError, uint32_t& error, uint64_t limit, bool& overLimit)
      : file_(file), position_(position), writeError_(writeError), error_(error), limit_(limit),
        overLimit_(overLimit) {}
  bool Put(const uint8_t* data, size_t length) override {
    if (length > limit_ - std::min(limit_, position_)) {
      overLimit_ = true;
      length = static_cast<size_t>(limit_ - std::min(limit_, position_));
      return PutAll(data, length) && false;
    }
    return PutAll(data, length);
  }

 private:
  bool PutAll(const uint8_t* data, size_t length) {
    while (length > 0) {
      uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(length, UINT32_MAX));
      uint32_t done = 0;
      if (!file_.Write(data, chunk, &done)) {
        error_ = GetLastError();
        Trace("\n util WriteFile Err = %d LINE = %d\n", static_cast<int>(error_), __LINE__);
        writeError_ = true;
        return false;
      }
      if (done == 0) {
        // Nothing more can be written: the file would silently be short.
        error_ = GetLastError();
        writeError_ = true;
        return false;
      }
      position_ += done;
      data += done;
      length -= done;
    }
    return true;
  }

  File& file_;
  uint64_t& position_;
  bool& writeError_;
  uint32_t& error_;
  uint64_t limit_;
  bool& overLimit_;
};

class CMamaZip::MemorySink : public CMamaZip::Sink {
 public:
  MemorySink(uint8_t* buffer, size_t capacity, uint64_t& position)
      : buffer_(buffer), capacity_(capacity), position_(position) {}
  bool Put(const uint8_t* data, size_t length) override {
    size_t room = position_ < capacity_ ? capacity_ - static_cast<size_t>(position_) : 0;
    size_t n = std::min(room, length);
    if (n > 0 && buffer_ != nullptr) std::memcpy(buffer_ + position_, data, n);
    position_ += n;
    return n == length;
  }

 private:
  uint8_t* buffer_;
  size_t capacity_;
  uint64_t& position_;
};

// Passes blocks on while keeping the CRC-32 and length of what went through.
class CMamaZip::CheckedSink : public CMamaZip::Sink {
 public:
  explicit CheckedSink(Sink& inner) : inner_(inner) {}
  bool Put(const uint8_t* data, size_t length) override {
    // libdeflate's CRC-32 uses the carry-less multiply where the processor has it.
    crc_ = libdeflate_crc32(crc_, data, length);
    size_ += length;
    return inner_.Put(data, length);
  }
  bool PutWhole(const uint8_t* data, size_t length, uint32_t crc) override {
    if (size_ != 0) return Put(data, length);
    crc_ = crc;
    size_ = length;
    return inner_.Put(data, length);
  }
  bool Matches(const uint8_t* trailer) const {
    return ReadLe32(trailer) == crc_ && ReadLe32(trailer + 4) == static_cast<uint32_t>(size_);
  }

 private:
  Sink& inner_;
  uint32_t crc_ = 0;
  uint64_t size_ = 0;
};

CMamaZip::CMamaZip(Files& files, const std::string& sourceName)
    : files_(files), m_sSourceFileName(sourceName), m_sOperation("unzipping") {}

void CMamaZip::SetSource(const uint8_t* data, size_t length) {
  m_pIn = data;
  m_inLength = length;
}

void CMamaZip::SetOutputMemory(uint8_t* buffer, size_t capacity) {
  m_bToMemory = true;
  m_pOut = buffer;
  m_outCapacity = buffer == nullptr ? 0 : capacity;
}

void CMamaZip::SetOutputFile() {
  m_bToMemory = false;
  m_pOut = nullptr;
  m_outCapacity = 0;
}

namespace {

// Where a gzip member's deflate data starts after its header; 0 when the
// header is not one this reader takes.
size_t GzipDataStart(const uint8_t* in, size_t length) {
  if (length < kGzipHeader || in[0] != 0x1F || in[1] != 0x8B || in[2] != Z_DEFLATED) return 0;
  uint8_t flags = in[3];
  if ((flags & (kFlagContinuation | kFlagEncrypted | kFlagReserved)) != 0) return 0;
  size_t pos = kGzipHeader;
  if ((flags & kFlagExtra) != 0) {
    if (length - pos < 2) return 0;
    size_t extra = ReadLe16(in + pos);
    pos += 2;
    if (length - pos < extra) return 0;
    pos += extra;
  }
  for (uint8_t skipped : {kFlagName, kFlagComment}) {
    if ((flags & skipped) == 0) continue;
    const void* end = std::memchr(in + pos, 0, length - pos);
    if (end == nullptr) return 0;
    pos = static_cast<size_t>(static_cast<const uint8_t*>(end) - in) + 1;
  }
  return pos;
}

// Raw deflate data inflated into one buffer of `limit` bytes.
InflatedAhead InflateDeflateWhole(const uint8_t* in, size_t length, uint64_t limit) {
  InflatedAhead r;
  r.deflate = in;
  if (limit > CMamaZip::kWholeLimit) return r;
  std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> d(libdeflate_alloc_decompressor(),
                                                                               &libdeflate_free_decompressor);
  const size_t room = static_cast<size_t>(limit);
  r.data.reset(new (std::nothrow) uint8_t[room == 0 ? 1 : room]);
  if (!d || !r.data) return r;
  r.whole = libdeflate_deflate_decompress_ex(d.get(), in, length, r.data.get(), room, &r.consumed, &r.produced) ==
            LIBDEFLATE_SUCCESS;
  return r;
}

}  // namespace

InflatedAhead CMamaZip::InflateAhead(const uint8_t* in, size_t length, uint64_t limit) {
  const size_t pos = in == nullptr ? 0 : GzipDataStart(in, length);
  if (pos == 0) return InflatedAhead();
  InflatedAhead r = InflateDeflateWhole(in + pos, length - pos, limit);
  // Ahead of its turn, on the inflating thread, so that the writer need not.
  if (r.whole) {
    r.crc = libdeflate_crc32(0, r.data.get(), r.produced);
    r.hasCrc = true;
  }
  return r;
}

bool CMamaZip::InflateWhole(const uint8_t* in, size_t length, Sink& out, size_t* consumed, bool* wholeDone) {
  InflatedAhead own;
  InflatedAhead* r = m_pAhead;
  if (r == nullptr || r->deflate != in) {
    own = InflateDeflateWhole(in, length, m_outLimit);
    r = &own;
  }
  if (!r->whole) return false;
  if (consumed) *consumed = r->consumed;
  *wholeDone = true;
  if (r->produced == 0) return true;
  return r->hasCrc ? out.PutWhole(r->data.get(), r->produced, r->crc) : out.Put(r->data.get(), r->produced);
}

bool CMamaZip::Inflate(const uint8_t* in, size_t length, Sink& out, size_t* consumed) {
  if (consumed) *consumed = 0;
  // Damaged data, or data that inflates past the declared length, takes the
  // streaming way below, which decides what is written and what fails.
  if (m_outLimit <= kWholeLimit) {
    bool whole = false;
    const bool ok = InflateWhole(in, length, out, consumed, &whole);
    if (whole) return ok;
  }
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return false;
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[kOutBlock]);
  if (!block) {
    inflateEnd(&zs);
    return false;
  }
  zs.next_in = const_cast<Bytef*>(in);
  zs.avail_in = static_cast<uInt>(std::min<size_t>(length, UINT_MAX));
  bool ok = true;
  for (;;) {
    zs.next_out = block.get();
    zs.avail_out = static_cast<uInt>(kOutBlock);
    int rc = inflate(&zs, Z_NO_FLUSH);
    size_t produced = kOutBlock - zs.avail_out;
    if (produced > 0 && !out.Put(block.get(), produced)) {
      ok = false;
      break;
    }
    if (rc == Z_MEM_ERROR) {
      ok = false;
      break;
    }
    // Damaged or truncated data ends the run with what was produced so far.
    if (rc != Z_OK) break;
    if (produced == 0 && zs.avail_in == 0) break;
  }
  if (consumed) *consumed = static_cast<size_t>(zs.next_in - in);
  inflateEnd(&zs);
  return ok;
}

bool CMamaZip::UnzipEntry(const uint8_t* in, size_t length, Sink& out) {
  if (length < kZipLocalHeader) return false;
  uint16_t flags = ReadLe16(in + 6);
  uint16_t method = ReadLe16(in + 8);
  uint32_t csize = ReadLe32(in + 18);
  size_t nameLen = ReadLe16(in + 26);
  size_t extraLen = ReadLe16(in + 28);
  size_t pos = kZipLocalHeader + nameLen + extraLen;
  if (pos > length || (flags & 0x0001) != 0) return false;  // truncated or encrypted
  if (method == Z_DEFLATED) {
    size_t used = 0;
    if (!Inflate(in + pos, length - pos, out, &used)) return false;
    pos += used;
    if ((flags & 0x0008) != 0) {
      if (length - pos >= 4 && ReadLe32(in + pos) == kZipDescriptorSig) pos += 4;
      pos += std::min<size_t>(12, length - pos);
    }
  } else if (method == 0) {
    if ((flags & 0x0008) != 0) return false;  // a stored entry needs its length up front
    size_t n = std::min<size_t>(csize, length - pos);
    if (n > 0 && !out.Put(in + pos, n)) return false;
    pos += n;
  } else {
    return false;
  }
  // Only one entry is taken; a second one fails the run.
  return !(length - pos >= 4 && ReadLe32(in + pos) == kZipLocalSig);
}

bool CMamaZip::Operate(const uint8_t* in, size_t length, Sink& out) {
  if (in == nullptr && length > 0) return false;
  if (length >= 4 && ReadLe32(in) == kZipLocalSig) return UnzipEntry(in, length, out);
  size_t pos = GzipDataStart(in, length);
  if (pos == 0) return false;
  // Unless asked, the trailer's CRC and length are not compared with the output.
  if (!m_bCheckTrailer) return Inflate(in + pos, length - pos, out, nullptr);
  CheckedSink checked(out);
  size_t used = 0;
  if (!Inflate(in + pos, length - pos, checked, &used)) return false;
  pos += used;
  m_bBadTrailer = length - pos < 8 || !checked.Matches(in + pos);
  return !m_bBadTrailer;
}

uint32_t CMamaZip::SwapSize(const std::string& target, int mode) {
  m_bWriteError = false;
  m_bOverLimit = false;
  m_bBadTrailer = false;
  m_outPos = 0;
  m_sErrorText.clear();
  uint32_t writeErr = ERROR_SUCCESS;

  const uint8_t* in = m_pIn;
  size_t length = m_inLength;
  std::vector<uint8_t> fileInput;
  if (mode != kModeMemory) {
    auto src = files_.Open(m_sSourceFileName, FileAccess::Read, FileCreate::OpenExisting, 0);
    uint64_t size = src ? src->Size() : 0;
    bool ok = src && size <= UINT32_MAX;
    if (ok) {
      fileInput.resize(static_cast<size_t>(size));
      uint32_t done = 0;
      ok = size == 0 || (src->Read(fileInput.data(), static_cast<uint32_t>(size), &done) && done == size);
    }
    if (!ok) {
      Trace("\n CMamaZip::SwapSize _tfopen m_sSourceFileName = %s Err = %d \n", m_sSourceFileName.c_str(),
            static_cast<int>(GetLastError()));
      return kCreateFailed;
    }
    in = fileInput.data();
    length = fileInput.size();
  }

  bool ok = false;
  if (m_bToMemory) {
    MemorySink sink(m_pOut, m_outCapacity, m_outPos);
    ok = Operate(in, length, sink);
  } else {
    std::string dir = ParentPath(target);
    const bool made = m_pMadeFolder && !dir.empty() && *m_pMadeFolder == dir;
    if (!dir.empty() && !made && CreateDirTree(files_, dir) && m_pMadeFolder) *m_pMadeFolder = dir;
    auto file = files_.Open(target, FileAccess::ReadWrite, FileCreate::CreateAlways, 0);
    if (!file) {
      Trace("\n CMamaZip::SwapSize CreateFile sTargetFileName = %s Err = %d \n", target.c_str(),
            static_cast<int>(GetLastError()));
      return kCreateFailed;
    }
    FileSink sink(*file, m_outPos, m_bWriteError, writeErr, m_outLimit, m_bOverLimit);
    ok = Operate(in, length, sink);
  }
  if (m_bBadTrailer) {
    Trace("\n CMamaZip::SwapSize sTargetFileName = %s is damaged: its data does not match its CRC and length !!! \n",
          target.c_str());
    m_sErrorText = Format("%s error!CMamaZip::SwapSize\n", m_sOperation);
    return kFailed;
  }
  if (m_bOverLimit) {
    Trace("\n CMamaZip::SwapSize sTargetFileName = %s inflates past its declared %llu bytes !!! \n", target.c_str(),
          static_cast<unsigned long long>(m_outLimit));
    m_sErrorText = Format("%s error!CMamaZip::SwapSize\n", m_sOperation);
    return kFailed;
  }
  if (m_bWriteError) {
    Trace("\n CMamaZip::SwapSize write sTargetFileName = %s Err = %d \n", target.c_str(),
          static_cast<int>(writeErr));
    m_sErrorText = Format("write %s file error!\n", target);
    return kWriteFailed;
  }
  if (!ok) {
    Trace("\n CMamaZip::SwapSize m_sOperation= %s sTargetFileName = %s Err = %d \n", m_sOperation.c_str(),
          target.c_str(), static_cast<int>(GetLastError()));
    m_sErrorText = Format("%s error!CMamaZip::SwapSize\n", m_sOperation);
    return kFailed;
  }
  return kOk;
}

}  // namespace hu
