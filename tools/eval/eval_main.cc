// ridgeline-eval: `ridgeline eval` as a program of its own until the `ridgeline` command carries
// it.
#include <CLI/CLI.hpp>
#include <iostream>

#include "tools/eval/eval_command.h"

int main(int argc, char** argv) {
  CLI::App app{"Accuracy and speed of the engine over a folder of prints (FVC protocol)."};
  ridgeline::eval::EvalOptions options;
  ridgeline::eval::AddEvalOptions(&app, &options);
  CLI11_PARSE(app, argc, argv);
  return ridgeline::eval::RunEvalCommand(options, std::cout, std::cerr);
}
