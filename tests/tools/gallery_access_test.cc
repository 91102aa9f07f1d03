// Who may do what with a gallery: concurrent writers serialised by the write transaction (one
// check-then-store wins, readers never wait), and a gallery a user may only read (file, folder)
// still listed, verified against and checked, while writing, and reading what cannot be read,
// fail with "permission denied" and the file's name. The tests run as root in CI, where file
// permissions do not apply: the permission cases run in a child that becomes "nobody".
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "tests/support/gallery_records.h"
#include "tests/support/scratch_dir.h"
#include "tools/store/template_store.h"

namespace ridgeline::tools {
namespace {

namespace fs = std::filesystem;

// Open to all, so that the child that becomes "nobody" can reach the gallery inside.
class AccessDir : public ridgeline::testing::ScratchDir {
 public:
  AccessDir() : ScratchDir("ridgeline_access") { fs::permissions(path(), fs::perms(0755)); }
};

StoredRecord Record(uint8_t tag, uint8_t finger) {
  StoredRecord record;
  record.identity = ridgeline::testing::GuidIdentity(tag);
  record.sub_factor = finger;
  record.template_blob = {0, 0, 0, 0, 0, 1, 0xD1, 0x07, 2, 0, tag, finger};
  return record;
}

// Runs check in a child process that cannot bypass file permissions (root drops to "nobody");
// returns what check returned ("" for success), or why the child could not run it.
std::string AsUnprivilegedUser(const std::function<std::string()>& check) {
  int channel[2];
  if (pipe(channel) != 0) return "no pipe";
  const pid_t child = fork();
  if (child < 0) return "no fork";
  if (child == 0) {
    close(channel[0]);
    std::string result;
    if (geteuid() == 0) {
      const passwd* nobody = getpwnam("nobody");
      if (nobody == nullptr || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) {
        result = "SKIP: cannot become nobody";
      }
    }
    if (result.empty()) {
      try {
        result = check();
      } catch (const std::exception& error) {
        result = std::string("unexpected exception: ") + error.what();
      }
    }
    (void)!write(channel[1], result.data(), result.size());
    _exit(0);
  }
  close(channel[1]);
  std::string result;
  char buffer[512];
  ssize_t got;
  while ((got = read(channel[0], buffer, sizeof buffer)) > 0) result.append(buffer, got);
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return result;
}

// "" when opening throws a StoreError whose message holds every one of words.
std::string RefusedWith(const fs::path& db, TemplateStore::Mode mode,
                        const std::vector<std::string>& words) {
  try {
    TemplateStore store(db, mode);
  } catch (const StoreError& error) {
    for (const std::string& word : words) {
      if (std::string(error.what()).find(word) == std::string::npos) {
        return std::string("message lacks '") + word + "': " + error.what();
      }
    }
    return "";
  }
  return "opened";
}

std::string ReadsRecords(const fs::path& db, size_t expected) {
  TemplateStore store(db, TemplateStore::Mode::kReadOnly);
  if (!store.read_only()) return "not opened read-only";
  const auto records = store.QueryAll(kAnySubFactor);
  if (records.size() != expected) return "read " + std::to_string(records.size()) + " records";
  for (const StoredRecord& r : records) {
    if (!r.damage.empty()) return "record read as damaged: " + r.damage;
  }
  if (!store.Check().file_faults.empty()) return "check found faults";
  return "";
}

#define EXPECT_AS_NOBODY(check)                                 \
  do {                                                          \
    const std::string outcome = AsUnprivilegedUser(check);      \
    if (outcome.rfind("SKIP", 0) == 0) GTEST_SKIP() << outcome; \
    EXPECT_EQ(outcome, "");                                     \
  } while (0)

TEST(GalleryAccess, ReadOnlyFileIsReadButNotWritten) {
  AccessDir dir;
  const fs::path db = dir / "g.db";
  {
    GalleryOptions options;
    options.encrypt_new = true;
    TemplateStore store(db, TemplateStore::Mode::kCreateIfMissing, options);
    store.Add(Record(1, 2));
    store.Add(Record(2, 2));
  }
  fs::permissions(db, fs::perms(0444));
  fs::permissions(db.string() + ".key", fs::perms(0444));
  EXPECT_AS_NOBODY([&] { return ReadsRecords(db, 2); });
  EXPECT_AS_NOBODY([&] {
    return RefusedWith(db, TemplateStore::Mode::kOpenExisting, {"permission denied", db.string()});
  });
}

TEST(GalleryAccess, ReadOnlyFolderIsReadButNotWritten) {
  AccessDir dir;
  const fs::path db = dir / "g.db";
  {
    TemplateStore store(db, TemplateStore::Mode::kCreateIfMissing);
    store.Add(Record(1, 2));
  }
  fs::permissions(db, fs::perms(0666));  // the file could be written, its folder not
  EXPECT_AS_NOBODY([&] { return ReadsRecords(db, 1); });
  EXPECT_AS_NOBODY([&] {
    return RefusedWith(db, TemplateStore::Mode::kOpenExisting, {"permission denied", "folder"});
  });
}

TEST(GalleryAccess, UnreadableFileAndKeyAreNamed) {
  AccessDir dir;
  const fs::path db = dir / "g.db";
  {
    GalleryOptions options;
    options.encrypt_new = true;
    TemplateStore(db, TemplateStore::Mode::kCreateIfMissing, options).Add(Record(1, 2));
  }
  EXPECT_AS_NOBODY([&] {
    return RefusedWith(db, TemplateStore::Mode::kReadOnly, {"permission denied", db.string()});
  });
  fs::permissions(db, fs::perms(0444));  // the gallery readable, its key (0600) not
  EXPECT_AS_NOBODY([&] {
    return RefusedWith(db, TemplateStore::Mode::kReadOnly,
                       {"permission denied", (dir / "g.db.key").string()});
  });
}

TEST(GalleryAccess, UnprivilegedUserCannotCreateInSomeoneElsesFolder) {
  AccessDir dir;
  EXPECT_AS_NOBODY([&] {
    return RefusedWith(dir / "new.db", TemplateStore::Mode::kCreateIfMissing,
                       {"permission denied", "new.db"});
  });
}

TEST(GalleryConcurrency, OneOfManyCheckThenStoreWritersWinsEveryRound) {
  AccessDir dir;
  const fs::path db = dir / "g.db";
  { TemplateStore create(db, TemplateStore::Mode::kCreateIfMissing); }
  constexpr int kWriters = 6;
  constexpr int kRounds = 25;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        int code = 1;
        try {
          // The engine's duplicate check reduced to its shape: look, then store if nobody has.
          TemplateStore store(db, TemplateStore::Mode::kOpenExisting);
          store.BeginWrite();
          if (store.QueryAll(1).empty()) store.Add(Record(static_cast<uint8_t>(w + 1), 1));
          store.Commit();
          code = 0;
        } catch (...) {
        }
        _exit(code);
      }
      children.push_back(child);
    }
    for (pid_t child : children) {
      int status = 0;
      waitpid(child, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    TemplateStore store(db, TemplateStore::Mode::kOpenExisting);
    ASSERT_EQ(store.QueryAll(1).size(), 1u) << "round " << round;
    store.BeginWrite();
    for (int w = 1; w <= kWriters; ++w)
      store.Delete(Record(static_cast<uint8_t>(w), 1).identity, {});
    store.Commit();
  }
}

TEST(GalleryConcurrency, ReadersGoOnWhileAWriterWaitsForTheLock) {
  AccessDir dir;
  const fs::path db = dir / "g.db";
  TemplateStore holder(db, TemplateStore::Mode::kCreateIfMissing);
  holder.Add(Record(1, 2));
  holder.BeginWrite();
  holder.Add(Record(2, 2));
  std::atomic<bool> second_writer_in{false};
  std::thread second([&] {
    TemplateStore writer(db, TemplateStore::Mode::kOpenExisting);
    writer.BeginWrite();  // waits for holder's commit
    second_writer_in = true;
    writer.Add(Record(3, 2));
    writer.Commit();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(second_writer_in);
  const auto start = std::chrono::steady_clock::now();
  TemplateStore reader(db, TemplateStore::Mode::kReadOnly);
  EXPECT_EQ(reader.QueryAll(kAnySubFactor).size(), 1u);  // the committed state, at once
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  holder.Commit();
  second.join();
  EXPECT_TRUE(second_writer_in);
  EXPECT_EQ(reader.QueryAll(kAnySubFactor).size(), 3u);
}

}  // namespace
}  // namespace ridgeline::tools
