#include "tools/eval/eval_command.h"

#include <exception>

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
  command->add_flag("--json", options->json, "print the figures as JSON");
}

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
    const EvalRun run = RunEvaluation(options);
    const EvalSummary summary = Summarize(run);
    if (!options.out.empty()) {
      WriteScoresCsv(options.out / "scores.csv", run);
      WriteHtmlReport(options.out / "report.html", run, summary);
    }
    if (options.json) {
      out << SummaryJson(run, summary).dump(2) << "\n";
    } else {
      out << FormatTable(run, summary);
      if (!options.out.empty()) {
        out << "wrote " << (options.out / "scores.csv").string() << " and "
            << (options.out / "report.html").string() << "\n";
      }
    }
    return tools::kExitSuccess;
  } catch (const EvalError& error) {
    err << "ridgeline eval: " << error.what() << "\n";
    return tools::kExitBadInput;
  } catch (const std::exception& error) {
    err << "ridgeline eval: " << error.what() << "\n";
    return tools::kExitEngine;
  }
}

}  // namespace ridgeline::eval
