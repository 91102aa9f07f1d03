#include "tools/eval/eval_summary.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "adapter/engine_context.h"
#include "engine/match_threshold.h"

namespace ridgeline::eval {
namespace {

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string OperatingPoint(const std::optional<ErrorPoint>& point) {
  if (!point) return "n/a";
  return Percent(point->fnmr) + "   (threshold " + std::to_string(point->threshold) + ")";
}

nlohmann::json PointJson(const std::optional<ErrorPoint>& point) {
  if (!point) return nullptr;
  return {{"fnmr", point->fnmr}, {"fmr", point->fmr}, {"threshold", point->threshold}};
}

std::vector<int> ScoresOfKind(const EvalRun& run, bool genuine) {
  std::vector<int> scores;
  for (size_t i = 0; i < run.comparisons.size(); ++i) {
    if (run.comparisons[i].genuine == genuine) scores.push_back(run.scores[i]);
  }
  return scores;
}

}  // namespace

std::string Percent(std::optional<double> rate) {
  return rate ? Format("%.2f %%", *rate * 100) : std::string("n/a");
}

std::vector<int> GenuineScores(const EvalRun& run) { return ScoresOfKind(run, true); }
std::vector<int> ImpostorScores(const EvalRun& run) { return ScoresOfKind(run, false); }

EvalSummary Summarize(const EvalRun& run) {
  EvalSummary summary;
  summary.images = static_cast<int>(run.prints.size());
  std::vector<double> times;
  for (const PrintFeatures& print : run.features) {
    if (print.status != PrintStatus::kAccepted) ++summary.failures;
    if (print.extraction_ms > 0) times.push_back(print.extraction_ms);
  }
  const std::vector<int> genuine = GenuineScores(run);
  const std::vector<int> impostor = ImpostorScores(run);
  summary.genuine = static_cast<int>(genuine.size());
  summary.impostor = static_cast<int>(impostor.size());
  const ErrorRates rates(genuine, impostor);
  summary.eer = rates.EqualErrorRate();
  summary.fmr100 = rates.FnmrAtFmr(0.01);
  summary.fmr1000 = rates.FnmrAtFmr(0.001);
  summary.zero_fmr = rates.FnmrAtFmr(0.0);
  for (int level = kMinMatchLevel; level <= kMaxMatchLevel; ++level) {
    const int threshold = MatchThreshold(static_cast<uint8_t>(level));
    summary.levels.push_back(
        {level, threshold, rates.FalseMatchRate(threshold), rates.FalseNonMatchRate(threshold)});
  }
  if (!times.empty()) {
    std::sort(times.begin(), times.end());
    const size_t half = times.size() / 2;
    summary.median_extraction_ms =
        times.size() % 2 == 1 ? times[half] : (times[half - 1] + times[half]) / 2;
  }
  summary.one_thread_rate = run.one_thread_rate;
  summary.all_threads_rate = run.all_threads_rate;
  summary.threads = run.threads;
  summary.seconds = run.seconds;
  return summary;
}

std::string FormatTable(const EvalRun& run, const EvalSummary& s) {
  std::string out = run.folder.string() + (run.trim ? " (trimmed)" : " (not trimmed)") + "\n";
  auto line = [&out](const std::string& label, const std::string& value) {
    char text[160];
    std::snprintf(text, sizeof text, "  %-26s %s\n", label.c_str(), value.c_str());
    out += text;
  };
  line("images", std::to_string(s.images));
  line("failures to extract", std::to_string(s.failures));
  line("genuine comparisons", std::to_string(s.genuine));
  line("impostor comparisons", std::to_string(s.impostor));
  line("EER", Percent(s.eer));
  line("FMR100", OperatingPoint(s.fmr100));
  line("FMR1000", OperatingPoint(s.fmr1000));
  line("ZeroFMR", OperatingPoint(s.zero_fmr));
  out += "  match level  threshold       FMR      FNMR\n";
  for (const LevelRates& r : s.levels) {
    char text[120];
    std::snprintf(text, sizeof text, "  %11d  %9d  %8.2f %%  %6.2f %%%s\n", r.level, r.threshold,
                  r.fmr * 100, r.fnmr * 100, r.level == kDefaultMatchLevel ? "  (default)" : "");
    out += text;
  }
  line("median extraction", Format("%.1f ms per image", s.median_extraction_ms));
  line("comparisons per second",
       Format("%.0f on one thread, ", s.one_thread_rate) + Format("%.0f", s.all_threads_rate) +
           " on " + std::to_string(s.threads) + (s.threads == 1 ? " thread" : " threads"));
  line("run time", Format("%.1f s", s.seconds));
  bool header = false;
  for (size_t i = 0; i < run.prints.size(); ++i) {
    const PrintFeatures& print = run.features[i];
    if (print.status == PrintStatus::kAccepted) continue;
    if (!header) out += "refused prints (score 0 in each of their comparisons):\n";
    header = true;
    out += "  " + run.prints[i].path.filename().string() + ": " + PrintStatusName(print.status) +
           ", " + print.reason + "\n";
  }
  return out;
}

nlohmann::json SummaryJson(const EvalRun& run, const EvalSummary& s) {
  nlohmann::json levels = nlohmann::json::array();
  for (const LevelRates& r : s.levels) {
    levels.push_back(
        {{"level", r.level}, {"threshold", r.threshold}, {"fmr", r.fmr}, {"fnmr", r.fnmr}});
  }
  nlohmann::json refused = nlohmann::json::array();
  for (size_t i = 0; i < run.prints.size(); ++i) {
    const PrintFeatures& print = run.features[i];
    if (print.status == PrintStatus::kAccepted) continue;
    refused.push_back({{"file", run.prints[i].path.filename().string()},
                       {"status", PrintStatusName(print.status)},
                       {"reason", print.reason}});
  }
  return {
      {"folder", run.folder.string()},
      {"trimmed", run.trim},
      {"images", s.images},
      {"failures", s.failures},
      {"refused", refused},
      {"genuine_comparisons", s.genuine},
      {"impostor_comparisons", s.impostor},
      {"eer", s.eer ? nlohmann::json(*s.eer) : nlohmann::json(nullptr)},
      {"fmr100", PointJson(s.fmr100)},
      {"fmr1000", PointJson(s.fmr1000)},
      {"zero_fmr", PointJson(s.zero_fmr)},
      {"match_levels", levels},
      {"median_extraction_ms", s.median_extraction_ms},
      {"comparisons_per_second_one_thread", s.one_thread_rate},
      {"comparisons_per_second_all_threads", s.all_threads_rate},
      {"threads", s.threads},
      {"seconds", s.seconds},
  };
}

void WriteScoresCsv(const std::filesystem::path& path, const EvalRun& run) {
  std::ofstream out(path, std::ios::binary);
  if (!out) throw EvalError(path.string() + ": cannot write the file");
  out << "reference,probe,kind,score\n";
  for (size_t i = 0; i < run.comparisons.size(); ++i) {
    const Comparison& c = run.comparisons[i];
    out << CsvField(run.prints[static_cast<size_t>(c.reference)].path.filename().string()) << ','
        << CsvField(run.prints[static_cast<size_t>(c.probe)].path.filename().string()) << ','
        << (c.genuine ? "genuine" : "impostor") << ',' << run.scores[i] << '\n';
  }
  if (!out.flush()) throw EvalError(path.string() + ": cannot write the file");
}

}  // namespace ridgeline::eval
