#include "tools/unitctl/unit_flash.h"
#include "tools/unitctl/sha256.h"

#include <openssl/evp.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <vector>

namespace hu {
namespace {

const char* const kKinds[] = {"boot", "conf", "logo1", "logo2", "logo3", "os", "apparea"};

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The request of the last successful write of `kind` in the call log.
std::string SourceOf(const std::vector<std::string>& calls, const std::string& kind) {
  const std::string tag = "kind=" + kind + " path=";
  for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
    size_t at = it->find(tag);
    size_t result = it->rfind("-> ");
    if (at == std::string::npos || result == std::string::npos || it->compare(result + 3, 1, "1") != 0) continue;
    return it->substr(at + tag.size(), result - at - tag.size() - 1);
  }
  return "-";
}

}  // namespace

std::string FileSha256(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::string();
  Sha256 sha;
  std::vector<char> buffer(1 << 16);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    if (in.gcount() > 0) sha.Update(buffer.data(), static_cast<size_t>(in.gcount()));
  }
  return sha.Hex();
}

bool ListFlash(const std::string& unitDir, std::ostream& out, std::string* error) {
  std::string flash = unitDir + "/flash";
  struct stat st {};
  if (::stat(flash.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    if (error) *error = "no flash folder: " + flash;
    return false;
  }
  std::vector<std::string> calls = ReadLines(flash + "/calls.log");
  int images = 0;
  for (const char* kind : kKinds) {
    std::string path = flash + "/" + kind + ".img";
    if (::stat(path.c_str(), &st) != 0) continue;
    ++images;
    out << kind << " " << st.st_size << " " << FileSha256(path) << " " << SourceOf(calls, kind) << "\n";
  }
  // What the simulated MCU and CAN box received over the serial line.
  for (const char* name : {"mcu.bin", "mcu.s19", "mcu.key", "canbox.bin"}) {
    std::string path = flash + "/" + name;
    if (::stat(path.c_str(), &st) != 0) continue;
    ++images;
    out << name << " " << st.st_size << " " << FileSha256(path) << " serial\n";
  }
  if (images == 0) out << "no images written\n";
  out << "calls:\n";
  for (const std::string& line : calls) out << "  " << line << "\n";
  return true;
}

}  // namespace hu
