#pragma once
// Pack members compressed on every core and written in their order.
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hu::kitpack {

struct MemberSource;
struct WorkerState;

// Level 6, as pigz -6, for both compressors a member may take (libdeflate's
// or zlib's; docs/performance.md has the figures behind the choice).
constexpr int kDeflateLevel = 6;

// Each member is an independent gzip stream, so workers compress members
// whole, ahead of the writer, while the writer takes them in the order
// given. Read-ahead stops at a few members and a byte budget, so a tree of
// large files does not sit in memory at once: a worker holds up to 8 MiB of
// a member's input, and a long member's stream goes to the writer in pieces
// once it is that member's turn. A long member is compressed in blocks that
// any worker with nothing else to do takes up.
class ParallelDeflate {
 public:
  // `members` must outlive this object; `threads` 0 means one per core.
  explicit ParallelDeflate(std::vector<const MemberSource*> members, unsigned threads = 0);
  ~ParallelDeflate();
  ParallelDeflate(const ParallelDeflate&) = delete;
  ParallelDeflate& operator=(const ParallelDeflate&) = delete;

  // Writes the next member's stream to `out`: its sizes in `stored` and
  // `unpacked`, or false with the reason in `error`.
  bool WriteNext(std::FILE* out, uint64_t* stored, uint64_t* unpacked, std::string* error);

 private:
  struct Slot {
    bool ready = false;
    std::string gz;
    uint64_t unpacked = 0;
    std::string error;
    std::string passed;  // the start of a long member's stream, handed over before it is done
  };
  struct Block;

  void Work();
  bool Compress(size_t index, Slot* slot, WorkerState& w);
  // Member `index` in blocks: the `held` bytes first, then the rest of `rest`
  // (none when null).
  bool CompressLong(size_t index, Slot* slot, WorkerState& w, const uint8_t* held, size_t heldLength,
                    std::FILE* rest);
  // Compresses the oldest block waiting, if any; called with the lock held.
  bool RunBlock(std::unique_lock<std::mutex>& lock, WorkerState& w);
  // Waits till none of `blocks` is queued or being compressed.
  void Abandon(std::deque<std::unique_ptr<Block>>& blocks);
  // Hands the first bytes of member `index`'s stream to the writer once it
  // writes that member, waiting till then; false when stopped.
  bool PassOn(size_t index, std::string* gz);

  std::vector<const MemberSource*> members_;
  std::vector<Slot> slots_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t claimed_ = 0;    // members handed to a worker
  size_t written_ = 0;    // members written out
  uint64_t held_ = 0;     // bytes of finished streams not yet written
  bool stop_ = false;
  std::deque<Block*> blocks_;  // of long members, for any worker to compress
  std::vector<std::thread> workers_;
};

}  // namespace hu::kitpack
