// `ridgeline eval`: the FVC protocol over a folder of prints, scored by the engine exactly as the
// adapter scores a verification right after an acceptance. Each print is read, prepared as the
// host prepares a capture, accepted and enrolled once; then every comparison of the protocol
// runs MatchCoord(probe's accepted feature set, reference's decoded template) on all threads,
// each with its own matcher work area. A refused print scores 0 in each of its comparisons.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "tools/eval/fvc_protocol.h"
#include "tools/eval/print_features.h"

namespace ridgeline::eval {

struct EvalOptions {
  std::filesystem::path folder;
  std::filesystem::path out;  // where scores.csv and report.html go; empty writes no file
  int threads = 0;            // 0: one per hardware thread
  bool json = false;          // print the figures as JSON instead of the table
  bool trim = true;           // trim blank borders as the host's capture side does
  int dpi = 0;                // the images' resolution; 0 trusts what each file declares
  bool progress = true;       // progress bars on stderr
  // References from standard minutiae records in this folder instead of the prints' own
  // templates (see record_references.h for the naming); empty: the prints' own.
  std::filesystem::path reference_records;
  // The records describe the prints resized to the records' declared size without keeping the
  // aspect ratio: bring them back to each print's size and resolution before importing.
  bool records_resized = false;
};

struct EvalRun {
  std::filesystem::path folder;
  bool trim = true;
  int dpi = 0;
  int threads = 1;
  std::vector<PrintFile> prints;
  std::vector<PrintFeatures> features;  // one per print, same order
  std::vector<Comparison> comparisons;
  std::vector<int> scores;  // one per comparison, same order
  // With reference records: the folder, how many prints got a usable record (how many of them
  // with the engine's own item), and one line per print without one.
  std::filesystem::path reference_records;
  int records_imported = 0;
  int records_with_item = 0;
  std::vector<std::string> record_problems;
  // Comparisons per second: a timed pass over the first comparisons on one thread, and the whole
  // list on all threads.
  double one_thread_rate = 0;
  double all_threads_rate = 0;
  double seconds = 0;  // the whole run, reading the images included
};

// Resolves 0 to the number of hardware threads (at least 1).
int ResolveThreadCount(int requested);

// Reads one print and prepares it as the host's sensor side does: 500 dpi grey (resampled from
// dpi, or from the resolution the file declares when dpi is 0), trimmed when asked. Throws
// EvalError for a file the host refuses.
GreyImage ReadCapture(const std::filesystem::path& path, bool trim, int dpi);

// Runs the whole protocol. Throws EvalError for a folder without prints.
EvalRun RunEvaluation(const EvalOptions& options);

// The MatchCoord score of one comparison: 0 when the probe was refused or the reference has no
// features (a refused print, or a reference record that could not be imported).
// REQUIRES: work built for 250 minutiae and 64 x 64 blocks per side.
int ScoreComparison(const PrintFeatures& reference, const PrintFeatures& probe, Engine& engine);

}  // namespace ridgeline::eval
