// The run: prints in parallel (read, prepare, accept, enroll), then the comparisons in parallel,
// grouped by probe, one matcher work area per worker. Workers share only read-only inputs and write
// their own result slots.
#include "tools/eval/evaluation.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <new>
#include <optional>
#include <thread>
#include <utility>

#include "tools/eval/parallel_for.h"
#include "tools/eval/progress_bar.h"
#include "tools/eval/record_references.h"
#include "tools/host/capture_preparation.h"

namespace ridgeline::eval {
namespace {

// The one-thread rate is timed on at most this many comparisons.
constexpr int kOneThreadSample = 1000;
// The prints are extracted in parallel already: each extraction stays on its worker's core.
constexpr int kOneBand = 1;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The comparisons of [first, first + count) grouped by probe: each group lists, in protocol
// order, the comparisons of one probe, so a worker prepares that probe's matcher tables once for
// all of them. Groups come in the order of their probe's first comparison.
std::vector<std::vector<int>> GroupByProbe(const EvalRun& run, int first, int count) {
  std::vector<std::vector<int>> groups;
  std::vector<int> group_of(run.features.size(), -1);
  for (int index = first; index < first + count; ++index) {
    const auto probe = static_cast<size_t>(run.comparisons[static_cast<size_t>(index)].probe);
    if (group_of[probe] < 0) {
      group_of[probe] = static_cast<int>(groups.size());
      groups.emplace_back();
    }
    groups[static_cast<size_t>(group_of[probe])].push_back(index);
  }
  return groups;
}

// Scores comparisons[first .. first + count) into scores on `threads` workers and returns the
// comparisons per second. Each score lands in its comparison's own slot, so the order of the
// work changes nothing in the result.
double ScoreRange(const EvalRun& run, int first, int count, int threads, ProgressBar* progress,
                  std::vector<int>* scores) {
  const std::vector<std::vector<int>> groups = GroupByProbe(run, first, count);
  const int group_count = static_cast<int>(groups.size());
  std::vector<std::unique_ptr<Engine>> engines;
  for (int i = 0; i < std::max(1, std::min(threads, group_count)); ++i) {
    engines.push_back(Engine::Create());
    if (!engines.back()) throw std::bad_alloc();
  }
  const auto start = Clock::now();
  ParallelFor(group_count, threads, [&](int worker, int group) {
    const std::vector<int>& members = groups[static_cast<size_t>(group)];
    const auto probe_index = run.comparisons[static_cast<size_t>(members.front())].probe;
    const PrintFeatures& probe = run.features[static_cast<size_t>(probe_index)];
    Engine& engine = *engines[static_cast<size_t>(worker)];
    // As ScoreComparison: a refused probe, or a reference without features, scores 0.
    const bool usable = probe.status == PrintStatus::kAccepted && probe.probe != nullptr;
    const std::optional<Engine::PreparedProbe> prepared =
        usable ? std::optional(engine.Prepare(*probe.probe->set())) : std::nullopt;
    for (const int index : members) {
      const PrintFeatures& reference =
          run.features[static_cast<size_t>(run.comparisons[static_cast<size_t>(index)].reference)];
      (*scores)[static_cast<size_t>(index)] =
          prepared && reference.reference ? engine.Compare(*prepared, *reference.reference->set())
                                          : 0;
      if (progress != nullptr) progress->Advance();
    }
  });
  const double seconds = SecondsSince(start);
  return seconds > 0 ? count / seconds : 0;
}

}  // namespace

int ResolveThreadCount(int requested) {
  if (requested > 0) return requested;
  return std::max(1u, std::thread::hardware_concurrency());
}

GreyImage ReadCapture(const std::filesystem::path& path, bool trim, int dpi) {
  try {
    tools::Capture capture = tools::PrepareCapture(path, {dpi, trim}, nullptr);
    return GreyImage{capture.image.width, capture.image.height, std::move(capture.image.pixels)};
  } catch (const tools::InputError& error) {
    throw EvalError(error.what());
  }
}

int ScoreComparison(const PrintFeatures& reference, const PrintFeatures& probe, Engine& engine) {
  if (probe.status != PrintStatus::kAccepted || !probe.probe || !reference.reference) return 0;
  return engine.Compare(*probe.probe->set(), *reference.reference->set());
}

EvalRun RunEvaluation(const EvalOptions& options) {
  const auto start = Clock::now();
  EvalRun run;
  run.folder = options.folder;
  run.trim = options.trim;
  run.dpi = options.dpi;
  run.threads = ResolveThreadCount(options.threads);
  run.prints = ListPrintSet(options.folder);
  run.comparisons = FvcComparisons(run.prints);
  const int print_count = static_cast<int>(run.prints.size());
  const int comparison_count = static_cast<int>(run.comparisons.size());

  run.features.resize(run.prints.size());
  const bool records = !options.reference_records.empty();
  std::map<std::pair<long, long>, std::filesystem::path> record_files;
  if (records) record_files = ListRecordFiles(options.reference_records);
  run.reference_records = options.reference_records;
  std::vector<PrintSource> sources(run.prints.size());
  {
    ProgressBar progress("extraction", print_count, options.progress);
    ParallelFor(print_count, run.threads, [&](int, int index) {
      PrintFeatures& print = run.features[static_cast<size_t>(index)];
      try {
        if (records) {
          tools::Capture capture;
          try {
            capture = tools::PrepareCapture(run.prints[static_cast<size_t>(index)].path,
                                            {run.dpi, run.trim}, nullptr);
          } catch (const tools::InputError& error) {
            throw EvalError(error.what());
          }
          sources[static_cast<size_t>(index)] = {
              capture.frame.source_width, capture.frame.source_height, capture.frame.source_dpi};
          print = ExtractPrint(
              GreyImage{capture.image.width, capture.image.height, std::move(capture.image.pixels)},
              kOneBand);
        } else {
          print = ExtractPrint(
              ReadCapture(run.prints[static_cast<size_t>(index)].path, run.trim, run.dpi),
              kOneBand);
        }
      } catch (const EvalError& error) {
        print = PrintFeatures{};
        print.status = PrintStatus::kUnusableFile;
        print.reason = error.what();
      }
      progress.Advance();
    });
  }
  if (records) {
    // The references are the records, whatever the extraction made of the prints themselves.
    std::vector<RecordReference> imported(run.prints.size());
    ProgressBar progress("records", print_count, options.progress);
    std::vector<std::unique_ptr<Engine>> engines;
    for (int i = 0; i < std::max(1, std::min(run.threads, print_count)); ++i) {
      engines.push_back(Engine::Create());
      if (!engines.back()) throw std::bad_alloc();
    }
    ParallelFor(print_count, run.threads, [&](int worker, int index) {
      const PrintFile& print = run.prints[static_cast<size_t>(index)];
      RecordReference& reference = imported[static_cast<size_t>(index)];
      const auto file = record_files.find({print.name.finger, print.name.impression});
      if (file == record_files.end()) {
        reference.problem =
            print.path.filename().string() + ": no record in " + options.reference_records.string();
      } else if (options.records_resized && sources[static_cast<size_t>(index)].width == 0) {
        reference.problem = print.path.filename().string() +
                            ": the print's size is unknown, so its record cannot be unresized";
      } else {
        reference = ImportRecordReference(file->second, options.records_resized,
                                          sources[static_cast<size_t>(index)], *engines[worker]);
      }
      progress.Advance();
    });
    progress.Finish();
    for (size_t i = 0; i < imported.size(); ++i) {
      PrintFeatures& print = run.features[i];
      print.reference = std::move(imported[i].features);
      print.reference_crop_x = print.reference_crop_y = 0;
      if (print.reference) {
        ++run.records_imported;
        if (imported[i].from_item) ++run.records_with_item;
      } else {
        run.record_problems.push_back(imported[i].problem);
      }
    }
  }

  run.scores.assign(run.comparisons.size(), 0);
  if (run.threads > 1 && comparison_count > 0) {
    // A first pass on one thread for the single-thread rate; the parallel pass below must give
    // the same scores, which also shows the workers share no state.
    const int sample = std::min(comparison_count, kOneThreadSample);
    std::vector<int> single(run.comparisons.size(), 0);
    ProgressBar progress("one thread", sample, options.progress);
    run.one_thread_rate = ScoreRange(run, 0, sample, 1, &progress, &single);
    progress.Finish();
    ProgressBar all("comparisons", comparison_count, options.progress);
    run.all_threads_rate = ScoreRange(run, 0, comparison_count, run.threads, &all, &run.scores);
    all.Finish();
    if (!std::equal(single.begin(), single.begin() + sample, run.scores.begin())) {
      throw std::logic_error("scores differ between one thread and several");
    }
  } else if (comparison_count > 0) {
    ProgressBar progress("comparisons", comparison_count, options.progress);
    run.one_thread_rate = ScoreRange(run, 0, comparison_count, 1, &progress, &run.scores);
    run.all_threads_rate = run.one_thread_rate;
  }
  run.seconds = SecondsSince(start);
  return run;
}

}  // namespace ridgeline::eval
