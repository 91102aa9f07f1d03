// The figures of an evaluation run and their plain forms: the table printed on the terminal,
// JSON, and scores.csv with one line per comparison.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/eval/error_rates.h"
#include "tools/eval/evaluation.h"

namespace ridgeline::eval {

struct LevelRates {
  int level;
  int threshold;
  double fmr;
  double fnmr;
};

struct EvalSummary {
  int images = 0;
  int failures = 0;  // prints refused by the acceptance or unreadable
  int genuine = 0;
  int impostor = 0;
  std::optional<double> eer;
  std::optional<ErrorPoint> fmr100;
  std::optional<ErrorPoint> fmr1000;
  std::optional<ErrorPoint> zero_fmr;
  std::vector<LevelRates> levels;  // the seven match levels
  double median_extraction_ms = 0;
  double one_thread_rate = 0;
  double all_threads_rate = 0;
  int threads = 1;
  double seconds = 0;
};

EvalSummary Summarize(const EvalRun& run);

// The genuine and impostor scores of a run, in comparison order.
std::vector<int> GenuineScores(const EvalRun& run);
std::vector<int> ImpostorScores(const EvalRun& run);

// The table for people, followed by the refused prints with their reasons.
std::string FormatTable(const EvalRun& run, const EvalSummary& summary);

nlohmann::json SummaryJson(const EvalRun& run, const EvalSummary& summary);

// "reference,probe,kind,score" and one line per comparison, file names relative to the folder.
// Throws EvalError when the file cannot be written.
void WriteScoresCsv(const std::filesystem::path& path, const EvalRun& run);

// A rate as a percentage with two decimals ("5.71 %"); "n/a" when absent.
std::string Percent(std::optional<double> rate);

}  // namespace ridgeline::eval
