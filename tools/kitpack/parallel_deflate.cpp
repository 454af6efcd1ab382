#include "tools/kitpack/parallel_deflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <memory>

#include "tools/kitpack/kit_writer.h"

namespace hu::kitpack {

namespace {

// A worker claims a member only this far ahead of the writer, and not while
// finished streams waiting for the writer hold more than the budget.
constexpr size_t kAhead = 8;
constexpr uint64_t kHeldBudget = 128ull << 20;
constexpr size_t kBlock = 1 << 20;
// A long member's stream is handed to the writer in pieces of this size.
constexpr size_t kPassOn = 4u << 20;

// Members up to this size are held whole and may take libdeflate, which
// compresses only whole buffers; longer ones stream through zlib in blocks.
constexpr size_t kWholeLimit = 8u << 20;

// libdeflate's level 6 is 1.6 to 2.9 times as fast as zlib's on application
// files, and as small or smaller, but on text of a handful of short words
// repeated it is 4 % larger. Each member's first bytes are compressed both
// ways; libdeflate takes the member unless zlib did clearly better there.
constexpr size_t kSample = 8 << 10;
constexpr size_t kSampleSlackPerMille = 5;

constexpr char kGzipHeader[10] = {'\x1f', '\x8b', 8, 0, 0, 0, 0, 0, 0, 3};

void AppendTrailer(uint32_t crc, uint64_t length, std::string* gz) {
  char trailer[8];
  for (int i = 0; i < 4; ++i) {
    trailer[i] = static_cast<char>(crc >> (8 * i));
    trailer[4 + i] = static_cast<char>(static_cast<uint32_t>(length) >> (8 * i));
  }
  gz->append(trailer, sizeof trailer);
}

// Members' gzip streams through zlib, each fed piece by piece and appended to
// `gz`, so that neither a long file nor a bound-sized output buffer is held
// whole. One per worker: zlib's state is reset between members, not made
// again. The stream is raw deflate framed here, with the header zlib writes
// for this level (no name, no time, Unix) and a CRC-32 from libdeflate,
// which is several times faster than zlib's.
class Gzip {
 public:
  Gzip() { ok_ = deflateInit2(&zs_, kDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK; }
  ~Gzip() {
    if (ok_) deflateEnd(&zs_);
  }
  Gzip(const Gzip&) = delete;
  Gzip& operator=(const Gzip&) = delete;

  void Start(std::string* gz) {
    gz->append(kGzipHeader, sizeof kGzipHeader);
    crc_ = 0;
    length_ = 0;
    ok_ = ok_ && deflateReset(&zs_) == Z_OK;
  }

  // At most kBlock bytes a call. Z_FINISH ends the stream; Z_BLOCK ends the
  // deflate block, so that what the bytes so far cost is in `gz`.
  bool Feed(const uint8_t* data, size_t length, int flush, std::string* gz) {
    if (!ok_) return false;
    crc_ = libdeflate_crc32(crc_, data, length);
    length_ += length;
    zs_.next_in = const_cast<Bytef*>(data);
    zs_.avail_in = static_cast<uInt>(length);
    const bool last = flush == Z_FINISH;
    int rc = Z_OK;
    do {
      zs_.next_out = out_;
      zs_.avail_out = sizeof out_;
      rc = deflate(&zs_, flush);
      gz->append(reinterpret_cast<const char*>(out_), sizeof out_ - zs_.avail_out);
    } while (zs_.avail_out == 0 || (last && rc == Z_OK));
    if (!last) return rc != Z_STREAM_ERROR;
    if (rc != Z_STREAM_END) return false;
    AppendTrailer(crc_, length_, gz);
    return true;
  }

  bool Pieces(const uint8_t* data, size_t length, bool last, std::string* gz) {
    do {
      const size_t piece = std::min(length, kBlock);
      if (!Feed(data, piece, last && piece == length ? Z_FINISH : Z_NO_FLUSH, gz)) return false;
      data += piece;
      length -= piece;
    } while (length > 0);
    return true;
  }

 private:
  z_stream zs_{};
  bool ok_ = false;
  uint32_t crc_ = 0;
  uint64_t length_ = 0;
  uint8_t out_[256 * 1024];
};

struct LibdeflateFree {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

}  // namespace

// What a worker keeps from member to member.
struct WorkerState {
  Gzip zip;
  std::unique_ptr<libdeflate_compressor, LibdeflateFree> fast{libdeflate_alloc_compressor(kDeflateLevel)};
  std::unique_ptr<uint8_t[]> whole{new uint8_t[kWholeLimit]};  // not zero-filled: every byte is read into first
  std::string scratch;

  // libdeflate's raw deflate of `data` into `scratch`: its length, 0 if none.
  size_t Fast(const uint8_t* data, size_t length) {
    if (!fast) return 0;
    scratch.resize(libdeflate_deflate_compress_bound(fast.get(), length));
    return libdeflate_deflate_compress(fast.get(), data, length, &scratch[0], scratch.size());
  }

  // A member held whole: libdeflate's stream or zlib's, as the sample says.
  bool Compress(const uint8_t* data, size_t length, std::string* gz) {
    const size_t head = std::min(length, kSample);
    const bool all = head == length;
    zip.Start(gz);
    const size_t start = gz->size();
    if (!zip.Feed(data, head, all ? Z_FINISH : Z_BLOCK, gz)) return false;
    const size_t zlibHead = gz->size() - start - (all ? 8 : 0);
    const size_t fastHead = Fast(data, head);
    if (fastHead == 0 || fastHead * 1000 > zlibHead * (1000 + kSampleSlackPerMille)) {
      return all || zip.Pieces(data + head, length - head, true, gz);
    }
    const size_t n = all ? fastHead : Fast(data, length);
    if (n == 0) return false;
    gz->resize(start);
    gz->append(scratch, 0, n);
    AppendTrailer(libdeflate_crc32(0, data, length), length, gz);
    return true;
  }
};

ParallelDeflate::ParallelDeflate(std::vector<const MemberSource*> members, unsigned threads)
    : members_(std::move(members)), slots_(members_.size()) {
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  threads = static_cast<unsigned>(std::min<size_t>(threads, std::max<size_t>(1, members_.size())));
  for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
}

ParallelDeflate::~ParallelDeflate() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (auto& w : workers_) w.join();
}

bool ParallelDeflate::Compress(size_t index, Slot* slot, WorkerState& w) {
  const MemberSource& m = *members_[index];
  const auto cannot = [&] {
    slot->error = "cannot compress";
    return false;
  };
  if (m.hostPath.empty()) {
    slot->unpacked = m.bytes.size();
    const auto* data = reinterpret_cast<const uint8_t*>(m.bytes.data());
    if (m.bytes.size() <= kWholeLimit) return w.Compress(data, m.bytes.size(), &slot->gz) || cannot();
    w.zip.Start(&slot->gz);
    return w.zip.Pieces(data, m.bytes.size(), true, &slot->gz) || cannot();
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(m.hostPath.c_str(), "rb"), &std::fclose);
  if (!in) {
    slot->error = m.hostPath + ": cannot be read";
    return false;
  }
  // Whole blocks go to the compressor unbuffered by stdio.
  std::setvbuf(in.get(), nullptr, _IONBF, 0);
  // Read to the end, not to a size taken before: a file that changes
  // meanwhile is packed as read. What fits is compressed whole; the first
  // kWholeLimit bytes of a longer file start its zlib stream.
  const auto readError = [&] {
    slot->error = m.hostPath + ": read error";
    return false;
  };
  size_t held = 0;
  size_t n = 0;
  do {
    n = std::fread(w.whole.get() + held, 1, std::min(kBlock, kWholeLimit - held), in.get());
    if (std::ferror(in.get())) return readError();
    held += n;
  } while (n > 0 && held < kWholeLimit);
  slot->unpacked = held;
  if (n == 0) return w.Compress(w.whole.get(), held, &slot->gz) || cannot();
  // Longer: a zlib stream of what is held, then of the rest block by block,
  // handed on in pieces.
  w.zip.Start(&slot->gz);
  for (size_t fed = 0;;) {
    const uint8_t* data = w.whole.get() + fed;
    size_t length = std::min(kBlock, held - fed);
    fed += length;
    bool last = false;
    if (length == 0) {  // all that was held is fed: the buffer is free for the rest
      data = w.whole.get();
      length = std::fread(w.whole.get(), 1, kBlock, in.get());
      if (std::ferror(in.get())) return readError();
      slot->unpacked += length;
      last = length < kBlock;
    }
    if (!w.zip.Feed(data, length, last ? Z_FINISH : Z_NO_FLUSH, &slot->gz)) return cannot();
    if (last) return true;
    if (slot->gz.size() >= kPassOn && !PassOn(index, &slot->gz)) return cannot();
  }
}

bool ParallelDeflate::PassOn(size_t index, std::string* gz) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return stop_ || written_ == index; });
    if (stop_) return false;
    std::string& passed = slots_[index].passed;
    if (passed.empty()) {
      passed.swap(*gz);
    } else {
      passed += *gz;
    }
  }
  gz->clear();
  changed_.notify_all();
  return true;
}

void ParallelDeflate::Work() {
  auto state = std::make_unique<WorkerState>();
  for (;;) {
    size_t i = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      // The member the writer waits for is always claimable, whatever is held.
      changed_.wait(lock, [this] {
        return stop_ || claimed_ == members_.size() ||
               claimed_ == written_ || (claimed_ < written_ + kAhead && held_ < kHeldBudget);
      });
      if (stop_ || claimed_ == members_.size()) return;
      i = claimed_++;
    }
    Slot done;
    Compress(i, &done, *state);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      held_ += done.gz.size();
      done.ready = true;
      done.passed = std::move(slots_[i].passed);
      slots_[i] = std::move(done);
    }
    changed_.notify_all();
  }
}

bool ParallelDeflate::WriteNext(std::FILE* out, uint64_t* stored, uint64_t* unpacked, std::string* error) {
  const auto put = [&](const std::string& bytes) {
    if (bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size()) return true;
    *error = "write error";
    return false;
  };
  Slot slot;
  uint64_t passed = 0;
  for (;;) {
    std::string piece;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (written_ >= members_.size()) {
        *error = "no member left to write";
        return false;
      }
      changed_.wait(lock, [this] { return slots_[written_].ready || !slots_[written_].passed.empty(); });
      piece.swap(slots_[written_].passed);
      if (slots_[written_].ready) {
        slot = std::move(slots_[written_]);
        slots_[written_] = Slot();
        held_ -= slot.gz.size();
        ++written_;
      }
    }
    changed_.notify_all();
    if (!slot.error.empty()) {
      *error = slot.error;
      return false;
    }
    if (!put(piece)) return false;
    passed += piece.size();
    if (slot.ready) break;
  }
  if (!put(slot.gz)) return false;
  *stored = passed + slot.gz.size();
  *unpacked = slot.unpacked;
  if (*unpacked > UINT32_MAX || *stored > UINT32_MAX) {
    *error = "member " + std::string("\"") + members_[written_ - 1]->name + "\" is larger than 4 GiB";
    return false;
  }
  return true;
}

}  // namespace hu::kitpack
