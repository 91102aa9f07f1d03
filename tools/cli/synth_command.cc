// `ridgeline synth` and the demo's default prints: sets of synthetic impressions, written as PNG
// files named FINGER_IMPRESSION.png, the same bytes for the same seed on every machine.
#include <iostream>

#include "tools/cli/commands.h"
#include "tools/cli/exit_codes.h"
#include "tools/cli/reply.h"
#include "tools/fs/safe_files.h"

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
    if (!options.out_is_private) PrepareOutputFolder(options.out);
    synth::GenerateSet(params, [&](int finger, int impression, const synth::Image& image) {
      const auto path = options.out / synth::ImpressionFileName(finger, impression);
      const UniqueFile file =
          options.out_is_private ? CreatePrivateFile(path) : OpenOutputFile(path);
      synth::WritePng(file.get(), path.string(), image);
    });
  } catch (const std::invalid_argument& error) {
    throw InputError(std::string("synth: ") + error.what());
  }
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
