#include "trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace hu {
namespace {
std::atomic<TraceSink*> gSink{nullptr};
constexpr size_t kMaxLine = 1023;
}  // namespace

void SetTraceSink(TraceSink* sink) { gSink.store(sink); }
TraceSink* GetTraceSink() { return gSink.load(); }

void Trace(const char* format, ...) {
  TraceSink* sink = gSink.load();
  if (sink == nullptr) return;
  char buffer[kMaxLine + 1];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return;
  sink->Write(std::string(buffer, static_cast<size_t>(n) < kMaxLine ? static_cast<size_t>(n) : kMaxLine));
}

}  // namespace hu
