#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/platform/host/host_files.h"

namespace hu {

// ASCII case-insensitive ordering, so maps keep the first spelling but find
// "com4" as "COM4".
struct NoCaseLess {
  bool operator()(const std::string& a, const std::string& b) const;
};
using IniMap = std::map<std::string, std::string, NoCaseLess>;

// An INI text kept line by line, so that setting one key rewrites only that
// line and leaves comments and the rest of the file as the person wrote it.
class IniFile {
 public:
  bool Load(const std::string& path, std::string* error);
  void Parse(const std::string& text);
  std::string Text() const;
  // Writes through a temporary file and a rename: readers never see half a file.
  bool Save(const std::string& path, std::string* error) const;

  bool Has(const std::string& section, const std::string& key) const;
  std::string Get(const std::string& section, const std::string& key,
                  const std::string& fallback = "") const;
  IniMap Section(const std::string& section) const;
  void Set(const std::string& section, const std::string& key, const std::string& value);

 private:
  struct Line {
    std::string text;
    std::string section;  // section the line belongs to ("" before the first header)
    std::string key;      // empty unless a key line
    std::string value;
    bool header = false;
  };
  std::vector<Line> lines_;
};

// One unit folder: UNIT/unit.ini and the places of its parts.
class Unit {
 public:
  // Null with a one-line *error when DIR or DIR/unit.ini cannot be read.
  static std::unique_ptr<Unit> Load(const std::string& dir, std::string* error);

  const std::string& dir() const { return dir_; }
  std::string iniPath() const { return dir_ + "/unit.ini"; }
  std::string fs() const { return dir_ + "/fs"; }
  std::string registryDb() const { return dir_ + "/registry.db"; }
  std::string runDir() const { return dir_ + "/run"; }
  std::string flashDir() const { return dir_ + "/flash"; }
  std::string traceLog() const { return dir_ + "/trace.log"; }

  uint32_t codePage() const;  // [unit] code_page, 936 by default
  // [unit] time_scale, overridden by HU_TIME_SCALE; values that are not a
  // positive number fall back to real time (1).
  double timeScale() const;
  uint32_t osMajor() const;  // [unit] os_major, 6 by default

  IniMap ports() const { return ini_.Section("ports"); }
  IniMap modules() const { return ini_.Section("modules"); }
  IniMap versions() const { return ini_.Section("versions"); }
  IniMap devices() const { return ini_.Section("devices"); }
  // [devices] NAME = yes|no (also 1/0, true/false); absent means no.
  bool deviceEnabled(const std::string& name) const;
  // [disk] free_bytes / total_bytes and VOLUME.free_bytes / VOLUME.total_bytes.
  DiskOverrides diskOverrides() const;

  // Raw access for the tools that edit unit.ini.
  std::string Get(const std::string& section, const std::string& key,
                  const std::string& fallback = "") const {
    return ini_.Get(section, key, fallback);
  }
  void Set(const std::string& section, const std::string& key, const std::string& value) {
    ini_.Set(section, key, value);
  }
  bool Save(std::string* error) const { return ini_.Save(iniPath(), error); }

 private:
  std::string dir_;
  IniFile ini_;
};

}  // namespace hu
