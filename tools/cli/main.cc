// `ridgeline`: enroll, verify and identify fingerprints from image files through the engine
// adapter library, with the enrolled templates in a SQLite gallery.
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>

#include "template/template_container.h"
#include "template/template_layout.h"
#include "tools/cli/commands.h"
#include "tools/cli/comparison.h"
#include "tools/cli/convert_command.h"
#include "tools/cli/default_gallery.h"
#include "tools/cli/exit_codes.h"
#include "tools/cli/fingers.h"
#include "tools/cli/gallery_commands.h"
#include "tools/cli/reply.h"
#include "tools/cli/template_command.h"
#include "tools/eval/eval_command.h"
#include "tools/fs/safe_files.h"
#include "tools/host/engine_library.h"
#include "tools/store/sqlite_handle.h"

namespace {

using namespace ridgeline::tools;

constexpr const char* kImagesHelp =
    R"(Images: PNG, BMP, PGM/PPM, JPEG, JPEG 2000, TIFF, WSQ, ANSI INCITS 381 and ISO/IEC 19794-4
finger image records. Each is taken as 500 dpi unless the file declares another resolution or
--dpi gives one (then it is resampled to 500 dpi), and blank light margins are trimmed unless
--no-trim is given.

Gallery: --db FILE, else $XDG_DATA_HOME/ridgeline/gallery.db, else
~/.local/share/ridgeline/gallery.db (created private on the first enroll).

Levels: --level 1..7 (default 4) picks the decision threshold (65, 115, 200, 325, 465, 630,
820); the adapter decides at level 4, other levels are decided by the engine's comparison.)";

// What --json and the command name are before parsing succeeds, for usage errors.
struct ErrorContext {
  bool json = false;
  std::string command = "ridgeline";
};
ErrorContext g_context;
bool g_trace = false;

void GuessContext(int argc, char** argv, const CLI::App& app) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--json") g_context.json = true;
    if (g_context.command == "ridgeline" && !arg.starts_with("-")) {
      for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
        if (sub->get_name() == arg) g_context.command = arg;
      }
    }
  }
}

int PrintVersion(bool json) {
  // The template format: the stored container's version and its entries' template type.
  if (json) {
    const nlohmann::json out = {{"command", "version"},
                                {"exit_code", kExitSuccess},
                                {"version", RIDGELINE_VERSION},
                                {"template_format",
                                 {{"version", ridgeline::kTemplateFormatVersion},
                                  {"container_version", kContainerFormatVersion},
                                  {"template_type", ridgeline::kMinutiaTemplateType}}}};
    std::cout << out.dump(2) << "\n";
  } else {
    std::cout << "ridgeline " << RIDGELINE_VERSION << " (template format "
              << ridgeline::kTemplateFormatVersion << ": container version "
              << kContainerFormatVersion << ", template type " << ridgeline::kMinutiaTemplateType
              << ")\n";
  }
  return kExitSuccess;
}

int Run(int argc, char** argv) {
  CLI::App app{"ridgeline: fingerprint enrollment, verification and identification"};
  app.footer(std::string(kExitCodeHelp) + "\n\n" + kImagesHelp);
  app.fallthrough();

  CommonOptions options;
  bool trace = false;
  bool no_trim = false;
  bool version = false;
  std::string db;
  std::string adapter;
  app.add_flag("--version", version, "print the version and the template format, then exit");
  app.add_option("--db", db, "SQLite gallery file (default: see below)");
  app.add_option("--adapter", adapter,
                 "engine adapter library (default: the one built with the tool)");
  app.add_option("--dpi", options.capture.dpi, "resolution of the images, overriding their files")
      ->check(CLI::Range(50, 5000));
  app.add_flag("--no-trim", no_trim, "do not trim blank margins off the images");
  app.add_flag("--trace", trace, "show the adapter's trace lines on stderr");
  app.add_flag("--json", options.json,
               "one JSON object per command: the answer on stdout, an error on stderr");
  app.add_option("--level", options.level,
                 "decision level 1..7 of verify, identify, enroll's duplicate check and match")
      ->check(CLI::Range(kMinLevel, kMaxLevel))
      ->capture_default_str();

  std::string subject;
  std::string finger;
  std::vector<std::string> images;

  auto* enroll = app.add_subcommand("enroll", "enroll one finger from one or more impressions");
  enroll->add_option("--subject", subject, "the person's name")->required();
  enroll->add_option("--finger", finger, "which finger: " + FingerNameList())->required();
  enroll->add_option("images", images, "impressions of that finger")->required();
  bool no_consistency_check = false;
  enroll->add_flag("--no-consistency-check", no_consistency_check,
                   "store the impressions even when they do not match each other");

  auto* verify = app.add_subcommand("verify", "check an impression against one enrolled finger");
  verify->add_option("--subject", subject, "the claimed person")->required();
  verify->add_option("--finger", finger, "the claimed finger")->required();
  std::string image;
  verify->add_option("image", image, "the impression")->required();

  auto* identify = app.add_subcommand("identify", "find whose enrolled finger an impression is");
  identify->add_option("image", image, "the impression")->required();
  int top = 0;
  identify
      ->add_option("--top", top,
                   "score every enrolled finger with the engine's comparison and show the K "
                   "best (the plain command gives the adapter's answer)")
      ->check(CLI::Range(1, 1000000));

  auto* list = app.add_subcommand("list", "list the enrolled fingers");

  auto* remove = app.add_subcommand("delete", "delete a subject's fingers");
  remove->add_option("--subject", subject, "the person")->required();
  std::optional<std::string> delete_finger;
  remove->add_option("--finger", delete_finger, "only this finger");

  auto* extract = app.add_subcommand("extract", "show the features the engine finds in an image");
  extract->add_option("image", image, "the image")->required();
  ExtractOptions extract_options;
  std::string frame = "input";
  extract->add_option("--overlay", extract_options.overlay,
                      "draw minutiae and singular points into this PNG");
  extract->add_option("--stages", extract_options.stages,
                      "write the extraction's intermediate maps as PNGs here");
  extract
      ->add_option("--frame", frame,
                   "coordinates (and the overlay) in the pixels of the input file, or of the "
                   "engine's 550-dpi working image")
      ->check(CLI::IsMember({"input", "engine"}))
      ->capture_default_str();
  TemplateCommands records;
  auto* record_command = AddTemplateCommands(app, extract, &records);

  auto* match = app.add_subcommand("match", "compare two impressions");
  std::string probe;
  std::string reference;
  match->add_option("probe", probe, "the impression to check")->required();
  match->add_option("reference", reference, "the impression it is compared with")->required();

  auto* synth = app.add_subcommand("synth", "write a set of synthetic prints as PNG files");
  SynthOptions synth_options;
  std::string synth_out;
  synth->add_option("--out", synth_out, "output directory (created if missing)")->required();
  synth->add_option("--fingers", synth_options.fingers, "number of fingers (1..999)")
      ->capture_default_str();
  synth->add_option("--impressions", synth_options.impressions, "impressions per finger (1..99)")
      ->capture_default_str();
  synth->add_option("--seed", synth_options.seed, "seed of the set")->capture_default_str();
  synth->add_option("--size", synth_options.size, "image size WIDTHxHEIGHT")->capture_default_str();

  auto* demo = app.add_subcommand("demo", "enroll, verify and identify a set of prints");
  DemoOptions demo_options;
  std::string demo_images;
  std::string demo_keep;
  demo->add_option("--images", demo_images,
                   "directory of prints named FINGER_IMPRESSION.EXT (default: synthetic prints)");
  demo->add_option("--fingers", demo_options.fingers, "use only the first N fingers");
  demo->add_option("--enroll-impressions", demo_options.enroll_impressions,
                   "impressions merged into each enrolled finger")
      ->check(CLI::Range(1, 7));
  demo->add_option("--keep", demo_keep, "keep the demo's gallery and prints in this new directory");

  const auto gallery_line = AddGalleryCommands(app, options);

  auto* eval =
      app.add_subcommand("eval", "accuracy and speed over a folder of prints (FVC protocol)");
  ridgeline::eval::EvalOptions eval_options;
  ridgeline::eval::AddEvalOptions(eval, &eval_options);

  ConvertOptions convert_options;
  auto* convert = AddConvertCommand(app, &convert_options);

  GuessContext(argc, argv, app);
  try {
    app.parse(argc, argv);
    if (!version && app.get_subcommands().empty()) {
      throw CLI::RequiredError(
          "a command (enroll, verify, identify, list, delete, check, rekey, export, "
          "import, extract, match, synth, demo or eval)");
    }
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return kExitSuccess;
  } catch (const CLI::CallForAllHelp&) {
    std::cout << app.help("", CLI::AppFormatMode::All);
    return kExitSuccess;
  } catch (const CLI::ParseError& error) {
    ReportError(g_context.json, g_context.command, kExitBadInput,
                std::string(error.what()) + " (run with --help for usage)");
    return kExitBadInput;
  }
  if (version) return PrintVersion(options.json);
  g_context.command = app.get_subcommands().front()->get_name();

  options.db = db;
  options.adapter = adapter;
  options.capture.trim = !no_trim;
  // The adapter reads its trace switch when it is loaded, which happens after this.
  g_trace = trace;
  if (trace && std::getenv("RIDGELINE_TRACE") == nullptr) setenv("RIDGELINE_TRACE", "stderr", 1);
  const bool needs_db = !demo->parsed() && !match->parsed() && !extract->parsed() &&
                        !synth->parsed() && !eval->parsed() && !convert->parsed() &&
                        !record_command->parsed();
  if (needs_db && db.empty()) {
    options.db = DefaultGalleryPath();
    if (options.db.empty()) {
      throw InputError("no --db given and no home folder to keep the default gallery in");
    }
  }
  if (enroll->parsed()) PrepareGalleryFolder(options.db);

  options.consistency_check = !no_consistency_check;
  if (auto code = RunGalleryCommand(*gallery_line, options)) return *code;
  if (enroll->parsed()) {
    return RunEnroll(options, subject, finger, {images.begin(), images.end()});
  }
  if (verify->parsed()) return RunVerify(options, subject, finger, image);
  if (identify->parsed()) return RunIdentify(options, image, top);
  if (list->parsed()) return RunList(options);
  if (remove->parsed()) return RunDelete(options, subject, delete_finger);
  if (extract->parsed() && !records.export_options.format.empty()) {
    return RunExtractTemplate(options, image, records.export_options);
  }
  if (extract->parsed()) {
    extract_options.engine_frame = frame == "engine";
    return RunExtract(options, image, extract_options);
  }
  if (record_command->parsed()) return RunTemplateCommands(records);
  if (match->parsed()) return RunMatch(options, probe, reference);
  if (convert->parsed()) return RunConvert(convert_options, options.capture.dpi);
  if (eval->parsed()) {
    eval_options.trim = options.capture.trim;
    eval_options.dpi = options.capture.dpi;
    eval_options.json = options.json;
    return ridgeline::eval::RunEvalCommand(eval_options, std::cout, std::cerr);
  }
  if (synth->parsed()) {
    synth_options.out = synth_out;
    return RunSynth(synth_options, options.json);
  }
  demo_options.images = demo_images;
  demo_options.db = db;
  demo_options.keep = demo_keep;
  return RunDemo(options, demo_options);
}

int Failed(int exit_code, const std::string& message) {
  ReportError(g_context.json, g_context.command, exit_code, message);
  return exit_code;
}

}  // namespace

int main(int argc, char** argv) {
  // Galleries, keys, overlays and prints are personal data: whatever the tool creates is
  // private to the user unless they widen it themselves.
  ::umask(077);
  try {
    return Run(argc, argv);
  } catch (const CommandFailure& failure) {
    return Failed(failure.exit_code(), failure.what());
  } catch (const InputError& error) {
    return Failed(kExitBadInput, error.what());
  } catch (const OutputError& error) {
    return Failed(kExitBadInput, error.what());
  } catch (const StoreError& error) {
    return Failed(kExitStorage, std::string("gallery error: ") + error.what());
  } catch (const HostError& error) {
    return Failed(kExitEngine, error.what());
  } catch (const std::filesystem::filesystem_error& error) {
    // Say which file and why, not the library's wording.
    std::string message = "cannot use " + error.path1().string();
    if (!error.path2().empty()) message += " or " + error.path2().string();
    return Failed(kExitBadInput, message + ": " + error.code().message());
  } catch (const std::bad_alloc&) {
    return Failed(kExitEngine, "out of memory");
  } catch (const std::exception& error) {
    return Failed(kExitEngine, std::string("unexpected internal failure") +
                                   (g_trace ? std::string(": ") + error.what()
                                            : " (run with --trace for details)"));
  }
}
