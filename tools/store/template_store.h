// The gallery: enrolled templates in one SQLite file. A record is an identity (the 76 bytes of
// the framework's identity structure, opaque here), a subfactor (the finger), the template blob
// the engine built, an optional payload and the time it was stored; a subject table keeps the
// display name of each identity. The file carries an application id and a schema version and
// is refused when either is foreign. It runs in WAL mode: readers in other processes go on
// while one process writes, and every change is one transaction, so a record is stored whole
// or not at all, even when the writer is killed.
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

#include "tools/store/sqlite_handle.h"

namespace ridgeline::tools {

constexpr size_t kIdentityBytes = 76;
using IdentityBytes = std::array<uint8_t, kIdentityBytes>;

// "RDLN": marks a SQLite file as a gallery of this tool.
constexpr int32_t kGalleryApplicationId = 0x52444C4E;
constexpr int32_t kGallerySchemaVersion = 1;
// The subfactor that selects every finger in a query.
constexpr uint8_t kAnySubFactor = 0xFF;

struct StoredRecord {
  int64_t id = 0;
  IdentityBytes identity{};
  uint8_t sub_factor = 0;
  std::vector<uint8_t> template_blob;
  std::vector<uint8_t> payload;
  std::string subject;  // display name; empty when the identity was never named
  std::string created;  // UTC, ISO 8601
};

// Adding a record for an identity and finger that already has one.
class DuplicateRecordError : public StoreError {
 public:
  using StoreError::StoreError;
};

class TemplateStore {
 public:
  enum class Mode { kOpenExisting, kCreateIfMissing };

  // Throws StoreError when the file is missing (kOpenExisting), is not a SQLite database, is a
  // database of another application or of a newer schema, or cannot be opened.
  TemplateStore(const std::filesystem::path& path, Mode mode);
  ~TemplateStore();

  const std::filesystem::path& path() const { return path_; }

  // Names an identity for display; a second call with another name renames it. Throws
  // StoreError when the name already belongs to another identity.
  void NameSubject(const IdentityBytes& identity, const std::string& name);
  std::optional<std::string> SubjectName(const IdentityBytes& identity);

  // Records in storage order (oldest first). sub_factor kAnySubFactor matches every finger.
  std::vector<StoredRecord> QueryBySubject(const IdentityBytes& identity, uint8_t sub_factor);
  std::vector<StoredRecord> QueryAll(uint8_t sub_factor);

  // Stores the record in one transaction and returns its id. Throws DuplicateRecordError when
  // the identity already has a record for that finger, StoreError on any other failure.
  int64_t Add(const StoredRecord& record);

  // Deletes the identity's records (all fingers when sub_factor is empty), and the subject's
  // name once no record is left. Returns the number of records deleted.
  int Delete(const IdentityBytes& identity, std::optional<uint8_t> sub_factor);

 private:
  void CreateInPlace();
  void Initialise();
  int64_t ReadPragma(const char* name);
  std::vector<StoredRecord> Collect(Statement& statement);

  std::filesystem::path path_;
  std::unique_ptr<Connection> db_;
};

}  // namespace ridgeline::tools
