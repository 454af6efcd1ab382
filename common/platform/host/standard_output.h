#pragma once
#include <cstdio>

namespace hu {

// Flushes standard output and error before a fork or an immediate end. Not
// every stream: that would also wait for a thread blocked reading standard
// input (a script from a pipe), which holds that stream's lock.
inline void FlushStandardOutput() {
  std::fflush(stdout);
  std::fflush(stderr);
}

}  // namespace hu
