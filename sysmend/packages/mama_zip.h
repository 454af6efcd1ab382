#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/platform/files.h"

namespace hu {

// A gzip member inflated whole before its turn, by CMamaZip::InflateAhead.
struct InflatedAhead {
  const uint8_t* deflate = nullptr;  // where its deflate data starts in the member's bytes
  bool whole = false;                // inflated cleanly within the limit
  std::unique_ptr<uint8_t[]> data;
  size_t produced = 0;
  size_t consumed = 0;  // deflate bytes used
  bool hasCrc = false;  // `crc` is the CRC-32 of the output, worked out with it
  uint32_t crc = 0;
};

// Inflates one gzip stream (or the single entry of a ZIP stream) that the
// caller has read into memory, into a new file or into a caller's buffer.
// One object describes one run at a time: the source and target set before
// SwapSize belong to this object only.
class CMamaZip {
 public:
  // Results of SwapSize.
  enum : uint32_t { kOk = 0, kFailed = 1, kCreateFailed = 3, kWriteFailed = 4 };
  // The only mode in use: the source is the memory buffer.
  static constexpr int kModeMemory = 3;
  // Members declared no longer than this are inflated whole by libdeflate
  // (about twice zlib's speed, one write); longer ones stream through zlib in
  // blocks, so memory stays within the stored bytes plus a few MiB.
  static constexpr uint64_t kWholeLimit = 8ull << 20;

  // `sourceName` is opened only for a run with file input.
  CMamaZip(Files& files, const std::string& sourceName);
  virtual ~CMamaZip() = default;

  void SetSource(const uint8_t* data, size_t length);
  // Output into `buffer`; a stream that inflates to more than `capacity`
  // bytes fails without writing past it.
  void SetOutputMemory(uint8_t* buffer, size_t capacity);
  void SetOutputFile();
  // The most bytes a run may produce (what the kit declared); a stream that
  // inflates to more stops there and the run fails, so a lying kit cannot
  // fill the disk.
  void SetOutputLimit(uint64_t limit) { m_outLimit = limit; }
  // Also compare a gzip stream's trailer (CRC-32 and length) with what it
  // inflated to; a stream cut short or damaged then fails instead of leaving
  // a wrong file behind a success.
  void SetCheckTrailer(bool check) { m_bCheckTrailer = check; }
  // The folder an earlier output file went to, kept by the caller: a target
  // in the same folder does not make it again, and a folder made here is
  // written back.
  void SetMadeFolder(std::string* folder) { m_pMadeFolder = folder; }

  // Inflates the gzip member `in` whole, as a run with output limit `limit`
  // would before it writes; touches nothing else, so it may run on another
  // thread while the caller writes an earlier member. Not whole for a
  // member too long to inflate at once, or damaged.
  static InflatedAhead InflateAhead(const uint8_t* in, size_t length, uint64_t limit);
  // The next run takes `ahead` (made from its source) instead of inflating
  // again; one that is not whole sends it the streaming way as always.
  void SetInflatedAhead(InflatedAhead* ahead) { m_pAhead = ahead; }

  uint32_t SwapSize(const std::string& target, int mode);

  // Bytes produced by the last run.
  uint64_t OutputLength() const { return m_outPos; }
  const std::string& Operation() const { return m_sOperation; }
  // The message formed for the last failure ("" after a success).
  const std::string& ErrorText() const { return m_sErrorText; }

 protected:
  // Where inflated blocks go; false stops the run.
  class Sink {
   public:
    virtual ~Sink() = default;
    virtual bool Put(const uint8_t* data, size_t length) = 0;
    // The whole output at once, with its CRC-32 worked out already.
    virtual bool PutWhole(const uint8_t* data, size_t length, uint32_t crc) {
      (void)crc;
      return Put(data, length);
    }
  };
  // The work on an input and an output; true when it succeeded.
  virtual bool Operate(const uint8_t* in, size_t length, Sink& out);

 private:
  class FileSink;
  class MemorySink;
  class CheckedSink;
  bool Inflate(const uint8_t* in, size_t length, Sink& out, size_t* consumed);
  // One call into a buffer of the declared length; *wholeDone false when the
  // data did not inflate cleanly within it (nothing was put then).
  bool InflateWhole(const uint8_t* in, size_t length, Sink& out, size_t* consumed, bool* wholeDone);
  bool UnzipEntry(const uint8_t* in, size_t length, Sink& out);

  Files& files_;
  std::string m_sSourceFileName;
  std::string* m_pMadeFolder = nullptr;
  InflatedAhead* m_pAhead = nullptr;
  std::string m_sOperation;
  std::string m_sErrorText;
  const uint8_t* m_pIn = nullptr;
  size_t m_inLength = 0;
  bool m_bToMemory = false;
  uint8_t* m_pOut = nullptr;
  size_t m_outCapacity = 0;
  uint64_t m_outPos = 0;
  bool m_bWriteError = false;
  uint64_t m_outLimit = UINT64_MAX;
  bool m_bOverLimit = false;
  bool m_bCheckTrailer = false;
  bool m_bBadTrailer = false;
};

}  // namespace hu
