// The registry over SQLite: one database per hive, keys as rows with a
// parent, values as rows of their key; the connection per hive is cached
// per prefix so tests can switch prefixes between cases.
#include "platform/registry/registry.h"

#include <sqlite3.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/prefix/prefix.h"

namespace kel3 {
namespace {

constexpr int64_t kRootId = 1;
constexpr int kBusyTimeoutMs = 10000;

// How long a call waits for another process's write to finish. Tools and
// tests may shorten it with KEL3_REGISTRY_BUSY_MS.
int BusyTimeoutMs() {
  const char* env = std::getenv("KEL3_REGISTRY_BUSY_MS");
  if (env == nullptr || *env == '\0') return kBusyTimeoutMs;
  const long v = std::strtol(env, nullptr, 10);
  return v > 0 && v <= 600000 ? static_cast<int>(v) : kBusyTimeoutMs;
}

std::string Fold(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

LSTATUS FromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_BUSY;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_FORMAT:
      return ERROR_REGISTRY_CORRUPT;
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
      return ERROR_CANTOPEN;
    case SQLITE_NOMEM:
      return ERROR_OUTOFMEMORY;
    case SQLITE_FULL:
    case SQLITE_IOERR:
      return ERROR_CANTWRITE;
    default:
      return ERROR_BADDB;
  }
}

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// One hive: its connection and whether a transaction of ours is open on it.
class Hive {
 public:
  explicit Hive(sqlite3* db) : db_(db) {}
  sqlite3* db() const { return db_.get(); }

  // Prepares a statement; null with *status set on failure.
  Statement Prepare(const char* sql, LSTATUS* status) {
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v2(db(), sql, -1, &raw, nullptr);
    *status = FromSqlite(rc);
    return Statement(rc == SQLITE_OK ? raw : (sqlite3_finalize(raw), nullptr));
  }

  LSTATUS Exec(const char* sql) { return FromSqlite(sqlite3_exec(db(), sql, nullptr, nullptr, nullptr)); }

  int transactionDepth = 0;

 private:
  std::unique_ptr<sqlite3, SqliteCloser> db_;
};

void BindText(sqlite3_stmt* s, int index, const std::string& text) {
  sqlite3_bind_blob(s, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string ColumnBytes(sqlite3_stmt* s, int column) {
  const void* data = sqlite3_column_blob(s, column);
  const int size = sqlite3_column_bytes(s, column);
  return data != nullptr ? std::string(static_cast<const char*>(data), size) : std::string();
}

std::mutex& HiveMutex() {
  static std::mutex m;
  return m;
}
std::map<std::string, std::unique_ptr<Hive>>& Hives() {
  static auto* hives = new std::map<std::string, std::unique_ptr<Hive>>();
  return *hives;
}

// A write transaction on a hive, unless one of ours is already open (then
// the outer one decides).
class WriteTransaction {
 public:
  explicit WriteTransaction(Hive* hive) : hive_(hive) {
    if (hive_->transactionDepth++ == 0) status_ = hive_->Exec("BEGIN IMMEDIATE");
  }
  ~WriteTransaction() {
    if (--hive_->transactionDepth == 0 && status_ == ERROR_SUCCESS && !committed_) {
      hive_->Exec("ROLLBACK");
    }
  }
  LSTATUS status() const { return status_; }
  LSTATUS Commit() {
    committed_ = true;
    if (hive_->transactionDepth > 1) return ERROR_SUCCESS;
    const LSTATUS s = hive_->Exec("COMMIT");
    if (s != ERROR_SUCCESS) hive_->Exec("ROLLBACK");
    return s;
  }

 private:
  Hive* hive_;
  LSTATUS status_ = ERROR_SUCCESS;
  bool committed_ = false;
};

LSTATUS Seed(Hive* hive, bool machine);

// Opens (and on first use creates and seeds) a hive of the current prefix.
LSTATUS OpenHive(bool machine, Hive** out) {
  std::string error;
  if (!EnsurePrefix(&error)) return ERROR_CANTOPEN;
  const std::string path = PrefixDir() + (machine ? "/system.db" : "/user.db");
  std::lock_guard<std::mutex> lock(HiveMutex());
  auto it = Hives().find(path);
  if (it != Hives().end()) {
    *out = it->second.get();
    return ERROR_SUCCESS;
  }
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                           nullptr);
  auto hive = std::make_unique<Hive>(raw);
  if (rc != SQLITE_OK) return FromSqlite(rc);
  sqlite3_busy_timeout(raw, BusyTimeoutMs());
  sqlite3_extended_result_codes(raw, 0);
  // Reading the schema is the first touch of the file: a damaged one fails
  // here and is not cached, so a repaired file is picked up next time.
  LSTATUS status = hive->Exec("PRAGMA journal_mode=WAL");
  if (status != ERROR_SUCCESS) return status;
  {
    WriteTransaction tx(hive.get());
    if (tx.status() != ERROR_SUCCESS) return tx.status();
    status = hive->Exec(
        "CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL,"
        " name BLOB NOT NULL, folded BLOB NOT NULL, UNIQUE(parent, folded));"
        "CREATE TABLE IF NOT EXISTS vals(key INTEGER NOT NULL, name BLOB NOT NULL,"
        " folded BLOB NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL,"
        " PRIMARY KEY(key, folded));"
        "INSERT OR IGNORE INTO keys(id, parent, name, folded) VALUES(1, 0, X'', X'')");
    if (status != ERROR_SUCCESS) return status;
    LSTATUS prep = ERROR_SUCCESS;
    Statement count = hive->Prepare("SELECT COUNT(*) FROM keys", &prep);
    if (!count) return prep;
    if (sqlite3_step(count.get()) == SQLITE_ROW && sqlite3_column_int64(count.get(), 0) == 1) {
      status = Seed(hive.get(), machine);
      if (status != ERROR_SUCCESS) return status;
    }
    count.reset();
    status = tx.Commit();
    if (status != ERROR_SUCCESS) return status;
  }
  *out = hive.get();
  Hives()[path] = std::move(hive);
  return ERROR_SUCCESS;
}

// ---- Handles -------------------------------------------------------------

struct KeyHandle {
  bool machine;
  int64_t id;
};

std::mutex& HandleMutex() {
  static std::mutex m;
  return m;
}
std::set<KeyHandle*>& Handles() {
  static auto* handles = new std::set<KeyHandle*>();
  return *handles;
}

bool IsRoot(HKEY key) { return key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER; }

// What a handle stands for: hive and key id. ERROR_INVALID_HANDLE for
// anything the layer did not issue.
LSTATUS Resolve(HKEY key, Hive** hive, int64_t* id, bool* machineOut = nullptr) {
  bool machine;
  if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER) {
    machine = key == HKEY_LOCAL_MACHINE;
    *id = kRootId;
  } else {
    std::lock_guard<std::mutex> lock(HandleMutex());
    auto* handle = reinterpret_cast<KeyHandle*>(key);
    if (Handles().count(handle) == 0) return ERROR_INVALID_HANDLE;
    machine = handle->machine;
    *id = handle->id;
  }
  if (machineOut != nullptr) *machineOut = machine;
  return OpenHive(machine, hive);
}

HKEY Issue(bool machine, int64_t id) {
  auto* handle = new KeyHandle{machine, id};
  std::lock_guard<std::mutex> lock(HandleMutex());
  Handles().insert(handle);
  return reinterpret_cast<HKEY>(handle);
}

// ---- Key paths -----------------------------------------------------------

// Splits "a\b\c" into components; empty components (doubled or trailing
// backslashes) are passed over. False for a component over the limit.
bool SplitPath(LPCSTR subKey, std::vector<std::string>* parts) {
  if (subKey == nullptr) return true;
  std::string part;
  for (const char* p = subKey;; ++p) {
    if (*p == '\\' || *p == '\0') {
      if (part.size() > KEY_NAME_LIMIT) return false;
      if (!part.empty()) parts->push_back(part);
      part.clear();
      if (*p == '\0') return true;
    } else {
      part += *p;
    }
  }
}

// The child of parent with the given name, or 0.
LSTATUS FindChild(Hive* hive, int64_t parent, const std::string& name, int64_t* child) {
  LSTATUS status;
  Statement s = hive->Prepare("SELECT id FROM keys WHERE parent=? AND folded=?", &status);
  if (!s) return status;
  sqlite3_bind_int64(s.get(), 1, parent);
  BindText(s.get(), 2, Fold(name));
  const int rc = sqlite3_step(s.get());
  if (rc == SQLITE_ROW) {
    *child = sqlite3_column_int64(s.get(), 0);
    return ERROR_SUCCESS;
  }
  *child = 0;
  return rc == SQLITE_DONE ? ERROR_SUCCESS : FromSqlite(rc);
}

LSTATUS KeyExists(Hive* hive, int64_t id) {
  if (id == kRootId) return ERROR_SUCCESS;
  LSTATUS status;
  Statement s = hive->Prepare("SELECT 1 FROM keys WHERE id=?", &status);
  if (!s) return status;
  sqlite3_bind_int64(s.get(), 1, id);
  const int rc = sqlite3_step(s.get());
  if (rc == SQLITE_ROW) return ERROR_SUCCESS;
  return rc == SQLITE_DONE ? ERROR_KEY_DELETED : FromSqlite(rc);
}

LSTATUS Walk(Hive* hive, int64_t from, const std::vector<std::string>& parts, int64_t* id) {
  LSTATUS status = KeyExists(hive, from);
  if (status != ERROR_SUCCESS) return status;
  int64_t current = from;
  for (const std::string& part : parts) {
    int64_t child = 0;
    status = FindChild(hive, current, part, &child);
    if (status != ERROR_SUCCESS) return status;
    if (child == 0) return ERROR_FILE_NOT_FOUND;
    current = child;
  }
  *id = current;
  return ERROR_SUCCESS;
}

LSTATUS CreatePath(Hive* hive, int64_t from, const std::vector<std::string>& parts, int64_t* id,
                   bool* created) {
  LSTATUS status = KeyExists(hive, from);
  if (status != ERROR_SUCCESS) return status;
  int64_t current = from;
  *created = false;
  for (const std::string& part : parts) {
    int64_t child = 0;
    status = FindChild(hive, current, part, &child);
    if (status != ERROR_SUCCESS) return status;
    *created = child == 0;
    if (child == 0) {
      Statement s = hive->Prepare("INSERT INTO keys(parent, name, folded) VALUES(?,?,?)", &status);
      if (!s) return status;
      sqlite3_bind_int64(s.get(), 1, current);
      BindText(s.get(), 2, part);
      BindText(s.get(), 3, Fold(part));
      const int rc = sqlite3_step(s.get());
      if (rc != SQLITE_DONE) return FromSqlite(rc);
      child = sqlite3_last_insert_rowid(hive->db());
    }
    current = child;
  }
  *id = current;
  return ERROR_SUCCESS;
}

LSTATUS SetValue(Hive* hive, int64_t key, const std::string& name, DWORD type, const BYTE* data,
                 DWORD size) {
  LSTATUS status;
  // An existing value keeps the case of its name.
  Statement s = hive->Prepare(
      "INSERT INTO vals(key, name, folded, type, data) VALUES(?,?,?,?,?)"
      " ON CONFLICT(key, folded) DO UPDATE SET type=excluded.type, data=excluded.data",
      &status);
  if (!s) return status;
  sqlite3_bind_int64(s.get(), 1, key);
  BindText(s.get(), 2, name);
  BindText(s.get(), 3, Fold(name));
  sqlite3_bind_int64(s.get(), 4, type);
  sqlite3_bind_blob(s.get(), 5, size > 0 ? data : reinterpret_cast<const BYTE*>(""),
                    static_cast<int>(size), SQLITE_TRANSIENT);
  const int rc = sqlite3_step(s.get());
  return rc == SQLITE_DONE ? ERROR_SUCCESS : FromSqlite(rc);
}

// Copies a value's bytes by the platform's size protocol.
LSTATUS CopyOut(const std::string& bytes, DWORD type, LPDWORD typeOut, LPBYTE data, LPDWORD size) {
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  if (typeOut != nullptr) *typeOut = type;
  if (data != nullptr) {
    if (*size < bytes.size()) {
      *size = static_cast<DWORD>(bytes.size());
      return ERROR_MORE_DATA;
    }
    std::memcpy(data, bytes.data(), bytes.size());
  }
  if (size != nullptr) *size = static_cast<DWORD>(bytes.size());
  return ERROR_SUCCESS;
}

LSTATUS CopyName(const std::string& name, LPSTR out, LPDWORD size) {
  if (out == nullptr || size == nullptr) return ERROR_INVALID_PARAMETER;
  if (*size < name.size() + 1) return ERROR_MORE_DATA;
  std::memcpy(out, name.data(), name.size());
  out[name.size()] = '\0';
  *size = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

LSTATUS Seed(Hive* hive, bool machine) {
  const std::vector<std::string> run = {"Software", "Microsoft", "Windows", "CurrentVersion", "Run"};
  int64_t id = 0;
  bool created = false;
  LSTATUS status = CreatePath(hive, kRootId, run, &id, &created);
  if (status != ERROR_SUCCESS || !machine) return status;
  status = CreatePath(hive, kRootId, {"Software", "Microsoft", "Windows", "CurrentVersion"}, &id,
                      &created);
  if (status != ERROR_SUCCESS) return status;
  static const char kProgramFiles[] = "C:\\Program Files";
  status = SetValue(hive, id, "ProgramFilesDir", REG_SZ, reinterpret_cast<const BYTE*>(kProgramFiles),
                    sizeof kProgramFiles);
  if (status != ERROR_SUCCESS) return status;
  return CreatePath(hive, kRootId, {"SYSTEM", "CurrentControlSet", "Control", "Print", "Printers"},
                    &id, &created);
}

std::string ValueName(LPCSTR name) { return name != nullptr ? name : ""; }

}  // namespace

void RegCloseHives() {
  std::lock_guard<std::mutex> lock(HiveMutex());
  Hives().erase(PrefixDir() + "/system.db");
  Hives().erase(PrefixDir() + "/user.db");
}

LSTATUS RegRunInTransaction(HKEY root, bool (*body)(void* context), void* context) {
  if (!IsRoot(root) || body == nullptr) return ERROR_INVALID_PARAMETER;
  Hive* hive = nullptr;
  LSTATUS status = OpenHive(root == HKEY_LOCAL_MACHINE, &hive);
  if (status != ERROR_SUCCESS) return status;
  WriteTransaction tx(hive);
  if (tx.status() != ERROR_SUCCESS) return tx.status();
  if (!body(context)) return ERROR_CANTWRITE;  // rolled back by tx
  return tx.Commit();
}

}  // namespace kel3

using kel3::Hive;

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD /*options*/, REGSAM /*access*/,
                      PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  Hive* hive = nullptr;
  int64_t from = 0;
  bool machine = false;
  LSTATUS status = kel3::Resolve(key, &hive, &from, &machine);
  if (status != ERROR_SUCCESS) return status;
  std::vector<std::string> parts;
  if (!kel3::SplitPath(subKey, &parts)) return ERROR_FILE_NOT_FOUND;
  int64_t id = 0;
  status = kel3::Walk(hive, from, parts, &id);
  if (status != ERROR_SUCCESS) return status;
  // An empty path names the key itself: a root stays the root.
  *result = (parts.empty() && kel3::IsRoot(key)) ? key : kel3::Issue(machine, id);
  return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD /*reserved*/, LPSTR /*className*/,
                        DWORD /*options*/, REGSAM /*access*/, LPVOID /*securityAttributes*/,
                        PHKEY result, LPDWORD disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  Hive* hive = nullptr;
  int64_t from = 0;
  bool machine = false;
  LSTATUS status = kel3::Resolve(key, &hive, &from, &machine);
  if (status != ERROR_SUCCESS) return status;
  std::vector<std::string> parts;
  if (!kel3::SplitPath(subKey, &parts)) return ERROR_INVALID_PARAMETER;
  int64_t id = 0;
  bool created = false;
  {
    kel3::WriteTransaction tx(hive);
    if (tx.status() != ERROR_SUCCESS) return tx.status();
    status = kel3::CreatePath(hive, from, parts, &id, &created);
    if (status != ERROR_SUCCESS) return status;
    status = tx.Commit();
    if (status != ERROR_SUCCESS) return status;
  }
  if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = (parts.empty() && kel3::IsRoot(key)) ? key : kel3::Issue(machine, id);
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD /*reserved*/, LPDWORD type,
                         LPBYTE data, LPDWORD size) {
  Hive* hive = nullptr;
  int64_t id = 0;
  LSTATUS status = kel3::Resolve(key, &hive, &id);
  if (status != ERROR_SUCCESS) return status;
  kel3::Statement s =
      hive->Prepare("SELECT type, data FROM vals WHERE key=? AND folded=?", &status);
  if (!s) return status;
  sqlite3_bind_int64(s.get(), 1, id);
  kel3::BindText(s.get(), 2, kel3::Fold(kel3::ValueName(valueName)));
  const int rc = sqlite3_step(s.get());
  if (rc == SQLITE_DONE) {
    status = kel3::KeyExists(hive, id);
    return status == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : status;
  }
  if (rc != SQLITE_ROW) return kel3::FromSqlite(rc);
  return kel3::CopyOut(kel3::ColumnBytes(s.get(), 1),
                       static_cast<DWORD>(sqlite3_column_int64(s.get(), 0)), type, data, size);
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD /*reserved*/, DWORD type,
                       const BYTE* data, DWORD size) {
  if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
  const std::string name = kel3::ValueName(valueName);
  if (name.size() > VALUE_NAME_LIMIT || size > (1u << 30)) return ERROR_INVALID_PARAMETER;
  Hive* hive = nullptr;
  int64_t id = 0;
  LSTATUS status = kel3::Resolve(key, &hive, &id);
  if (status != ERROR_SUCCESS) return status;
  kel3::WriteTransaction tx(hive);
  if (tx.status() != ERROR_SUCCESS) return tx.status();
  status = kel3::KeyExists(hive, id);
  if (status != ERROR_SUCCESS) return status;
  status = kel3::SetValue(hive, id, name, type, data, size);
  if (status != ERROR_SUCCESS) return status;
  return tx.Commit();
}

namespace kel3 {
namespace {

// The index-th row of a key's sub-keys or values (the query binds the key's
// id and the offset). ERROR_NO_MORE_ITEMS past the last one.
LSTATUS EnumRow(HKEY key, const char* sql, DWORD index, Statement* row) {
  Hive* hive = nullptr;
  int64_t id = 0;
  LSTATUS status = Resolve(key, &hive, &id);
  if (status != ERROR_SUCCESS) return status;
  *row = hive->Prepare(sql, &status);
  if (!*row) return status;
  sqlite3_bind_int64(row->get(), 1, id);
  sqlite3_bind_int64(row->get(), 2, index);
  const int rc = sqlite3_step(row->get());
  if (rc == SQLITE_DONE) {
    status = KeyExists(hive, id);
    return status == ERROR_SUCCESS ? ERROR_NO_MORE_ITEMS : status;
  }
  return rc == SQLITE_ROW ? ERROR_SUCCESS : FromSqlite(rc);
}

}  // namespace
}  // namespace kel3

LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD /*reserved*/,
                      LPSTR className, LPDWORD classSize, LPVOID /*lastWriteTime*/) {
  kel3::Statement row;
  const LSTATUS status = kel3::EnumRow(
      key, "SELECT name FROM keys WHERE parent=? ORDER BY folded LIMIT 1 OFFSET ?", index, &row);
  if (status != ERROR_SUCCESS) return status;
  if (className != nullptr && classSize != nullptr && *classSize > 0) *className = '\0';
  if (classSize != nullptr) *classSize = 0;
  return kel3::CopyName(kel3::ColumnBytes(row.get(), 0), name, nameSize);
}

LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD /*reserved*/,
                      LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  kel3::Statement row;
  LSTATUS status = kel3::EnumRow(
      key, "SELECT name, type, data FROM vals WHERE key=? ORDER BY folded LIMIT 1 OFFSET ?", index,
      &row);
  if (status != ERROR_SUCCESS) return status;
  status = kel3::CopyName(kel3::ColumnBytes(row.get(), 0), name, nameSize);
  if (status != ERROR_SUCCESS) return status;
  return kel3::CopyOut(kel3::ColumnBytes(row.get(), 2),
                       static_cast<DWORD>(sqlite3_column_int64(row.get(), 1)), type, data,
                       dataSize);
}

LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName) {
  Hive* hive = nullptr;
  int64_t id = 0;
  LSTATUS status = kel3::Resolve(key, &hive, &id);
  if (status != ERROR_SUCCESS) return status;
  kel3::WriteTransaction tx(hive);
  if (tx.status() != ERROR_SUCCESS) return tx.status();
  kel3::Statement s = hive->Prepare("DELETE FROM vals WHERE key=? AND folded=?", &status);
  if (!s) return status;
  sqlite3_bind_int64(s.get(), 1, id);
  kel3::BindText(s.get(), 2, kel3::Fold(kel3::ValueName(valueName)));
  const int rc = sqlite3_step(s.get());
  if (rc != SQLITE_DONE) return kel3::FromSqlite(rc);
  if (sqlite3_changes(hive->db()) == 0) return ERROR_FILE_NOT_FOUND;
  return tx.Commit();
}

LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  Hive* hive = nullptr;
  int64_t from = 0;
  LSTATUS status = kel3::Resolve(key, &hive, &from);
  if (status != ERROR_SUCCESS) return status;
  std::vector<std::string> parts;
  if (!kel3::SplitPath(subKey, &parts)) return ERROR_FILE_NOT_FOUND;
  kel3::WriteTransaction tx(hive);
  if (tx.status() != ERROR_SUCCESS) return tx.status();
  int64_t id = 0;
  status = kel3::Walk(hive, from, parts, &id);
  if (status != ERROR_SUCCESS) return status;
  if (id == kel3::kRootId) return ERROR_ACCESS_DENIED;
  kel3::Statement children = hive->Prepare("SELECT 1 FROM keys WHERE parent=? LIMIT 1", &status);
  if (!children) return status;
  sqlite3_bind_int64(children.get(), 1, id);
  const int rc = sqlite3_step(children.get());
  if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;
  if (rc != SQLITE_DONE) return kel3::FromSqlite(rc);
  for (const char* sql : {"DELETE FROM vals WHERE key=?", "DELETE FROM keys WHERE id=?"}) {
    kel3::Statement s = hive->Prepare(sql, &status);
    if (!s) return status;
    sqlite3_bind_int64(s.get(), 1, id);
    const int step = sqlite3_step(s.get());
    if (step != SQLITE_DONE) return kel3::FromSqlite(step);
  }
  return tx.Commit();
}

LSTATUS RegCloseKey(HKEY key) {
  if (kel3::IsRoot(key) || key == HKEY_CLASSES_ROOT) return ERROR_SUCCESS;
  auto* handle = reinterpret_cast<kel3::KeyHandle*>(key);
  {
    std::lock_guard<std::mutex> lock(kel3::HandleMutex());
    if (kel3::Handles().erase(handle) == 0) return ERROR_INVALID_HANDLE;
  }
  delete handle;
  return ERROR_SUCCESS;
}
