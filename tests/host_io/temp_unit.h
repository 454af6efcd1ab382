#pragma once
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace hu {
namespace testio {

inline void WriteHostFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

inline std::string ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline bool HostFileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// A throw-away unit folder: unit.ini with the given text, fs/, flash/, run/.
class TempUnit {
 public:
  explicit TempUnit(const std::string& ini = "[unit]\ncode_page = 936\n") {
    std::string tmpl = "/tmp/hu-io-XXXXXX";
    char* made = ::mkdtemp(tmpl.data());
    dir_ = made ? made : "";
    for (const char* sub : {"/fs", "/fs/Windows", "/fs/StorageCard", "/flash", "/run"}) ::mkdir((dir_ + sub).c_str(), 0755);
    WriteHostFile(dir_ + "/unit.ini", ini);
  }
  ~TempUnit() {
    if (!dir_.empty()) {
      ::nftw(dir_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
             FTW_DEPTH | FTW_PHYS);
    }
  }
  TempUnit(const TempUnit&) = delete;
  TempUnit& operator=(const TempUnit&) = delete;

  const std::string& dir() const { return dir_; }
  std::string operator/(const std::string& rel) const { return dir_ + "/" + rel; }

 private:
  std::string dir_;
};

}  // namespace testio
}  // namespace hu
