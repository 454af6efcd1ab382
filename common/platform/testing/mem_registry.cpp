#include "mem_registry.h"

#include "common/platform/text.h"

namespace hu {
namespace {

// A key path without empty components (leading, trailing or doubled
// backslashes), so "A\B\" and "A\B" name one key.
std::string CleanPath(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
    out.push_back(c);
  }
  if (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

std::string NormalKey(const std::string& path) { return AsciiLower(CleanPath(path)); }

size_t Index(MemRegistry::Op op) { return static_cast<size_t>(op); }

template <typename Values>
auto FindValue(Values& values, const std::string& name) -> decltype(&values[0]) {
  for (auto& v : values) {
    if (EqualsNoCase(v.name, name)) return &v;
  }
  return nullptr;
}

}  // namespace

class MemRegistry::Handle : public RegKey {
 public:
  Handle(MemRegistry& owner, std::string normal) : owner_(owner), normal_(std::move(normal)) {}

  uint32_t QueryValue(const std::string& name, RegValue* out) override {
    std::lock_guard<std::mutex> lock(owner_.mutex_);
    uint32_t rc = ERROR_SUCCESS;
    Key* key = Begin(Op::kQueryValue, &rc);
    if (key == nullptr) return rc;
    const Value* v = FindValue(key->values, name);
    if (v == nullptr) return ERROR_FILE_NOT_FOUND;
    if (out != nullptr) *out = v->value;
    return ERROR_SUCCESS;
  }

  uint32_t SetValue(const std::string& name, const RegValue& value) override {
    std::lock_guard<std::mutex> lock(owner_.mutex_);
    uint32_t rc = ERROR_SUCCESS;
    Key* key = Begin(Op::kSetValue, &rc);
    if (key == nullptr) return rc;
    Assign(*key, name, value);
    return ERROR_SUCCESS;
  }

  uint32_t DeleteValue(const std::string& name) override {
    std::lock_guard<std::mutex> lock(owner_.mutex_);
    uint32_t rc = ERROR_SUCCESS;
    Key* key = Begin(Op::kDeleteValue, &rc);
    if (key == nullptr) return rc;
    for (auto it = key->values.begin(); it != key->values.end(); ++it) {
      if (EqualsNoCase(it->name, name)) {
        key->values.erase(it);
        return ERROR_SUCCESS;
      }
    }
    return ERROR_FILE_NOT_FOUND;
  }

  std::vector<std::string> ValueNames() override {
    std::lock_guard<std::mutex> lock(owner_.mutex_);
    std::vector<std::string> names;
    if (Key* key = owner_.FindLocked(normal_)) {
      for (const Value& v : key->values) names.push_back(v.name);
    }
    return names;
  }

  std::vector<std::string> SubKeyNames() override {
    std::lock_guard<std::mutex> lock(owner_.mutex_);
    std::vector<std::string> names;
    const std::string prefix = normal_.empty() ? std::string() : normal_ + "\\";
    for (auto it = owner_.keys_.lower_bound(prefix); it != owner_.keys_.end(); ++it) {
      const std::string& k = it->first;
      if (k.compare(0, prefix.size(), prefix) != 0) break;
      if (k.size() == prefix.size() || k.find('\\', prefix.size()) != std::string::npos) continue;
      const std::string& spelled = it->second.path;
      names.push_back(spelled.substr(spelled.size() - (k.size() - prefix.size())));
    }
    return names;
  }

 private:
  // With the lock held: counts the call, applies a pending failure and finds
  // the key (gone when another handle deleted it meanwhile).
  Key* Begin(Op op, uint32_t* rc) {
    if (!owner_.Count(op, rc)) return nullptr;
    Key* key = owner_.FindLocked(normal_);
    if (key == nullptr) *rc = ERROR_INVALID_HANDLE;
    return key;
  }

  MemRegistry& owner_;
  const std::string normal_;
};

MemRegistry::MemRegistry() { keys_[""] = Key{}; }

void MemRegistry::Assign(Key& key, const std::string& name, const RegValue& value) {
  if (Value* v = FindValue(key.values, name)) {
    v->value = value;
  } else {
    key.values.push_back(Value{name, value});
  }
}

MemRegistry::~MemRegistry() = default;

bool MemRegistry::Count(Op op, uint32_t* error) {
  ++calls_[Index(op)];
  int& left = failCount_[Index(op)];
  if (left <= 0) return true;
  --left;
  *error = failError_[Index(op)];
  return false;
}

MemRegistry::Key* MemRegistry::FindLocked(const std::string& path) {
  auto it = keys_.find(NormalKey(path));
  return it == keys_.end() ? nullptr : &it->second;
}

MemRegistry::Key& MemRegistry::CreateLocked(const std::string& path) {
  const std::string clean = CleanPath(path);
  Key* key = &keys_[""];
  size_t begin = 0;
  while (begin < clean.size()) {
    size_t end = clean.find('\\', begin);
    if (end == std::string::npos) end = clean.size();
    Key& next = keys_[AsciiLower(clean.substr(0, end))];
    if (next.path.empty()) {
      // A new key keeps its parent's spelling and the caller's last component.
      next.path = (key->path.empty() ? "" : key->path + "\\") + clean.substr(begin, end - begin);
    }
    key = &next;
    begin = end + 1;
  }
  return *key;
}

std::unique_ptr<RegKey> MemRegistry::OpenKey(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  uint32_t error = ERROR_FILE_NOT_FOUND;
  if (!Count(Op::kOpenKey, &error) || FindLocked(path) == nullptr) {
    SetLastError(error);
    return nullptr;
  }
  return std::make_unique<Handle>(*this, NormalKey(path));
}

std::unique_ptr<RegKey> MemRegistry::CreateKey(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  uint32_t error = ERROR_SUCCESS;
  if (!Count(Op::kCreateKey, &error)) {
    SetLastError(error);
    return nullptr;
  }
  CreateLocked(path);
  return std::make_unique<Handle>(*this, NormalKey(path));
}

uint32_t MemRegistry::DeleteKey(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  uint32_t error = ERROR_SUCCESS;
  if (!Count(Op::kDeleteKey, &error)) return error;
  const std::string normal = NormalKey(path);
  if (normal.empty()) return ERROR_ACCESS_DENIED;  // the root itself stays
  auto it = keys_.find(normal);
  if (it == keys_.end()) return ERROR_FILE_NOT_FOUND;
  keys_.erase(it);
  // Subkeys need not follow their parent directly ("a\b c" sorts before "a\b\c").
  const std::string prefix = normal + "\\";
  it = keys_.lower_bound(prefix);
  while (it != keys_.end() && it->first.compare(0, prefix.size(), prefix) == 0) it = keys_.erase(it);
  return ERROR_SUCCESS;
}

std::vector<std::string> MemRegistry::AllKeys() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> paths;
  for (const auto& entry : keys_) {
    if (!entry.first.empty()) paths.push_back(entry.second.path);
  }
  return paths;
}

void MemRegistry::FailNext(Op op, int count, uint32_t error) {
  std::lock_guard<std::mutex> lock(mutex_);
  failCount_[Index(op)] = count;
  failError_[Index(op)] = error;
}

int MemRegistry::Calls(Op op) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_[Index(op)];
}

void MemRegistry::ResetCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.fill(0);
}

void MemRegistry::Put(const std::string& key, const std::string& name, const RegValue& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  Assign(CreateLocked(key), name, value);
}

bool MemRegistry::Peek(const std::string& key, const std::string& name, RegValue* out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = keys_.find(NormalKey(key));
  if (it == keys_.end()) return false;
  const Value* v = FindValue(it->second.values, name);
  if (v != nullptr && out != nullptr) *out = v->value;
  return v != nullptr;
}

bool MemRegistry::HasKey(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return keys_.count(NormalKey(key)) != 0;
}

}  // namespace hu
