// A thin RAII layer over SQLite's C API: a connection and prepared statements that finalise
// themselves. Every failure becomes a StoreError carrying SQLite's message; nothing else here
// knows about the gallery's schema.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace ridgeline::tools {

// A gallery that cannot be opened, read or written: the tool reports it and exits with 3.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Statement;

class Connection {
 public:
  enum class Access { kReadWrite, kCreate, kReadOnly, kImmutable };
  // Opens the database file: read-write; read-write creating it when missing; read-only; or
  // read-only without any locking, for files on read-only media (no other process may be
  // writing it). Throws StoreError.
  Connection(const std::string& path, Access access);
  Connection(const std::string& path, bool create)
      : Connection(path, create ? Access::kCreate : Access::kReadWrite) {}
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Execute(const char* sql);  // one or more statements without results
  // Ends an open transaction without raising: for error paths, where SQLite may already have
  // rolled back on its own (a full disk, an I/O error) and a second ROLLBACK would replace the
  // first error with "no transaction is active".
  void RollbackIfActive() noexcept;
  Statement Prepare(const char* sql);
  int64_t LastInsertId() const { return sqlite3_last_insert_rowid(db_); }
  int Changes() const { return sqlite3_changes(db_); }
  sqlite3* get() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

class Statement {
 public:
  Statement(sqlite3* db, const char* sql);
  ~Statement();
  Statement(Statement&& other) noexcept : db_(other.db_), stmt_(other.stmt_) {
    other.stmt_ = nullptr;
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Parameters count from 1, as in SQL.
  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, const std::string& value);
  Statement& Bind(int index, std::span<const uint8_t> blob);
  Statement& BindNull(int index);

  // Advances to the next row; false when done. Throws StoreError on failure.
  bool Step();
  void Run() {
    while (Step()) {
    }
  }

  int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  std::string Text(int column) const;
  std::vector<uint8_t> Blob(int column) const;
  bool IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// Throws StoreError with the connection's message when code is not SQLITE_OK.
void ThrowIfFailed(sqlite3* db, int code, const std::string& what);

}  // namespace ridgeline::tools
