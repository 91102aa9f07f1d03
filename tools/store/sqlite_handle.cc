#include "tools/store/sqlite_handle.h"

namespace ridgeline::tools {

void ThrowIfFailed(sqlite3* db, int code, const std::string& what) {
  if (code == SQLITE_OK) return;
  std::string message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  throw StoreError(what + ": " + message);
}

namespace {

// A file name as a SQLite URI path: the characters URIs give a meaning are percent-encoded.
std::string UriPath(const std::string& path) {
  std::string uri = "file:";
  for (char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      static const char kHex[] = "0123456789ABCDEF";
      const auto byte = static_cast<unsigned char>(c);
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 15];
    } else {
      uri += c;
    }
  }
  return uri;
}

}  // namespace

Connection::Connection(const std::string& path, Access access) {
  int flags = SQLITE_OPEN_FULLMUTEX;
  std::string name = path;
  switch (access) {
    case Access::kReadWrite:
      flags |= SQLITE_OPEN_READWRITE;
      break;
    case Access::kCreate:
      flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
      break;
    case Access::kReadOnly:
      flags |= SQLITE_OPEN_READONLY;
      break;
    case Access::kImmutable:
      flags |= SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
      name = UriPath(path) + "?immutable=1";
      break;
  }
  const int code = sqlite3_open_v2(name.c_str(), &db_, flags, nullptr);
  if (code != SQLITE_OK) {
    const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
    sqlite3_close(db_);
    db_ = nullptr;
    throw StoreError(path + ": cannot open the gallery (" + message + ")");
  }
  // Another process may hold the write lock for a moment; wait for it rather than fail.
  sqlite3_busy_timeout(db_, 10000);
  sqlite3_extended_result_codes(db_, 1);
}

Connection::~Connection() { sqlite3_close_v2(db_); }

void Connection::Execute(const char* sql) {
  char* error = nullptr;
  const int code = sqlite3_exec(db_, sql, nullptr, nullptr, &error);
  if (code != SQLITE_OK) {
    const std::string message = error != nullptr ? error : sqlite3_errstr(code);
    sqlite3_free(error);
    throw StoreError(message);
  }
}

void Connection::RollbackIfActive() noexcept {
  if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

Statement Connection::Prepare(const char* sql) { return Statement(db_, sql); }

Statement::Statement(sqlite3* db, const char* sql) : db_(db) {
  ThrowIfFailed(db_, sqlite3_prepare_v2(db_, sql, -1, &stmt_, nullptr), "prepare");
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::Bind(int index, int64_t value) {
  ThrowIfFailed(db_, sqlite3_bind_int64(stmt_, index, value), "bind");
  return *this;
}

Statement& Statement::Bind(int index, const std::string& value) {
  ThrowIfFailed(db_,
                sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()),
                                  SQLITE_TRANSIENT),
                "bind");
  return *this;
}

Statement& Statement::Bind(int index, std::span<const uint8_t> blob) {
  // An empty span still binds a zero-length blob, not NULL.
  static const uint8_t kEmpty = 0;
  ThrowIfFailed(db_,
                sqlite3_bind_blob(stmt_, index, blob.empty() ? &kEmpty : blob.data(),
                                  static_cast<int>(blob.size()), SQLITE_TRANSIENT),
                "bind");
  return *this;
}

Statement& Statement::BindNull(int index) {
  ThrowIfFailed(db_, sqlite3_bind_null(stmt_, index), "bind");
  return *this;
}

bool Statement::Step() {
  const int code = sqlite3_step(stmt_);
  if (code == SQLITE_ROW) return true;
  if (code == SQLITE_DONE) {
    sqlite3_reset(stmt_);
    return false;
  }
  const std::string message = sqlite3_errmsg(db_);
  sqlite3_reset(stmt_);
  throw StoreError(message);
}

std::string Statement::Text(int column) const {
  const auto* text = sqlite3_column_text(stmt_, column);
  const int size = sqlite3_column_bytes(stmt_, column);
  return text != nullptr ? std::string(reinterpret_cast<const char*>(text), size) : std::string();
}

std::vector<uint8_t> Statement::Blob(int column) const {
  const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, column));
  const int size = sqlite3_column_bytes(stmt_, column);
  return data != nullptr ? std::vector<uint8_t>(data, data + size) : std::vector<uint8_t>();
}

}  // namespace ridgeline::tools
