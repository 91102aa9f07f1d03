// `ridgeline eval DIR [--out report/] [--threads N] [--json] [--no-trim]`: the command's options
// and its body, for the `ridgeline` command table.
#pragma once

#include <CLI/CLI.hpp>
#include <ostream>

#include "tools/eval/evaluation.h"

namespace ridgeline::eval {

// Declares the eval options on `command` (the `eval` subcommand, or a whole program), writing
// into options, which must outlive the parse.
void AddEvalOptions(CLI::App* command, EvalOptions* options);

// Runs the evaluation and writes the table (or JSON) to out, messages and progress to err.
// Returns the process exit code: 0 done, 2 unusable input, 1 any other failure.
int RunEvalCommand(const EvalOptions& options, std::ostream& out, std::ostream& err);

}  // namespace ridgeline::eval
