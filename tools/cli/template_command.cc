// `ridgeline extract --template`, `ridgeline template show` and `ridgeline template convert`:
// standard finger minutiae records (ISO/IEC 19794-2, ANSI INCITS 378) written from a print,
// shown, and converted between the formats.
#include "tools/cli/template_command.h"

#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "engine/record_export.h"
#include "tools/cli/exit_codes.h"
#include "tools/cli/fingers.h"
#include "tools/cli/reply.h"
#include "tools/cli/workbench.h"

namespace ridgeline::tools {
namespace {

constexpr uintmax_t kMaxRecordFileBytes = 16u << 20;

RecordFormat ParseFormat(const std::string& name) {
  RecordFormat format;
  if (!RecordFormatFromName(name, &format)) {
    throw InputError("unknown record format \"" + name +
                     "\" (iso19794-2:2005, iso19794-2:2011, ansi378-2004, ansi378-2009, "
                     "ansi378-2009am1)");
  }
  return format;
}

// A new file only its owner can read; an existing file is replaced only when it is a regular
// file (no writing through a planted link).
void WritePrivateFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) throw InputError(path.string() + ": cannot write: " + std::strerror(errno));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      throw InputError(path.string() + ": write failed: " + std::strerror(errno));
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) throw InputError(path.string() + ": write failed");
}

std::vector<uint8_t> ReadRecordFile(const std::filesystem::path& path) {
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) throw InputError(path.string() + ": cannot read: " + ec.message());
  if (size > kMaxRecordFileBytes) throw InputError(path.string() + ": too large for a record");
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  if (!in.good() && !in.eof()) throw InputError(path.string() + ": cannot read");
  return bytes;
}

}  // namespace

StandardRecord LoadRecord(const std::filesystem::path& path, std::vector<std::string>* notes) {
  const std::vector<uint8_t> bytes = ReadRecordFile(path);
  StandardRecord record;
  std::string error;
  if (!ReadStandardRecord(bytes, RecordReadMode::kLenient, &record, &error, notes)) {
    throw InputError(path.string() + ": " + error);
  }
  return record;
}

StandardRecord LoadRecord(const std::filesystem::path& path, bool warn) {
  std::vector<std::string> notes;
  StandardRecord record = LoadRecord(path, &notes);
  if (warn) {
    for (const std::string& note : notes)
      std::cerr << "ridgeline: " << path.string() << ": " << note << "\n";
  }
  return record;
}

bool LooksLikeRecord(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  char magic[4] = {};
  in.read(magic, 4);
  return in.gcount() == 4 && std::memcmp(magic, "FMR\0", 4) == 0;
}

int RunExtractTemplate(const CommonOptions& options, const std::filesystem::path& image,
                       const TemplateExportOptions& request) {
  const RecordFormat format = ParseFormat(request.format);
  if (request.out.empty()) throw InputError("--template needs -o FILE, the record to write");
  uint8_t finger = 0;
  if (!request.finger.empty()) finger = ParseFinger(request.finger);
  Reply notes(/*json=*/false, "extract");
  const Capture capture = PrepareWithNotes(image, options.capture, notes);
  auto engine = Engine::Create();
  if (!engine) throw std::bad_alloc();
  AcceptedSample sample;
  const AcceptStatus status =
      engine->Accept(capture.image.pixels, capture.image.width, capture.image.height, &sample);
  if (status != AcceptStatus::kAccepted) {
    std::cerr << "ridgeline: " << capture.name << ": " << AcceptStatusText(status) << "\n";
    return status == AcceptStatus::kOutOfMemory ? kExitEngine : kExitBadInput;
  }
  RecordExportOptions export_options;
  export_options.format = format;
  export_options.frame.ppi = capture.frame.source_dpi;
  export_options.frame.trim_x = capture.frame.trim_left;
  export_options.frame.trim_y = capture.frame.trim_top;
  export_options.input_width = capture.frame.source_width;
  export_options.input_height = capture.frame.source_height;
  export_options.finger_position = finger;
  export_options.engine_item = !request.no_engine_item;
  export_options.max_bytes = request.max_bytes;
  StandardRecord record;
  RecordExportReport report;
  std::string error;
  std::vector<uint8_t> bytes;
  if (!ExportRecord(*engine, sample, export_options, &record, &report, &error) ||
      !WriteStandardRecord(record, &bytes, &error)) {
    std::cerr << "ridgeline: " << capture.name << ": " << error << "\n";
    return kExitBadInput;
  }
  WritePrivateFile(request.out, bytes);
  std::cout << request.out.string() << ": " << RecordFormatName(format) << ", "
            << report.minutiae_written << " of " << report.minutiae_found << " minutiae, "
            << bytes.size() << " bytes"
            << (report.engine_item_written ? ", with the engine's extended data" : "") << "\n";
  return kExitSuccess;
}

int RunTemplateShow(const std::filesystem::path& path, bool json) {
  const StandardRecord record = LoadRecord(path, true);
  if (json) {
    nlohmann::json views = nlohmann::json::array();
    for (const FingerView& view : record.views) {
      nlohmann::json minutiae = nlohmann::json::array();
      for (const RecordMinutia& m : view.minutiae) {
        minutiae.push_back({{"x", m.x},
                            {"y", m.y},
                            {"angle", m.angle},
                            {"type", m.kind == MinutiaKind::kEnding        ? "ending"
                                     : m.kind == MinutiaKind::kBifurcation ? "bifurcation"
                                                                           : "other"},
                            {"quality", m.quality}});
      }
      nlohmann::json items = nlohmann::json::array();
      for (const ExtendedItem& item : view.extended) {
        items.push_back({{"type", item.type}, {"bytes", item.data.size()}});
      }
      nlohmann::json ridge = nlohmann::json::array();
      for (const RidgeCount& c : view.ridge_counts) ridge.push_back({c.from, c.to, c.count});
      auto points = [](const std::vector<SingularPoint>& list) {
        nlohmann::json out = nlohmann::json::array();
        for (const SingularPoint& p : list) {
          out.push_back({{"x", p.x}, {"y", p.y}, {"type", p.type}});
        }
        return out;
      };
      views.push_back({{"finger_position", view.finger_position},
                       {"view", view.view_number},
                       {"impression", view.impression_type},
                       {"finger_quality", view.finger_quality},
                       {"width", view.width},
                       {"height", view.height},
                       {"resolution_ppcm", {view.x_resolution, view.y_resolution}},
                       {"minutiae", minutiae},
                       {"ridge_counts", ridge},
                       {"cores", points(view.cores)},
                       {"deltas", points(view.deltas)},
                       {"extended", items}});
    }
    const nlohmann::json out = {
        {"file", path.string()}, {"format", RecordFormatName(record.format)}, {"views", views}};
    std::cout << out.dump(2) << "\n";
    return kExitSuccess;
  }
  std::cout << path.string() << ": " << RecordFormatName(record.format) << ", "
            << record.views.size() << " view(s)\n";
  for (const FingerView& view : record.views) {
    std::cout << "  " << FingerName(view.finger_position) << " view " << int{view.view_number}
              << ": " << view.minutiae.size() << " minutiae, finger quality "
              << int{view.finger_quality} << ", " << view.width << " x " << view.height << " at "
              << view.x_resolution << " px/cm";
    if (!view.ridge_counts.empty())
      std::cout << ", " << view.ridge_counts.size() << " ridge counts";
    if (!view.cores.empty() || !view.deltas.empty()) {
      std::cout << ", " << view.cores.size() << " cores, " << view.deltas.size() << " deltas";
    }
    for (const ExtendedItem& item : view.extended) {
      if (item.type == kRidgelineItem) std::cout << ", engine extended data";
    }
    std::cout << "\n";
  }
  return kExitSuccess;
}

StandardRecord ConvertRecord(const StandardRecord& source, RecordFormat format) {
  StandardRecord out = source;
  out.format = format;
  const bool old_2005 = source.format == RecordFormat::kAnsi378_2004 ||
                        source.format == RecordFormat::kIso19794_2_2005;
  const bool new_2005 =
      format == RecordFormat::kAnsi378_2004 || format == RecordFormat::kIso19794_2_2005;
  const bool old_iso = IsIsoFormat(source.format);
  const bool new_iso = IsIsoFormat(format);
  for (FingerView& view : out.views) {
    // "Not reported" is 0 in the 2004/2005 editions and 254 in the later ones.
    for (RecordMinutia& m : view.minutiae) {
      if (old_2005 && !new_2005 && m.quality == 0) m.quality = 254;
      if (!old_2005 && new_2005 && m.quality >= 254) m.quality = 0;
    }
    if (new_2005) {
      const FingerView& first = out.views[0];
      view.width = first.width, view.height = first.height;
      view.x_resolution = first.x_resolution, view.y_resolution = first.y_resolution;
    }
    if (old_iso != new_iso) {
      // Core/delta data pack the type differently in the two families, and their angles use
      // the family's unit.
      for (ExtendedItem& item : view.extended) {
        if (item.type != kCoreDeltaItem) continue;
        auto convert = [&](std::vector<SingularPoint> points) {
          for (SingularPoint& p : points) {
            for (uint8_t& a : p.angles) {
              const double degrees = old_iso ? a * 360.0 / 256.0 : a * 2.0;
              a = new_iso ? IsoAngleCode(degrees) : AnsiAngleCode(degrees);
            }
          }
          return points;
        };
        item.data = EncodeCoreDelta(convert(view.cores), convert(view.deltas), new_iso);
      }
    }
  }
  return out;
}

int RunTemplateConvert(const std::filesystem::path& in, const std::string& to,
                       const std::filesystem::path& out) {
  const RecordFormat format = ParseFormat(to);
  const StandardRecord record = ConvertRecord(LoadRecord(in, true), format);
  std::vector<uint8_t> bytes;
  std::string error;
  if (!WriteStandardRecord(record, &bytes, &error)) {
    std::cerr << "ridgeline: " << in.string() << ": " << error << "\n";
    return kExitBadInput;
  }
  WritePrivateFile(out, bytes);
  std::cout << out.string() << ": " << RecordFormatName(format) << ", " << bytes.size()
            << " bytes\n";
  return kExitSuccess;
}

CLI::App* AddTemplateCommands(CLI::App& app, CLI::App* extract, TemplateCommands* c) {
  extract->add_option("--template", c->export_options.format,
                      "write a standard minutiae record in this format instead: "
                      "iso19794-2:2005, iso19794-2:2011, ansi378-2004, ansi378-2009");
  extract->add_option("-o,--output", c->export_options.out, "the record file (with --template)");
  extract->add_option("--finger", c->export_options.finger,
                      "finger position of the record: " + FingerNameList());
  extract->add_option("--max-bytes", c->export_options.max_bytes,
                      "keep the record within this many bytes (e.g. 800)");
  extract->add_flag("--no-engine-item", c->export_options.no_engine_item,
                    "leave out the engine's own extended data");
  auto* command = app.add_subcommand("template", "show or convert a standard minutiae record");
  command->require_subcommand(1);
  c->show = command->add_subcommand("show", "print a record's fields");
  c->show->add_option("file", c->in, "the record")->required();
  c->show->add_flag("--json", c->json, "JSON output");
  c->convert = command->add_subcommand("convert", "write a record in another format");
  c->convert->add_option("file", c->in, "the record")->required();
  c->convert->add_option("--to", c->to, "the format to write")->required();
  c->convert->add_option("-o,--output", c->out, "the new record file")->required();
  return command;
}

int RunTemplateCommands(const TemplateCommands& c) {
  if (c.show->parsed()) return RunTemplateShow(c.in, c.json);
  return RunTemplateConvert(c.in, c.to, c.out);
}

}  // namespace ridgeline::tools
