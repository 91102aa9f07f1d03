// The SQLite gallery: records round-trip whole, queries select by identity and finger, foreign
// and damaged files are refused, and a writer killed mid-run leaves only whole records.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/gallery_records.h"
#include "tests/support/killed_child.h"
#include "tests/support/scratch_dir.h"
#include "tools/store/name_uuid.h"
#include "tools/store/template_store.h"

namespace ridgeline::tools {
namespace {

namespace fs = std::filesystem;

using ridgeline::testing::GuidIdentity;
using ridgeline::testing::KillOnceUnderWay;
using ridgeline::testing::ScratchDir;

StoredRecord Record(uint8_t tag, uint8_t finger, size_t template_size) {
  StoredRecord record;
  record.identity = GuidIdentity(tag);
  record.sub_factor = finger;
  for (size_t i = 0; i < template_size; ++i)
    record.template_blob.push_back(static_cast<uint8_t>(i * 31 + tag));
  record.payload = {tag, finger};
  return record;
}

TEST(TemplateStore, RecordsRoundTripWholeInStorageOrder) {
  ScratchDir dir("ridgeline_store");
  TemplateStore store(dir / "g.db", TemplateStore::Mode::kCreateIfMissing);
  store.NameSubject(GuidIdentity(1), "alice");
  store.Add(Record(1, 2, 700));
  store.Add(Record(2, 7, 300));
  store.Add(Record(1, 3, 5));
  const auto all = store.QueryAll(kAnySubFactor);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].template_blob, Record(1, 2, 700).template_blob);
  EXPECT_EQ(all[0].payload, (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(all[0].subject, "alice");
  EXPECT_EQ(all[1].subject, "");
  EXPECT_EQ(all[0].created.size(), 20u);  // 2026-12-08T18:00:00Z
  EXPECT_EQ(store.QueryBySubject(GuidIdentity(1), kAnySubFactor).size(), 2u);
  const auto finger3 = store.QueryBySubject(GuidIdentity(1), 3);
  ASSERT_EQ(finger3.size(), 1u);
  EXPECT_EQ(finger3[0].template_blob.size(), 5u);
  EXPECT_TRUE(store.QueryBySubject(GuidIdentity(9), kAnySubFactor).empty());
  EXPECT_EQ(store.QueryAll(7).size(), 1u);
}

TEST(TemplateStore, SecondRecordForTheSameFingerIsRefused) {
  ScratchDir dir("ridgeline_store");
  TemplateStore store(dir / "g.db", TemplateStore::Mode::kCreateIfMissing);
  store.Add(Record(1, 2, 10));
  EXPECT_THROW(store.Add(Record(1, 2, 10)), DuplicateRecordError);
  EXPECT_EQ(store.QueryAll(kAnySubFactor).size(), 1u);
}

TEST(TemplateStore, DeleteRemovesOneFingerOrAllAndForgetsTheName) {
  ScratchDir dir("ridgeline_store");
  TemplateStore store(dir / "g.db", TemplateStore::Mode::kCreateIfMissing);
  store.NameSubject(GuidIdentity(1), "alice");
  store.Add(Record(1, 2, 10));
  store.Add(Record(1, 3, 10));
  EXPECT_EQ(store.Delete(GuidIdentity(1), 3), 1);
  EXPECT_EQ(store.SubjectName(GuidIdentity(1)), "alice");
  EXPECT_EQ(store.Delete(GuidIdentity(1), std::nullopt), 1);
  EXPECT_EQ(store.SubjectName(GuidIdentity(1)), std::nullopt);
  EXPECT_EQ(store.Delete(GuidIdentity(1), std::nullopt), 0);
}

TEST(TemplateStore, RecordsPersistAcrossOpens) {
  ScratchDir dir("ridgeline_store");
  { TemplateStore(dir / "g.db", TemplateStore::Mode::kCreateIfMissing).Add(Record(4, 1, 64)); }
  TemplateStore again(dir / "g.db", TemplateStore::Mode::kOpenExisting);
  ASSERT_EQ(again.QueryAll(kAnySubFactor).size(), 1u);
}

TEST(TemplateStore, MissingForeignAndDamagedFilesAreRefused) {
  ScratchDir dir("ridgeline_store");
  EXPECT_THROW(TemplateStore(dir / "none.db", TemplateStore::Mode::kOpenExisting), StoreError);
  {
    std::ofstream(dir / "text.db") << "this is not a database, just some text that is long enough";
  }
  EXPECT_THROW(TemplateStore(dir / "text.db", TemplateStore::Mode::kCreateIfMissing), StoreError);
  {
    Connection foreign((dir / "foreign.db").string(), true);
    foreign.Execute("CREATE TABLE t(x); INSERT INTO t VALUES (1);");
  }
  EXPECT_THROW(TemplateStore(dir / "foreign.db", TemplateStore::Mode::kCreateIfMissing),
               StoreError);
  {
    Connection newer((dir / "newer.db").string(), true);
    newer.Execute("CREATE TABLE t(x); PRAGMA application_id=1380207694; PRAGMA user_version=9;");
  }
  EXPECT_THROW(TemplateStore(dir / "newer.db", TemplateStore::Mode::kOpenExisting), StoreError);
  // A gallery whose pages were overwritten: refused when opened or when read, never a crash.
  { TemplateStore(dir / "bad.db", TemplateStore::Mode::kCreateIfMissing).Add(Record(1, 1, 3000)); }
  {
    std::fstream file(dir / "bad.db", std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(100);
    const std::string junk(6000, '\x5a');
    file.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  EXPECT_THROW(
      {
        TemplateStore bad(dir / "bad.db", TemplateStore::Mode::kOpenExisting);
        bad.QueryAll(kAnySubFactor);
      },
      StoreError);
}

TEST(TemplateStore, KilledWriterLeavesOnlyWholeRecords) {
  ScratchDir dir("ridgeline_store");
  const fs::path db = dir / "g.db";
  { TemplateStore create(db, TemplateStore::Mode::kCreateIfMissing); }
  ASSERT_TRUE(KillOnceUnderWay([&](int ready) {
    TemplateStore store(db, TemplateStore::Mode::kOpenExisting);
    for (int i = 0;; ++i) {
      store.Add(Record(static_cast<uint8_t>(i % 251), static_cast<uint8_t>(1 + i / 251 % 10),
                       200 + static_cast<size_t>(i % 7) * 100));
      if (i == 20) (void)!write(ready, "x", 1);  // enough written: the parent may kill
    }
  }));

  TemplateStore store(db, TemplateStore::Mode::kOpenExisting);
  const auto records = store.QueryAll(kAnySubFactor);
  ASSERT_GE(records.size(), 21u);
  for (const StoredRecord& record : records) {
    const StoredRecord expected =
        Record(record.identity[4], record.sub_factor, record.template_blob.size());
    EXPECT_EQ(record.template_blob, expected.template_blob);
    EXPECT_EQ(record.payload, expected.payload);
  }
  Connection check(db.string(), false);
  Statement integrity = check.Prepare("PRAGMA integrity_check");
  ASSERT_TRUE(integrity.Step());
  EXPECT_EQ(integrity.Text(0), "ok");
}

TEST(TemplateStore, ReadersGoOnWhileAWriterHoldsItsTransaction) {
  ScratchDir dir("ridgeline_store");
  TemplateStore store(dir / "g.db", TemplateStore::Mode::kCreateIfMissing);
  store.Add(Record(1, 2, 10));
  Connection writer((dir / "g.db").string(), false);
  writer.Execute("BEGIN IMMEDIATE");
  writer.Execute("DELETE FROM templates");
  // The reader sees the last committed state at once, not the writer's open change.
  TemplateStore reader(dir / "g.db", TemplateStore::Mode::kOpenExisting);
  EXPECT_EQ(reader.QueryAll(kAnySubFactor).size(), 1u);
  writer.Execute("ROLLBACK");
}

// Several processes making their first enrollment into the same new gallery at once: every one
// must open it as a gallery (never "a database of another application") and the file must end
// with one schema.
TEST(TemplateStore, ConcurrentCreationOfANewGalleryAlwaysSucceeds) {
  ScratchDir dir("ridgeline_store");
  constexpr int kRounds = 40;
  constexpr int kProcesses = 4;
  for (int round = 0; round < kRounds; ++round) {
    const fs::path db = dir / ("g" + std::to_string(round) + ".db");
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        int code = 0;
        try {
          TemplateStore store(db, TemplateStore::Mode::kCreateIfMissing);
          store.Add(Record(static_cast<uint8_t>(p + 1), 2, 50));
        } catch (const std::exception& error) {
          std::fprintf(stderr, "round %d process %d: %s\n", round, p, error.what());
          code = 1;
        }
        _exit(code);
      }
      children.push_back(child);
    }
    int failures = 0;
    for (pid_t child : children) {
      int status = 0;
      waitpid(child, &status, 0);
      failures += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ASSERT_EQ(failures, 0) << "round " << round;
    TemplateStore store(db, TemplateStore::Mode::kOpenExisting);
    EXPECT_EQ(store.QueryAll(kAnySubFactor).size(), static_cast<size_t>(kProcesses));
  }
}

// A statement that fails because the disk is full: SQLite may already have ended the
// transaction, and the clean-up must neither raise nor hide the first error.
TEST(TemplateStore, FullDiskKeepsTheFirstErrorThroughTheRollback) {
  ScratchDir dir("ridgeline_store");
  { TemplateStore create(dir / "g.db", TemplateStore::Mode::kCreateIfMissing); }
  Connection connection((dir / "g.db").string(), false);
  connection.Execute("PRAGMA max_page_count=20");  // a disk that fills after a few pages
  std::string first_error;
  connection.Execute("BEGIN IMMEDIATE");
  try {
    for (int i = 0; i < 100; ++i) {
      connection.Execute(
          "INSERT INTO templates(identity, sub_factor, template, payload) "
          "VALUES (randomblob(76), 1, randomblob(4000), x'')");
    }
  } catch (const StoreError& error) {
    first_error = error.what();
  }
  connection.RollbackIfActive();
  EXPECT_NE(first_error.find("full"), std::string::npos) << first_error;
  EXPECT_NO_THROW(connection.Execute("BEGIN IMMEDIATE; COMMIT"));  // no transaction left open
}

TEST(NameUuid, Sha1AndVersion5MatchKnownValues) {
  const auto digest = Sha1("abc");
  EXPECT_EQ(digest[0], 0xa9);
  EXPECT_EQ(digest[19], 0x9d);
  // The DNS namespace and "python.org", a widely published version 5 example.
  const Uuid dns = {0x6b, 0xa7, 0xb8, 0x10, 0x9d, 0xad, 0x11, 0xd1,
                    0x80, 0xb4, 0x00, 0xc0, 0x4f, 0xd4, 0x30, 0xc8};
  EXPECT_EQ(UuidText(NameBasedUuid(dns, "python.org")), "886313e1-3b8a-5372-9b90-0c9aee199e5d");
  EXPECT_NE(NameBasedUuid(kSubjectNamespace, "alice"), NameBasedUuid(kSubjectNamespace, "bob"));
}

}  // namespace
}  // namespace ridgeline::tools
