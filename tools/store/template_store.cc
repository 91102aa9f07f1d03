#include "tools/store/template_store.h"

#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/store/record_seal.h"

namespace ridgeline::tools {
namespace {

namespace fs = std::filesystem;

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
    seal INTEGER NOT NULL DEFAULT 0,
    nonce BLOB,
    tag BLOB,
    UNIQUE (identity, sub_factor)
  );
  CREATE TABLE gallery_info (
    key TEXT PRIMARY KEY,
    value BLOB NOT NULL
  );
)sql";

// Version 1 had no tags, no sealing and no gallery_info.
constexpr const char* kUpgradeFrom1 = R"sql(
  ALTER TABLE templates ADD COLUMN seal INTEGER NOT NULL DEFAULT 0;
  ALTER TABLE templates ADD COLUMN nonce BLOB;
  ALTER TABLE templates ADD COLUMN tag BLOB;
  CREATE TABLE gallery_info (
    key TEXT PRIMARY KEY,
    value BLOB NOT NULL
  );
)sql";

bool IsNotADatabase(const StoreError& error) {
  const std::string text = error.what();
  return text.find("not a database") != std::string::npos ||
         text.find("malformed") != std::string::npos;
}

std::string Reason(int error) { return std::strerror(error); }

bool CanAccess(const fs::path& path, int how) {
  return ::faccessat(AT_FDCWD, path.c_str(), how, AT_EACCESS) == 0;
}

fs::path FolderOf(const fs::path& path) {
  return path.parent_path().empty() ? fs::path(".") : path.parent_path();
}

// Creates the missing folders above path, each 0700: a gallery's folder is nobody else's.
void CreateFolders(const fs::path& folder) {
  if (folder.empty() || folder == ".") return;
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0) {
    if (!S_ISDIR(info.st_mode)) throw StoreError(folder.string() + ": is not a folder");
    return;
  }
  CreateFolders(folder.parent_path());
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    const int error = errno;
    throw StoreError(folder.string() + ": " +
                     (error == EACCES
                          ? "permission denied creating the gallery's folder"
                          : "cannot create the gallery's folder (" + Reason(error) + ")"));
  }
}

// An empty file, 0600, never through a symbolic link; another process creating it first is fine.
void CreatePrivateFile(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0) {
    ::close(fd);
    return;
  }
  const int error = errno;
  if (error == EEXIST) return;
  throw StoreError(path.string() + ": " +
                   (error == EACCES ? "permission denied creating the gallery (the folder " +
                                          FolderOf(path).string() + " is not writable for you)"
                                    : "cannot create the gallery (" + Reason(error) + ")"));
}

void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

RecordBinding BindingOf(const StoredRecord& record) {
  return {record.identity, record.sub_factor, record.payload};
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace

TemplateStore::TemplateStore(const fs::path& path, Mode mode, const GalleryOptions& options)
    : path_(path) {
  const std::string name = path.string();
  try {
    Open(mode, options);
  } catch (const KeyFileError&) {
    throw;
  } catch (const StoreError& failure) {
    if (IsNotADatabase(failure)) {
      throw StoreError(name +
                       ": not a ridgeline gallery (the file is not a SQLite database, or "
                       "it is damaged)");
    }
    const std::string text = failure.what();
    throw StoreError(text.rfind(name, 0) == 0 ? text : name + ": " + text);
  }
}

TemplateStore::~TemplateStore() {
  if (in_write_) {
    try {
      Rollback();
    } catch (const StoreError&) {
      // Closing the connection rolls back as well.
    }
  }
}

void TemplateStore::Open(Mode mode, const GalleryOptions& options) {
  const std::string name = path_.string();
  if (name == ":memory:") {
    db_ = std::make_unique<Connection>(name, Connection::Access::kCreate);
    Initialise(options);
    return;
  }
  struct stat info {};
  if (::stat(name.c_str(), &info) != 0) {
    const int error = errno;
    if (error == EACCES) {
      throw StoreError(name + ": permission denied (a folder on the way is not open to you)");
    }
    if (error != ENOENT)
      throw StoreError(name + ": cannot reach the gallery (" + Reason(error) + ")");
    if (mode != Mode::kCreateIfMissing) {
      throw StoreError(name + ": no gallery here (enroll a finger to create one)");
    }
    CreateFolders(FolderOf(path_));
    CreatePrivateFile(path_);
  } else if (S_ISDIR(info.st_mode)) {
    throw StoreError(name + ": is a directory, not a gallery file");
  }
  if (!CanAccess(path_, R_OK)) throw StoreError(name + ": permission denied reading the gallery");

  // SQLite writes its -wal and -shm files beside the gallery: writing needs the folder too.
  const bool file_writable = CanAccess(path_, W_OK);
  const bool folder_writable = CanAccess(FolderOf(path_), W_OK);
  if (file_writable && folder_writable) {
    db_ = std::make_unique<Connection>(name, Connection::Access::kReadWrite);
    Initialise(options);
    return;
  }
  if (mode != Mode::kReadOnly) {
    throw StoreError(name + ": permission denied: " +
                     (file_writable ? "its folder " + FolderOf(path_).string() + " is"
                                    : std::string("the gallery is")) +
                     " read-only for you, and this command changes the gallery");
  }
  read_only_ = true;
  try {
    db_ = std::make_unique<Connection>(name, Connection::Access::kReadOnly);
    Initialise(options);
  } catch (const KeyFileError&) {
    throw;
  } catch (const StoreError&) {
    // A WAL database read-only needs its -shm file or a writable folder; without either (a
    // read-only mount, a folder of someone else's) it can be read only as an immutable file.
    db_ = std::make_unique<Connection>(name, Connection::Access::kImmutable);
    Initialise(options);
  }
}

void TemplateStore::Initialise(const GalleryOptions& options) {
  int64_t application_id = ReadPragma("application_id");
  int64_t schema_version = ReadPragma("user_version");

  if (application_id == 0) {
    // A new file, or one another process is creating right now. Everything is decided under
    // the write lock, where what the file holds is read again: racing first enrollments see
    // either nothing (and one writes the schema) or the whole schema with its application id,
    // never the tables without the id.
    if (read_only_) throw StoreError("an empty file, not a ridgeline gallery (yet)");
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
        CreateSchema(options);
        application_id = kGalleryApplicationId;
      }
      schema_version = ReadPragma("user_version");
      db_->Execute("COMMIT");
    } catch (...) {
      db_->RollbackIfActive();
      throw;
    }
    // WAL can only be chosen outside a transaction; it is a property of the file, so once some
    // process chose it nothing is left to do. The switch needs every other connection out of
    // the file for a moment and SQLite does not wait for that through its busy handler, so a
    // first enrollment racing others retries it for as long as the busy timeout would wait.
    for (int attempt = 0;; ++attempt) {
      Statement mode = db_->Prepare("PRAGMA journal_mode");
      const bool wal = mode.Step() && mode.Text(0) == "wal";
      mode.Run();
      if (wal) break;
      try {
        db_->Execute("PRAGMA journal_mode=WAL");
        break;
      } catch (const StoreError&) {
        if (attempt >= 200) throw;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
  }
  if (application_id != kGalleryApplicationId) {
    throw StoreError("a SQLite database of another application, not a ridgeline gallery");
  } else if (schema_version > kGallerySchemaVersion) {
    throw StoreError("the gallery was written by a newer ridgeline (schema " +
                     std::to_string(schema_version) + ", this one reads up to " +
                     std::to_string(kGallerySchemaVersion) + "); use that version");
  } else if (schema_version < 1) {
    throw StoreError("the gallery has no schema version; it is damaged");
  } else if (schema_version == 1 && !read_only_) {
    UpgradeFromVersion1();
    schema_version = kGallerySchemaVersion;
  }
  schema_version_ = static_cast<int>(schema_version);
  db_->Execute("PRAGMA foreign_keys=ON");
  // A committed record must survive the process being killed right after the commit.
  db_->Execute("PRAGMA synchronous=FULL");
  if (schema_version_ >= 2) LoadKey(options);
}

int64_t TemplateStore::ReadPragma(const char* name) {
  Statement pragma = db_->Prepare((std::string("PRAGMA ") + name).c_str());
  pragma.Step();
  const int64_t value = pragma.Int(0);
  pragma.Run();
  return value;
}

void TemplateStore::CreateSchema(const GalleryOptions& options) {
  db_->Execute(kSchema);
  db_->Execute(("PRAGMA application_id=" + std::to_string(kGalleryApplicationId)).c_str());
  db_->Execute(("PRAGMA user_version=" + std::to_string(kGallerySchemaVersion)).c_str());
  if (!options.encrypt_new || path_ == ":memory:") return;
  fs::path key_path = options.key_file;
  if (key_path.empty()) key_path = path_.string() + ".key";
  auto key = std::make_unique<GalleryKey>();
  std::error_code error;
  if (fs::exists(key_path, error)) {
    ReadKeyFile(key_path, key.get());  // a key the user gave, shared between galleries
  } else {
    key->Randomise();
    WriteNewKeyFile(key_path, *key);
  }
  RecordKey(key_path, *key);
}

void TemplateStore::RecordKey(const fs::path& key_file, const GalleryKey& key) {
  // A key beside the gallery is recorded by its file name, so the two can move together.
  const fs::path absolute_key = fs::absolute(key_file);
  const fs::path recorded = absolute_key.parent_path() == fs::absolute(path_).parent_path()
                                ? absolute_key.filename()
                                : absolute_key;
  SetInfo("key_file", Bytes(recorded.string()));
  const auto check = key.CheckValue();
  SetInfo("key_check", {check.begin(), check.end()});
}

void TemplateStore::UpgradeFromVersion1() {
  db_->Execute("BEGIN IMMEDIATE");
  try {
    Statement version = db_->Prepare("PRAGMA user_version");
    version.Step();
    const bool still_1 = version.Int(0) == 1;
    version.Run();
    if (still_1) {  // another process may have upgraded it meanwhile
      db_->Execute(kUpgradeFrom1);
      // Records written before tags existed are vouched for by their structure alone; one that
      // fails it stays without a tag and so reads as damaged from now on.
      Statement rows =
          db_->Prepare("SELECT id, identity, sub_factor, template, payload FROM templates");
      Statement update = db_->Prepare("UPDATE templates SET tag = ?2 WHERE id = ?1");
      while (rows.Step()) {
        StoredRecord record;
        const std::vector<uint8_t> identity = rows.Blob(1);
        if (identity.size() != kIdentityBytes) continue;
        std::copy(identity.begin(), identity.end(), record.identity.begin());
        record.sub_factor = static_cast<uint8_t>(rows.Int(2));
        record.template_blob = rows.Blob(3);
        record.payload = rows.Blob(4);
        if (!ContainerStructureIntact(record.template_blob)) continue;
        const SealedTemplate sealed =
            SealTemplate(BindingOf(record), record.template_blob, nullptr);
        update.Bind(1, rows.Int(0)).Bind(2, sealed.tag).Run();
      }
      db_->Execute(("PRAGMA user_version=" + std::to_string(kGallerySchemaVersion)).c_str());
    }
    db_->Execute("COMMIT");
  } catch (...) {
    db_->RollbackIfActive();
    throw;
  }
}

void TemplateStore::LoadKey(const GalleryOptions& options) {
  const auto recorded = Info("key_file");
  if (!recorded) return;  // a plaintext gallery
  const fs::path recorded_path(std::string(recorded->begin(), recorded->end()));
  key_file_ = !options.key_file.empty()     ? options.key_file
              : recorded_path.is_absolute() ? recorded_path
                                            : FolderOf(path_) / recorded_path;
  const std::string advice =
      ". Nothing in the gallery was changed; give its key with --key-file or RIDGELINE_KEY_FILE";
  auto key = std::make_unique<GalleryKey>();
  try {
    ReadKeyFile(key_file_, key.get());
  } catch (const KeyFileError& error) {
    throw KeyFileError(path_.string() +
                       " is encrypted and its key cannot be read: " + error.what() + advice);
  }
  const auto check = Info("key_check");
  const auto expected = key->CheckValue();
  if (!check || check->size() != expected.size() ||
      !std::equal(expected.begin(), expected.end(), check->begin())) {
    throw KeyFileError(path_.string() + " is encrypted and " + key_file_.string() +
                       " is not its key (a wrong key)" + advice);
  }
  key_ = std::move(key);
}

void TemplateStore::SetInfo(const std::string& key, const std::vector<uint8_t>& value) {
  db_->Prepare("INSERT OR REPLACE INTO gallery_info(key, value) VALUES (?1, ?2)")
      .Bind(1, key)
      .Bind(2, value)
      .Run();
}

std::optional<std::vector<uint8_t>> TemplateStore::Info(const std::string& key) {
  Statement query = db_->Prepare("SELECT value FROM gallery_info WHERE key = ?1");
  query.Bind(1, key);
  if (!query.Step()) return std::nullopt;
  std::vector<uint8_t> value = query.Blob(0);
  query.Run();
  return value;
}

void TemplateStore::RequireWritable(const char* what) const {
  if (read_only_) {
    throw StoreError(path_.string() + ": permission denied: the gallery is read-only for you (" +
                     what + ")");
  }
}

template <typename Body>
auto TemplateStore::InWrite(Body body) {
  if (in_write_) return body();
  BeginWrite();
  try {
    auto result = body();
    Commit();
    return result;
  } catch (...) {
    Rollback();
    throw;
  }
}

void TemplateStore::BeginWrite() {
  RequireWritable("writing");
  if (in_write_) throw StoreError("a write transaction is already open");
  db_->Execute("BEGIN IMMEDIATE");
  in_write_ = true;
}

void TemplateStore::Commit() {
  if (!in_write_) return;
  db_->Execute("COMMIT");
  in_write_ = false;
}

void TemplateStore::Rollback() {
  if (!in_write_) return;
  in_write_ = false;
  db_->RollbackIfActive();
}

void TemplateStore::NameSubject(const IdentityBytes& identity, const std::string& name) {
  RequireWritable("naming a subject");
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

std::string TemplateStore::RecordQuery(const std::string& where) const {
  const char* seal_columns = schema_version_ >= 2 ? "t.seal, t.nonce, t.tag" : "-1, NULL, NULL";
  return std::string(
             "SELECT t.id, t.identity, t.sub_factor, t.template, t.payload, t.created, "
             "coalesce(s.name, ''), ") +
         seal_columns + " FROM templates t LEFT JOIN subjects s ON s.identity = t.identity " +
         where + " ORDER BY t.id";
}

std::vector<StoredRecord> TemplateStore::Collect(Statement& statement) {
  std::vector<StoredRecord> records;
  while (statement.Step()) {
    StoredRecord record;
    record.id = statement.Int(0);
    record.sub_factor = static_cast<uint8_t>(statement.Int(2));
    record.payload = statement.Blob(4);
    record.created = statement.Text(5);
    record.subject = statement.Text(6);
    const std::vector<uint8_t> identity = statement.Blob(1);
    if (identity.size() != kIdentityBytes) {
      record.damage = "its identity is damaged";
      records.push_back(std::move(record));
      continue;
    }
    std::copy(identity.begin(), identity.end(), record.identity.begin());
    const int64_t seal = statement.Int(7);
    if (seal < 0) {  // a gallery of version 1 opened read-only: no tags to check
      record.template_blob = statement.Blob(3);
      if (!ContainerStructureIntact(record.template_blob)) {
        WipeBytes(record.template_blob.data(), record.template_blob.size());
        record.template_blob.clear();
        record.damage = "its template is malformed";
      }
    } else {
      SealedTemplate sealed;
      sealed.kind = static_cast<SealKind>(seal);
      sealed.stored = statement.Blob(3);
      sealed.nonce = statement.Blob(8);
      sealed.tag = statement.Blob(9);
      record.damage = OpenTemplate(BindingOf(record), sealed, key_.get(), &record.template_blob);
    }
    records.push_back(std::move(record));
  }
  return records;
}

std::vector<StoredRecord> TemplateStore::QueryBySubject(const IdentityBytes& identity,
                                                        uint8_t sub_factor) {
  Statement query = db_->Prepare(
      RecordQuery("WHERE t.identity = ?1 AND (?2 = 255 OR t.sub_factor = ?2)").c_str());
  query.Bind(1, identity).Bind(2, int64_t{sub_factor});
  return Collect(query);
}

std::vector<StoredRecord> TemplateStore::QueryAll(uint8_t sub_factor) {
  Statement query = db_->Prepare(RecordQuery("WHERE (?1 = 255 OR t.sub_factor = ?1)").c_str());
  query.Bind(1, int64_t{sub_factor});
  return Collect(query);
}

int64_t TemplateStore::Add(const StoredRecord& record) {
  RequireWritable("storing a template");
  const SealedTemplate sealed = SealTemplate(BindingOf(record), record.template_blob, key_.get());
  try {
    Statement insert = db_->Prepare(
        "INSERT INTO templates(identity, sub_factor, template, payload, seal, nonce, tag) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    insert.Bind(1, record.identity)
        .Bind(2, int64_t{record.sub_factor})
        .Bind(3, sealed.stored)
        .Bind(4, record.payload)
        .Bind(5, int64_t{static_cast<int>(sealed.kind)});
    if (sealed.nonce.empty()) {
      insert.BindNull(6);
    } else {
      insert.Bind(6, sealed.nonce);
    }
    insert.Bind(7, sealed.tag).Run();
  } catch (const StoreError& error) {
    if (sqlite3_extended_errcode(db_->get()) == SQLITE_CONSTRAINT_UNIQUE) {
      throw DuplicateRecordError("this identity already has a template for that finger");
    }
    throw;
  }
  return db_->LastInsertId();
}

int TemplateStore::Delete(const IdentityBytes& identity, std::optional<uint8_t> sub_factor) {
  return InWrite([&] {
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
    return deleted;
  });
}

GalleryCheck TemplateStore::Check() {
  GalleryCheck check;
  check.schema_version = schema_version_;
  check.encrypted = encrypted();
  Statement integrity = db_->Prepare("PRAGMA integrity_check");
  while (integrity.Step()) {
    const std::string line = integrity.Text(0);
    if (line != "ok") check.file_faults.push_back(line);
  }
  std::vector<StoredRecord> records = QueryAll(kAnySubFactor);
  check.records = records.size();
  for (StoredRecord& record : records) {
    if (!record.damage.empty()) check.damaged.push_back(std::move(record));
  }
  return check;
}

void TemplateStore::Rekey(const fs::path& new_key_file) {
  RequireWritable("re-encrypting");
  if (schema_version_ < 2) throw StoreError("the gallery must be upgraded first");
  InWrite([&] {
    const std::vector<StoredRecord> records = QueryAll(kAnySubFactor);
    for (const StoredRecord& record : records) {
      if (!record.damage.empty()) {
        throw StoreError(
            "a record of " + (record.subject.empty() ? "an unnamed subject" : record.subject) +
            " is damaged (" + record.damage + "); delete it first, nothing was changed");
      }
    }
    auto key = std::make_unique<GalleryKey>();
    key->Randomise();
    WriteNewKeyFile(new_key_file, *key);
    try {
      Statement update = db_->Prepare(
          "UPDATE templates SET template = ?2, seal = ?3, nonce = ?4, tag = ?5 WHERE id = ?1");
      for (const StoredRecord& record : records) {
        const SealedTemplate sealed =
            SealTemplate(BindingOf(record), record.template_blob, key.get());
        update.Bind(1, record.id)
            .Bind(2, sealed.stored)
            .Bind(3, int64_t{static_cast<int>(sealed.kind)})
            .Bind(4, sealed.nonce)
            .Bind(5, sealed.tag)
            .Run();
      }
      RecordKey(new_key_file, *key);
    } catch (...) {
      ::unlink(new_key_file.c_str());  // the gallery never named it
      throw;
    }
    key_ = std::move(key);
    key_file_ = new_key_file;
    return 0;
  });
}

void TemplateStore::ExportTo(const fs::path& out) {
  std::error_code error;
  if (fs::exists(out, error) || fs::is_symlink(out, error)) {
    throw StoreError(out.string() + ": already exists; export writes a new file");
  }
  const fs::path temporary = out.string() + ".partial-" + std::to_string(::getpid());
  CreatePrivateFile(temporary);
  try {
    db_->Prepare("VACUUM INTO ?1").Bind(1, temporary.string()).Run();
    if (key_ != nullptr) {
      // The copy may land elsewhere: it names the key by its full path.
      Connection copy(temporary.string(), Connection::Access::kReadWrite);
      copy.Prepare("INSERT OR REPLACE INTO gallery_info(key, value) VALUES ('key_file', ?1)")
          .Bind(1, Bytes(fs::absolute(key_file_).string()))
          .Run();
    }
    const int fd = ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      ::fsync(fd);
      ::close(fd);
    }
    // link refuses to replace a file that appeared meanwhile; rename would not.
    if (::link(temporary.c_str(), out.c_str()) != 0) {
      const int link_error = errno;
      throw StoreError(out.string() + ": cannot create the export (" + Reason(link_error) + ")");
    }
    ::unlink(temporary.c_str());
    SyncFolder(FolderOf(out));
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
}

int TemplateStore::ImportFrom(TemplateStore& source) {
  RequireWritable("importing");
  const std::vector<StoredRecord> records = source.QueryAll(kAnySubFactor);
  for (const StoredRecord& record : records) {
    if (!record.damage.empty()) {
      throw StoreError(source.path().string() + ": a record of " +
                       (record.subject.empty() ? "an unnamed subject" : record.subject) +
                       " is damaged (" + record.damage + "); nothing was imported");
    }
  }
  return InWrite([&] {
    for (const StoredRecord& record : records) {
      if (!record.subject.empty()) NameSubject(record.identity, record.subject);
      try {
        Add(record);
      } catch (const DuplicateRecordError&) {
        throw DuplicateRecordError(
            (record.subject.empty() ? std::string("an unnamed subject") : record.subject) +
            " already has a template for finger " + std::to_string(record.sub_factor) + " in " +
            path_.string() + "; nothing was imported");
      }
    }
    return static_cast<int>(records.size());
  });
}

}  // namespace ridgeline::tools
