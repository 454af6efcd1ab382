#pragma once
#include <string>

namespace hu::kitpack {

// A file written beside its target under a temporary name and renamed over
// the target only once complete and flushed to disk. Until Commit the target
// is untouched; a failed or interrupted run leaves no fragment: the
// destructor removes the temporary file, and so does SIGINT, SIGTERM or
// SIGHUP while one is open.
class SafeOutput {
 public:
  explicit SafeOutput(std::string target);
  ~SafeOutput();
  SafeOutput(const SafeOutput&) = delete;
  SafeOutput& operator=(const SafeOutput&) = delete;

  // Creates the temporary file; false with *error naming the target.
  bool Create(std::string* error);
  // Where to write until Commit.
  const std::string& TempPath() const { return temp_; }
  // Flushes the temporary file to disk and renames it over the target.
  bool Commit(std::string* error);

 private:
  std::string target_;
  std::string temp_;
  int slot_ = -1;
  bool committed_ = false;
};

}  // namespace hu::kitpack
