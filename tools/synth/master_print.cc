// A finger's master print: class, singular points, ridge direction and period fields, and the
// ridges grown over them.
#include <cmath>
#include <stdexcept>
#include <string>

#include "tools/synth/portable_math.h"
#include "tools/synth/random.h"
#include "tools/synth/ridge_growth.h"
#include "tools/synth/smooth_noise.h"
#include "tools/synth/synth.h"

namespace ridgeline::synth {
namespace {

constexpr int kMinMasterSide = 96;
constexpr int kMaxMasterSide = 2048;
constexpr int kMaxGrowthRounds = 64;
constexpr double kMinMeanPeriod = 8.0;
constexpr double kMaxMeanPeriod = 10.4;
// Space between the finger ellipse and the canvas edge, pixels.
constexpr double kFingerMargin = 10.0;
constexpr double kMinFingerScale = 0.88;
// Wander of the ridge direction (radians), drawn per finger, on two scales: the class model
// alone gives every finger of a class nearly the same direction field, and the matcher weighs
// agreement of direction fields, so fingers that differ in their minutiae only would still score
// alike. Real fingers of one class differ visibly in how their ridges flow.
constexpr double kMinDirectionWander = 0.55;
constexpr double kMaxDirectionWander = 0.85;
constexpr double kDirectionWanderCell = 70.0;
constexpr double kBroadWander = 0.45;
constexpr double kBroadWanderCell = 170.0;
constexpr double kPeriodWander = 0.10;
constexpr double kPeriodWanderCell = 90.0;
// Ridges widen towards the finger's edge: period grows by this fraction from core to rim.
constexpr double kPeriodRimGrowth = 0.10;

void Require(bool ok, const std::string& message) {
  if (!ok) throw std::invalid_argument("synthetic master: " + message);
}

void Validate(const MasterParams& params) {
  Require(params.width >= kMinMasterSide && params.width <= kMaxMasterSide,
          "width must be 96..2048");
  Require(params.height >= kMinMasterSide && params.height <= kMaxMasterSide,
          "height must be 96..2048");
  Require(params.finger_class <= FingerClass::kRandom, "unknown finger class");
  Require(params.mean_period == 0.0 ||
              (params.mean_period >= kMinPeriod && params.mean_period <= kMaxPeriod),
          "mean_period must be 0 (random) or 6..13");
  Require(params.growth_rounds >= 1 && params.growth_rounds <= kMaxGrowthRounds,
          "growth_rounds must be 1..64");
}

FingerClass DrawClass(Rng& rng) {
  // Roughly the frequencies of the Henry classes in a population, arches a little more common
  // so that small sets contain some.
  const uint32_t draw = rng.Below(100);
  if (draw < 32) return FingerClass::kRightLoop;
  if (draw < 62) return FingerClass::kLeftLoop;
  if (draw < 88) return FingerClass::kWhorl;
  if (draw < 94) return FingerClass::kArch;
  return FingerClass::kTentedArch;
}

// Cores and deltas about the point (cx, cy) for a class, scaled by the finger's semi-axes.
std::vector<SingularPoint> PlaceSingularPoints(FingerClass finger_class, double cx, double cy,
                                               double ax, double ay, Rng& rng) {
  std::vector<SingularPoint> points;
  switch (finger_class) {
    case FingerClass::kArch:
      break;
    case FingerClass::kTentedArch: {
      const double gap = ay * rng.Uniform(0.20, 0.32);
      points.push_back({cx, cy - 0.5 * gap, true});
      points.push_back({cx + rng.Normal() * 4.0, cy + 0.5 * gap, false});
      break;
    }
    case FingerClass::kLeftLoop:
    case FingerClass::kRightLoop: {
      // A left loop opens to the left; its delta lies on the right, below the core.
      const double side = finger_class == FingerClass::kLeftLoop ? 1.0 : -1.0;
      const double core_x = cx - side * ax * rng.Uniform(0.0, 0.15);
      const double core_y = cy - ay * rng.Uniform(0.05, 0.20);
      points.push_back({core_x, core_y, true});
      points.push_back({core_x + side * ax * rng.Uniform(0.35, 0.90),
                        core_y + ay * rng.Uniform(0.35, 0.70), false});
      break;
    }
    case FingerClass::kWhorl:
    case FingerClass::kRandom: {
      const double half_gap = ay * rng.Uniform(0.04, 0.10);
      const double tilt = rng.Uniform(-0.5, 0.5) * half_gap;
      const double core_y = cy - ay * rng.Uniform(0.0, 0.12);
      points.push_back({cx - tilt, core_y - half_gap, true});
      points.push_back({cx + tilt, core_y + half_gap, true});
      const double delta_y = core_y + ay * rng.Uniform(0.40, 0.55);
      points.push_back({cx - ax * rng.Uniform(0.55, 0.80), delta_y + rng.Normal() * 6.0, false});
      points.push_back({cx + ax * rng.Uniform(0.55, 0.80), delta_y + rng.Normal() * 6.0, false});
      break;
    }
  }
  return points;
}

// Ridge direction at (x, y) in radians, any branch (callers fold it into [0, pi)). With singular
// points: the zero-pole model, half the sum of the cores' bearings minus the deltas'. Without:
// an arch whose ridges rise over the finger's middle, steeper towards the top.
double ModelDirection(const std::vector<SingularPoint>& points, double cx, double cy, double ax,
                      double ay, double arch_height, double x, double y) {
  if (points.empty()) {
    const double u = (x - cx) / (0.6 * ax);
    const double rise = arch_height * (0.35 + 0.65 * SmoothStep(ay, -ay, y - cy));
    const double slope = rise * 2.0 * u / (0.6 * ax) * PortableExp(-u * u);
    return PortableAtan2(slope, 1.0);
  }
  double angle = 0.0;
  for (const SingularPoint& point : points) {
    const double bearing = PortableAtan2(y - point.y, x - point.x);
    angle += point.is_core ? bearing : -bearing;
  }
  return 0.5 * angle;
}

double FoldDirection(double angle) {
  const double turns = std::floor(angle / kPi);
  return angle - turns * kPi;
}

}  // namespace

const char* FingerClassName(FingerClass finger_class) {
  switch (finger_class) {
    case FingerClass::kArch:
      return "arch";
    case FingerClass::kTentedArch:
      return "tented arch";
    case FingerClass::kLeftLoop:
      return "left loop";
    case FingerClass::kRightLoop:
      return "right loop";
    case FingerClass::kWhorl:
      return "whorl";
    case FingerClass::kRandom:
      return "random";
  }
  return "unknown";
}

Master GenerateMaster(const MasterParams& params, uint64_t seed) {
  Validate(params);
  Rng rng(seed);
  Master master;
  master.width = params.width;
  master.height = params.height;
  master.finger_class =
      params.finger_class == FingerClass::kRandom ? DrawClass(rng) : params.finger_class;
  master.center_x = 0.5 * params.width;
  master.center_y = 0.5 * params.height;
  // Fingers differ in size; the canvas holds the largest.
  master.semi_axis_x = (0.5 * params.width - kFingerMargin) * rng.Uniform(kMinFingerScale, 1.0);
  master.semi_axis_y = (0.5 * params.height - kFingerMargin) * rng.Uniform(kMinFingerScale, 1.0);
  const double cx = master.center_x + rng.Normal() * 0.03 * master.semi_axis_x;
  const double cy = master.center_y + rng.Normal() * 0.03 * master.semi_axis_y;
  master.singular_points =
      PlaceSingularPoints(master.finger_class, cx, cy, master.semi_axis_x, master.semi_axis_y, rng);
  const double arch_height = master.semi_axis_y * rng.Uniform(0.25, 0.45);
  const double mean_period =
      params.mean_period != 0.0 ? params.mean_period : rng.Uniform(kMinMeanPeriod, kMaxMeanPeriod);
  const double direction_wander_strength = rng.Uniform(kMinDirectionWander, kMaxDirectionWander);
  const SmoothNoise direction_wander(rng, params.width, params.height, kDirectionWanderCell);
  const SmoothNoise broad_wander(rng, params.width, params.height, kBroadWanderCell);
  const SmoothNoise period_wander(rng, params.width, params.height, kPeriodWanderCell);

  const size_t pixels = static_cast<size_t>(params.width) * params.height;
  master.orientation.resize(pixels);
  master.period.resize(pixels);
  GrowthField field;
  field.width = params.width;
  field.height = params.height;
  field.direction_bin.resize(pixels);
  field.period_bin.resize(pixels);
  for (int y = 0; y < params.height; ++y) {
    for (int x = 0; x < params.width; ++x) {
      const size_t at = static_cast<size_t>(y) * params.width + x;
      const double direction =
          FoldDirection(ModelDirection(master.singular_points, cx, cy, master.semi_axis_x,
                                       master.semi_axis_y, arch_height, x, y) +
                        direction_wander_strength * direction_wander.At(x, y) +
                        kBroadWander * broad_wander.At(x, y));
      const double dx = (x - cx) / master.semi_axis_x;
      const double dy = (y - cy) / master.semi_axis_y;
      const double rim = Clamp(std::sqrt(dx * dx + dy * dy), 0.0, 1.0);
      const double period =
          Clamp(mean_period * (1.0 - 0.5 * kPeriodRimGrowth + kPeriodRimGrowth * rim) *
                    (1.0 + kPeriodWander * period_wander.At(x, y)),
                kMinPeriod, kMaxPeriod);
      master.orientation[at] = static_cast<float>(direction);
      master.period[at] = static_cast<float>(period);
      field.direction_bin[at] =
          static_cast<uint8_t>(RoundToInt(direction / kPi * kDirectionBins) % kDirectionBins);
      field.period_bin[at] = static_cast<uint8_t>(RoundToInt((period - kMinPeriod) / kPeriodStep));
    }
  }
  master.ridges = GrowRidges(field, params.growth_rounds, rng);
  return master;
}

}  // namespace ridgeline::synth
