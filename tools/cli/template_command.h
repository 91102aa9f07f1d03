// Standard minutiae records on the command line: written from a print, shown, converted.
#pragma once

#include <filesystem>
#include <string>

#include "template/standard_record.h"
#include "tools/cli/commands.h"

namespace ridgeline::tools {

struct TemplateExportOptions {
  std::string format;  // a RecordFormatName
  std::filesystem::path out;
  std::string finger;    // a finger name, or empty for "unknown"
  size_t max_bytes = 0;  // 0: no cap
  bool no_engine_item = false;
};

int RunExtractTemplate(const CommonOptions& options, const std::filesystem::path& image,
                       const TemplateExportOptions& request);
int RunTemplateShow(const std::filesystem::path& path, bool json);
int RunTemplateConvert(const std::filesystem::path& in, const std::string& to,
                       const std::filesystem::path& out);

// Reads a record leniently (each accepted slip printed to stderr when warn is set). Throws
// InputError for a file that is not a readable record.
StandardRecord LoadRecord(const std::filesystem::path& path, bool warn);
// The same, each accepted slip appended to *notes instead.
StandardRecord LoadRecord(const std::filesystem::path& path, std::vector<std::string>* notes);
// Whether the file starts as a finger minutiae record does.
bool LooksLikeRecord(const std::filesystem::path& path);
// The record in another format (angles, "not reported" qualities and core/delta data adapted).
StandardRecord ConvertRecord(const StandardRecord& source, RecordFormat format);

}  // namespace ridgeline::tools

namespace CLI {
class App;
}

namespace ridgeline::tools {

// The options and subcommands on the command line, wired by main.
struct TemplateCommands {
  TemplateExportOptions export_options;
  CLI::App* show = nullptr;
  CLI::App* convert = nullptr;
  std::filesystem::path in;
  std::string to;
  std::filesystem::path out;
  bool json = false;
};
// Adds --template, -o, --finger, --max-bytes, --no-engine-item to `extract`, and the `template`
// command with `show` and `convert`; returns the `template` command.
CLI::App* AddTemplateCommands(CLI::App& app, CLI::App* extract, TemplateCommands* commands);
int RunTemplateCommands(const TemplateCommands& commands);

}  // namespace ridgeline::tools
