#include "tools/eval/eval_command.h"

#include <exception>
#include <nlohmann/json.hpp>

#include "tools/cli/exit_codes.h"
#include "tools/eval/eval_summary.h"
#include "tools/eval/html_report.h"

namespace ridgeline::eval {

void AddEvalOptions(CLI::App* command, EvalOptions* options) {
  command->add_option("DIR", options->folder, "folder of prints named <finger>_<impression>")
      ->required();
  command->add_option("--out", options->out, "folder for scores.csv and report.html");
  command->add_option("--threads", options->threads, "worker threads (default: all cores)")
      ->check(CLI::Range(1, 1024));
  command->add_option("--reference-records", options->reference_records,
                      "folder of minutiae records (ISO 19794-2, ANSI 378) used as the references, "
                      "one per print named like it (101_1.iso for 101_1.tif)");
  command->add_flag("--records-resized", options->records_resized,
                    "the records were made from the prints resized to the records' declared size "
                    "without keeping the aspect ratio: map them back to each print");
}

namespace {

// The command's error: a line for people, or the JSON error object of every command.
int Failed(const EvalOptions& options, std::ostream& err, int exit_code,
           const std::string& message) {
  if (options.json) {
    err << nlohmann::json{{"command", "eval"},
                          {"exit_code", exit_code},
                          {"error", tools::ExitCodeName(exit_code)},
                          {"message", message}}
               .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
        << "\n";
  } else {
    err << "ridgeline eval: " << message << "\n";
  }
  return exit_code;
}

}  // namespace

int RunEvalCommand(const EvalOptions& options, std::ostream& out, std::ostream& err) {
  try {
    if (!options.out.empty()) {
      std::error_code error;
      std::filesystem::create_directories(options.out, error);
      if (error) {
        throw EvalError(options.out.string() + ": cannot create the folder (" + error.message() +
                        ")");
      }
    }
    if (options.records_resized && options.reference_records.empty()) {
      throw EvalError("--records-resized needs --reference-records DIR");
    }
    const EvalRun run = RunEvaluation(options);
    if (!run.reference_records.empty()) {
      err << "references: " << run.records_imported << " of " << run.prints.size()
          << " prints from records in " << run.reference_records.string() << " ("
          << run.records_with_item << " with the engine's own item)\n";
      for (const std::string& problem : run.record_problems)
        err << "  no reference: " << problem << "\n";
    }
    const EvalSummary summary = Summarize(run);
    if (!options.out.empty()) {
      WriteScoresCsv(options.out / "scores.csv", run);
      WriteHtmlReport(options.out / "report.html", run, summary);
    }
    if (options.json) {
      nlohmann::json json = {{"command", "eval"}, {"exit_code", tools::kExitSuccess}};
      json.update(SummaryJson(run, summary));
      if (!run.reference_records.empty()) {
        json["reference_records"] = {{"folder", run.reference_records.string()},
                                     {"resized", options.records_resized},
                                     {"imported", run.records_imported},
                                     {"with_engine_item", run.records_with_item},
                                     {"problems", run.record_problems}};
      }
      out << json.dump(2) << "\n";
    } else {
      out << FormatTable(run, summary);
      if (!options.out.empty()) {
        out << "wrote " << (options.out / "scores.csv").string() << " and "
            << (options.out / "report.html").string() << "\n";
      }
    }
    return tools::kExitSuccess;
  } catch (const EvalError& error) {
    return Failed(options, err, tools::kExitBadInput, error.what());
  } catch (const std::bad_alloc&) {
    return Failed(options, err, tools::kExitEngine, "out of memory");
  } catch (const std::exception& error) {
    return Failed(options, err, tools::kExitEngine, error.what());
  }
}

}  // namespace ridgeline::eval
