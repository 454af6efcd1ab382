#pragma once
// Scratch folders and whole files for the harnesses around the programs:
// the end-to-end tests, the campaigns and the benchmarks.
#include <map>
#include <string>

namespace hu::scratch {

// The whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// Every regular file below `dir` by its relative path, with its bytes; empty
// when `dir` does not exist.
std::map<std::string, std::string> TreeOf(const std::string& dir);
// Writes the whole file, making its folders first.
void WriteFile(const std::string& path, const std::string& bytes);

// A fresh folder BASE/PREFIX_XXXXXX, removed with everything in it at the end.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& prefix, const std::string& base = "/tmp");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  bool ok() const { return !path_.empty(); }

 private:
  std::string path_;
};

}  // namespace hu::scratch
