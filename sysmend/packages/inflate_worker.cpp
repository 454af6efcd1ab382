#include "inflate_worker.h"

#include <system_error>
#include <utility>

namespace hu {

InflateWorker::~InflateWorker() {
  if (!started_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void InflateWorker::Add(const uint8_t* in, size_t length, uint64_t limit) {
  std::lock_guard<std::mutex> lock(mutex_);
  Job job;
  job.in = in;
  job.length = length;
  job.limit = limit;
  jobs_.push_back(std::move(job));
}

void InflateWorker::Go() {
  if (!started_ && !noThread_) {
    try {
      thread_ = std::thread([this] { Loop(); });
      started_ = true;
    } catch (const std::system_error&) {
      noThread_ = true;
    }
  }
  if (noThread_) {
    for (size_t i = begun_; i < jobs_.size(); ++i) {
      jobs_[i].result = CMamaZip::InflateAhead(jobs_[i].in, jobs_[i].length, jobs_[i].limit);
      jobs_[i].done = true;
    }
    begun_ = jobs_.size();
    return;
  }
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wake = workerIdle_ && begun_ < jobs_.size();
  }
  if (wake) changed_.notify_all();
}

InflatedAhead InflateWorker::Take() {
  if (Queued() == 0) return InflatedAhead();
  Go();  // jobs added without it start now
  std::unique_lock<std::mutex> lock(mutex_);
  if (!jobs_.front().done) {
    takerWaits_ = true;
    changed_.wait(lock, [this] { return jobs_.front().done; });
    takerWaits_ = false;
  }
  InflatedAhead result = std::move(jobs_.front().result);
  jobs_.pop_front();
  --begun_;
  return result;
}

size_t InflateWorker::Queued() {
  std::lock_guard<std::mutex> lock(mutex_);
  return jobs_.size();
}

void InflateWorker::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (!stop_ && begun_ == jobs_.size()) {
      workerIdle_ = true;
      changed_.wait(lock, [this] { return stop_ || begun_ < jobs_.size(); });
      workerIdle_ = false;
    }
    if (stop_) return;
    // References into a deque stay valid while others are added or taken.
    Job& job = jobs_[begun_++];
    lock.unlock();
    InflatedAhead r = CMamaZip::InflateAhead(job.in, job.length, job.limit);
    lock.lock();
    job.result = std::move(r);
    job.done = true;
    if (takerWaits_) changed_.notify_all();
  }
}

}  // namespace hu
