// `ridgeline convert IN -o OUT [--to pgm|png|wsq] [--bitrate R]`: any image the tool reads,
// written as binary PGM, PNG or WSQ. The pixels are kept as they are (no resampling, no
// trimming); a WSQ file records the resolution the input declared (or --dpi gave), and its size
// meets --bitrate unless --reference-quantisation asks for the usual allocation alone.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace ridgeline::tools {

struct ConvertOptions {
  std::string input;
  std::string output;
  std::string to;  // empty: from the output's extension
  double bitrate = 0.75;
  bool reference_quantisation = false;  // WSQ: the usual allocation, not the file size
};

// Adds the subcommand and its options to app.
CLI::App* AddConvertCommand(CLI::App& app, ConvertOptions* options);

// dpi: the input's resolution when given (--dpi), 0 for what the file declares; it only goes
// into a WSQ file's comment. Throws InputError for unreadable input, an unknown format or an
// unwritable output.
int RunConvert(const ConvertOptions& options, int dpi);

}  // namespace ridgeline::tools
