#include "sysmend/packages/ini_text.h"

#include "common/platform/text.h"

namespace hu {
namespace {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\0')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\0')) --e;
  return s.substr(b, e - b);
}

// Calls `entry` for each key=value line of `section` until it returns false.
template <typename F>
void ForEachEntry(const std::string& text, const std::string& section, F entry) {
  bool inSection = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      inSection = close != std::string::npos && EqualsNoCase(Trim(line.substr(1, close - 1)), section);
      continue;
    }
    size_t eq = line.find('=');
    if (!inSection || eq == std::string::npos) continue;
    if (!entry(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)))) return;
  }
}

}  // namespace

bool IniValue(const std::string& text, const std::string& section, const std::string& key, std::string* out) {
  bool found = false;
  ForEachEntry(text, section, [&](const std::string& k, const std::string& v) {
    if (!EqualsNoCase(k, key)) return true;
    *out = v;
    found = true;
    return false;
  });
  return found;
}

std::vector<std::pair<std::string, std::string>> IniEntries(const std::string& text, const std::string& section) {
  std::vector<std::pair<std::string, std::string>> entries;
  ForEachEntry(text, section, [&](const std::string& k, const std::string& v) {
    entries.emplace_back(k, v);
    return true;
  });
  return entries;
}

}  // namespace hu
