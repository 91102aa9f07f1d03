#include "engine/record_export.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "core/int_math.h"
#include "match/int_trig.h"
#include "template/big_endian.h"

namespace ridgeline {
namespace {

constexpr uint8_t kNoRidgesBlock = 0x7F;  // a map byte whose low 7 bits are set: no direction

RecordMinutia ToRecord(const FeatureSet& set, int i, int crop_x, int crop_y,
                       const CaptureFrame& frame) {
  RecordMinutia m;
  m.x = std::max(0, EngineToInputX(set.X[i], crop_x, frame));
  m.y = std::max(0, EngineToInputY(set.Y[i], crop_y, frame));
  m.angle = StandardAngle(set.Angle[i]);
  m.kind = set.Type[i] == 0 ? MinutiaKind::kEnding : MinutiaKind::kBifurcation;
  return m;
}

// The minutiae quality fields: the engine has no per-minutia confidence (its variation measures
// how much the ridge direction turns near the minutia, not how sure the detection is).
int NotReported(RecordFormat format) {
  return format == RecordFormat::kAnsi378_2004 || format == RecordFormat::kIso19794_2_2005 ? 0
                                                                                           : 254;
}

// A block direction map rebuilt from the minutiae alone, for records without the engine's item:
// the matcher weighs its score by how well the two maps agree and scores 0 without any ridge
// block. Each block within kMapRadius pixels of a minutia gets the mean ridge orientation of the
// minutiae around it (doubled angles, nearer ones weigh more); the others stay without ridges.
// A block's direction is the minutia angle's mirror, (-angle) mod 180 degrees, in 1.5-degree
// codes. Integer arithmetic throughout, as everywhere in the engine: the weights are
// kMapWeight / (distance + 16), the doubled angles go through the matcher's 1024-scaled tables
// and the mean's bearing through its arctangent table (whole degrees of the doubled angle, so
// half a degree of orientation).
constexpr int kMapRadius = 48;
constexpr int kMapWeight = 4096;
// Bearing() scales one component by 1024 in an int: the sums are halved below this first.
constexpr int64_t kBearingLimit = int64_t{1} << 20;

void RebuildBlockMap(FeatureSet* set) {
  for (int r = 0; r < set->BlockRows; ++r) {
    for (int c = 0; c < set->BlockCols; ++c) {
      const int cx = 16 * c + 8, cy = 16 * r + 8;
      int64_t sx = 0, sy = 0;
      for (int i = 0; i < set->Count; ++i) {
        const int dx = set->X[i] - cx, dy = set->Y[i] - cy;
        const int64_t square = int64_t{dx} * dx + int64_t{dy} * dy;
        if (square > kMapRadius * kMapRadius) continue;
        const int d = IntSqrt(square);
        const int doubled = 2 * (((-set->Angle[i]) % 180 + 180) % 180);  // 0..358
        const int w = kMapWeight / (d + 16);
        sx += int64_t{w} * kCosTable[doubled];
        sy += int64_t{w} * kSinTable[doubled];
      }
      while (sx >= kBearingLimit || sx <= -kBearingLimit || sy >= kBearingLimit ||
             sy <= -kBearingLimit) {
        sx /= 2;
        sy /= 2;
      }
      if (sx == 0 && sy == 0) continue;  // no minutia near, or their orientations cancel
      const int bearing = Bearing(static_cast<int>(sx), static_cast<int>(sy));  // 0..360
      set->DirectionMap[r][c] = static_cast<uint8_t>(((bearing + 1) / 3) % 120);
    }
  }
}

}  // namespace

int EngineAngleFromStandard(double standardDegrees) {
  const int t = static_cast<int>(std::lround(standardDegrees));
  for (int a : {((t + 180) % 360 + 360) % 360, ((t % 360) + 360) % 360}) {
    if (StandardAngle(a) == ((t % 360) + 360) % 360) return a;
  }
  return ((t + 180) % 360 + 360) % 360;
}

bool ExportRecord(Engine& engine, const AcceptedSample& sample, const RecordExportOptions& options,
                  StandardRecord* record, RecordExportReport* report, std::string* error) {
  if (sample.features.null()) {
    *error = "no features to export";
    return false;
  }
  if (options.frame.ppi <= 0 || options.input_width <= 0 || options.input_height <= 0) {
    *error = "the input image's size and resolution are needed to export";
    return false;
  }
  const FeatureSet& set = *sample.features.set();
  const FeatureSummary& summary = *sample.features.summary();
  *report = RecordExportReport{};
  report->minutiae_found = set.Count;

  StandardRecord out;
  out.format = options.format;
  out.cbeff_owner = 0x0103;  // the IBIA's "unknown organisation": no registered owner
  FingerView view;
  view.finger_position = options.finger_position;
  view.impression_type = options.impression_type;
  view.finger_quality = summary.Quality;
  view.width = options.input_width;
  view.height = options.input_height;
  view.x_resolution = view.y_resolution = PixelsPerCentimetre(options.frame.ppi);
  view.ending_type = 1;  // the engine places endings at the ridge's end

  // Most reliable first: the smallest direction variation, ties in the engine's order.
  std::vector<int> order(static_cast<size_t>(std::max(0, set.Count)));
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return set.Variation[a] < set.Variation[b]; });
  size_t keep = std::min<size_t>(order.size(), 255);

  std::vector<uint8_t> item;
  if (options.engine_item) {
    const EncodedTemplate encoded = engine.EncodeTemplate(sample.features);
    if (!encoded.bytes.empty()) {
      AppendU8(item, kRidgelineItemFormat);
      AppendU16Be(item, static_cast<unsigned>(encoded.crop_x));
      AppendU16Be(item, static_cast<unsigned>(encoded.crop_y));
      item.insert(item.end(), encoded.bytes.begin(), encoded.bytes.end());
    }
  }
  const int quality = NotReported(options.format);
  auto build = [&](size_t count, bool with_item) {
    FingerView v = view;
    std::vector<int> kept(order.begin(), order.begin() + static_cast<long>(count));
    std::sort(kept.begin(), kept.end());
    for (int i : kept) {
      RecordMinutia m = ToRecord(set, i, sample.crop_x, sample.crop_y, options.frame);
      m.quality = quality;
      v.minutiae.push_back(m);
    }
    if (with_item && !item.empty()) v.extended.push_back({kRidgelineItem, item});
    out.views = {v};
    std::vector<uint8_t> bytes;
    return WriteStandardRecord(out, &bytes, error) ? bytes.size() : size_t{0};
  };
  bool with_item = !item.empty();
  size_t size = build(keep, with_item);
  if (size == 0) return false;
  if (options.max_bytes != 0 && size > options.max_bytes && with_item) {
    with_item = false;
    size = build(keep, false);
  }
  while (options.max_bytes != 0 && size > options.max_bytes && keep > 0) {
    --keep;
    size = build(keep, false);
  }
  if (options.max_bytes != 0 && size > options.max_bytes) {
    *error = "no record fits in " + std::to_string(options.max_bytes) + " bytes";
    return false;
  }
  report->minutiae_written = static_cast<int>(keep);
  report->engine_item_written = with_item;
  *record = std::move(out);
  return true;
}

bool ImportView(Engine& engine, const FingerView& view, FeaturePair* features, bool* from_item,
                std::string* error) {
  *from_item = false;
  for (const ExtendedItem& item : view.extended) {
    if (item.type != kRidgelineItem || item.data.size() < 5 ||
        item.data[0] != kRidgelineItemFormat) {
      continue;
    }
    // A damaged item is ignored: the standard minutiae still stand on their own.
    if (engine.DecodeTemplate(std::span<const uint8_t>(item.data).subspan(5), features)) {
      *from_item = true;
      return true;
    }
  }
  if (view.minutiae.size() > static_cast<size_t>(kFeatureCapacity)) {
    *error = "too many minutiae";
    return false;
  }
  const int ppi_x = view.x_resolution > 0 ? PixelsPerInch(view.x_resolution) : kSensorResolution;
  const int ppi_y = view.y_resolution > 0 ? PixelsPerInch(view.y_resolution) : kSensorResolution;
  FeaturePair pair(/*allocate=*/true);
  if (pair.null()) {
    *error = "out of memory";
    return false;
  }
  FeatureSet& set = *pair.set();
  int count = 0;
  int max_x = 0, max_y = 0;
  for (const RecordMinutia& m : view.minutiae) {
    const int x = InputToEngine(m.x, ppi_x);
    const int y = InputToEngine(m.y, ppi_y);
    if (x >= kMapSize * 16 || y >= kMapSize * 16) continue;  // outside any block grid
    set.X[count] = static_cast<int16_t>(x);
    set.Y[count] = static_cast<int16_t>(y);
    set.Angle[count] = static_cast<int16_t>(EngineAngleFromStandard(m.angle));
    set.Type[count] = m.kind == MinutiaKind::kBifurcation ? 1 : 0;
    set.Variation[count] = 0;
    max_x = std::max(max_x, x);
    max_y = std::max(max_y, y);
    ++count;
  }
  set.Count = count;
  const int width =
      std::max(view.width > 0 ? InputToEngine(view.width - 1, ppi_x) + 1 : 0, max_x + 1);
  const int height =
      std::max(view.height > 0 ? InputToEngine(view.height - 1, ppi_y) + 1 : 0, max_y + 1);
  set.BlockCols = static_cast<uint8_t>(std::min(kMapSize, (width + 15) / 16));
  set.BlockRows = static_cast<uint8_t>(std::min(kMapSize, (height + 15) / 16));
  for (auto& row : set.DirectionMap) std::fill(std::begin(row), std::end(row), kNoRidgesBlock);
  RebuildBlockMap(&set);
  pair.summary()->Quality = view.finger_quality;
  *features = std::move(pair);
  return true;
}

}  // namespace ridgeline
