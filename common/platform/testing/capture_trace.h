#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "common/platform/trace.h"

namespace hu {

// Collects trace lines for assertions; installs itself as the process sink
// for its lifetime and restores the previous one after.
class CaptureTrace : public TraceSink {
 public:
  CaptureTrace();
  ~CaptureTrace() override;
  CaptureTrace(const CaptureTrace&) = delete;
  CaptureTrace& operator=(const CaptureTrace&) = delete;

  void Write(const std::string& text) override;
  std::vector<std::string> Lines() const;
  // True when some line contains `part`.
  bool Contains(const std::string& part) const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  TraceSink* previous_;
};

}  // namespace hu
