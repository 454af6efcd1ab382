#pragma once
#include <string>

namespace hu {

// The debug output of the process. Lines are at most 1023 characters.
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void Write(const std::string& text) = 0;
};

// Process-wide, as the device's debug output is: the program installs its sink
// at start (tests install a capturing one). Null discards.
void SetTraceSink(TraceSink* sink);
TraceSink* GetTraceSink();

// printf-style; the formatted text is cut at 1023 characters.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace hu
