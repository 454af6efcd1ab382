#include "tools/kitpack/parallel_deflate.h"

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

// One member's gzip stream, fed piece by piece and appended to `gz`, so that
// neither a long file nor a bound-sized output buffer is held whole.
class Gzip {
 public:
  Gzip() { ok_ = deflateInit2(&zs_, kDeflateLevel, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK; }
  ~Gzip() {
    if (ok_) deflateEnd(&zs_);
  }
  Gzip(const Gzip&) = delete;
  Gzip& operator=(const Gzip&) = delete;

  // At most kBlock bytes a call; `last` ends the stream.
  bool Feed(const uint8_t* data, size_t length, bool last, std::string* gz) {
    if (!ok_) return false;
    zs_.next_in = const_cast<Bytef*>(data);
    zs_.avail_in = static_cast<uInt>(length);
    int rc = Z_OK;
    do {
      zs_.next_out = out_;
      zs_.avail_out = sizeof out_;
      rc = deflate(&zs_, last ? Z_FINISH : Z_NO_FLUSH);
      gz->append(reinterpret_cast<const char*>(out_), sizeof out_ - zs_.avail_out);
    } while (zs_.avail_out == 0 || (last && rc == Z_OK));
    return last ? rc == Z_STREAM_END : rc != Z_STREAM_ERROR;
  }

 private:
  z_stream zs_{};
  bool ok_ = false;
  uint8_t out_[256 * 1024];
};

}  // namespace

bool GzipWhole(const uint8_t* data, size_t length, std::string* gz) {
  auto zip = std::make_unique<Gzip>();
  do {
    const size_t piece = std::min(length, kBlock);
    if (!zip->Feed(data, piece, piece == length, gz)) return false;
    data += piece;
    length -= piece;
  } while (length > 0);
  return true;
}

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

bool ParallelDeflate::Compress(const MemberSource& m, Slot* slot) {
  if (m.hostPath.empty()) {
    slot->unpacked = m.bytes.size();
    if (GzipWhole(reinterpret_cast<const uint8_t*>(m.bytes.data()), m.bytes.size(), &slot->gz)) return true;
    slot->error = "zlib cannot compress";
    return false;
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(m.hostPath.c_str(), "rb"), &std::fclose);
  if (!in) {
    slot->error = m.hostPath + ": cannot be read";
    return false;
  }
  auto zip = std::make_unique<Gzip>();
  std::vector<uint8_t> block(kBlock);
  // Read to the end, not to a size taken before: a file that changes
  // meanwhile is packed as read.
  size_t n = 0;
  do {
    n = std::fread(block.data(), 1, block.size(), in.get());
    if (std::ferror(in.get())) {
      slot->error = m.hostPath + ": read error";
      return false;
    }
    slot->unpacked += n;
    if (!zip->Feed(block.data(), n, n < block.size(), &slot->gz)) {
      slot->error = "zlib cannot compress";
      return false;
    }
  } while (n == block.size());
  return true;
}

void ParallelDeflate::Work() {
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
    Compress(*members_[i], &done);
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
