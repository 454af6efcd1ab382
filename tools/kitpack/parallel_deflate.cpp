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

// Members' gzip streams, one after the other, each fed piece by piece and
// appended to `gz`, so that neither a long file nor a bound-sized output
// buffer is held whole. One per worker: zlib's state is reset between
// members, not made again. The stream is raw deflate framed here, with the
// header zlib writes for this level (no name, no time, Unix) and a CRC-32
// from libdeflate, which is several times faster than zlib's.
class Gzip {
 public:
  Gzip() { ok_ = deflateInit2(&zs_, kDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK; }
  ~Gzip() {
    if (ok_) deflateEnd(&zs_);
  }
  Gzip(const Gzip&) = delete;
  Gzip& operator=(const Gzip&) = delete;

  void Start(std::string* gz) {
    static const char kHeader[10] = {'\x1f', '\x8b', 8, 0, 0, 0, 0, 0, 0, 3};
    gz->append(kHeader, sizeof kHeader);
    crc_ = 0;
    length_ = 0;
    ok_ = ok_ && deflateReset(&zs_) == Z_OK;
  }

  // At most kBlock bytes a call; `last` ends the stream.
  bool Feed(const uint8_t* data, size_t length, bool last, std::string* gz) {
    if (!ok_) return false;
    crc_ = libdeflate_crc32(crc_, data, length);
    length_ += length;
    zs_.next_in = const_cast<Bytef*>(data);
    zs_.avail_in = static_cast<uInt>(length);
    int rc = Z_OK;
    do {
      zs_.next_out = out_;
      zs_.avail_out = sizeof out_;
      rc = deflate(&zs_, last ? Z_FINISH : Z_NO_FLUSH);
      gz->append(reinterpret_cast<const char*>(out_), sizeof out_ - zs_.avail_out);
    } while (zs_.avail_out == 0 || (last && rc == Z_OK));
    if (!last) return rc != Z_STREAM_ERROR;
    if (rc != Z_STREAM_END) return false;
    char trailer[8];
    for (int i = 0; i < 4; ++i) {
      trailer[i] = static_cast<char>(crc_ >> (8 * i));
      trailer[4 + i] = static_cast<char>(static_cast<uint32_t>(length_) >> (8 * i));
    }
    gz->append(trailer, sizeof trailer);
    return true;
  }

 private:
  z_stream zs_{};
  bool ok_ = false;
  uint32_t crc_ = 0;
  uint64_t length_ = 0;
  uint8_t out_[256 * 1024];
};

bool GzipPieces(Gzip& zip, const uint8_t* data, size_t length, std::string* gz) {
  zip.Start(gz);
  do {
    const size_t piece = std::min(length, kBlock);
    if (!zip.Feed(data, piece, piece == length, gz)) return false;
    data += piece;
    length -= piece;
  } while (length > 0);
  return true;
}

}  // namespace

// What a worker keeps from member to member.
struct WorkerState {
  Gzip zip;
  std::unique_ptr<uint8_t[]> block{new uint8_t[kBlock]};  // not zero-filled: every byte is read into first
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

bool ParallelDeflate::Compress(const MemberSource& m, Slot* slot, WorkerState& w) {
  if (m.hostPath.empty()) {
    slot->unpacked = m.bytes.size();
    if (GzipPieces(w.zip, reinterpret_cast<const uint8_t*>(m.bytes.data()), m.bytes.size(), &slot->gz)) return true;
    slot->error = "zlib cannot compress";
    return false;
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(m.hostPath.c_str(), "rb"), &std::fclose);
  if (!in) {
    slot->error = m.hostPath + ": cannot be read";
    return false;
  }
  // Whole blocks go to the compressor unbuffered by stdio.
  std::setvbuf(in.get(), nullptr, _IONBF, 0);
  w.zip.Start(&slot->gz);
  // Read to the end, not to a size taken before: a file that changes
  // meanwhile is packed as read.
  size_t n = 0;
  do {
    n = std::fread(w.block.get(), 1, kBlock, in.get());
    if (std::ferror(in.get())) {
      slot->error = m.hostPath + ": read error";
      return false;
    }
    slot->unpacked += n;
    if (!w.zip.Feed(w.block.get(), n, n < kBlock, &slot->gz)) {
      slot->error = "zlib cannot compress";
      return false;
    }
  } while (n == kBlock);
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
    Compress(*members_[i], &done, *state);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      held_ += done.gz.size();
      done.ready = true;
      slots_[i] = std::move(done);
    }
    changed_.notify_all();
  }
}

bool ParallelDeflate::WriteNext(std::FILE* out, uint64_t* stored, uint64_t* unpacked, std::string* error) {
  Slot slot;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (written_ >= members_.size()) {
      *error = "no member left to write";
      return false;
    }
    changed_.wait(lock, [this] { return slots_[written_].ready; });
    slot = std::move(slots_[written_]);
    slots_[written_] = Slot();
    held_ -= slot.gz.size();
    ++written_;
  }
  changed_.notify_all();
  if (!slot.error.empty()) {
    *error = slot.error;
    return false;
  }
  if (!slot.gz.empty() && std::fwrite(slot.gz.data(), 1, slot.gz.size(), out) != slot.gz.size()) {
    *error = "write error";
    return false;
  }
  *stored = slot.gz.size();
  *unpacked = slot.unpacked;
  if (*unpacked > UINT32_MAX || *stored > UINT32_MAX) {
    *error = "member " + std::string("\"") + members_[written_ - 1]->name + "\" is larger than 4 GiB";
    return false;
  }
  return true;
}

}  // namespace hu::kitpack
