#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace hu {

enum : uint32_t { REG_NONE = 0, REG_SZ = 1, REG_BINARY = 3, REG_DWORD = 4 };

// Raw value as stored: strings are UTF-16LE bytes (with or without their
// terminating zero, as the writer chose), DWORDs 4 little-endian bytes.
struct RegValue {
  uint32_t type = REG_NONE;
  std::vector<uint8_t> data;

  static RegValue Dword(uint32_t v);
  // UTF-8 text stored as UTF-16LE with its terminating zero.
  static RegValue String(const std::string& utf8);
  bool AsDword(uint32_t* out) const;  // REG_DWORD of 4 bytes
  bool AsString(std::string* utf8) const;  // REG_SZ, up to the first zero unit
};

// An open key under HKEY_LOCAL_MACHINE.
class RegKey {
 public:
  virtual ~RegKey() = default;
  // ERROR_SUCCESS, ERROR_FILE_NOT_FOUND when the value is missing, or another error.
  virtual uint32_t QueryValue(const std::string& name, RegValue* out) = 0;
  virtual uint32_t SetValue(const std::string& name, const RegValue& value) = 0;
  virtual uint32_t DeleteValue(const std::string& name) = 0;
  virtual std::vector<std::string> ValueNames() = 0;
  virtual std::vector<std::string> SubKeyNames() = 0;

  uint32_t QueryDword(const std::string& name, uint32_t* out);
  uint32_t QueryString(const std::string& name, std::string* out);
};

// HKEY_LOCAL_MACHINE. Key paths use backslashes and compare ignoring ASCII
// case ("SOFTWARE\x" and "SoftWare\x" are one key); so do value names.
class Registry {
 public:
  virtual ~Registry() = default;
  // Null with the last error set (ERROR_FILE_NOT_FOUND) when the key is missing.
  virtual std::unique_ptr<RegKey> OpenKey(const std::string& path) = 0;
  // Opens or creates the key with its missing parents.
  virtual std::unique_ptr<RegKey> CreateKey(const std::string& path) = 0;
  virtual uint32_t DeleteKey(const std::string& path) = 0;  // with its subkeys
  // Every key path that exists, in a stable order (for export).
  virtual std::vector<std::string> AllKeys() = 0;
};

}  // namespace hu
