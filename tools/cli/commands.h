// The subcommands of `ridgeline`. Each returns its exit code and writes results to stdout and
// messages to stderr; bad input, storage and host failures arrive as exceptions, which main
// turns into messages and exit codes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/host/capture_preparation.h"

namespace ridgeline::tools {

struct CommonOptions {
  std::filesystem::path db;       // the gallery (DefaultGalleryPath() when not given)
  std::filesystem::path adapter;  // empty: EngineLibrary::DefaultPath()
  CaptureOptions capture;
  bool json = false;  // one JSON object per command (see the README for the schema)
  int level = 4;      // decision level 1..7 of verify, identify, enroll's duplicate check, match
  std::filesystem::path key_file;  // empty: RIDGELINE_KEY_FILE, else the gallery's own
  bool plaintext = false;          // a gallery created now keeps its templates unencrypted
  bool consistency_check = true;   // enroll: the impressions must match each other
};

int RunEnroll(const CommonOptions& options, const std::string& subject, const std::string& finger,
              const std::vector<std::filesystem::path>& images);
int RunVerify(const CommonOptions& options, const std::string& subject, const std::string& finger,
              const std::filesystem::path& image);
// top 0: the adapter's answer (the first record that reaches the threshold); top K > 0: every
// record scored, the K best shown.
int RunIdentify(const CommonOptions& options, const std::filesystem::path& image, int top);
int RunList(const CommonOptions& options);
int RunDelete(const CommonOptions& options, const std::string& subject,
              const std::optional<std::string>& finger);
struct ExtractOptions {
  std::filesystem::path overlay;  // empty: not drawn
  std::filesystem::path stages;   // empty: not written
  bool engine_frame = false;      // coordinates in the engine's working image, not the file's
};
int RunExtract(const CommonOptions& options, const std::filesystem::path& image,
               const ExtractOptions& extract);
int RunMatch(const CommonOptions& options, const std::filesystem::path& probe,
             const std::filesystem::path& reference);

struct SynthOptions {
  std::filesystem::path out;
  int fingers = 10;
  int impressions = 4;
  uint64_t seed = 7;
  std::string size = "388x374";
  // `out` is a folder this process made (private, empty): files are created exclusively.
  bool out_is_private = false;
};
// False when this build has no synthetic print generator.
bool SynthAvailable();
// Throws InputError for bad parameters.
void WriteSyntheticSet(const SynthOptions& options);
int RunSynth(const SynthOptions& options, bool json);

struct DemoOptions {
  std::filesystem::path images;  // a directory of FINGER_IMPRESSION files
  std::filesystem::path db;      // empty: a fresh gallery in a temporary directory
  int fingers = 0;               // 0: all
  int enroll_impressions = 1;    // impressions merged into each enrolled finger
  std::filesystem::path keep;    // non-empty: gallery and prints are kept in this new directory
};
int RunDemo(const CommonOptions& options, const DemoOptions& demo);

}  // namespace ridgeline::tools
