#include "tests/support/scratch.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace hu::scratch {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::map<std::string, std::string> TreeOf(const std::string& dir) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> files;
  std::error_code ec;
  if (!fs::exists(dir, ec)) return files;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (e.is_regular_file()) files[e.path().lexically_relative(dir).string()] = ReadFile(e.path().string());
  }
  return files;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

ScratchDir::ScratchDir(const std::string& prefix, const std::string& base) {
  std::string pattern = base + "/" + prefix + "_XXXXXX";
  if (::mkdtemp(&pattern[0]) != nullptr) path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

}  // namespace hu::scratch
