#include "tools/cli/gallery_commands.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "tools/cli/default_gallery.h"
#include "tools/cli/gallery_operations.h"
#include "tools/cli/reply.h"
#include "tools/cli/workbench.h"
#include "tools/fs/safe_files.h"

namespace ridgeline::tools {
namespace {

std::string RightAligned(const std::string& text, size_t width) {
  const size_t have = DisplayWidth(text);
  return (have < width ? std::string(width - have, ' ') : std::string()) + text;
}

std::string RecordName(TemplateStore& store, const StoredRecord& record) {
  return record.subject.empty() ? DisplayName(store, IdentityFromBytes(record.identity))
                                : PrintableText(record.subject);
}

std::string DeleteAdvice(TemplateStore& store, const StoredRecord& record) {
  if (record.subject.empty()) return "restore the gallery from a backup";
  return "delete it (ridgeline delete --db " + store.path().string() + " --subject '" +
         PrintableText(record.subject) + "' --finger " + FingerName(record.sub_factor) +
         ") and enroll that finger again";
}

// rekey's new key and export's copy are new files: an existing name or a missing folder is the
// user's output problem (exit 2), told before the gallery is touched.
void RequireNewFile(const std::filesystem::path& file, const std::string& what) {
  std::error_code error;
  if (std::filesystem::exists(std::filesystem::symlink_status(file, error))) {
    throw OutputError(file.string() + ": already exists; " + what + " writes a new file");
  }
  const std::filesystem::path folder =
      file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
  if (!std::filesystem::is_directory(folder, error)) {
    throw OutputError(file.string() + ": cannot be written (" + folder.string() +
                      " is not a folder)");
  }
}

}  // namespace

int RunList(const CommonOptions& options) {
  Reply reply(options.json, "list");
  const GalleryListing listing = ListGallery(options);
  const auto& records = listing.records;
  const auto damaged = std::count_if(records.begin(), records.end(),
                                     [](const ListedRecord& r) { return !r.damage.empty(); });
  reply.object().update(ListJson(listing));
  reply.object()["gallery"] = options.db.string();
  if (records.empty()) {
    reply.out() << "the gallery " << options.db.string() << " is empty\n";
    return reply.Finish(kExitSuccess);
  }
  struct Row {
    std::string subject, finger, impressions, bytes, created, state;
  };
  const Row header{"SUBJECT", "FINGER", "IMPRESSIONS", "BYTES", "ENROLLED (UTC)", ""};
  size_t subject_width = DisplayWidth(header.subject);
  size_t finger_width = DisplayWidth(header.finger);
  std::vector<Row> table;
  for (const ListedRecord& r : records) {
    const bool intact = r.damage.empty();
    Row row{r.who.subject,
            r.who.finger,
            intact ? std::to_string(r.impressions) : "-",
            intact ? std::to_string(r.template_bytes) : "-",
            r.created,
            intact ? "" : "  DAMAGED: " + r.damage};
    subject_width = std::max(subject_width, DisplayWidth(row.subject));
    finger_width = std::max(finger_width, DisplayWidth(row.finger));
    table.push_back(std::move(row));
  }
  auto print = [&](const Row& row) {
    reply.out() << PadToWidth(row.subject, subject_width) << "  "
                << PadToWidth(row.finger, finger_width) << "  "
                << RightAligned(row.impressions, header.impressions.size()) << "  "
                << RightAligned(row.bytes, 6) << "  " << row.created << row.state << "\n";
  };
  print(header);
  for (const Row& row : table) print(row);
  reply.out() << records.size() << (records.size() == 1 ? " template" : " templates");
  if (damaged > 0) {
    reply.out() << ", " << damaged << " damaged (run ridgeline check --db " << options.db.string()
                << ")";
  }
  reply.out() << "\n";
  return reply.Finish(kExitSuccess);
}

int RunCheck(const CommonOptions& options) {
  Reply reply(options.json, "check");
  TemplateStore store(options.db, TemplateStore::Mode::kReadOnly, GalleryOptionsFor(options));
  const GalleryCheck check = store.Check();
  const size_t intact = check.records - check.damaged.size();
  const bool ok = check.damaged.empty() && check.file_faults.empty();
  nlohmann::json damaged = nlohmann::json::array();
  for (const StoredRecord& r : check.damaged) {
    damaged.push_back({{"subject", RecordName(store, r)},
                       {"finger", FingerName(r.sub_factor)},
                       {"problem", r.damage},
                       {"advice", DeleteAdvice(store, r)}});
  }
  nlohmann::json& out = reply.object();
  out["gallery"] = options.db.string();
  out["schema"] = check.schema_version;
  out["encrypted"] = check.encrypted;
  out["key_file"] = check.encrypted ? nlohmann::json(store.key_file().string()) : nullptr;
  out["records"] = check.records;
  out["intact"] = intact;
  out["damaged"] = damaged;
  out["file_faults"] = check.file_faults;
  out["ok"] = ok;

  reply.out() << options.db.string() << ": schema " << check.schema_version << ", "
              << (check.encrypted ? "encrypted with " + store.key_file().string()
                                  : std::string("not encrypted (ridgeline rekey encrypts it)"))
              << (store.read_only() ? ", opened read-only" : "") << "\n";
  reply.out() << check.records << (check.records == 1 ? " record, " : " records, ") << intact
              << " intact\n";
  for (const StoredRecord& r : check.damaged) {
    reply.out() << "damaged: " << RecordName(store, r) << " " << FingerName(r.sub_factor) << ": "
                << r.damage << "; " << DeleteAdvice(store, r) << "\n";
  }
  for (const std::string& fault : check.file_faults) {
    reply.out() << "file fault: " << PrintableText(fault) << "\n";
  }
  if (!check.file_faults.empty()) {
    reply.out() << "the database file itself is damaged: copy what can be read into a new "
                   "gallery (ridgeline export), or restore a backup\n";
  }
  if (ok) reply.out() << "ok\n";
  return reply.Finish(ok ? kExitSuccess : kExitStorage);
}

int RunRekey(const CommonOptions& options, const std::filesystem::path& new_key_file) {
  Reply reply(options.json, "rekey");
  TemplateStore store(options.db, TemplateStore::Mode::kOpenExisting, GalleryOptionsFor(options));
  std::filesystem::path target = new_key_file;
  if (target.empty()) {
    if (!store.encrypted()) {
      target = options.db.string() + ".key";
    } else {
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
          std::chrono::system_clock::now().time_since_epoch());
      target = store.key_file().string() + "." + std::to_string(seconds.count());
    }
  }
  RequireNewFile(target, "rekey");
  const bool was_encrypted = store.encrypted();
  const std::filesystem::path old_key = store.key_file();
  store.Rekey(target);
  reply.object()["gallery"] = options.db.string();
  reply.object()["key_file"] = target.string();
  reply.object()["old_key_file"] = was_encrypted ? nlohmann::json(old_key.string()) : nullptr;
  reply.out() << (was_encrypted ? "re-encrypted " : "encrypted ") << options.db.string()
              << " with the new key " << target.string() << "\n";
  if (was_encrypted) {
    reply.out() << "the old key " << old_key.string()
                << " is no longer used; delete it once your backups no longer need it\n";
  }
  return reply.Finish(kExitSuccess);
}

int RunExport(const CommonOptions& options, const std::filesystem::path& out) {
  Reply reply(options.json, "export");
  RequireNewFile(out, "export");
  TemplateStore store(options.db, TemplateStore::Mode::kReadOnly, GalleryOptionsFor(options));
  const GalleryCheck check = store.Check();
  if (!check.damaged.empty()) {
    reply.Warn(std::to_string(check.damaged.size()) +
               " damaged record(s) are copied as they are; run ridgeline check");
  }
  store.ExportTo(out);
  reply.object()["gallery"] = options.db.string();
  reply.object()["out"] = out.string();
  reply.object()["records"] = check.records;
  reply.object()["key_file"] =
      store.encrypted() ? nlohmann::json(store.key_file().string()) : nullptr;
  reply.out() << "exported " << check.records << (check.records == 1 ? " record" : " records")
              << " to " << out.string();
  if (store.encrypted()) {
    reply.out() << " (still encrypted: it needs the key " << store.key_file().string() << ")";
  }
  reply.out() << "\n";
  return reply.Finish(kExitSuccess);
}

int RunImport(const CommonOptions& options, const std::filesystem::path& in,
              const std::filesystem::path& in_key_file) {
  Reply reply(options.json, "import");
  GalleryOptions source_options;
  source_options.key_file = in_key_file;
  TemplateStore source(in, TemplateStore::Mode::kReadOnly, source_options);
  // Like enroll, import may create the gallery: its folder (the default one included) is made
  // private, and only once the source has opened, so a failed import leaves no empty folder.
  PrepareGalleryFolder(options.db);
  TemplateStore store(options.db, TemplateStore::Mode::kCreateIfMissing,
                      GalleryOptionsFor(options));
  reply.object()["gallery"] = options.db.string();
  reply.object()["from"] = in.string();
  reply.object()["imported"] = 0;
  try {
    const int added = store.ImportFrom(source);
    reply.object()["imported"] = added;
    reply.out() << "imported " << added << (added == 1 ? " record" : " records") << " from "
                << in.string() << " into " << options.db.string() << "\n";
  } catch (const DuplicateRecordError& error) {
    reply.Refuse(std::string("refused: ") + error.what());
    return reply.Finish(kExitNoMatch);
  }
  return reply.Finish(kExitSuccess);
}

std::unique_ptr<GalleryCommandLine> AddGalleryCommands(CLI::App& app, CommonOptions& options) {
  auto line = std::make_unique<GalleryCommandLine>();
  app.add_option("--key-file", options.key_file,
                 "the gallery's key file (default: RIDGELINE_KEY_FILE, else the one the gallery "
                 "names; for a new gallery GALLERY.key)");
  app.add_flag("--plaintext", options.plaintext,
               "create a new gallery without encrypting its templates");
  line->check = app.add_subcommand("check", "check every record of the gallery and the file");
  line->rekey = app.add_subcommand(
      "rekey", "encrypt a plaintext gallery, or re-encrypt an encrypted one with a new key");
  line->rekey->add_option("--new-key-file", line->new_key_file,
                          "where to write the new key (must not exist)");
  line->export_command =
      app.add_subcommand("export", "copy the gallery into a new file, whole or not at all");
  line->export_command->add_option("out", line->out, "the new file")->required();
  line->import_command = app.add_subcommand(
      "import", "add every subject of another gallery to this one, all or nothing");
  line->import_command->add_option("in", line->in, "the gallery to import")->required();
  line->import_command->add_option("--from-key-file", line->in_key_file,
                                   "key file of the imported gallery (default: the one it names)");
  return line;
}

std::optional<int> RunGalleryCommand(const GalleryCommandLine& line, const CommonOptions& options) {
  if (line.check->parsed()) return RunCheck(options);
  if (line.rekey->parsed()) return RunRekey(options, line.new_key_file);
  if (line.export_command->parsed()) return RunExport(options, line.out);
  if (line.import_command->parsed()) return RunImport(options, line.in, line.in_key_file);
  return std::nullopt;
}

}  // namespace ridgeline::tools
