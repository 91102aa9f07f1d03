// `ridgeline synth` and the demo's default prints: sets of synthetic impressions, written as PNG
// files named FINGER_IMPRESSION.png, the same bytes for the same seed on every machine.
#include <iostream>

#include "tools/cli/commands.h"
#include "tools/cli/exit_codes.h"
#include "tools/cli/reply.h"

#ifdef RIDGELINE_HAVE_SYNTH
#include "tools/synth/synth.h"
#endif

namespace ridgeline::tools {

bool SynthAvailable() {
#ifdef RIDGELINE_HAVE_SYNTH
  return true;
#else
  return false;
#endif
}

void WriteSyntheticSet(const SynthOptions& options) {
#ifdef RIDGELINE_HAVE_SYNTH
  synth::SetParams params;
  params.fingers = options.fingers;
  params.impressions = options.impressions;
  params.seed = options.seed;
  try {
    synth::ParseSize(options.size, &params.width, &params.height);
  } catch (const std::invalid_argument& error) {
    throw InputError(std::string("synth: ") + error.what());
  }
  std::error_code error;
  std::filesystem::create_directories(options.out, error);
  if (error) {
    throw OutputError(options.out.string() + ": cannot create the folder (" + error.message() +
                      ")");
  }
  synth::GenerateSet(params, [&](int finger, int impression, const synth::Image& image) {
    const std::filesystem::path file = options.out / synth::ImpressionFileName(finger, impression);
    try {
      synth::WritePng(file.string(), image);
    } catch (const std::exception& failure) {
      throw OutputError(file.string() + ": cannot write the print (" + failure.what() + ")");
    }
  });
#else
  (void)options;
  throw InputError("synthetic prints are not available in this build");
#endif
}

int RunSynth(const SynthOptions& options, bool json) {
  Reply reply(json, "synth");
  WriteSyntheticSet(options);
  reply.object() = {{"out", options.out.string()},
                    {"fingers", options.fingers},
                    {"impressions", options.impressions},
                    {"seed", options.seed},
                    {"size", options.size},
                    {"files", options.fingers * options.impressions}};
  reply.out() << "wrote " << options.fingers * options.impressions << " synthetic prints ("
              << options.fingers << " fingers x " << options.impressions << " impressions) to "
              << options.out.string() << "\n";
  return reply.Finish(kExitSuccess);
}

}  // namespace ridgeline::tools
