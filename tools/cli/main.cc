// `ridgeline`: enroll, verify and identify fingerprints from image files through the engine
// adapter library, with the enrolled templates in a SQLite gallery.
#include <CLI/CLI.hpp>

#include <cstdlib>
#include <iostream>

#include "template/template_layout.h"
#include "tools/cli/commands.h"
#include "tools/cli/convert_command.h"
#include "tools/cli/exit_codes.h"
#include "tools/cli/fingers.h"
#include "tools/eval/eval_command.h"
#include "tools/host/engine_library.h"
#include "tools/store/sqlite_handle.h"

namespace {

using namespace ridgeline::tools;

constexpr const char* kFooter =
    R"(Exit codes: 0 success or match; 1 no match, unknown identity, duplicate refused or
nothing found; 2 bad input or usage (unreadable image, bad capture); 3 gallery (storage) error;
4 the engine adapter could not be loaded or failed.

Images: PNG, BMP, binary PGM, JPEG, TIFF, WSQ, ANSI INCITS 381 finger image records. Each is
taken as 500 dpi unless the file declares another resolution or --dpi gives one (then it is
resampled to 500 dpi), and blank light margins are trimmed unless --no-trim is given.)";

int Run(int argc, char** argv) {
  CLI::App app{"ridgeline: fingerprint enrollment, verification and identification"};
  app.footer(kFooter);
  app.require_subcommand(1);
  app.fallthrough();
  app.set_version_flag("--version", std::string("ridgeline ") + RIDGELINE_VERSION +
                                        " (template format " +
                                        std::to_string(ridgeline::kTemplateFormatVersion) + ")");

  CommonOptions options;
  bool trace = false;
  bool no_trim = false;
  std::string db;
  std::string adapter;
  app.add_option("--db", db, "SQLite gallery file");
  app.add_option("--adapter", adapter,
                 "engine adapter library (default: the one built with the tool)");
  app.add_option("--dpi", options.capture.dpi, "resolution of the images, overriding their files")
      ->check(CLI::Range(50, 5000));
  app.add_flag("--no-trim", no_trim, "do not trim blank margins off the images");
  app.add_flag("--trace", trace, "show the adapter's trace lines on stderr");

  std::string subject;
  std::string finger;
  std::vector<std::string> images;

  auto* enroll = app.add_subcommand("enroll", "enroll one finger from one or more impressions");
  enroll->add_option("--subject", subject, "the person's name")->required();
  enroll->add_option("--finger", finger, "which finger: " + FingerNameList())->required();
  enroll->add_option("images", images, "impressions of that finger")->required();

  auto* verify = app.add_subcommand("verify", "check an impression against one enrolled finger");
  verify->add_option("--subject", subject, "the claimed person")->required();
  verify->add_option("--finger", finger, "the claimed finger")->required();
  std::string image;
  verify->add_option("image", image, "the impression")->required();

  auto* identify = app.add_subcommand("identify", "find whose enrolled finger an impression is");
  identify->add_option("image", image, "the impression")->required();

  auto* list = app.add_subcommand("list", "list the enrolled fingers");
  list->add_flag("--json", options.json, "JSON output");

  auto* remove = app.add_subcommand("delete", "delete a subject's fingers");
  remove->add_option("--subject", subject, "the person")->required();
  std::optional<std::string> delete_finger;
  remove->add_option("--finger", delete_finger, "only this finger");

  auto* extract = app.add_subcommand("extract", "show the features the engine finds in an image");
  extract->add_option("image", image, "the image")->required();
  extract->add_flag("--json", options.json, "JSON output");
  std::string overlay;
  std::string stages;
  extract->add_option("--overlay", overlay, "draw minutiae and singular points into this PNG");
  extract->add_option("--stages", stages, "write the extraction's intermediate maps as PNGs here");

  auto* match = app.add_subcommand("match", "compare two impressions");
  std::string probe;
  std::string reference;
  match->add_option("probe", probe, "the impression to check")->required();
  match->add_option("reference", reference, "the impression it is compared with")->required();
  match->add_flag("--json", options.json, "JSON output");

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
  demo->add_option("--images", demo_images,
                   "directory of prints named FINGER_IMPRESSION.EXT (default: synthetic prints)");
  demo->add_option("--fingers", demo_options.fingers, "use only the first N fingers");
  demo->add_option("--enroll-impressions", demo_options.enroll_impressions,
                   "impressions merged into each enrolled finger")
      ->check(CLI::Range(1, 7));

  auto* eval =
      app.add_subcommand("eval", "accuracy and speed over a folder of prints (FVC protocol)");
  ridgeline::eval::EvalOptions eval_options;
  ridgeline::eval::AddEvalOptions(eval, &eval_options);

  ConvertOptions convert_options;
  auto* convert = AddConvertCommand(app, &convert_options);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int code = app.exit(error);
    return code == 0 ? kExitSuccess : kExitBadInput;
  }

  options.db = db;
  options.adapter = adapter;
  options.capture.trim = !no_trim;
  // The adapter reads its trace switch when it is loaded, which happens after this.
  if (trace && std::getenv("RIDGELINE_TRACE") == nullptr) setenv("RIDGELINE_TRACE", "stderr", 1);
  const bool needs_db = !demo->parsed() && !match->parsed() && !extract->parsed() &&
                        !synth->parsed() && !eval->parsed() && !convert->parsed();
  if (needs_db && db.empty()) {
    std::cerr << "ridgeline: --db GALLERY is required for this command\n";
    return kExitBadInput;
  }

  if (enroll->parsed()) {
    return RunEnroll(options, subject, finger, {images.begin(), images.end()});
  }
  if (verify->parsed()) return RunVerify(options, subject, finger, image);
  if (identify->parsed()) return RunIdentify(options, image);
  if (list->parsed()) return RunList(options);
  if (remove->parsed()) return RunDelete(options, subject, delete_finger);
  if (extract->parsed()) return RunExtract(options, image, overlay, stages);
  if (match->parsed()) return RunMatch(options, probe, reference);
  if (convert->parsed()) return RunConvert(convert_options, options.capture.dpi);
  if (eval->parsed()) {
    eval_options.trim = options.capture.trim;
    eval_options.dpi = options.capture.dpi;
    return ridgeline::eval::RunEvalCommand(eval_options, std::cout, std::cerr);
  }
  if (synth->parsed()) {
    synth_options.out = synth_out;
    return RunSynth(synth_options);
  }
  demo_options.images = demo_images;
  demo_options.db = db;
  return RunDemo(options, demo_options);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const InputError& error) {
    std::cerr << "ridgeline: " << error.what() << "\n";
    return kExitBadInput;
  } catch (const StoreError& error) {
    std::cerr << "ridgeline: gallery error: " << error.what() << "\n";
    return kExitStorage;
  } catch (const HostError& error) {
    std::cerr << "ridgeline: " << error.what() << "\n";
    return kExitEngine;
  } catch (const std::bad_alloc&) {
    std::cerr << "ridgeline: out of memory\n";
    return kExitEngine;
  } catch (const std::exception& error) {
    std::cerr << "ridgeline: " << error.what() << "\n";
    return kExitEngine;
  }
}
