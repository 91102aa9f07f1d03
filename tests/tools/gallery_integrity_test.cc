// The gallery's guarantees below the command: records of the previous schema upgraded with their
// tags, damaged and moved records recognised (plaintext and encrypted), the key file's troubles
// named without touching the gallery, re-encryption, export and import whole or not at all, and
// a writer killed in the middle leaving a gallery whose every record checks.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tests/support/gallery_records.h"
#include "tests/support/killed_child.h"
#include "tests/support/scratch_dir.h"
#include "tools/store/record_seal.h"
#include "tools/store/template_store.h"

namespace ridgeline::tools {
namespace {

namespace fs = std::filesystem;

using ridgeline::testing::KillOnceUnderWay;

using ridgeline::testing::GuidIdentity;
using ridgeline::testing::ScratchDir;

// A blob with the structure of a template container: header, one entry of `size` bytes.
std::vector<uint8_t> Container(uint8_t seed, size_t size) {
  std::vector<uint8_t> blob = {
      0, 0, 0, 0, 0, 1, 0xD1, 0x07, static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8)};
  for (size_t i = 0; i < size; ++i) blob.push_back(static_cast<uint8_t>(i * 7 + seed));
  return blob;
}

StoredRecord Record(uint8_t tag, uint8_t finger) {
  StoredRecord record;
  record.identity = GuidIdentity(tag);
  record.sub_factor = finger;
  record.template_blob = Container(tag, 300 + tag);
  record.payload = {tag};
  return record;
}

GalleryOptions Encrypted(const fs::path& key_file = {}) {
  GalleryOptions options;
  options.encrypt_new = true;
  options.key_file = key_file;
  return options;
}

// Runs sql on the gallery's file directly, as damage or an attacker would.
void Tamper(const fs::path& db, const std::string& sql) {
  Connection raw(db.string(), false);
  raw.Execute(sql.c_str());
}

// Flips two bytes inside the stored template of the record whose payload is {tag}.
void FlipTwoBytes(const fs::path& db, uint8_t tag) {
  Connection raw(db.string(), false);
  const std::vector<uint8_t> payload = {tag};
  Statement read = raw.Prepare("SELECT template FROM templates WHERE payload = ?1");
  read.Bind(1, payload);
  ASSERT_TRUE(read.Step());
  std::vector<uint8_t> blob = read.Blob(0);
  read.Run();
  blob[20] ^= 0x01;
  blob[31] ^= 0x80;
  raw.Prepare("UPDATE templates SET template = ?1 WHERE payload = ?2")
      .Bind(1, blob)
      .Bind(2, payload)
      .Run();
}

std::vector<std::string> Damage(TemplateStore& store) {
  std::vector<std::string> damaged;
  for (const StoredRecord& r : store.QueryAll(kAnySubFactor)) {
    if (!r.damage.empty()) damaged.push_back(std::to_string(r.identity[4]));
  }
  return damaged;
}

int Mode(const fs::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 0777) : -1;
}

TEST(GallerySchema, VersionOneGalleryIsUpgradedWithTagsAndNothingLost) {
  ScratchDir dir("ridgeline_gallery");
  const fs::path db = dir / "old.db";
  {
    // The schema as the previous release wrote it, with one good record and one that had
    // already been damaged (four junk bytes) before tags existed.
    Connection old(db.string(), true);
    old.Execute(R"sql(
      CREATE TABLE subjects (identity BLOB PRIMARY KEY CHECK (length(identity) = 76),
                             name TEXT NOT NULL UNIQUE);
      CREATE TABLE templates (id INTEGER PRIMARY KEY,
        identity BLOB NOT NULL CHECK (length(identity) = 76),
        sub_factor INTEGER NOT NULL CHECK (sub_factor BETWEEN 0 AND 255),
        template BLOB NOT NULL CHECK (length(template) > 0), payload BLOB NOT NULL,
        created TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now')),
        UNIQUE (identity, sub_factor));
      PRAGMA application_id=1380207694; PRAGMA user_version=1; PRAGMA journal_mode=WAL;)sql");
    const StoredRecord good = Record(1, 2);
    old.Prepare("INSERT INTO subjects VALUES (?1, 'alice')").Bind(1, good.identity).Run();
    old.Prepare(
           "INSERT INTO templates(identity, sub_factor, template, payload) VALUES "
           "(?1, ?2, ?3, ?4)")
        .Bind(1, good.identity)
        .Bind(2, int64_t{2})
        .Bind(3, good.template_blob)
        .Bind(4, good.payload)
        .Run();
    old.Prepare(
           "INSERT INTO templates(identity, sub_factor, template, payload) VALUES "
           "(?1, 3, x'DEADBEEF', x'')")
        .Bind(1, GuidIdentity(2))
        .Run();
  }
  {
    TemplateStore store(db, TemplateStore::Mode::kOpenExisting);
    EXPECT_EQ(store.schema_version(), 2);
    EXPECT_FALSE(store.encrypted());  // encryption is for new galleries and rekey
    const auto records = store.QueryAll(kAnySubFactor);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].subject, "alice");
    EXPECT_EQ(records[0].template_blob, Record(1, 2).template_blob);
    EXPECT_TRUE(records[0].damage.empty());
    EXPECT_FALSE(records[1].damage.empty());
    EXPECT_TRUE(records[1].template_blob.empty());
    store.Add(Record(3, 1));
  }
  // Upgraded once: the tags written then are the ones checked now.
  TemplateStore again(db, TemplateStore::Mode::kOpenExisting);
  EXPECT_EQ(Damage(again), std::vector<std::string>{"2"});
  EXPECT_EQ(again.QueryAll(kAnySubFactor).size(), 3u);
  Tamper(db, "PRAGMA user_version=3");
  EXPECT_THROW(TemplateStore(db, TemplateStore::Mode::kOpenExisting), StoreError);
}

// Junk, flipped bytes, a record moved to another subject or finger, a changed payload, a
// missing tag: each is caught, in a plaintext and in an encrypted gallery, and the others stay
// readable.
void ExpectDamageRecognised(const GalleryOptions& options) {
  ScratchDir dir("ridgeline_gallery");
  const fs::path db = dir / "g.db";
  {
    TemplateStore store(db, TemplateStore::Mode::kCreateIfMissing, options);
    for (uint8_t tag = 1; tag <= 7; ++tag) store.Add(Record(tag, 2));
  }
  Tamper(db, "UPDATE templates SET template = x'01020304' WHERE payload = x'01'");
  FlipTwoBytes(db, 2);
  // Record 3 moved onto subject 7, whose own record goes first.
  Tamper(db, "CREATE TABLE moved AS SELECT identity FROM templates WHERE payload = x'07'");
  Tamper(db, "DELETE FROM templates WHERE payload = x'07'");
  Tamper(db, "UPDATE templates SET identity = (SELECT identity FROM moved) WHERE payload = x'03'");
  Tamper(db, "UPDATE templates SET sub_factor = 5 WHERE payload = x'04'");
  Tamper(db, "UPDATE templates SET payload = x'FF' WHERE payload = x'05'");
  Tamper(db, "UPDATE templates SET tag = NULL WHERE payload = x'06'");
  TemplateStore store(db, TemplateStore::Mode::kOpenExisting, options);
  const auto records = store.QueryAll(kAnySubFactor);
  ASSERT_EQ(records.size(), 6u);
  for (const StoredRecord& r : records) {
    EXPECT_FALSE(r.damage.empty()) << "record " << int{r.payload[0]} << " passed as intact";
    EXPECT_TRUE(r.template_blob.empty());
  }
  store.Add(Record(9, 1));
  const auto fresh = store.QueryBySubject(GuidIdentity(9), kAnySubFactor);
  ASSERT_EQ(fresh.size(), 1u);
  EXPECT_TRUE(fresh[0].damage.empty());
  EXPECT_EQ(fresh[0].template_blob, Record(9, 1).template_blob);
  const GalleryCheck check = store.Check();
  EXPECT_EQ(check.records, 7u);
  EXPECT_EQ(check.damaged.size(), 6u);
  EXPECT_TRUE(check.file_faults.empty());
}

TEST(GalleryIntegrity, DamagedAndMovedRecordsAreRecognisedInPlaintext) {
  ExpectDamageRecognised(GalleryOptions{});
}

TEST(GalleryIntegrity, DamagedAndMovedRecordsAreRecognisedWhenEncrypted) {
  ExpectDamageRecognised(Encrypted());
}

TEST(GalleryEncryption, TemplatesAreSealedAndFilesPrivate) {
  ScratchDir dir("ridgeline_gallery");
  const fs::path db = dir / "new" / "sub" / "g.db";
  {
    TemplateStore store(db, TemplateStore::Mode::kCreateIfMissing, Encrypted());
    EXPECT_TRUE(store.encrypted());
    store.Add(Record(1, 2));
  }
  EXPECT_EQ(Mode(db), 0600);
  EXPECT_EQ(Mode(db.string() + ".key"), 0600);
  EXPECT_EQ(Mode(dir / "new"), 0700);
  EXPECT_EQ(Mode(dir / "new" / "sub"), 0700);
  EXPECT_EQ(fs::file_size(db.string() + ".key"), kGalleryKeyBytes);
  // Nothing of the template is stored in the clear.
  const std::vector<uint8_t> plain = Record(1, 2).template_blob;
  Connection raw(db.string(), false);
  Statement stored = raw.Prepare("SELECT template, seal FROM templates");
  ASSERT_TRUE(stored.Step());
  const std::vector<uint8_t> bytes = stored.Blob(0);
  EXPECT_EQ(stored.Int(1), 1);
  ASSERT_EQ(bytes.size(), plain.size());
  EXPECT_TRUE(std::search(bytes.begin(), bytes.end(), plain.begin() + 10, plain.begin() + 26) ==
              bytes.end());
  stored.Run();
  // The gallery and its key move together: the key is named relative to the gallery.
  fs::rename(dir / "new", dir / "moved");
  TemplateStore moved(dir / "moved" / "sub" / "g.db", TemplateStore::Mode::kReadOnly);
  EXPECT_EQ(moved.QueryAll(kAnySubFactor)[0].template_blob, plain);
}

TEST(GalleryEncryption, KeyMissingWrongOrTruncatedIsNamedAndLosesNothing) {
  ScratchDir dir("ridgeline_gallery");
  const fs::path db = dir / "g.db";
  const fs::path key = dir / "g.db.key";
  { TemplateStore(db, TemplateStore::Mode::kCreateIfMissing, Encrypted()).Add(Record(1, 2)); }
  fs::rename(key, dir / "saved.key");
  auto open_error = [&](const GalleryOptions& options) -> std::string {
    try {
      TemplateStore store(db, TemplateStore::Mode::kOpenExisting, options);
    } catch (const KeyFileError& error) {
      return error.what();
    }
    return "";
  };
  EXPECT_NE(open_error({}).find("missing"), std::string::npos) << open_error({});
  { std::ofstream(key, std::ios::binary) << std::string(31, 'k'); }
  EXPECT_NE(open_error({}).find("truncated"), std::string::npos) << open_error({});
  fs::remove(key);
  { std::ofstream(key, std::ios::binary) << std::string(32, 'k'); }
  EXPECT_NE(open_error({}).find("wrong key"), std::string::npos) << open_error({});
  // The right key given in another place opens it, and every record is still there.
  GalleryOptions elsewhere;
  elsewhere.key_file = dir / "saved.key";
  TemplateStore store(db, TemplateStore::Mode::kOpenExisting, elsewhere);
  const auto records = store.QueryAll(kAnySubFactor);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(records[0].damage.empty());
}

TEST(GalleryEncryption, RekeyEncryptsAPlaintextGalleryAndRetiresTheOldKey) {
  ScratchDir dir("ridgeline_gallery");
  const fs::path db = dir / "g.db";
  {
    TemplateStore store(db, TemplateStore::Mode::kCreateIfMissing);
    store.Add(Record(1, 2));
    store.Add(Record(2, 3));
    store.Rekey(dir / "first.key");
    EXPECT_TRUE(store.encrypted());
    EXPECT_THROW(store.Rekey(dir / "first.key"), KeyFileError);  // never overwrites a key
  }
  {
    TemplateStore store(db, TemplateStore::Mode::kOpenExisting);
    EXPECT_EQ(store.key_file(), dir / "first.key");
    EXPECT_TRUE(Damage(store).empty());
    store.Rekey(dir / "second.key");
  }
  GalleryOptions old_key;
  old_key.key_file = dir / "first.key";
  EXPECT_THROW(TemplateStore(db, TemplateStore::Mode::kOpenExisting, old_key), KeyFileError);
  TemplateStore store(db, TemplateStore::Mode::kOpenExisting);
  const auto records = store.QueryAll(kAnySubFactor);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].template_blob, Record(2, 3).template_blob);
  // A damaged record stops the rekey before anything changes.
  Tamper(db, "UPDATE templates SET template = x'00' WHERE payload = x'01'");
  TemplateStore damaged(db, TemplateStore::Mode::kOpenExisting);
  EXPECT_THROW(damaged.Rekey(dir / "third.key"), StoreError);
  EXPECT_FALSE(fs::exists(dir / "third.key"));
  EXPECT_EQ(damaged.key_file(), dir / "second.key");
}

TEST(GalleryBackup, ExportAndImportAreWholeOrNothing) {
  ScratchDir dir("ridgeline_gallery");
  const fs::path db = dir / "g.db";
  {
    TemplateStore store(db, TemplateStore::Mode::kCreateIfMissing, Encrypted());
    store.NameSubject(GuidIdentity(1), "alice");
    store.Add(Record(1, 2));
    store.Add(Record(2, 2));
    store.ExportTo(dir / "copy.db");
    EXPECT_THROW(store.ExportTo(dir / "copy.db"), StoreError);  // never overwrites
  }
  EXPECT_EQ(Mode(dir / "copy.db"), 0600);
  // The copy opens from another folder: it names its key by the full path.
  fs::create_directories(dir / "elsewhere");
  fs::rename(dir / "copy.db", dir / "elsewhere" / "copy.db");
  TemplateStore copy(dir / "elsewhere" / "copy.db", TemplateStore::Mode::kReadOnly);
  ASSERT_EQ(copy.QueryAll(kAnySubFactor).size(), 2u);

  // Into a gallery with its own key: re-sealed, names kept.
  TemplateStore other(dir / "other.db", TemplateStore::Mode::kCreateIfMissing, Encrypted());
  other.Add(Record(5, 1));
  EXPECT_EQ(other.ImportFrom(copy), 2);
  EXPECT_EQ(other.SubjectName(GuidIdentity(1)), "alice");
  EXPECT_TRUE(Damage(other).empty());
  EXPECT_EQ(other.QueryBySubject(GuidIdentity(2), 2)[0].template_blob, Record(2, 2).template_blob);

  // A conflict on the last record leaves the target as it was.
  TemplateStore third(dir / "third.db", TemplateStore::Mode::kCreateIfMissing);
  third.Add(Record(2, 2));
  EXPECT_THROW(third.ImportFrom(copy), DuplicateRecordError);
  EXPECT_EQ(third.QueryAll(kAnySubFactor).size(), 1u);
  EXPECT_EQ(third.SubjectName(GuidIdentity(1)), std::nullopt);
  // So does a damaged record in the source.
  Tamper(dir / "g.db", "UPDATE templates SET template = x'00' WHERE payload = x'02'");
  TemplateStore damaged_source(db, TemplateStore::Mode::kReadOnly);
  TemplateStore fourth(dir / "fourth.db", TemplateStore::Mode::kCreateIfMissing);
  EXPECT_THROW(fourth.ImportFrom(damaged_source), StoreError);
  EXPECT_TRUE(fourth.QueryAll(kAnySubFactor).empty());
}

// Runs work in a child that is killed once it signals it is under way; then the gallery must
// open with its recorded key and every record must check.
template <typename Work>
void KillMidway(const fs::path& db, Work work) {
  ASSERT_TRUE(KillOnceUnderWay(work));
  TemplateStore store(db, TemplateStore::Mode::kOpenExisting);
  const GalleryCheck check = store.Check();
  EXPECT_TRUE(check.damaged.empty());
  EXPECT_TRUE(check.file_faults.empty());
  for (const StoredRecord& r : store.QueryAll(kAnySubFactor)) {
    EXPECT_EQ(r.template_blob, Record(r.identity[4], r.sub_factor).template_blob);
  }
}

TEST(GalleryBackup, KilledRekeyOrImportLeavesEveryCommittedRecordIntact) {
  ScratchDir dir("ridgeline_gallery");
  const fs::path db = dir / "g.db";
  {
    TemplateStore store(db, TemplateStore::Mode::kCreateIfMissing, Encrypted());
    for (uint8_t tag = 1; tag <= 40; ++tag) store.Add(Record(tag, 2));
  }
  KillMidway(db, [&](int ready) {
    TemplateStore store(db, TemplateStore::Mode::kOpenExisting);
    for (int i = 0;; ++i) {
      // Appended: g++ 12 at -O3 sees a false overlap in `"k" + std::string`.
      std::string key_name = "k";
      key_name += std::to_string(i);
      store.Rekey(dir / key_name);
      if (i == 3) (void)!write(ready, "x", 1);
    }
  });
  EXPECT_EQ(TemplateStore(db, TemplateStore::Mode::kOpenExisting).QueryAll(kAnySubFactor).size(),
            40u);

  const fs::path source = dir / "source.db";
  {
    TemplateStore store(source, TemplateStore::Mode::kCreateIfMissing, Encrypted());
    for (uint8_t tag = 41; tag <= 80; ++tag) store.Add(Record(tag, 4));
  }
  KillMidway(db, [&](int ready) {
    TemplateStore from(source, TemplateStore::Mode::kReadOnly);
    TemplateStore store(db, TemplateStore::Mode::kOpenExisting);
    for (int i = 0;; ++i) {
      store.ImportFrom(from);
      store.BeginWrite();  // the deletes as one transaction too
      for (uint8_t tag = 41; tag <= 80; ++tag) store.Delete(GuidIdentity(tag), std::nullopt);
      store.Commit();
      if (i == 3) (void)!write(ready, "x", 1);
    }
  });
  const size_t count =
      TemplateStore(db, TemplateStore::Mode::kOpenExisting).QueryAll(kAnySubFactor).size();
  EXPECT_TRUE(count == 40u || count == 80u) << count;
}

}  // namespace
}  // namespace ridgeline::tools
