#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/platform/errors.h"
#include "common/platform/registry.h"

namespace hu {

// The registry of a device, held in memory. Key paths and value names compare
// ignoring ASCII case and keep the spelling of their first writer; a trailing
// backslash is tolerated. Handles stay usable from any thread: every operation
// takes the one registry lock, so two threads act like two processes sharing
// the device registry.
class MemRegistry : public Registry {
 public:
  // Operations the failure hooks and call counters know.
  enum class Op { kOpenKey, kCreateKey, kSetValue, kQueryValue, kDeleteValue, kDeleteKey };

  MemRegistry();
  ~MemRegistry() override;
  MemRegistry(const MemRegistry&) = delete;
  MemRegistry& operator=(const MemRegistry&) = delete;

  std::unique_ptr<RegKey> OpenKey(const std::string& path) override;
  std::unique_ptr<RegKey> CreateKey(const std::string& path) override;
  uint32_t DeleteKey(const std::string& path) override;
  std::vector<std::string> AllKeys() override;

  // Test hooks. The next `count` calls of `op` fail with `error` (OpenKey and
  // CreateKey return null with the last error set). Calls are counted whether
  // they fail or not; the seeding helpers below neither count nor fail.
  void FailNext(Op op, int count, uint32_t error = ERROR_ACCESS_DENIED);
  int Calls(Op op) const;
  void ResetCalls();

  // Seeding and inspection for tests; Put creates the key with its parents.
  void Put(const std::string& key, const std::string& name, const RegValue& value);
  bool Peek(const std::string& key, const std::string& name, RegValue* out) const;
  bool HasKey(const std::string& key) const;

 private:
  struct Value {
    std::string name;  // first spelling
    RegValue value;
  };
  struct Key {
    std::string path;  // first spelling of every component
    std::vector<Value> values;  // in creation order, as the device lists them
  };
  class Handle;
  static constexpr size_t kOpCount = 6;

  // With mutex_ held. Counts a call of `op`; false with `error` set when a
  // failure was pending for it.
  bool Count(Op op, uint32_t* error);
  Key* FindLocked(const std::string& path);
  Key& CreateLocked(const std::string& path);
  static void Assign(Key& key, const std::string& name, const RegValue& value);

  mutable std::mutex mutex_;
  std::map<std::string, Key> keys_;  // by lower-case normalised path
  std::array<int, kOpCount> calls_{};
  std::array<int, kOpCount> failCount_{};
  std::array<uint32_t, kOpCount> failError_{};
};

}  // namespace hu
