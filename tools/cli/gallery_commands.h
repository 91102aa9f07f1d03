// The commands that look after the gallery itself rather than compare prints: list, check,
// rekey, export and import, and the gallery options every command shares (--key-file,
// --plaintext). Kept apart from the command table in main so they are registered in one call.
#pragma once

#include <CLI/CLI.hpp>

#include <memory>
#include <optional>
#include <string>

#include "tools/cli/commands.h"

namespace ridgeline::tools {

int RunCheck(const CommonOptions& options);
// Encrypts a plaintext gallery, or moves an encrypted one to a fresh key; new_key_file may be
// empty (GALLERY.key for a plaintext gallery, a new dated name beside the old key otherwise).
int RunRekey(const CommonOptions& options, const std::filesystem::path& new_key_file);
int RunExport(const CommonOptions& options, const std::filesystem::path& out);
// in_key_file: the key of the gallery being imported when it is not the one it names.
int RunImport(const CommonOptions& options, const std::filesystem::path& in,
              const std::filesystem::path& in_key_file);

// The parsed command line of those commands.
struct GalleryCommandLine {
  CLI::App* check = nullptr;
  CLI::App* rekey = nullptr;
  CLI::App* export_command = nullptr;
  CLI::App* import_command = nullptr;
  std::string new_key_file;
  std::string out;
  std::string in;
  std::string in_key_file;
};

// Adds check, rekey, export and import and the shared gallery options to app; options receives
// what they set. The result must outlive parsing.
std::unique_ptr<GalleryCommandLine> AddGalleryCommands(CLI::App& app, CommonOptions& options);

// Runs whichever of those commands was parsed; empty when none was.
std::optional<int> RunGalleryCommand(const GalleryCommandLine& line, const CommonOptions& options);

}  // namespace ridgeline::tools
