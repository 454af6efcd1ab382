#include "common/platform/host/file_trace_sink.h"

#include <fcntl.h>
#include <unistd.h>

namespace hu {

FileTraceSink::FileTraceSink(const std::string& logPath, bool toStderr)
    : fd_(::open(logPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644)), toStderr_(toStderr) {}

FileTraceSink::~FileTraceSink() {
  if (fd_ >= 0) ::close(fd_);
}

void FileTraceSink::Write(const std::string& text) {
  if (text.empty()) return;
  // Trace texts are at most 1023 bytes: one write() of an O_APPEND file is atomic.
  if (fd_ >= 0 && ::write(fd_, text.data(), text.size()) < 0) {
    // Nowhere left to report to; the trace is diagnostics only.
  }
  if (toStderr_ && ::write(STDERR_FILENO, text.data(), text.size()) < 0) {
  }
}

}  // namespace hu
