// The demo: enrolls a set of prints into a fresh gallery, runs the duplicate check, verifies
// genuine and impostor impressions, identifies one impression of each finger, and prints a
// table with a summary. Prints are files named FINGER_IMPRESSION.EXT (101_1.tif, 101_2.tif...).
#include <algorithm>
#include <cstdlib>
#include <iomanip>
#include <map>
#include <optional>
#include <regex>

#include "tools/cli/commands.h"
#include "tools/cli/workbench.h"
#include "tools/fs/safe_files.h"

namespace ridgeline::tools {
namespace {

namespace fs = std::filesystem;

struct Impression {
  int number;
  fs::path path;
};

std::map<std::string, std::vector<Impression>> CollectPrints(const fs::path& directory) {
  std::error_code error;
  if (!fs::is_directory(directory, error)) {
    throw InputError(directory.string() + ": not a directory of prints");
  }
  static const std::regex kName(R"(([A-Za-z0-9-]+)_(\d+)\.(png|bmp|pgm|jpe?g|tiff?|fir|ansi))",
                                std::regex::icase);
  std::map<std::string, std::vector<Impression>> fingers;
  for (const auto& entry : fs::directory_iterator(directory)) {
    std::smatch match;
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && std::regex_match(name, match, kName)) {
      fingers[match[1]].push_back({std::stoi(match[2]), entry.path()});
    }
  }
  for (auto& [finger, impressions] : fingers) {
    std::sort(impressions.begin(), impressions.end(),
              [](const Impression& a, const Impression& b) { return a.number < b.number; });
  }
  return fingers;
}

struct FingerRow {
  std::string finger;
  std::string subject;
  std::string enrolled = "no";
  int genuine_tried = 0;
  int genuine_accepted = 0;
  int impostor_tried = 0;
  int impostor_accepted = 0;
  std::string identified = "-";
  bool identified_right = false;
};

std::string Percent(int part, int whole) {
  if (whole == 0) return "-";
  char text[16];
  std::snprintf(text, sizeof text, "%.1f %%", 100.0 * part / whole);
  return text;
}

}  // namespace

int RunDemo(const CommonOptions& options, const DemoOptions& demo) {
  if (demo.enroll_impressions < 1) throw InputError("--enroll-impressions must be at least 1");
  if (!demo.keep.empty()) {
    std::error_code error;
    if (fs::exists(demo.keep, error) && !fs::is_empty(demo.keep, error)) {
      throw InputError(demo.keep.string() + ": exists and is not empty; --keep names a new folder");
    }
    if (!demo.db.empty()) throw InputError("--keep and --db both name where the gallery goes");
    fs::create_directories(demo.keep, error);
    if (error) {
      throw OutputError(demo.keep.string() + ": cannot create the folder (" + error.message() +
                        ")");
    }
  }
  fs::path images = demo.images;
  // Generated prints and the default gallery live in folders made for this run (mkdtemp:
  // private, unpredictable), removed however the demo ends, signals included.
  std::optional<PrivateTempDir> generated;
  fs::path prints_folder;
  if (images.empty()) {
    if (!SynthAvailable()) {
      throw InputError(
          "this build has no synthetic prints: pass --images DIR (files named "
          "FINGER_IMPRESSION, e.g. 101_1.tif)");
    }
    // The default prints: a fixed synthetic set, so every run shows the same table.
    if (demo.keep.empty()) {
      generated.emplace("ridgeline-demo-prints");
      prints_folder = generated->path();
    } else {
      prints_folder = demo.keep / "prints";
    }
    SynthOptions set;
    set.out = prints_folder;
    set.out_is_private = demo.keep.empty();
    set.fingers = demo.fingers > 0 ? demo.fingers : 10;
    set.impressions = std::max(4, demo.enroll_impressions + 3);
    std::cout << "Prints: " << set.fingers << " synthetic fingers x " << set.impressions
              << " impressions (seed " << set.seed << ")\n";
    WriteSyntheticSet(set);
    images = prints_folder;
  }
  auto fingers = CollectPrints(images);
  const size_t needed = static_cast<size_t>(demo.enroll_impressions) + 1;
  std::erase_if(fingers, [&](const auto& entry) { return entry.second.size() < needed; });
  if (fingers.size() < 2) {
    throw InputError(images.string() + ": the demo needs at least two fingers with " +
                     std::to_string(needed) + " impressions each (files FINGER_IMPRESSION.EXT)");
  }
  if (demo.fingers > 0 && fingers.size() > static_cast<size_t>(demo.fingers)) {
    fingers.erase(std::next(fingers.begin(), demo.fingers), fingers.end());
  }

  fs::path db = demo.db;
  std::optional<PrivateTempDir> gallery_folder;
  if (!demo.keep.empty()) {
    db = demo.keep / "gallery.db";
  } else if (db.empty()) {
    gallery_folder.emplace("ridgeline-demo");
    db = gallery_folder->path() / "gallery.db";
  } else if (fs::exists(fs::symlink_status(db))) {  // a dangling link counts as taken
    throw InputError(db.string() + ": exists; the demo builds a fresh gallery, name a new file");
  }
  CommonOptions bench_options = options;
  bench_options.db = db;
  int exit_code = kExitSuccess;
  {
    Workbench bench(bench_options, TemplateStore::Mode::kCreateIfMissing);
    constexpr uint8_t kFinger = 2;  // every demo print is filed as a right index finger
    std::cout << "Gallery: " << db.string() << "\nAdapter: " << bench.library.path().string()
              << "\n\n";
    std::vector<FingerRow> rows;
    int prepared_notes = 0;
    auto prepare = [&](const fs::path& path) {
      std::vector<std::string> notes;
      Capture capture = PrepareCapture(path, options.capture, &notes);
      prepared_notes += static_cast<int>(notes.size());
      return capture;
    };

    // 1. Enrollment: the first impressions of each finger, merged into one template.
    for (const auto& [finger, impressions] : fingers) {
      FingerRow row;
      row.finger = finger;
      row.subject = "finger-" + finger;
      try {
        std::vector<Capture> captures;
        for (int i = 0; i < demo.enroll_impressions; ++i) {
          captures.push_back(prepare(impressions[static_cast<size_t>(i)].path));
        }
        const HostResult result =
            bench.host.Enroll(captures, SubjectIdentity(row.subject), kFinger);
        if (result.outcome == Outcome::kSuccess) {
          bench.store.NameSubject(CanonicalIdentity(SubjectIdentity(row.subject)), row.subject);
          row.enrolled = "yes";
        } else if (result.outcome == Outcome::kDuplicate) {
          row.enrolled = "dup of " + DisplayName(bench.store, result.identity);
        } else if (result.outcome == Outcome::kBadCapture) {
          row.enrolled = "bad capture";
        } else {
          std::cerr << "ridgeline: " << result.message << "\n";
          return ExitCodeFor(result.outcome);
        }
      } catch (const InputError& error) {
        row.enrolled = "bad file";
        std::cerr << "note: " << error.what() << "\n";
      }
      rows.push_back(row);
    }

    // 2. The duplicate check: another impression of the first enrolled finger, offered under a
    //    new name, must be refused as that finger.
    std::string duplicate_line = "not run (no finger enrolled)";
    for (size_t r = 0; r < rows.size(); ++r) {
      if (rows[r].enrolled != "yes") continue;
      const auto& impressions = fingers.at(rows[r].finger);
      const Capture capture =
          prepare(impressions[static_cast<size_t>(demo.enroll_impressions)].path);
      const HostResult result =
          bench.host.Enroll({capture}, SubjectIdentity("duplicate-check"), kFinger);
      if (result.outcome == Outcome::kDuplicate) {
        duplicate_line = "refused " + capture.name + " as already enrolled (" +
                         DisplayName(bench.store, result.identity) + ")";
      } else if (result.outcome == Outcome::kSuccess) {
        duplicate_line = "MISSED: " + capture.name + " was enrolled again under a new name";
        bench.store.Delete(CanonicalIdentity(SubjectIdentity("duplicate-check")), std::nullopt);
      } else {
        duplicate_line = "not decided: " + result.message;
      }
      break;
    }

    // 3. Verification: every later impression against its own finger (genuine) and the next
    //    impression against the next enrolled finger (impostor). 4. Identification.
    std::vector<size_t> enrolled;
    for (size_t r = 0; r < rows.size(); ++r) {
      if (rows[r].enrolled == "yes") enrolled.push_back(r);
    }
    for (size_t k = 0; k < enrolled.size(); ++k) {
      FingerRow& row = rows[enrolled[k]];
      const auto& impressions = fingers.at(row.finger);
      for (size_t i = static_cast<size_t>(demo.enroll_impressions); i < impressions.size(); ++i) {
        try {
          const Capture capture = prepare(impressions[i].path);
          const HostResult genuine =
              bench.host.Verify(capture, SubjectIdentity(row.subject), kFinger);
          ++row.genuine_tried;
          row.genuine_accepted += genuine.outcome == Outcome::kSuccess;
          if (i == static_cast<size_t>(demo.enroll_impressions)) {
            if (enrolled.size() > 1) {
              const FingerRow& other = rows[enrolled[(k + 1) % enrolled.size()]];
              const HostResult impostor =
                  bench.host.Verify(capture, SubjectIdentity(other.subject), kFinger);
              ++row.impostor_tried;
              row.impostor_accepted += impostor.outcome == Outcome::kSuccess;
            }
            const HostResult who = bench.host.Identify(capture);
            if (who.outcome == Outcome::kSuccess) {
              row.identified = DisplayName(bench.store, who.identity);
              row.identified_right = row.identified == row.subject;
            } else if (who.outcome == Outcome::kUnknown) {
              row.identified = "unknown";
            } else {
              row.identified = "bad capture";
            }
          }
        } catch (const InputError& error) {
          std::cerr << "note: " << error.what() << "\n";
        }
      }
    }

    std::cout << std::left << std::setw(12) << "FINGER" << std::setw(18) << "ENROLLED"
              << std::setw(12) << "GENUINE" << std::setw(12) << "IMPOSTOR"
              << "IDENTIFIED AS\n";
    int genuine_tried = 0, genuine_accepted = 0, impostor_tried = 0, impostor_accepted = 0;
    int identified_right = 0, enrolled_count = 0;
    for (const FingerRow& row : rows) {
      const std::string genuine =
          std::to_string(row.genuine_accepted) + "/" + std::to_string(row.genuine_tried);
      const std::string impostor =
          std::to_string(row.impostor_accepted) + "/" + std::to_string(row.impostor_tried);
      std::cout << std::left << std::setw(12) << row.finger << std::setw(18) << row.enrolled
                << std::setw(12) << genuine << std::setw(12) << impostor << row.identified
                << (row.enrolled == "yes" && !row.identified_right ? "  (wrong)" : "") << "\n";
      genuine_tried += row.genuine_tried;
      genuine_accepted += row.genuine_accepted;
      impostor_tried += row.impostor_tried;
      impostor_accepted += row.impostor_accepted;
      identified_right += row.identified_right;
      enrolled_count += row.enrolled == "yes";
    }
    std::cout << "\nSummary\n"
              << "  enrolled:        " << enrolled_count << " of " << rows.size() << " fingers ("
              << demo.enroll_impressions << " impression"
              << (demo.enroll_impressions > 1 ? "s" : "") << " each)\n"
              << "  duplicate check: " << duplicate_line << "\n"
              << "  genuine accept:  " << genuine_accepted << " of " << genuine_tried << " ("
              << Percent(genuine_accepted, genuine_tried) << ")\n"
              << "  false accept:    " << impostor_accepted << " of " << impostor_tried << " ("
              << Percent(impostor_accepted, impostor_tried) << ")\n"
              << "  identified:      " << identified_right << " of " << enrolled_count
              << " correctly\n";
    if (prepared_notes > 0) {
      std::cout << "  host side:       " << prepared_notes
                << " captures resampled or trimmed before reaching the engine\n";
    }
    if (!demo.keep.empty()) {
      std::cout << "\nKept: the gallery " << db.string()
                << (prints_folder.empty() ? "" : " and the prints " + prints_folder.string())
                << "\n";
    } else if (gallery_folder.has_value()) {
      std::cout << "\nThe demo's gallery" << (prints_folder.empty() ? " was" : " and prints were")
                << " temporary and are deleted now (--keep DIR keeps them)\n";
    }
    if (enrolled_count == 0) exit_code = kExitNoMatch;
  }
  return exit_code;
}

}  // namespace ridgeline::tools
