#pragma once
#include <memory>
#include <string>
#include <vector>

#include "common/platform/registry.h"

namespace hu {

// HKEY_LOCAL_MACHINE of a unit, kept in one SQLite file (UNIT/registry.db)
// that every process of the unit opens at once: WAL journal, a busy time-out,
// and each operation one short transaction. Key paths and value names compare
// ignoring ASCII case; the spelling first written is the one listed.
class HostRegistry : public Registry {
 public:
  // Opens `dbPath`; with `create` a missing file is made and given its
  // tables. Null with a one-line *error naming the file when the file is
  // missing, is not a database, or is not a registry.
  static std::unique_ptr<HostRegistry> Open(const std::string& dbPath, bool create, std::string* error);
  ~HostRegistry() override;

  std::unique_ptr<RegKey> OpenKey(const std::string& path) override;
  std::unique_ptr<RegKey> CreateKey(const std::string& path) override;
  uint32_t DeleteKey(const std::string& path) override;
  std::vector<std::string> AllKeys() override;

  struct Db;  // the shared connection, private to the implementation
  explicit HostRegistry(std::shared_ptr<Db> db);

 private:
  std::shared_ptr<Db> db_;
};

}  // namespace hu
