#include "tools/store/template_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace ridgeline::tools {
namespace {

constexpr const char* kSchema = R"sql(
  CREATE TABLE subjects (
    identity BLOB PRIMARY KEY CHECK (length(identity) = 76),
    name TEXT NOT NULL UNIQUE
  );
  CREATE TABLE templates (
    id INTEGER PRIMARY KEY,
    identity BLOB NOT NULL CHECK (length(identity) = 76),
    sub_factor INTEGER NOT NULL CHECK (sub_factor BETWEEN 0 AND 255),
    template BLOB NOT NULL CHECK (length(template) > 0),
    payload BLOB NOT NULL,
    created TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now')),
    UNIQUE (identity, sub_factor)
  );
)sql";

constexpr const char* kRecordColumns =
    "SELECT t.id, t.identity, t.sub_factor, t.template, t.payload, t.created, "
    "coalesce(s.name, '') FROM templates t LEFT JOIN subjects s ON s.identity = t.identity ";

bool IsNotADatabase(const StoreError& error) {
  const std::string text = error.what();
  return text.find("not a database") != std::string::npos ||
         text.find("malformed") != std::string::npos;
}

}  // namespace

TemplateStore::TemplateStore(const std::filesystem::path& path, Mode mode) : path_(path) {
  const std::string name = path.string();
  std::error_code error;
  const bool exists = std::filesystem::exists(path, error);
  if (!exists && mode == Mode::kOpenExisting) {
    throw StoreError(name + ": no gallery here (enroll a finger to create one)");
  }
  if (exists && std::filesystem::is_directory(path, error)) {
    throw StoreError(name + ": is a directory, not a gallery file");
  }
  try {
    if (!exists) CreateInPlace();
    db_ = std::make_unique<Connection>(name, mode == Mode::kCreateIfMissing);
    Initialise();
  } catch (const StoreError& failure) {
    if (IsNotADatabase(failure)) {
      throw StoreError(name +
                       ": not a ridgeline gallery (the file is not a SQLite database, or "
                       "it is damaged)");
    }
    throw StoreError(name + ": " + failure.what());
  }
}

TemplateStore::~TemplateStore() = default;

void TemplateStore::CreateInPlace() {
  // The whole gallery is made under a private temporary name beside the target and then
  // linked to its name, which fails if the name was taken meanwhile: whoever opens the name
  // finds either nothing or a complete gallery, never a file half way through its schema.
  std::string temporary =
      (path_.parent_path() / ("." + path_.filename().string() + ".XXXXXX")).string();
  const int fd = mkstemp(temporary.data());
  if (fd < 0) return;  // a folder we cannot write: opening below reports it
  close(fd);
  struct Unlink {
    std::string path;
    ~Unlink() {
      for (const char* suffix : {"", "-wal", "-shm", "-journal"}) unlink((path + suffix).c_str());
    }
  } remove_temporary{temporary};
  {
    Connection fresh(temporary, false);
    fresh.Execute("PRAGMA journal_mode=WAL");
    fresh.Execute("BEGIN IMMEDIATE");
    try {
      fresh.Execute(kSchema);
      fresh.Execute(("PRAGMA application_id=" + std::to_string(kGalleryApplicationId)).c_str());
      fresh.Execute(("PRAGMA user_version=" + std::to_string(kGallerySchemaVersion)).c_str());
      fresh.Execute("COMMIT");
    } catch (...) {
      fresh.RollbackIfActive();
      throw;
    }
  }  // closing the last connection checkpoints the log into the file
  if (link(temporary.c_str(), path_.c_str()) != 0 && errno != EEXIST) {
    // A file system without hard links: the locked creation in Initialise takes over.
    return;
  }
}

int64_t TemplateStore::ReadPragma(const char* name) {
  Statement pragma = db_->Prepare((std::string("PRAGMA ") + name).c_str());
  pragma.Step();
  const int64_t value = pragma.Int(0);
  pragma.Run();
  return value;
}

void TemplateStore::Initialise() {
  const std::string name = path_.string();
  int64_t application_id = ReadPragma("application_id");
  int64_t schema_version = ReadPragma("user_version");

  if (application_id == 0) {
    // A new file, or one another process is creating right now. Everything is decided under
    // the write lock: what the file holds is read again inside the transaction, so two first
    // enrollments racing on a new gallery see either nothing (and one writes the schema) or
    // the whole schema with its application id, never the tables without the id.
    db_->Execute("BEGIN IMMEDIATE");
    try {
      application_id = ReadPragma("application_id");
      Statement tables = db_->Prepare("SELECT count(*) FROM sqlite_schema");
      tables.Step();
      const int64_t table_count = tables.Int(0);
      tables.Run();
      if (application_id == 0 && table_count != 0) {
        throw StoreError("a SQLite database of another application, not a ridgeline gallery");
      }
      if (application_id == 0) {
        db_->Execute(kSchema);
        db_->Execute(("PRAGMA application_id=" + std::to_string(kGalleryApplicationId)).c_str());
        db_->Execute(("PRAGMA user_version=" + std::to_string(kGallerySchemaVersion)).c_str());
        application_id = kGalleryApplicationId;
      }
      schema_version = ReadPragma("user_version");
      db_->Execute("COMMIT");
    } catch (...) {
      db_->RollbackIfActive();
      throw;
    }
    // WAL can only be chosen outside a transaction; it is a property of the file, so setting it
    // again when another process already did is harmless.
    db_->Execute("PRAGMA journal_mode=WAL");
  }
  if (application_id != kGalleryApplicationId) {
    throw StoreError("a SQLite database of another application, not a ridgeline gallery");
  } else if (schema_version > kGallerySchemaVersion) {
    throw StoreError("the gallery was written by a newer ridgeline (schema " +
                     std::to_string(schema_version) + ", this one reads " +
                     std::to_string(kGallerySchemaVersion) + ")");
  } else if (schema_version < 1) {
    throw StoreError("the gallery has no schema version; it is damaged");
  }
  db_->Execute("PRAGMA foreign_keys=ON");
  // A committed record must survive the process being killed right after the commit.
  db_->Execute("PRAGMA synchronous=FULL");
}

void TemplateStore::NameSubject(const IdentityBytes& identity, const std::string& name) {
  try {
    db_->Prepare(
           "INSERT INTO subjects(identity, name) VALUES (?1, ?2) "
           "ON CONFLICT(identity) DO UPDATE SET name = excluded.name")
        .Bind(1, identity)
        .Bind(2, name)
        .Run();
  } catch (const StoreError& error) {
    throw StoreError(path_.string() + ": cannot name subject '" + name + "': " + error.what());
  }
}

std::optional<std::string> TemplateStore::SubjectName(const IdentityBytes& identity) {
  Statement query = db_->Prepare("SELECT name FROM subjects WHERE identity = ?1");
  query.Bind(1, identity);
  if (!query.Step()) return std::nullopt;
  std::string name = query.Text(0);
  query.Run();
  return name;
}

std::vector<StoredRecord> TemplateStore::Collect(Statement& statement) {
  std::vector<StoredRecord> records;
  while (statement.Step()) {
    StoredRecord record;
    record.id = statement.Int(0);
    const std::vector<uint8_t> identity = statement.Blob(1);
    if (identity.size() != kIdentityBytes) throw StoreError("a stored identity is damaged");
    std::copy(identity.begin(), identity.end(), record.identity.begin());
    record.sub_factor = static_cast<uint8_t>(statement.Int(2));
    record.template_blob = statement.Blob(3);
    record.payload = statement.Blob(4);
    record.created = statement.Text(5);
    record.subject = statement.Text(6);
    records.push_back(std::move(record));
  }
  return records;
}

std::vector<StoredRecord> TemplateStore::QueryBySubject(const IdentityBytes& identity,
                                                        uint8_t sub_factor) {
  Statement query =
      db_->Prepare((std::string(kRecordColumns) +
                    "WHERE t.identity = ?1 AND (?2 = 255 OR t.sub_factor = ?2) ORDER BY t.id")
                       .c_str());
  query.Bind(1, identity).Bind(2, int64_t{sub_factor});
  return Collect(query);
}

std::vector<StoredRecord> TemplateStore::QueryAll(uint8_t sub_factor) {
  Statement query = db_->Prepare(
      (std::string(kRecordColumns) + "WHERE (?1 = 255 OR t.sub_factor = ?1) ORDER BY t.id")
          .c_str());
  query.Bind(1, int64_t{sub_factor});
  return Collect(query);
}

int64_t TemplateStore::Add(const StoredRecord& record) {
  try {
    Statement insert = db_->Prepare(
        "INSERT INTO templates(identity, sub_factor, template, payload) VALUES (?1, ?2, ?3, ?4)");
    insert.Bind(1, record.identity)
        .Bind(2, int64_t{record.sub_factor})
        .Bind(3, record.template_blob)
        .Bind(4, record.payload)
        .Run();
  } catch (const StoreError& error) {
    if (sqlite3_extended_errcode(db_->get()) == SQLITE_CONSTRAINT_UNIQUE) {
      throw DuplicateRecordError("this identity already has a template for that finger");
    }
    throw;
  }
  return db_->LastInsertId();
}

int TemplateStore::Delete(const IdentityBytes& identity, std::optional<uint8_t> sub_factor) {
  db_->Execute("BEGIN IMMEDIATE");
  try {
    Statement remove = db_->Prepare(
        "DELETE FROM templates WHERE identity = ?1 AND (?2 IS NULL OR sub_factor = ?2)");
    remove.Bind(1, identity);
    if (sub_factor) {
      remove.Bind(2, int64_t{*sub_factor});
    } else {
      remove.BindNull(2);
    }
    remove.Run();
    const int deleted = db_->Changes();
    db_->Prepare(
           "DELETE FROM subjects WHERE identity = ?1 AND NOT EXISTS "
           "(SELECT 1 FROM templates WHERE identity = ?1)")
        .Bind(1, identity)
        .Run();
    db_->Execute("COMMIT");
    return deleted;
  } catch (...) {
    db_->RollbackIfActive();
    throw;
  }
}

}  // namespace ridgeline::tools
