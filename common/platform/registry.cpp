#include "registry.h"

#include "errors.h"
#include "text.h"

namespace hu {

RegValue RegValue::Dword(uint32_t v) {
  RegValue r;
  r.type = REG_DWORD;
  r.data = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
  return r;
}

RegValue RegValue::String(const std::string& utf8) {
  RegValue r;
  r.type = REG_SZ;
  for (char16_t u : Utf8ToUtf16(utf8)) {
    r.data.push_back(static_cast<uint8_t>(u & 0xFF));
    r.data.push_back(static_cast<uint8_t>(u >> 8));
  }
  r.data.push_back(0);
  r.data.push_back(0);
  return r;
}

bool RegValue::AsDword(uint32_t* out) const {
  if (type != REG_DWORD || data.size() != 4) return false;
  *out = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
  return true;
}

bool RegValue::AsString(std::string* utf8) const {
  if (type != REG_SZ) return false;
  *utf8 = Utf16LeBytesToUtf8(data.data(), data.size());
  return true;
}

uint32_t RegKey::QueryDword(const std::string& name, uint32_t* out) {
  RegValue v;
  uint32_t rc = QueryValue(name, &v);
  if (rc != ERROR_SUCCESS) return rc;
  return v.AsDword(out) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

uint32_t RegKey::QueryString(const std::string& name, std::string* out) {
  RegValue v;
  uint32_t rc = QueryValue(name, &v);
  if (rc != ERROR_SUCCESS) return rc;
  return v.AsString(out) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

}  // namespace hu
