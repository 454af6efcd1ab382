#pragma once
// Pack extraction spends about as long making files as inflating members, so
// the members after the current one are inflated on a second core while it
// is written. Jobs are queued in batches and taken in order, so that the two
// threads seldom wait for each other; the worker touches no file.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

#include "sysmend/packages/mama_zip.h"

namespace hu {

class InflateWorker {
 public:
  InflateWorker() = default;
  // Waits for the job in hand; the queued ones are dropped.
  ~InflateWorker();
  InflateWorker(const InflateWorker&) = delete;
  InflateWorker& operator=(const InflateWorker&) = delete;

  // Queues CMamaZip::InflateAhead(in, length, limit); `in` must stay valid
  // until the job is taken.
  void Add(const uint8_t* in, size_t length, uint64_t limit);
  // Lets the worker start on what was added (one wake for a batch). Without
  // a thread (none could be started) the jobs run here.
  void Go();
  // The result of the oldest job not taken; waits for it.
  InflatedAhead Take();
  // Jobs not taken yet.
  size_t Queued();

 private:
  struct Job {
    const uint8_t* in = nullptr;
    size_t length = 0;
    uint64_t limit = 0;
    bool done = false;
    InflatedAhead result;
  };
  void Loop();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread thread_;
  bool started_ = false;
  bool noThread_ = false;
  std::deque<Job> jobs_;
  size_t begun_ = 0;  // jobs at the front the worker has begun
  bool workerIdle_ = false;
  bool takerWaits_ = false;
  bool stop_ = false;
};

}  // namespace hu
