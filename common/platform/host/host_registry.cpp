#include "common/platform/host/host_registry.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <mutex>

#include "common/platform/errors.h"
#include "common/platform/text.h"
#include "common/platform/trace.h"

namespace hu {

struct HostRegistry::Db {
  sqlite3* handle = nullptr;
  std::string path;
  // One connection serves every key of the process; a transaction must not
  // interleave with another thread's statements.
  std::mutex mutex;
  ~Db() {
    if (handle) sqlite3_close(handle);
  }
};

namespace {

constexpr int kBusyTimeoutMs = 5000;

class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) : db_(db) {
    rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
  }
  ~Stmt() { sqlite3_finalize(stmt_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  bool ok() const { return rc_ == SQLITE_OK; }
  Stmt& Text(int i, const std::string& s) {
    if (ok()) rc_ = sqlite3_bind_text(stmt_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Stmt& Int(int i, int64_t v) {
    if (ok()) rc_ = sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  Stmt& Blob(int i, const std::vector<uint8_t>& data) {
    if (!ok()) return *this;
    rc_ = data.empty() ? sqlite3_bind_zeroblob(stmt_, i, 0)
                       : sqlite3_bind_blob(stmt_, i, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error.
  int Step() {
    if (!ok()) return rc_;
    return sqlite3_step(stmt_);
  }
  std::string ColumnText(int i) {
    const unsigned char* p = sqlite3_column_text(stmt_, i);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(stmt_, i)))
             : std::string();
  }
  int64_t ColumnInt(int i) { return sqlite3_column_int64(stmt_, i); }
  std::vector<uint8_t> ColumnBlob(int i) {
    const uint8_t* p = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, i));
    int n = sqlite3_column_bytes(stmt_, i);
    return p && n > 0 ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>();
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  int rc_;
};

bool Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

void TraceDbError(HostRegistry::Db& db, const char* what) {
  Trace("HostRegistry %s failed on %s: %s\n", what, db.path.c_str(), sqlite3_errmsg(db.handle));
}

// A write transaction; rolled back unless committed.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db) { begun_ = Exec(db, "BEGIN IMMEDIATE"); }
  ~Transaction() {
    if (begun_ && !done_) Exec(db_, "ROLLBACK");
  }
  bool begun() const { return begun_; }
  bool Commit() {
    done_ = Exec(db_, "COMMIT");
    return done_;
  }

 private:
  sqlite3* db_;
  bool begun_ = false;
  bool done_ = false;
};

std::vector<std::string> SplitKey(const std::string& path) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : path) {
    if (c == '\\') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

std::string JoinKey(const std::vector<std::string>& parts, size_t count) {
  std::string out;
  for (size_t i = 0; i < count && i < parts.size(); ++i) {
    if (i) out += '\\';
    out += parts[i];
  }
  return out;
}

std::string ParentOf(const std::string& lpath) {
  size_t cut = lpath.rfind('\\');
  return cut == std::string::npos ? std::string() : lpath.substr(0, cut);
}

// Display path of a key; empty when it does not exist. The root always does.
bool LookupKey(sqlite3* db, const std::string& lpath, std::string* display, bool* failed) {
  *failed = false;
  if (lpath.empty()) {
    display->clear();
    return true;
  }
  Stmt q(db, "SELECT path FROM reg_keys WHERE lpath = ?");
  q.Text(1, lpath);
  int rc = q.Step();
  if (rc == SQLITE_ROW) {
    *display = q.ColumnText(0);
    return true;
  }
  *failed = rc != SQLITE_DONE;
  return false;
}

class HostRegKey : public RegKey {
 public:
  HostRegKey(std::shared_ptr<HostRegistry::Db> db, std::string lpath)
      : db_(std::move(db)), lpath_(std::move(lpath)) {}

  uint32_t QueryValue(const std::string& name, RegValue* out) override {
    std::lock_guard<std::mutex> lock(db_->mutex);
    Stmt q(db_->handle, "SELECT type, data FROM reg_values WHERE lkey = ? AND lname = ?");
    q.Text(1, lpath_).Text(2, AsciiLower(name));
    int rc = q.Step();
    if (rc == SQLITE_ROW) {
      out->type = static_cast<uint32_t>(q.ColumnInt(0));
      out->data = q.ColumnBlob(1);
      return ERROR_SUCCESS;
    }
    if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
    TraceDbError(*db_, "QueryValue");
    return ERROR_READ_FAULT;
  }

  uint32_t SetValue(const std::string& name, const RegValue& value) override {
    std::lock_guard<std::mutex> lock(db_->mutex);
    Transaction tx(db_->handle);
    if (!tx.begun()) {
      TraceDbError(*db_, "SetValue");
      return ERROR_WRITE_FAULT;
    }
    std::string display;
    bool failed = false;
    if (!LookupKey(db_->handle, lpath_, &display, &failed)) {
      if (failed) TraceDbError(*db_, "SetValue");
      return failed ? ERROR_WRITE_FAULT : ERROR_INVALID_HANDLE;  // deleted meanwhile
    }
    Stmt ins(db_->handle,
             "INSERT INTO reg_values(lkey, lname, name, type, data) VALUES(?, ?, ?, ?, ?) "
             "ON CONFLICT(lkey, lname) DO UPDATE SET type = excluded.type, data = excluded.data");
    ins.Text(1, lpath_).Text(2, AsciiLower(name)).Text(3, name).Int(4, value.type).Blob(5, value.data);
    if (ins.Step() != SQLITE_DONE || !tx.Commit()) {
      TraceDbError(*db_, "SetValue");
      return ERROR_WRITE_FAULT;
    }
    return ERROR_SUCCESS;
  }

  uint32_t DeleteValue(const std::string& name) override {
    std::lock_guard<std::mutex> lock(db_->mutex);
    Stmt del(db_->handle, "DELETE FROM reg_values WHERE lkey = ? AND lname = ?");
    del.Text(1, lpath_).Text(2, AsciiLower(name));
    if (del.Step() != SQLITE_DONE) {
      TraceDbError(*db_, "DeleteValue");
      return ERROR_WRITE_FAULT;
    }
    return sqlite3_changes(db_->handle) > 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  }

  std::vector<std::string> ValueNames() override {
    std::lock_guard<std::mutex> lock(db_->mutex);
    std::vector<std::string> names;
    Stmt q(db_->handle, "SELECT name FROM reg_values WHERE lkey = ? ORDER BY rowid");
    q.Text(1, lpath_);
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) names.push_back(q.ColumnText(0));
    if (rc != SQLITE_DONE) TraceDbError(*db_, "ValueNames");
    return names;
  }

  std::vector<std::string> SubKeyNames() override {
    std::lock_guard<std::mutex> lock(db_->mutex);
    std::vector<std::string> names;
    Stmt q(db_->handle, "SELECT path FROM reg_keys WHERE lparent = ? ORDER BY lpath");
    q.Text(1, lpath_);
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) {
      std::string path = q.ColumnText(0);
      size_t cut = path.rfind('\\');
      names.push_back(cut == std::string::npos ? path : path.substr(cut + 1));
    }
    if (rc != SQLITE_DONE) TraceDbError(*db_, "SubKeyNames");
    return names;
  }

 private:
  std::shared_ptr<HostRegistry::Db> db_;
  std::string lpath_;
};

}  // namespace

HostRegistry::HostRegistry(std::shared_ptr<Db> db) : db_(std::move(db)) {}
HostRegistry::~HostRegistry() = default;

std::unique_ptr<HostRegistry> HostRegistry::Open(const std::string& dbPath, bool create, std::string* error) {
  auto fail = [&](const std::string& why) -> std::unique_ptr<HostRegistry> {
    if (error) *error = why;
    return nullptr;
  };
  struct stat st {};
  bool inMemory = dbPath == ":memory:";
  if (!inMemory) {
    if (::stat(dbPath.c_str(), &st) != 0) {
      if (!create) return fail("registry not found: " + dbPath);
    } else if (!S_ISREG(st.st_mode)) {
      return fail("registry is not a file: " + dbPath);
    }
  }
  auto db = std::make_shared<Db>();
  db->path = dbPath;
  int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(dbPath.c_str(), &db->handle, flags, nullptr) != SQLITE_OK) {
    return fail("cannot open registry " + dbPath + ": " +
                (db->handle ? sqlite3_errmsg(db->handle) : "out of memory"));
  }
  sqlite3_busy_timeout(db->handle, kBusyTimeoutMs);
  // The first read tells a damaged or foreign file apart.
  if (!Exec(db->handle, "PRAGMA journal_mode = WAL") || !Exec(db->handle, "PRAGMA synchronous = NORMAL")) {
    return fail("unreadable registry " + dbPath + ": " + sqlite3_errmsg(db->handle));
  }
  if (create) {
    Transaction tx(db->handle);
    bool ok = tx.begun() &&
              Exec(db->handle,
                   "CREATE TABLE IF NOT EXISTS reg_keys(lpath TEXT PRIMARY KEY, path TEXT NOT NULL, "
                   "lparent TEXT NOT NULL);"
                   "CREATE INDEX IF NOT EXISTS reg_keys_parent ON reg_keys(lparent);"
                   "CREATE TABLE IF NOT EXISTS reg_values(lkey TEXT NOT NULL, lname TEXT NOT NULL, "
                   "name TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(lkey, lname));") &&
              tx.Commit();
    if (!ok) return fail("cannot initialise registry " + dbPath + ": " + sqlite3_errmsg(db->handle));
  } else {
    Stmt q(db->handle,
           "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('reg_keys', 'reg_values')");
    if (q.Step() != SQLITE_ROW) {
      return fail("unreadable registry " + dbPath + ": " + sqlite3_errmsg(db->handle));
    }
    if (q.ColumnInt(0) != 2) return fail("not a unit registry: " + dbPath);
  }
  return std::make_unique<HostRegistry>(std::move(db));
}

std::unique_ptr<RegKey> HostRegistry::OpenKey(const std::string& path) {
  std::string lpath = AsciiLower(JoinKey(SplitKey(path), SIZE_MAX));
  std::lock_guard<std::mutex> lock(db_->mutex);
  std::string display;
  bool failed = false;
  if (!LookupKey(db_->handle, lpath, &display, &failed)) {
    if (failed) TraceDbError(*db_, "OpenKey");
    SetLastError(failed ? ERROR_READ_FAULT : ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return std::make_unique<HostRegKey>(db_, lpath);
}

std::unique_ptr<RegKey> HostRegistry::CreateKey(const std::string& path) {
  std::vector<std::string> parts = SplitKey(path);
  std::lock_guard<std::mutex> lock(db_->mutex);
  Transaction tx(db_->handle);
  bool ok = tx.begun();
  std::string display;  // of the deepest existing ancestor, then of each new key
  for (size_t i = 1; ok && i <= parts.size(); ++i) {
    std::string lpath = AsciiLower(JoinKey(parts, i));
    std::string found;
    bool failed = false;
    if (LookupKey(db_->handle, lpath, &found, &failed)) {
      display = found;
      continue;
    }
    if (failed) {
      ok = false;
      break;
    }
    display = display.empty() ? parts[i - 1] : display + "\\" + parts[i - 1];
    Stmt ins(db_->handle, "INSERT INTO reg_keys(lpath, path, lparent) VALUES(?, ?, ?)");
    ins.Text(1, lpath).Text(2, display).Text(3, ParentOf(lpath));
    ok = ins.Step() == SQLITE_DONE;
  }
  if (!ok || !tx.Commit()) {
    TraceDbError(*db_, "CreateKey");
    SetLastError(ERROR_WRITE_FAULT);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return std::make_unique<HostRegKey>(db_, AsciiLower(JoinKey(parts, parts.size())));
}

uint32_t HostRegistry::DeleteKey(const std::string& path) {
  std::string lpath = AsciiLower(JoinKey(SplitKey(path), SIZE_MAX));
  if (lpath.empty()) return ERROR_ACCESS_DENIED;
  std::lock_guard<std::mutex> lock(db_->mutex);
  Transaction tx(db_->handle);
  std::string display;
  bool failed = !tx.begun();
  if (!failed) {
    bool found = LookupKey(db_->handle, lpath, &display, &failed);
    if (!found && !failed) return ERROR_FILE_NOT_FOUND;
  }
  // Subkeys are the paths between "key\" and "key]" (']' follows '\').
  std::string lo = lpath + "\\", hi = lpath + "]";
  if (!failed) {
    Stmt k(db_->handle, "DELETE FROM reg_keys WHERE lpath = ? OR (lpath >= ? AND lpath < ?)");
    k.Text(1, lpath).Text(2, lo).Text(3, hi);
    Stmt v(db_->handle, "DELETE FROM reg_values WHERE lkey = ? OR (lkey >= ? AND lkey < ?)");
    v.Text(1, lpath).Text(2, lo).Text(3, hi);
    failed = k.Step() != SQLITE_DONE || v.Step() != SQLITE_DONE || !tx.Commit();
  }
  if (failed) {
    TraceDbError(*db_, "DeleteKey");
    return ERROR_WRITE_FAULT;
  }
  return ERROR_SUCCESS;
}

std::vector<std::string> HostRegistry::AllKeys() {
  std::vector<std::pair<std::vector<std::string>, std::string>> rows;
  {
    std::lock_guard<std::mutex> lock(db_->mutex);
    Stmt q(db_->handle, "SELECT lpath, path FROM reg_keys");
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) rows.emplace_back(SplitKey(q.ColumnText(0)), q.ColumnText(1));
    if (rc != SQLITE_DONE) TraceDbError(*db_, "AllKeys");
  }
  // Component by component, so a key is followed by its own subkeys.
  std::sort(rows.begin(), rows.end());
  std::vector<std::string> out;
  out.reserve(rows.size());
  for (auto& row : rows) out.push_back(std::move(row.second));
  return out;
}

}  // namespace hu
