// ridgeline-synth: writes a set of synthetic fingerprints as 8-bit grey PNG files named
// <finger>_<impression>.png, identical for the same seed on every machine.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "tools/fs/safe_files.h"
#include "tools/synth/synth.h"

int main(int argc, char** argv) {
  CLI::App app{"Writes synthetic 500-dpi fingerprint images (PNG)."};
  ridgeline::synth::SetParams params;
  std::string out;
  std::string size = "388x374";
  app.add_option("--fingers", params.fingers, "number of fingers (1..999)")->required();
  app.add_option("--impressions", params.impressions, "impressions per finger (1..99)")->required();
  app.add_option("--out", out, "output directory (created if missing)")->required();
  app.add_option("--seed", params.seed, "seed of the set")
      ->check(
          [](const std::string& text) {
            // Decimal digits no larger than 2^64 - 1 (equal lengths compare as numbers).
            const std::string max = "18446744073709551615";
            const bool valid =
                !text.empty() && text.find_first_not_of("0123456789") == std::string::npos &&
                (text.size() < max.size() || (text.size() == max.size() && text <= max));
            return valid ? std::string() : std::string("must be an integer 0..2^64-1");
          },
          "UINT")
      ->capture_default_str();
  app.add_option("--size", size, "image size WIDTHxHEIGHT")->capture_default_str();
  CLI11_PARSE(app, argc, argv);
  try {
    ridgeline::synth::ParseSize(size, &params.width, &params.height);
    const std::filesystem::path dir(out);
    ridgeline::tools::PrepareOutputFolder(dir);
    ridgeline::synth::GenerateSet(
        params, [&](int finger, int impression, const ridgeline::synth::Image& image) {
          const auto path = dir / ridgeline::synth::ImpressionFileName(finger, impression);
          ridgeline::synth::WritePng(ridgeline::tools::OpenOutputFile(path).get(), path.string(),
                                     image);
        });
  } catch (const std::exception& error) {
    std::fprintf(stderr, "ridgeline-synth: %s\n", error.what());
    return 1;
  }
  return 0;
}
