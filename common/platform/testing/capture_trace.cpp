#include "capture_trace.h"

namespace hu {

CaptureTrace::CaptureTrace() : previous_(GetTraceSink()) { SetTraceSink(this); }

CaptureTrace::~CaptureTrace() { SetTraceSink(previous_); }

void CaptureTrace::Write(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back(text);
}

std::vector<std::string> CaptureTrace::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

bool CaptureTrace::Contains(const std::string& part) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& l : lines_) {
    if (l.find(part) != std::string::npos) return true;
  }
  return false;
}

void CaptureTrace::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

}  // namespace hu
