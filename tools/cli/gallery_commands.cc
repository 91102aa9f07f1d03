#include "tools/cli/gallery_commands.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "tools/cli/workbench.h"

namespace ridgeline::tools {
namespace {

// The container header's byte 5 counts the impressions merged into the template.
int Impressions(const StoredRecord& record) {
  return record.template_blob.size() > 5 ? int{record.template_blob[5]} : 0;
}

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

}  // namespace

GalleryOptions GalleryOptionsFor(const CommonOptions& options) {
  GalleryOptions gallery;
  gallery.key_file = options.key_file;
  if (gallery.key_file.empty()) {
    if (const char* from_environment = std::getenv("RIDGELINE_KEY_FILE")) {
      gallery.key_file = from_environment;
    }
  }
  gallery.encrypt_new = !options.plaintext;
  return gallery;
}

void WarnDamagedRecord(TemplateStore& store, const StoredRecord& record) {
  std::cerr << "ridgeline: warning: skipped the damaged record of " << RecordName(store, record)
            << " " << FingerName(record.sub_factor) << ": " << record.damage
            << "; run ridgeline check\n";
}

int RunList(const CommonOptions& options) {
  TemplateStore store(options.db, TemplateStore::Mode::kReadOnly, GalleryOptionsFor(options));
  const std::vector<StoredRecord> records = store.QueryAll(kAnySubFactor);
  auto name = [&](const StoredRecord& r) {
    return r.subject.empty() ? DisplayName(store, IdentityFromBytes(r.identity)) : r.subject;
  };
  const auto damaged = std::count_if(records.begin(), records.end(),
                                     [](const StoredRecord& r) { return !r.damage.empty(); });
  if (options.json) {
    // JSON escapes control characters itself; the name goes out as stored.
    nlohmann::json out = nlohmann::json::array();
    for (const StoredRecord& r : records) {
      out.push_back({{"subject", name(r)},
                     {"finger", FingerName(r.sub_factor)},
                     {"sub_factor", r.sub_factor},
                     {"impressions", Impressions(r)},
                     {"template_bytes", r.template_blob.size()},
                     {"enrolled", r.created},
                     {"damaged", !r.damage.empty()}});
    }
    // One object per command, like every other command's answer.
    const nlohmann::json answer = {{"command", "list"},
                                   {"exit_code", kExitSuccess},
                                   {"gallery", options.db.string()},
                                   {"records", out}};
    std::cout << answer.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return kExitSuccess;
  }
  if (records.empty()) {
    std::cout << "the gallery " << options.db.string() << " is empty\n";
    return kExitSuccess;
  }
  struct Row {
    std::string subject, finger, impressions, bytes, created, state;
  };
  std::vector<Row> rows;
  Row header{"SUBJECT", "FINGER", "IMPRESSIONS", "BYTES", "ENROLLED (UTC)", ""};
  size_t subject_width = DisplayWidth(header.subject);
  size_t finger_width = DisplayWidth(header.finger);
  for (const StoredRecord& r : records) {
    Row row{PrintableText(name(r)),
            FingerName(r.sub_factor),
            std::to_string(Impressions(r)),
            r.damage.empty() ? std::to_string(r.template_blob.size()) : "-",
            r.created,
            r.damage.empty() ? "" : "  DAMAGED: " + r.damage};
    subject_width = std::max(subject_width, DisplayWidth(row.subject));
    finger_width = std::max(finger_width, DisplayWidth(row.finger));
    rows.push_back(std::move(row));
  }
  auto print = [&](const Row& row) {
    std::cout << PadToWidth(row.subject, subject_width) << "  "
              << PadToWidth(row.finger, finger_width) << "  "
              << RightAligned(row.impressions, header.impressions.size()) << "  "
              << RightAligned(row.bytes, 6) << "  " << row.created << row.state << "\n";
  };
  print(header);
  for (const Row& row : rows) print(row);
  std::cout << records.size() << (records.size() == 1 ? " template" : " templates");
  if (damaged > 0) {
    std::cout << ", " << damaged << " damaged (run ridgeline check --db " << options.db.string()
              << ")";
  }
  std::cout << "\n";
  return kExitSuccess;
}

int RunCheck(const CommonOptions& options) {
  TemplateStore store(options.db, TemplateStore::Mode::kReadOnly, GalleryOptionsFor(options));
  const GalleryCheck check = store.Check();
  const size_t intact = check.records - check.damaged.size();
  if (options.json) {
    nlohmann::json damaged = nlohmann::json::array();
    for (const StoredRecord& r : check.damaged) {
      damaged.push_back({{"subject", RecordName(store, r)},
                         {"finger", FingerName(r.sub_factor)},
                         {"problem", r.damage}});
    }
    const bool ok = check.damaged.empty() && check.file_faults.empty();
    const nlohmann::json out = {{"command", "check"},
                                {"exit_code", ok ? kExitSuccess : kExitStorage},
                                {"gallery", options.db.string()},
                                {"schema", check.schema_version},
                                {"encrypted", check.encrypted},
                                {"records", check.records},
                                {"intact", intact},
                                {"damaged", damaged},
                                {"file_faults", check.file_faults},
                                {"ok", check.damaged.empty() && check.file_faults.empty()}};
    std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
  } else {
    std::cout << options.db.string() << ": schema " << check.schema_version << ", "
              << (check.encrypted ? "encrypted with " + store.key_file().string()
                                  : std::string("not encrypted"))
              << (store.read_only() ? ", opened read-only" : "") << "\n";
    std::cout << check.records << (check.records == 1 ? " record, " : " records, ") << intact
              << " intact\n";
    for (const StoredRecord& r : check.damaged) {
      std::cout << "damaged: " << RecordName(store, r) << " " << FingerName(r.sub_factor) << ": "
                << r.damage << "; " << DeleteAdvice(store, r) << "\n";
    }
    for (const std::string& fault : check.file_faults) {
      std::cout << "file fault: " << PrintableText(fault) << "\n";
    }
    if (!check.file_faults.empty()) {
      std::cout << "the database file itself is damaged: export what can be read (ridgeline "
                   "export) into a new gallery, or restore a backup\n";
    }
    if (check.damaged.empty() && check.file_faults.empty()) std::cout << "ok\n";
  }
  return check.damaged.empty() && check.file_faults.empty() ? kExitSuccess : kExitStorage;
}

int RunRekey(const CommonOptions& options, const std::filesystem::path& new_key_file) {
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
  const bool was_encrypted = store.encrypted();
  const std::filesystem::path old_key = store.key_file();
  store.Rekey(target);
  std::cout << (was_encrypted ? "re-encrypted " : "encrypted ") << options.db.string()
            << " with the new key " << target.string() << "\n";
  if (was_encrypted) {
    std::cout << "the old key " << old_key.string()
              << " is no longer used; delete it once your backups no longer need it\n";
  }
  return kExitSuccess;
}

int RunExport(const CommonOptions& options, const std::filesystem::path& out) {
  TemplateStore store(options.db, TemplateStore::Mode::kReadOnly, GalleryOptionsFor(options));
  const GalleryCheck check = store.Check();
  if (!check.damaged.empty()) {
    std::cerr << "ridgeline: note: " << check.damaged.size()
              << " damaged record(s) are exported as they are; run ridgeline check\n";
  }
  store.ExportTo(out);
  std::cout << "exported " << check.records << (check.records == 1 ? " record" : " records")
            << " to " << out.string();
  if (store.encrypted()) std::cout << " (still encrypted with " << store.key_file().string() << ")";
  std::cout << "\n";
  return kExitSuccess;
}

int RunImport(const CommonOptions& options, const std::filesystem::path& in,
              const std::filesystem::path& in_key_file) {
  GalleryOptions source_options;
  source_options.key_file = in_key_file;
  TemplateStore source(in, TemplateStore::Mode::kReadOnly, source_options);
  TemplateStore store(options.db, TemplateStore::Mode::kCreateIfMissing,
                      GalleryOptionsFor(options));
  try {
    const int added = store.ImportFrom(source);
    std::cout << "imported " << added << (added == 1 ? " record" : " records") << " from "
              << in.string() << " into " << options.db.string() << "\n";
  } catch (const DuplicateRecordError& error) {
    std::cerr << "ridgeline: refused: " << error.what() << "\n";
    return kExitNoMatch;
  }
  return kExitSuccess;
}

std::unique_ptr<GalleryCommandLine> AddGalleryCommands(CLI::App& app, CommonOptions& options) {
  auto line = std::make_unique<GalleryCommandLine>();
  app.add_option("--key-file", options.key_file,
                 "the gallery's key file (default: RIDGELINE_KEY_FILE, else the one the gallery "
                 "names; for a new gallery GALLERY.key)");
  app.add_flag("--plaintext", options.plaintext,
               "create a new gallery without encrypting its templates");
  line->check = app.add_subcommand("check", "check every record of the gallery and the file");
  line->check->add_flag("--json", options.json, "JSON output");
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
