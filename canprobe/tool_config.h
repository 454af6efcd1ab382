#pragma once
#include <cstddef>
#include <map>
#include <optional>
#include <string>

#include "common/platform/files.h"
#include "common/platform/text.h"

namespace hu {

// A key/value text file of the CAN tool: one "key=value" line each, 8-bit
// texts in the system code page (tool.cfg, the vehicle tables, the vehicle
// descriptions). Keys and values are kept as the file's own 8-bit bytes;
// callers convert with the code page where they show them.
class CToolConfig {
 public:
  // The 8-bit path buffer of the device's store; a longer path is left empty.
  static constexpr size_t kPathBufferSize = 50;
  // Characters of a line before its line feed.
  static constexpr size_t kMaxLine = 127;

  // `path` is the device path (UTF-8). `builtInDefaults` gives reads of tool.cfg
  // their fallback table; the vehicle tables have none.
  CToolConfig(Files& files, CodePage& codePage, const std::string& path, bool builtInDefaults = true);

  // "%s\tool.cfg" for the program folder `moduleDir` (no trailing backslash).
  static std::string ToolCfgPath(const std::string& moduleDir);

  // Replaces the entries by the file's lines; true when the file could be opened.
  bool Load();
  // Writes every entry as "%s=%s\n" in key order, replacing the file. False
  // when the file cannot be created or written, or when an entry could not be
  // written in the format (a line over kMaxLine characters, a line feed in
  // it): such an entry is left out and traced.
  bool Save();

  // The stored value, else the built-in default, else none.
  std::optional<std::string> Get(const std::string& key) const;
  // False for an absent or empty value and for "0"; true otherwise.
  bool GetBool(const std::string& key) const;
  // Inserts or replaces; no value erases the entry.
  void Set(const std::string& key, const std::optional<std::string>& value);
  void SetBool(const std::string& key, bool value) { Set(key, std::string(value ? "1" : "0")); }

  // The stored entries in ascending byte order of their keys (defaults excluded).
  const std::map<std::string, std::string>& Entries() const { return m_entries; }
  // The device path used; empty when its 8-bit form did not fit.
  const std::string& Path() const { return m_path; }

  // The built-in default of `key`, if the table has one.
  static const char* BuiltInDefault(const std::string& key);

 private:
  Files& files_;
  std::string m_path;
  bool m_bDefaults;
  std::map<std::string, std::string> m_entries;
};

}  // namespace hu
