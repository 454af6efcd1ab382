#include "tools/kitpack/parallel_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "tools/kitpack/kit_writer.h"

namespace hu::kitpack {

namespace {

// A worker claims a member only this far ahead of the writer, and not while
// finished streams waiting for the writer hold more than the budget.
constexpr size_t kAhead = 8;
constexpr uint64_t kHeldBudget = 128ull << 20;
constexpr size_t kReadBlock = 1 << 20;

bool ReadWhole(const std::string& path, std::string* bytes, std::string* error) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!in) {
    *error = path + ": cannot be read";
    return false;
  }
  std::error_code ec;
  const uint64_t expected = std::filesystem::file_size(path, ec);
  if (!ec) bytes->reserve(static_cast<size_t>(expected));
  // Read to the end, not to the size taken: a file that changes meanwhile is
  // packed as read.
  size_t n = 0;
  do {
    const size_t at = bytes->size();
    bytes->resize(at + kReadBlock);
    n = std::fread(&(*bytes)[at], 1, kReadBlock, in.get());
    bytes->resize(at + n);
  } while (n == kReadBlock);
  if (std::ferror(in.get())) {
    *error = path + ": read error";
    return false;
  }
  return true;
}

}  // namespace

bool GzipWhole(const uint8_t* data, size_t length, std::string* gz) {
  z_stream zs{};
  if (deflateInit2(&zs, kDeflateLevel, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  gz->resize(deflateBound(&zs, static_cast<uLong>(length)));
  // zlib counts in 32 bits: long members go in windows of 1 GiB each way.
  constexpr size_t kWindow = 1u << 30;
  size_t inPos = 0, outPos = 0;
  int rc = Z_OK;
  while (rc == Z_OK) {
    const size_t inPiece = std::min(length - inPos, kWindow), outPiece = std::min(gz->size() - outPos, kWindow);
    zs.next_in = const_cast<Bytef*>(data + inPos);
    zs.avail_in = static_cast<uInt>(inPiece);
    zs.next_out = reinterpret_cast<Bytef*>(&(*gz)[outPos]);
    zs.avail_out = static_cast<uInt>(outPiece);
    rc = deflate(&zs, inPos + inPiece == length ? Z_FINISH : Z_NO_FLUSH);
    inPos += inPiece - zs.avail_in;
    outPos += outPiece - zs.avail_out;
  }
  deflateEnd(&zs);
  gz->resize(outPos);
  return rc == Z_STREAM_END;
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
  std::string read;
  const std::string* input = &m.bytes;
  if (!m.hostPath.empty()) {
    if (!ReadWhole(m.hostPath, &read, &slot->error)) return false;
    input = &read;
  }
  slot->unpacked = input->size();
  if (!GzipWhole(reinterpret_cast<const uint8_t*>(input->data()), input->size(), &slot->gz)) {
    slot->error = "zlib cannot compress";
    return false;
  }
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
