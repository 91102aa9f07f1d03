#include "tools/eval/record_references.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <numbers>

#include "engine/record_export.h"

namespace ridgeline::eval {
namespace {

// No minutiae record comes near this; a larger file is not read whole.
constexpr uintmax_t kMaxRecordBytes = 16u << 20;

double Degrees360(double degrees) {
  double d = std::fmod(degrees, 360.0);
  if (d < 0) d += 360.0;
  return d >= 360.0 ? 0.0 : d;
}

}  // namespace

std::map<std::pair<long, long>, std::filesystem::path> ListRecordFiles(
    const std::filesystem::path& folder) {
  std::map<std::pair<long, long>, std::filesystem::path> files;
  std::error_code error;
  std::filesystem::directory_iterator it(folder, error);
  if (error) {
    throw EvalError(folder.string() + ": cannot read the record folder (" + error.message() + ")");
  }
  for (const std::filesystem::directory_entry& entry : it) {
    std::error_code kind_error;
    if (!entry.is_regular_file(kind_error)) continue;
    const std::optional<PrintName> name = ParsePrintName(entry.path().stem().string());
    if (!name) continue;
    const auto [place, added] =
        files.emplace(std::pair{name->finger, name->impression}, entry.path());
    if (!added) {
      throw EvalError(folder.string() + ": two records of one print (" +
                      place->second.filename().string() + " and " +
                      entry.path().filename().string() + ")");
    }
  }
  return files;
}

FingerView UnresizeView(const FingerView& view, const PrintSource& print) {
  if (view.width <= 0 || view.height <= 0 || print.width <= 0 || print.height <= 0) return view;
  FingerView out = view;
  const double sx = static_cast<double>(print.width) / view.width;
  const double sy = static_cast<double>(print.height) / view.height;
  for (RecordMinutia& m : out.minutiae) {
    m.x = std::clamp(static_cast<int>(std::lround((m.x + 0.5) * sx - 0.5)), 0, print.width - 1);
    m.y = std::clamp(static_cast<int>(std::lround((m.y + 0.5) * sy - 0.5)), 0, print.height - 1);
    const double a = m.angle * std::numbers::pi / 180.0;
    m.angle = Degrees360(std::atan2(sy * std::sin(a), sx * std::cos(a)) * 180.0 / std::numbers::pi);
  }
  // Singular points are not used by the import; they follow the positions all the same.
  for (auto* points : {&out.cores, &out.deltas}) {
    for (SingularPoint& p : *points) {
      p.x = std::clamp(static_cast<int>(std::lround((p.x + 0.5) * sx - 0.5)), 0, print.width - 1);
      p.y = std::clamp(static_cast<int>(std::lround((p.y + 0.5) * sy - 0.5)), 0, print.height - 1);
    }
  }
  out.width = print.width;
  out.height = print.height;
  out.x_resolution = out.y_resolution = PixelsPerCentimetre(print.dpi);
  return out;
}

RecordReference ImportRecordReference(const std::filesystem::path& path, bool unresize,
                                      const PrintSource& print, Engine& engine) {
  RecordReference reference;
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(path, error);
  if (error || size > kMaxRecordBytes) {
    reference.problem = path.string() + ": " + (error ? error.message() : "too large for a record");
    return reference;
  }
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  if (in.bad()) {
    reference.problem = path.string() + ": cannot read";
    return reference;
  }
  StandardRecord record;
  std::string why;
  if (!ReadStandardRecord(bytes, RecordReadMode::kLenient, &record, &why)) {
    reference.problem = path.string() + ": " + why;
    return reference;
  }
  if (record.views.empty()) {
    reference.problem = path.string() + ": the record holds no finger view";
    return reference;
  }
  const FingerView view =
      unresize ? UnresizeView(record.views.front(), print) : record.views.front();
  FeaturePair features;
  if (!ImportView(engine, view, &features, &reference.from_item, &why)) {
    reference.problem = path.string() + ": " + why;
    return reference;
  }
  reference.features = std::make_unique<FeatureRecords>(std::move(features));
  return reference;
}

}  // namespace ridgeline::eval
