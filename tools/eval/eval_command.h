// `ridgeline eval DIR [--out report/] [--threads N] [--json]` (with the command's common --no-trim
// and --dpi): the subcommand's options and its body.
#pragma once

#include <CLI/CLI.hpp>
#include <ostream>

#include "tools/eval/evaluation.h"

namespace ridgeline::eval {

// Declares the eval subcommand's own options on `command`, writing into options, which must
// outlive the parse. Trimming and the resolution come from the command's common options.
void AddEvalOptions(CLI::App* command, EvalOptions* options);

// Runs the evaluation and writes the table (or JSON) to out, messages and progress to err.
// Returns the command's exit code: success, bad input (no usable folder) or engine failure.
int RunEvalCommand(const EvalOptions& options, std::ostream& out, std::ostream& err);

}  // namespace ridgeline::eval
