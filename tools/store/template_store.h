// The gallery: enrolled templates in one SQLite file. A record is an identity (the 76 bytes of
// the framework's identity structure, opaque here), a subfactor (the finger), the template blob
// the engine built, an optional payload and the time it was stored; a subject table keeps the
// display name of each identity. The file carries an application id and a schema version and
// is refused when either is foreign; a gallery of the previous schema is upgraded when it is
// opened for writing, and read as it is otherwise.
//
// Integrity: every record carries a tag over its identity, finger, payload and template (see
// record_seal.h). Galleries created with a key keep their templates encrypted; the key lives in
// a key file whose path the gallery records (gallery_key.h). A record whose tag fails is never
// handed out as good: it comes back with `damage` set and an empty template.
//
// Concurrency: the file runs in WAL mode, so readers in other processes go on while one process
// writes; every change is one transaction, so a record is stored whole or not at all, even when
// the writer is killed. BeginWrite holds the write lock across several calls (a duplicate check
// and the store that depends on it).
//
// Access: a gallery the user may only read (file, folder or mount) is opened read-only, and only
// the read calls work on it. New gallery files are created 0600, and a folder the store creates
// for them 0700.
//
// Not thread-safe: one TemplateStore per thread.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/store/gallery_key.h"
#include "tools/store/sqlite_handle.h"

namespace ridgeline::tools {

constexpr size_t kIdentityBytes = 76;
using IdentityBytes = std::array<uint8_t, kIdentityBytes>;

// "RDLN": marks a SQLite file as a gallery of this tool.
constexpr int32_t kGalleryApplicationId = 0x52444C4E;
// 1: records without tags. 2: tags, optional encryption, the gallery_info table.
constexpr int32_t kGallerySchemaVersion = 2;
// The subfactor that selects every finger in a query.
constexpr uint8_t kAnySubFactor = 0xFF;

struct StoredRecord {
  StoredRecord() = default;
  // The decrypted template is wiped when the record goes.
  ~StoredRecord() { WipeBytes(template_blob.data(), template_blob.size()); }
  StoredRecord(const StoredRecord&) = default;
  StoredRecord(StoredRecord&&) = default;
  StoredRecord& operator=(const StoredRecord&) = default;
  StoredRecord& operator=(StoredRecord&&) = default;

  int64_t id = 0;
  IdentityBytes identity{};
  uint8_t sub_factor = 0;
  std::vector<uint8_t> template_blob;  // empty when damaged
  std::vector<uint8_t> payload;
  std::string subject;  // display name; empty when the identity was never named
  std::string created;  // UTC, ISO 8601
  std::string damage;   // empty when intact; otherwise why the record cannot be trusted
};

// Adding a record for an identity and finger that already has one.
class DuplicateRecordError : public StoreError {
 public:
  using StoreError::StoreError;
};

// How a gallery is opened.
struct GalleryOptions {
  // The key file to use instead of the one the gallery names; for a new encrypted gallery, where
  // to create (or find) its key. Empty: the recorded one, or GALLERY.key for a new gallery.
  std::filesystem::path key_file;
  // Whether a gallery created by this open encrypts its templates.
  bool encrypt_new = false;
};

// What `check` found.
struct GalleryCheck {
  size_t records = 0;
  std::vector<StoredRecord> damaged;     // records whose tag fails (template empty)
  std::vector<std::string> file_faults;  // SQLite's integrity check, when it is not "ok"
  int schema_version = 0;
  bool encrypted = false;
};

class TemplateStore {
 public:
  enum class Mode { kOpenExisting, kCreateIfMissing, kReadOnly };

  // Throws StoreError when the file is missing (kOpenExisting, kReadOnly), is not a SQLite
  // database, is a database of another application or of a newer schema, cannot be opened or,
  // unless kReadOnly, cannot be written (permission errors name the file); KeyFileError when it
  // is encrypted and its key cannot be had.
  TemplateStore(const std::filesystem::path& path, Mode mode, const GalleryOptions& options = {});
  ~TemplateStore();

  const std::filesystem::path& path() const { return path_; }
  bool read_only() const { return read_only_; }
  bool encrypted() const { return key_ != nullptr; }
  int schema_version() const { return schema_version_; }
  // The key file in use; empty for a plaintext gallery.
  const std::filesystem::path& key_file() const { return key_file_; }

  // Names an identity for display; a second call with another name renames it. Throws
  // StoreError when the name already belongs to another identity.
  void NameSubject(const IdentityBytes& identity, const std::string& name);
  std::optional<std::string> SubjectName(const IdentityBytes& identity);

  // Records in storage order (oldest first). sub_factor kAnySubFactor matches every finger.
  // Damaged records are included, flagged.
  std::vector<StoredRecord> QueryBySubject(const IdentityBytes& identity, uint8_t sub_factor);
  std::vector<StoredRecord> QueryAll(uint8_t sub_factor);

  // Stores the record (tagged, and encrypted when the gallery is) and returns its id. Throws
  // DuplicateRecordError when the identity already has a record for that finger, StoreError on
  // any other failure.
  int64_t Add(const StoredRecord& record);

  // Deletes the identity's records (all fingers when sub_factor is empty), and the subject's
  // name once no record is left. Returns the number of records deleted.
  int Delete(const IdentityBytes& identity, std::optional<uint8_t> sub_factor);

  // The write lock from BeginWrite to Commit or Rollback: everything in between is one
  // transaction that other writers wait for (readers do not). Calls that change the gallery
  // join it instead of making their own.
  void BeginWrite();
  void Commit();
  void Rollback();  // harmless when no transaction is open
  bool in_write() const { return in_write_; }

  // Every record's tag and SQLite's own integrity check.
  GalleryCheck Check();

  // Re-seals every record under a new key, written to new_key_file (which must not exist), in
  // one transaction; a plaintext gallery becomes encrypted. The old key file is left alone.
  // Throws StoreError, with nothing changed, when a record is damaged.
  void Rekey(const std::filesystem::path& new_key_file);

  // A consistent copy of the gallery in a new file at out (which must not exist), made under a
  // temporary name and renamed into place, so out is whole or absent. Records stay sealed as
  // they are; the copy names the same key file.
  void ExportTo(const std::filesystem::path& out);

  // Adds every record and subject name of source in one transaction: all of them, or none when
  // any is damaged or its subject already has that finger here (DuplicateRecordError). Records
  // are re-sealed under this gallery's key. Returns the number of records added.
  int ImportFrom(TemplateStore& source);

 private:
  void Open(Mode mode, const GalleryOptions& options);
  void Initialise(const GalleryOptions& options);
  void CreateSchema(const GalleryOptions& options);
  int64_t ReadPragma(const char* name);
  void UpgradeFromVersion1();
  void LoadKey(const GalleryOptions& options);
  void SetInfo(const std::string& key, const std::vector<uint8_t>& value);
  // Records in the gallery which key file it is sealed with and the key's check value.
  void RecordKey(const std::filesystem::path& key_file, const GalleryKey& key);
  std::optional<std::vector<uint8_t>> Info(const std::string& key);
  std::vector<StoredRecord> Collect(Statement& statement);
  std::string RecordQuery(const std::string& where) const;
  void RequireWritable(const char* what) const;
  template <typename Body>
  auto InWrite(Body body);

  std::filesystem::path path_;
  std::unique_ptr<Connection> db_;
  std::unique_ptr<GalleryKey> key_;
  std::filesystem::path key_file_;
  int schema_version_ = 0;
  bool read_only_ = false;
  bool in_write_ = false;
};

}  // namespace ridgeline::tools
