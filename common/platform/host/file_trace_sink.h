#pragma once
#include <string>

#include "common/platform/trace.h"

namespace hu {

// The unit's debug output: each trace text is appended to UNIT/trace.log in
// one write, so the lines of several processes never interleave inside a
// line; with `toStderr` (--trace) it is also copied to standard error.
class FileTraceSink : public TraceSink {
 public:
  FileTraceSink(const std::string& logPath, bool toStderr);
  ~FileTraceSink() override;
  FileTraceSink(const FileTraceSink&) = delete;
  FileTraceSink& operator=(const FileTraceSink&) = delete;

  bool ok() const { return fd_ >= 0; }
  void Write(const std::string& text) override;

 private:
  int fd_;
  bool toStderr_;
};

}  // namespace hu
