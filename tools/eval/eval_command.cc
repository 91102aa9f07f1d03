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
    const EvalRun run = RunEvaluation(options);
    const EvalSummary summary = Summarize(run);
    if (!options.out.empty()) {
      WriteScoresCsv(options.out / "scores.csv", run);
      WriteHtmlReport(options.out / "report.html", run, summary);
    }
    if (options.json) {
      nlohmann::json json = {{"command", "eval"}, {"exit_code", tools::kExitSuccess}};
      json.update(SummaryJson(run, summary));
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
