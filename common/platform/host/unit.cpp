#include "common/platform/host/unit.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/platform/text.h"

namespace hu {
namespace {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

bool ParseUnsigned(const std::string& text, uint64_t* out) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != 0) return false;
  *out = v;
  return true;
}

bool ParsePositive(const std::string& text, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != 0 || !(v > 0) || v > 1e6) return false;
  *out = v;
  return true;
}

}  // namespace

bool NoCaseLess::operator()(const std::string& a, const std::string& b) const {
  return AsciiLower(a) < AsciiLower(b);
}

void IniFile::Parse(const std::string& text) {
  lines_.clear();
  std::string section;
  std::istringstream in(text);
  std::string raw;
  while (std::getline(in, raw)) {
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    Line line;
    line.text = raw;
    std::string t = Trim(raw);
    if (!t.empty() && t.front() == '[' && t.back() == ']') {
      section = Trim(t.substr(1, t.size() - 2));
      line.header = true;
    } else if (!t.empty() && t[0] != '#' && t[0] != ';') {
      size_t eq = t.find('=');
      if (eq != std::string::npos && eq > 0) {
        line.key = Trim(t.substr(0, eq));
        line.value = Trim(t.substr(eq + 1));
      }
    }
    line.section = section;
    lines_.push_back(std::move(line));
  }
}

bool IniFile::Load(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  Parse(ss.str());
  return true;
}

std::string IniFile::Text() const {
  std::string out;
  for (const Line& l : lines_) out += l.text + "\n";
  return out;
}

bool IniFile::Save(const std::string& path, std::string* error) const {
  std::string tmp = path + ".tmp." + std::to_string(::getpid());
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) {
      if (error) *error = "cannot write " + tmp + ": " + std::strerror(errno);
      return false;
    }
    out << Text();
    out.flush();
    if (!out) {
      if (error) *error = "cannot write " + tmp;
      ::unlink(tmp.c_str());
      return false;
    }
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    if (error) *error = "cannot replace " + path + ": " + std::strerror(errno);
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

bool IniFile::Has(const std::string& section, const std::string& key) const {
  for (const Line& l : lines_) {
    if (!l.key.empty() && EqualsNoCase(l.section, section) && EqualsNoCase(l.key, key)) return true;
  }
  return false;
}

std::string IniFile::Get(const std::string& section, const std::string& key,
                         const std::string& fallback) const {
  // The last occurrence wins, as people append overrides at the end.
  const std::string* found = nullptr;
  for (const Line& l : lines_) {
    if (!l.key.empty() && EqualsNoCase(l.section, section) && EqualsNoCase(l.key, key)) found = &l.value;
  }
  return found ? *found : fallback;
}

IniMap IniFile::Section(const std::string& section) const {
  IniMap map;
  for (const Line& l : lines_) {
    if (!l.key.empty() && EqualsNoCase(l.section, section)) {
      auto it = map.find(l.key);
      if (it != map.end()) {
        it->second = l.value;
      } else {
        map.emplace(l.key, l.value);
      }
    }
  }
  return map;
}

void IniFile::Set(const std::string& section, const std::string& key, const std::string& value) {
  std::string text = key + " = " + value;
  // Replace the last occurrence (the one Get reads) in place.
  for (size_t i = lines_.size(); i-- > 0;) {
    Line& l = lines_[i];
    if (!l.key.empty() && EqualsNoCase(l.section, section) && EqualsNoCase(l.key, key)) {
      l.text = text;
      l.value = value;
      return;
    }
  }
  Line line;
  line.text = text;
  line.section = section;
  line.key = key;
  line.value = value;
  // After the last key line of the section, else right after its header.
  size_t insertAt = lines_.size();
  bool haveSection = false;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const Line& l = lines_[i];
    if (l.header && EqualsNoCase(l.section, section)) {
      haveSection = true;
      insertAt = i + 1;
    } else if (haveSection && EqualsNoCase(l.section, section) && !l.key.empty()) {
      insertAt = i + 1;
    }
  }
  if (!haveSection) {
    if (!lines_.empty() && !Trim(lines_.back().text).empty()) {
      Line blank;
      blank.section = lines_.back().section;
      lines_.push_back(blank);
    }
    Line header;
    header.text = "[" + section + "]";
    header.section = section;
    header.header = true;
    lines_.push_back(header);
    insertAt = lines_.size();
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), line);
}

std::unique_ptr<Unit> Unit::Load(const std::string& dir, std::string* error) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    if (error) *error = "no unit at " + dir + " (not a folder)";
    return nullptr;
  }
  auto unit = std::make_unique<Unit>();
  unit->dir_ = dir;
  while (unit->dir_.size() > 1 && unit->dir_.back() == '/') unit->dir_.pop_back();
  if (::access(unit->iniPath().c_str(), F_OK) != 0) {
    if (error) *error = "no unit at " + dir + " (missing " + unit->iniPath() + ")";
    return nullptr;
  }
  if (!unit->ini_.Load(unit->iniPath(), error)) return nullptr;
  return unit;
}

uint32_t Unit::codePage() const {
  uint64_t v = 0;
  if (ParseUnsigned(ini_.Get("unit", "code_page"), &v) && v > 0 && v <= 0xFFFF) return static_cast<uint32_t>(v);
  return 936;
}

double Unit::timeScale() const {
  double v = 1;
  const char* env = std::getenv("HU_TIME_SCALE");
  if (env && ParsePositive(Trim(env), &v)) return v;
  if (ParsePositive(ini_.Get("unit", "time_scale"), &v)) return v;
  return 1;
}

uint32_t Unit::osMajor() const {
  uint64_t v = 0;
  if (ParseUnsigned(ini_.Get("unit", "os_major"), &v) && v <= 0xFFFF) return static_cast<uint32_t>(v);
  return 6;
}

bool Unit::deviceEnabled(const std::string& name) const {
  std::string v = AsciiLower(ini_.Get("devices", name));
  return v == "yes" || v == "1" || v == "true" || v == "on";
}

DiskOverrides Unit::diskOverrides() const {
  DiskOverrides out;
  for (const auto& [key, value] : ini_.Section("disk")) {
    uint64_t n = 0;
    if (!ParseUnsigned(value, &n) || n > static_cast<uint64_t>(INT64_MAX)) continue;
    std::string k = AsciiLower(key);
    std::string volume;
    size_t dot = k.rfind('.');
    if (dot != std::string::npos) {
      volume = k.substr(0, dot);
      k = k.substr(dot + 1);
    }
    DiskOverride& o = volume.empty() ? out.all : out.volumes[volume];
    if (k == "free_bytes") {
      o.freeBytes = static_cast<int64_t>(n);
    } else if (k == "total_bytes") {
      o.totalBytes = static_cast<int64_t>(n);
    }
  }
  return out;
}

}  // namespace hu
