#include "tools/unitctl/regedit_text.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "common/platform/errors.h"
#include "common/platform/text.h"

namespace hu {
namespace {

constexpr const char* kRoot = "HKEY_LOCAL_MACHINE";
constexpr size_t kHexPerLine = 25;

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// The quoted form stores UTF-16 with one terminating zero; anything else
// (no terminator, embedded zeros, line breaks, odd sizes) goes out as hex.
bool PlainString(const RegValue& v, std::string* text) {
  const auto& d = v.data;
  if (v.type != REG_SZ || d.size() < 2 || d.size() % 2 != 0) return false;
  if (d[d.size() - 1] != 0 || d[d.size() - 2] != 0) return false;
  std::u16string units = Utf16LeBytes(d.data(), d.size());
  if (units.size() * 2 + 2 != d.size()) return false;  // a zero unit inside
  *text = Utf16ToUtf8(units);
  if (Utf8ToUtf16(*text) != units) return false;       // lone surrogates
  return text->find_first_of("\r\n") == std::string::npos;
}

std::string HexBytes(const std::vector<uint8_t>& data, size_t prefix) {
  std::string out;
  char buf[4];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", data[i]);
    out += buf;
    if (i + 1 < data.size()) {
      out += ',';
      if ((i + 1 + prefix / 3) % kHexPerLine == 0) out += "\\\n  ";
    }
  }
  return out;
}

std::string ValueLine(const std::string& name, const RegValue& v) {
  std::string line = name.empty() ? "@" : Quote(name);
  line += '=';
  std::string text;
  uint32_t dword = 0;
  if (PlainString(v, &text)) return line + Quote(text);
  if (v.AsDword(&dword)) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", dword);
    return line + buf;
  }
  if (v.type == REG_BINARY) {
    line += "hex:";
  } else {
    char buf[24];
    std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
    line += buf;
  }
  return line + HexBytes(v.data, line.size());
}

struct Op {
  enum Kind { kCreateKey, kDeleteKey, kSetValue, kDeleteValue } kind;
  std::string key;
  std::string name;
  RegValue value;
};

std::string TrimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.pop_back();
  return s;
}

size_t SkipSpaces(const std::string& s, size_t i) {
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  return i;
}

// Reads a quoted string at s[i] == '"'; *i ends after the closing quote.
bool ReadQuoted(const std::string& s, size_t* i, std::string* out) {
  out->clear();
  size_t k = *i + 1;
  while (k < s.size()) {
    char c = s[k];
    if (c == '"') {
      *i = k + 1;
      return true;
    }
    if (c == '\\') {
      if (k + 1 >= s.size() || (s[k + 1] != '\\' && s[k + 1] != '"')) return false;
      c = s[++k];
    }
    *out += c;
    ++k;
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHexNumber(const std::string& s, uint32_t* out) {
  if (s.empty() || s.size() > 8) return false;
  uint32_t v = 0;
  for (char c : s) {
    int d = HexDigit(c);
    if (d < 0) return false;
    v = (v << 4) | static_cast<uint32_t>(d);
  }
  *out = v;
  return true;
}

bool ParseHexBytes(const std::string& s, std::vector<uint8_t>* out) {
  out->clear();
  size_t i = SkipSpaces(s, 0);
  if (i == s.size()) return true;
  for (;;) {
    i = SkipSpaces(s, i);
    int v = 0, digits = 0;
    while (i < s.size() && HexDigit(s[i]) >= 0 && digits < 2) {
      v = v * 16 + HexDigit(s[i++]);
      ++digits;
    }
    if (digits == 0) return false;
    out->push_back(static_cast<uint8_t>(v));
    i = SkipSpaces(s, i);
    if (i == s.size()) return true;
    if (s[i++] != ',') return false;
  }
}

// The data after '=': -, "text", dword:, hex:, hex(N):.
bool ParseData(const std::string& s, Op* op, std::string* why) {
  if (s == "-") {
    op->kind = Op::kDeleteValue;
    return true;
  }
  op->kind = Op::kSetValue;
  if (!s.empty() && s[0] == '"') {
    size_t i = 0;
    std::string text;
    if (!ReadQuoted(s, &i, &text) || SkipSpaces(s, i) != s.size()) {
      *why = "bad string value";
      return false;
    }
    op->value = RegValue::String(text);
    return true;
  }
  std::string lower = AsciiLower(s);
  if (lower.compare(0, 6, "dword:") == 0) {
    uint32_t v = 0;
    if (!ParseHexNumber(TrimRight(s.substr(6)), &v)) {
      *why = "bad dword value";
      return false;
    }
    op->value = RegValue::Dword(v);
    return true;
  }
  if (lower.compare(0, 3, "hex") == 0) {
    size_t colon = s.find(':');
    if (colon == std::string::npos) {
      *why = "bad hex value";
      return false;
    }
    std::string kind = lower.substr(3, colon - 3);
    uint32_t type = REG_BINARY;
    if (!kind.empty()) {
      if (kind.size() < 3 || kind.front() != '(' || kind.back() != ')' ||
          !ParseHexNumber(kind.substr(1, kind.size() - 2), &type)) {
        *why = "bad hex type";
        return false;
      }
    }
    op->value.type = type;
    if (!ParseHexBytes(s.substr(colon + 1), &op->value.data)) {
      *why = "bad hex bytes";
      return false;
    }
    return true;
  }
  *why = "unknown value type";
  return false;
}

// "HKEY_LOCAL_MACHINE\a\b" -> "a\b"; false for other hives.
bool KeyUnderRoot(const std::string& full, std::string* key) {
  std::string root = kRoot;
  if (full.size() < root.size() || !EqualsNoCase(full.substr(0, root.size()), root)) return false;
  if (full.size() == root.size()) {
    key->clear();
    return true;
  }
  if (full[root.size()] != '\\') return false;
  *key = full.substr(root.size() + 1);
  while (!key->empty() && key->back() == '\\') key->pop_back();
  return true;
}

}  // namespace

std::string ExportRegedit(Registry& registry) {
  std::string out = "REGEDIT4\n\n";
  std::vector<std::string> keys = registry.AllKeys();
  // Values of HKEY_LOCAL_MACHINE itself, when any, come first.
  if (auto root = registry.OpenKey(""); root && !root->ValueNames().empty()) keys.insert(keys.begin(), "");
  for (const std::string& path : keys) {
    auto key = registry.OpenKey(path);
    if (!key) continue;  // deleted meanwhile by another process
    out += "[" + std::string(kRoot) + (path.empty() ? "" : "\\" + path) + "]\n";
    for (const std::string& name : key->ValueNames()) {
      RegValue v;
      if (key->QueryValue(name, &v) == ERROR_SUCCESS) out += ValueLine(name, v) + "\n";
    }
    out += "\n";
  }
  return out;
}

bool ImportRegedit(Registry& registry, const std::string& text, std::string* error) {
  auto fail = [&](size_t line, const std::string& why) {
    if (error) *error = "line " + std::to_string(line) + ": " + why;
    return false;
  };
  // Logical lines, with the number of their first physical line.
  std::vector<std::pair<size_t, std::string>> lines;
  {
    size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    size_t number = 0;
    bool continued = false;
    while (pos <= text.size()) {
      size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      std::string raw = TrimRight(text.substr(pos, end - pos));
      ++number;
      pos = end + 1;
      if (continued) {
        lines.back().second += raw.substr(SkipSpaces(raw, 0));
      } else {
        lines.emplace_back(number, raw);
      }
      std::string& cur = lines.back().second;
      continued = !cur.empty() && cur.back() == '\\' && cur.front() != '[';
      if (continued) cur.pop_back();
      if (end == text.size()) break;
    }
  }

  std::vector<Op> ops;
  bool sawHeader = false;
  bool haveKey = false;
  std::string key;
  for (const auto& [number, raw] : lines) {
    size_t start = SkipSpaces(raw, 0);
    std::string line = raw.substr(start);
    if (line.empty() || line[0] == ';') continue;
    if (!sawHeader) {
      if (line != "REGEDIT4") return fail(number, "not a REGEDIT4 file");
      sawHeader = true;
      continue;
    }
    if (line[0] == '[') {
      if (line.back() != ']') return fail(number, "unterminated key");
      std::string inner = line.substr(1, line.size() - 2);
      bool remove = !inner.empty() && inner[0] == '-';
      if (remove) inner.erase(0, 1);
      if (!KeyUnderRoot(inner, &key)) return fail(number, "key outside " + std::string(kRoot));
      if (remove) {
        if (key.empty()) return fail(number, "cannot delete " + std::string(kRoot));
        ops.push_back({Op::kDeleteKey, key, "", {}});
        haveKey = false;
      } else {
        ops.push_back({Op::kCreateKey, key, "", {}});
        haveKey = true;
      }
      continue;
    }
    if (!haveKey) return fail(number, "value outside a key");
    Op op{Op::kSetValue, key, "", {}};
    size_t i = 0;
    if (line[0] == '@') {
      i = 1;
    } else if (line[0] == '"') {
      if (!ReadQuoted(line, &i, &op.name)) return fail(number, "bad value name");
    } else {
      return fail(number, "expected a value or a key");
    }
    i = SkipSpaces(line, i);
    if (i >= line.size() || line[i] != '=') return fail(number, "expected '='");
    std::string why;
    if (!ParseData(line.substr(SkipSpaces(line, i + 1)), &op, &why)) return fail(number, why);
    ops.push_back(std::move(op));
  }
  if (!sawHeader) return fail(1, "not a REGEDIT4 file");

  std::unique_ptr<RegKey> open;
  std::string openPath;
  for (const Op& op : ops) {
    switch (op.kind) {
      case Op::kCreateKey:
        open = registry.CreateKey(op.key);
        openPath = op.key;
        if (!open) {
          if (error) *error = "cannot create key " + op.key + " (error " + std::to_string(GetLastError()) + ")";
          return false;
        }
        break;
      case Op::kDeleteKey: {
        open.reset();
        uint32_t rc = registry.DeleteKey(op.key);
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
          if (error) *error = "cannot delete key " + op.key + " (error " + std::to_string(rc) + ")";
          return false;
        }
        break;
      }
      case Op::kSetValue:
      case Op::kDeleteValue: {
        uint32_t rc = op.kind == Op::kSetValue ? open->SetValue(op.name, op.value) : open->DeleteValue(op.name);
        if (rc != ERROR_SUCCESS && !(op.kind == Op::kDeleteValue && rc == ERROR_FILE_NOT_FOUND)) {
          if (error) {
            *error = "cannot write " + openPath + "\\" + op.name + " (error " + std::to_string(rc) + ")";
          }
          return false;
        }
        break;
      }
    }
  }
  return true;
}

}  // namespace hu
