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
// A long member is compressed in blocks of kBlock, at most this many at a
// time; zlib primes each block with the kWindow bytes before it.
constexpr size_t kBlocksInFlight = 4;
constexpr size_t kWindow = 32u << 10;

// Members up to this size are read and compressed whole; longer ones in blocks.
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

// zlib's raw deflate at kitpack's level: made once, reset for each use.
struct RawDeflate {
  z_stream zs{};
  bool ok = deflateInit2(&zs, kDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  RawDeflate() = default;
  ~RawDeflate() {
    if (ok) deflateEnd(&zs);
  }
  RawDeflate(const RawDeflate&) = delete;
  RawDeflate& operator=(const RawDeflate&) = delete;
  bool Reset() { return ok && deflateReset(&zs) == Z_OK; }
};

// Members' gzip streams through zlib, each fed piece by piece and appended to
// `gz`. One per worker: zlib's state is reset between members, not made
// again. The stream is raw deflate framed here, with the header zlib writes
// for this level (no name, no time, Unix) and a CRC-32 from libdeflate,
// which is several times faster than zlib's.
class Gzip {
 public:
  void Start(std::string* gz) {
    gz->append(kGzipHeader, sizeof kGzipHeader);
    crc_ = 0;
    length_ = 0;
    ok_ = raw_.Reset();
  }

  // At most kBlock bytes a call. Z_FINISH ends the stream; Z_BLOCK ends the
  // deflate block, so that what the bytes so far cost is in `gz`.
  bool Feed(const uint8_t* data, size_t length, int flush, std::string* gz) {
    if (!ok_) return false;
    crc_ = libdeflate_crc32(crc_, data, length);
    length_ += length;
    raw_.zs.next_in = const_cast<Bytef*>(data);
    raw_.zs.avail_in = static_cast<uInt>(length);
    const bool last = flush == Z_FINISH;
    int rc = Z_OK;
    do {
      raw_.zs.next_out = out_;
      raw_.zs.avail_out = sizeof out_;
      rc = deflate(&raw_.zs, flush);
      gz->append(reinterpret_cast<const char*>(out_), sizeof out_ - raw_.zs.avail_out);
    } while (raw_.zs.avail_out == 0 || (last && rc == Z_OK));
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
  RawDeflate raw_;
  bool ok_ = false;
  uint32_t crc_ = 0;
  uint64_t length_ = 0;
  uint8_t out_[256 * 1024];
};

struct LibdeflateFree {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// libdeflate's raw deflate of `data` into `out`: its length, 0 if none.
size_t LibdeflateInto(libdeflate_compressor* c, const uint8_t* data, size_t length, std::string* out) {
  out->resize(libdeflate_deflate_compress_bound(c, length));
  out->resize(libdeflate_deflate_compress(c, data, length, &(*out)[0], out->size()));
  return out->size();
}

}  // namespace

struct ParallelDeflate::Block {
  std::vector<uint8_t> data;
  std::string primer;  // the window before `data`, for zlib
  bool fast = false;   // libdeflate's, standing alone
  bool last = false;
  bool done = false;
  bool ok = false;
  std::string deflated;
};

namespace {

// Lets the raw deflate stream `d` be followed by another, as zlib's gzjoin
// example joins streams: the bit that marks its last block as the last is
// cleared, and an empty stored block brings it to a byte boundary. The
// blocks are found by inflating it; false when it does not inflate whole.
bool MakeJoinable(std::string* d) {
  z_stream in{};
  if (inflateInit2(&in, -MAX_WBITS) != Z_OK) return false;
  std::unique_ptr<Bytef[]> sink(new Bytef[1 << 16]);
  in.next_in = reinterpret_cast<Bytef*>(&(*d)[0]);
  in.avail_in = static_cast<uInt>(d->size());
  size_t headerByte = 0;  // where the last block seen so far starts
  int headerBit = 0;
  int endLeft = -1;  // unused high bits of the byte the last block ends in
  int rc = Z_OK;
  while (rc == Z_OK) {
    in.next_out = sink.get();
    in.avail_out = 1 << 16;
    rc = inflate(&in, Z_BLOCK);
    // At a block boundary: 64 says the block just ended was the last.
    if (rc == Z_OK && (in.data_type & 128)) {
      const size_t used = d->size() - in.avail_in;
      const int left = in.data_type & 7;
      if (in.data_type & 64) {
        endLeft = used == d->size() ? left : -1;
      } else {
        headerByte = left ? used - 1 : used;
        headerBit = left ? 8 - left : 0;
      }
    }
  }
  inflateEnd(&in);
  const uint8_t finalBit = static_cast<uint8_t>(1u << headerBit);
  if (rc != Z_STREAM_END || endLeft < 0 || headerByte >= d->size() ||
      !(static_cast<uint8_t>((*d)[headerByte]) & finalBit)) {
    return false;
  }
  (*d)[headerByte] = static_cast<char>(static_cast<uint8_t>((*d)[headerByte]) & ~finalBit);
  if (endLeft > 0) d->back() = static_cast<char>(static_cast<uint8_t>(d->back()) & ((1u << (8 - endLeft)) - 1));
  // The stored block's three header bits, all zero, spill into a new byte
  // when fewer are left; then its empty length and that length's complement.
  if (endLeft < 3) d->push_back('\0');
  d->append("\0\0\xff\xff", 4);
  return true;
}

// Raw deflate of one block of a long member: primed with the bytes before it,
// ended on a byte boundary unless it is the last, so that the blocks'
// outputs joined are one stream.
class BlockDeflater {
 public:
  // `primer`: the bytes before `data`; `last` ends the stream.
  bool Deflate(const uint8_t* data, size_t length, const std::string& primer, bool last, std::string* out) {
    if (!raw_.Reset()) return false;
    if (!primer.empty() && deflateSetDictionary(&raw_.zs, reinterpret_cast<const Bytef*>(primer.data()),
                                                static_cast<uInt>(primer.size())) != Z_OK) {
      return false;
    }
    out->resize(deflateBound(&raw_.zs, length) + 16);
    raw_.zs.next_in = const_cast<Bytef*>(data);
    raw_.zs.avail_in = static_cast<uInt>(length);
    raw_.zs.next_out = reinterpret_cast<Bytef*>(&(*out)[0]);
    raw_.zs.avail_out = static_cast<uInt>(out->size());
    for (;;) {
      const int rc = deflate(&raw_.zs, last ? Z_FINISH : Z_SYNC_FLUSH);
      if (rc == Z_STREAM_ERROR) return false;
      if (last ? rc == Z_STREAM_END : raw_.zs.avail_out > 0) break;
      const size_t used = out->size() - raw_.zs.avail_out;
      out->resize(out->size() * 2);
      raw_.zs.next_out = reinterpret_cast<Bytef*>(&(*out)[used]);
      raw_.zs.avail_out = static_cast<uInt>(out->size() - used);
    }
    out->resize(out->size() - raw_.zs.avail_out);
    return true;
  }

  // The same by libdeflate, which cannot be primed: the block stands alone.
  static bool Fast(libdeflate_compressor* c, const std::vector<uint8_t>& data, bool last, std::string* out) {
    return LibdeflateInto(c, data.data(), data.size(), out) > 0 && (last || MakeJoinable(out));
  }

 private:
  RawDeflate raw_;
};

}  // namespace

// What a worker keeps from member to member.
struct WorkerState {
  Gzip zip;
  BlockDeflater blocks;
  std::unique_ptr<libdeflate_compressor, LibdeflateFree> fast{libdeflate_alloc_compressor(kDeflateLevel)};
  std::unique_ptr<uint8_t[]> whole{new uint8_t[kWholeLimit]};  // not zero-filled: every byte is read into first
  std::string scratch;

  // libdeflate's raw deflate of `data` into `scratch`: its length, 0 if none.
  size_t Fast(const uint8_t* data, size_t length) { return fast ? LibdeflateInto(fast.get(), data, length, &scratch) : 0; }

  // Whether libdeflate's output of a sample is no larger than zlib's by more than the slack.
  static bool FastWins(size_t fastHead, size_t zlibHead) {
    return fastHead > 0 && fastHead * 1000 <= zlibHead * (1000 + kSampleSlackPerMille);
  }

  // For a long member, from its first block: libdeflate or zlib.
  bool FastSuits(const std::vector<uint8_t>& first) {
    const size_t head = std::min(first.size(), kSample);
    std::string zlibHead;
    return blocks.Deflate(first.data(), head, std::string(), true, &zlibHead) &&
           FastWins(Fast(first.data(), head), zlibHead.size());
  }

  // A member held whole: libdeflate's stream or zlib's, as the sample says.
  bool Compress(const uint8_t* data, size_t length, std::string* gz) {
    const size_t head = std::min(length, kSample);
    const bool all = head == length;
    zip.Start(gz);
    const size_t start = gz->size();
    if (!zip.Feed(data, head, all ? Z_FINISH : Z_BLOCK, gz)) return false;
    const size_t zlibHead = gz->size() - start - (all ? 8 : 0);
    if (!FastWins(Fast(data, head), zlibHead)) {
      return all || zip.Pieces(data + head, length - head, true, gz);
    }
    const size_t n = all ? scratch.size() : Fast(data, length);
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
    const auto* data = reinterpret_cast<const uint8_t*>(m.bytes.data());
    if (m.bytes.size() <= kWholeLimit) {
      slot->unpacked = m.bytes.size();
      return w.Compress(data, m.bytes.size(), &slot->gz) || cannot();
    }
    return CompressLong(index, slot, w, data, m.bytes.size(), nullptr);
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(m.hostPath.c_str(), "rb"), &std::fclose);
  if (!in) {
    slot->error = m.hostPath + ": cannot be read";
    return false;
  }
  // Whole blocks go to the compressor unbuffered by stdio.
  std::setvbuf(in.get(), nullptr, _IONBF, 0);
  // Read to the end, not to a size taken before: a file that changes
  // meanwhile is packed as read. What fits is compressed whole.
  size_t held = 0;
  size_t n = 0;
  do {
    n = std::fread(w.whole.get() + held, 1, std::min(kBlock, kWholeLimit - held), in.get());
    if (std::ferror(in.get())) {
      slot->error = m.hostPath + ": read error";
      return false;
    }
    held += n;
  } while (n > 0 && held < kWholeLimit);
  if (n == 0) {
    slot->unpacked = held;
    return w.Compress(w.whole.get(), held, &slot->gz) || cannot();
  }
  return CompressLong(index, slot, w, w.whole.get(), held, in.get());
}

bool ParallelDeflate::CompressLong(size_t index, Slot* slot, WorkerState& w, const uint8_t* held, size_t heldLength,
                                   std::FILE* rest) {
  const auto fail = [&](std::deque<std::unique_ptr<Block>>& blocks, std::string error) {
    Abandon(blocks);
    slot->error = std::move(error);
    return false;
  };
  slot->gz.append(kGzipHeader, sizeof kGzipHeader);
  std::deque<std::unique_ptr<Block>> inFlight;
  std::string window;
  uint32_t crc = 0;
  uint64_t length = 0;
  bool end = false;
  bool fast = false;  // decided on the first block
  while (!end || !inFlight.empty()) {
    while (!end && inFlight.size() < kBlocksInFlight) {
      auto block = std::make_unique<Block>();
      const size_t from = static_cast<size_t>(std::min<uint64_t>(length, heldLength));
      size_t n = std::min(kBlock, heldLength - from);
      block->data.assign(held + from, held + from + n);
      if (n < kBlock && rest != nullptr) {
        block->data.resize(kBlock);
        n += std::fread(block->data.data() + n, 1, kBlock - n, rest);
        if (std::ferror(rest)) return fail(inFlight, members_[index]->hostPath + ": read error");
        block->data.resize(n);
      }
      block->last = end = n < kBlock;
      if (length == 0) fast = w.fast && w.FastSuits(block->data);
      crc = libdeflate_crc32(crc, block->data.data(), n);
      length += n;
      block->fast = fast;
      if (!fast) block->primer = window;
      window.append(block->data.begin() + static_cast<ptrdiff_t>(n - std::min(n, kWindow)), block->data.end());
      if (window.size() > kWindow) window.erase(0, window.size() - kWindow);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        blocks_.push_back(block.get());
      }
      changed_.notify_all();
      inFlight.push_back(std::move(block));
    }
    // The oldest block next, helping with any block meanwhile.
    {
      std::unique_lock<std::mutex> lock(mutex_);
      while (!inFlight.front()->done) {
        if (!RunBlock(lock, w)) changed_.wait(lock);
      }
    }
    if (!inFlight.front()->ok) return fail(inFlight, "cannot compress");
    slot->gz += inFlight.front()->deflated;
    inFlight.pop_front();
    if (slot->gz.size() >= kPassOn && !PassOn(index, &slot->gz)) return fail(inFlight, "cannot compress");
  }
  AppendTrailer(crc, length, &slot->gz);
  slot->unpacked = length;
  return true;
}

bool ParallelDeflate::RunBlock(std::unique_lock<std::mutex>& lock, WorkerState& w) {
  if (blocks_.empty()) return false;
  Block* block = blocks_.front();
  blocks_.pop_front();
  lock.unlock();
  // A block libdeflate's output could not be joined from goes through zlib
  // (unprimed, as libdeflate's blocks are).
  const bool ok =
      (block->fast && w.fast && BlockDeflater::Fast(w.fast.get(), block->data, block->last, &block->deflated)) ||
      w.blocks.Deflate(block->data.data(), block->data.size(), block->primer, block->last, &block->deflated);
  lock.lock();
  block->ok = ok;
  block->done = true;
  changed_.notify_all();
  return true;
}

void ParallelDeflate::Abandon(std::deque<std::unique_ptr<Block>>& blocks) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (auto& block : blocks) {
    auto queued = std::find(blocks_.begin(), blocks_.end(), block.get());
    if (queued != blocks_.end()) {
      blocks_.erase(queued);
      block->done = true;
    }
  }
  changed_.wait(lock, [&] {
    return std::all_of(blocks.begin(), blocks.end(), [](const std::unique_ptr<Block>& b) { return b->done; });
  });
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
      // Blocks of a long member come first. The member the writer waits for
      // is always claimable, whatever is held. With every member claimed a
      // worker stays to help with blocks till all are written.
      changed_.wait(lock, [this] {
        return stop_ || !blocks_.empty() || written_ == members_.size() ||
               (claimed_ < members_.size() &&
                (claimed_ == written_ || (claimed_ < written_ + kAhead && held_ < kHeldBudget)));
      });
      if (stop_ || written_ == members_.size()) return;
      if (RunBlock(lock, *state)) continue;
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
