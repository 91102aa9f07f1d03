// One impression of a master print: the finger placed on the sensor with a rotation and a
// translation, stretched by a smooth elastic distortion that grows away from the centre of
// contact, seen through a partial contact area with a soft border, inked with a pressure that
// sets ridge thickness and contrast, and overlaid with dry spots, sensor noise and an uneven
// background.
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "tools/synth/portable_math.h"
#include "tools/synth/random.h"
#include "tools/synth/smooth_noise.h"
#include "tools/synth/synth.h"

namespace ridgeline::synth {
namespace {

constexpr int kMinImageSide = 32;
constexpr int kMaxImageSide = 2048;
constexpr double kMaxRotationLimit = 45.0;
constexpr double kMaxTranslationLimit = 200.0;
constexpr double kMaxDistortionLimit = 20.0;
constexpr double kMaxNoiseLimit = 4.0;

// Distortion: a sum of this many plane waves per axis, wavelengths in pixels.
constexpr int kDistortionWaves = 3;
constexpr double kMinDistortionWavelength = 160.0;
constexpr double kMaxDistortionWavelength = 420.0;
// Inside this fraction of the contact radius the skin does not slip; distortion is full at the
// border.
constexpr double kRigidCore = 0.25;
// Width of the soft contact border, as a fraction of the contact radius, and its wobble.
constexpr double kBorderSoftness = 0.10;
constexpr double kBorderWobble = 0.07;
constexpr double kBorderWobbleCell = 45.0;
// The fingertip is narrower than the pad: the contact's half width shrinks by this fraction at
// the top and grows by it at the bottom.
constexpr double kTipTaper = 0.12;
constexpr double kCanvasFade = 12.0;  // pixels
// Dry and wet patches shift the ridge threshold; pores and breaks come from a fine field.
constexpr double kPatchCell = 38.0;
constexpr double kPatchStrength = 0.30;
constexpr double kBreakCell = 4.0;
constexpr double kBreakStrength = 0.55;
// Contact is lighter towards the rim: the ridge threshold rises by this much there.
constexpr double kRimLightening = 0.35;
// Half width of the ridge-to-valley transition in units of the master's ridge value.
constexpr double kInkRamp = 0.40;
constexpr double kSensorNoise = 5.0;  // grey levels, standard deviation, on the finger
// A real sensor's empty glass is light, flat and nearly noiseless; a textured background is
// taken for skin by the engine's foreground and grows invented ridges there. The background
// keeps this share of the sensor noise, and the skin darkens the valleys a little so that the
// finger's soft outline shows.
constexpr double kBackgroundNoiseShare = 0.15;
constexpr double kBackgroundCell = 120.0;
constexpr double kBackgroundWander = 2.0;  // grey levels
constexpr double kSkinTone = 18.0;         // grey levels

void Require(bool ok, const std::string& message) {
  if (!ok) throw std::invalid_argument("synthetic impression: " + message);
}

void Validate(const Master& master, const ImpressionParams& params) {
  Require(params.width >= kMinImageSide && params.width <= kMaxImageSide, "width must be 32..2048");
  Require(params.height >= kMinImageSide && params.height <= kMaxImageSide,
          "height must be 32..2048");
  Require(params.max_rotation_degrees >= 0.0 && params.max_rotation_degrees <= kMaxRotationLimit,
          "max_rotation_degrees must be 0..45");
  Require(params.max_translation >= 0.0 && params.max_translation <= kMaxTranslationLimit,
          "max_translation must be 0..200");
  Require(params.max_distortion >= 0.0 && params.max_distortion <= kMaxDistortionLimit,
          "max_distortion must be 0..20");
  Require(params.noise >= 0.0 && params.noise <= kMaxNoiseLimit, "noise must be 0..4");
  Require(master.width > 0 && master.height > 0 &&
              master.ridges.size() == static_cast<size_t>(master.width) * master.height,
          "the master print is empty or inconsistent");
}

struct Wave {
  double kx, ky, phase, amplitude;
};

double WaveSum(const Wave (&waves)[kDistortionWaves], double x, double y) {
  double sum = 0.0;
  for (const Wave& wave : waves) {
    sum += wave.amplitude * PortableCos(wave.kx * x + wave.ky * y + wave.phase);
  }
  return sum;
}

void DrawWaves(Rng& rng, double max_distortion, Wave (&waves)[kDistortionWaves]) {
  for (Wave& wave : waves) {
    const double wavelength = rng.Uniform(kMinDistortionWavelength, kMaxDistortionWavelength);
    const double heading = rng.Uniform(0.0, 2.0 * kPi);
    wave.kx = 2.0 * kPi / wavelength * PortableCos(heading);
    wave.ky = 2.0 * kPi / wavelength * PortableSin(heading);
    wave.phase = rng.Uniform(0.0, 2.0 * kPi);
    wave.amplitude = max_distortion * rng.Uniform(0.15, 1.0) / kDistortionWaves;
  }
}

// The master's ridge value at a real position, bilinear, in [-1, 1]; valley outside the canvas.
double SampleRidges(const Master& master, double x, double y) {
  if (!(x >= 0.0 && y >= 0.0 && x <= master.width - 1.0 && y <= master.height - 1.0)) return -1.0;
  int ix = static_cast<int>(x);
  int iy = static_cast<int>(y);
  if (ix > master.width - 2) ix = master.width - 2;
  if (iy > master.height - 2) iy = master.height - 2;
  const double fx = x - ix;
  const double fy = y - iy;
  const int16_t* row0 = &master.ridges[static_cast<size_t>(iy) * master.width + ix];
  const int16_t* row1 = row0 + master.width;
  const double top = row0[0] + (row0[1] - row0[0]) * fx;
  const double bottom = row1[0] + (row1[1] - row1[0]) * fx;
  return (top + (bottom - top) * fy) / Master::kRidgeOne;
}

}  // namespace

Image RenderImpression(const Master& master, const ImpressionParams& params, uint64_t seed) {
  Validate(master, params);
  Rng rng(seed);
  const double rotation = rng.Uniform(-1.0, 1.0) * params.max_rotation_degrees * kPi / 180.0;
  const double cos_r = PortableCos(rotation);
  const double sin_r = PortableSin(rotation);
  const double shift_x = rng.Uniform(-1.0, 1.0) * params.max_translation;
  const double shift_y = rng.Uniform(-1.0, 1.0) * params.max_translation;
  // Pressure 0 is a light touch: small contact, thin faint ridges; 1 a heavy one.
  const double pressure = rng.Uniform();
  // The contact ellipse sits a little below the finger's centre (the tip presses less than the
  // pad) and reaches past the sensor's lower edge when the finger is long.
  const double contact_x = master.center_x + rng.Normal() * 0.04 * master.semi_axis_x;
  const double contact_y = master.center_y + master.semi_axis_y * (0.08 + rng.Normal() * 0.04);
  const double contact_ax =
      master.semi_axis_x * (0.84 + 0.18 * pressure + rng.Uniform(-0.04, 0.04));
  const double contact_ay =
      master.semi_axis_y * (0.92 + 0.15 * pressure + rng.Uniform(-0.04, 0.04));
  const double threshold = 0.25 - 0.50 * pressure;
  const double ridge_grey = rng.Uniform(15.0, 70.0) - 20.0 * pressure;
  const double background_grey = rng.Uniform(210.0, 250.0);
  Wave waves_x[kDistortionWaves];
  Wave waves_y[kDistortionWaves];
  DrawWaves(rng, params.max_distortion, waves_x);
  DrawWaves(rng, params.max_distortion, waves_y);
  const SmoothNoise wobble(rng, master.width, master.height, kBorderWobbleCell);
  const SmoothNoise patches(rng, master.width, master.height, kPatchCell);
  const SmoothNoise breaks(rng, master.width, master.height, kBreakCell);
  const SmoothNoise background(rng, params.width, params.height, kBackgroundCell);

  Image image;
  image.width = params.width;
  image.height = params.height;
  image.pixels.resize(static_cast<size_t>(params.width) * params.height);
  const double half_w = 0.5 * params.width;
  const double half_h = 0.5 * params.height;
  for (int y = 0; y < params.height; ++y) {
    for (int x = 0; x < params.width; ++x) {
      // Sensor position -> finger position (master pixels): undo translation, then rotation.
      const double px = x - half_w - shift_x;
      const double py = y - half_h - shift_y;
      double mx = master.center_x + cos_r * px + sin_r * py;
      double my = master.center_y - sin_r * px + cos_r * py;
      const double ey = (my - contact_y) / contact_ay;
      const double ex = (mx - contact_x) / (contact_ax * (1.0 + kTipTaper * Clamp(ey, -1.0, 1.0)));
      const double radius = std::sqrt(ex * ex + ey * ey) + kBorderWobble * wobble.At(mx, my);
      // The skin ends where the master does: fade out over the last pixels of its canvas, whose
      // ridges are weak anyway (they grow from one side only).
      const double edge =
          std::min(std::min(mx, master.width - 1.0 - mx), std::min(my, master.height - 1.0 - my));
      const double contact =
          SmoothStep(1.0, 1.0 - kBorderSoftness, radius) * SmoothStep(0.0, kCanvasFade, edge);
      double grey = background_grey + kBackgroundWander * background.At(x, y) - kSkinTone * contact;
      if (contact > 0.0) {
        const double slip = SmoothStep(kRigidCore, 1.0, radius);
        mx += slip * WaveSum(waves_x, mx, my);
        my += slip * WaveSum(waves_y, mx, my);
        const double ridge =
            SampleRidges(master, mx, my) + params.noise * kBreakStrength * breaks.At(mx, my);
        const double local_threshold = threshold + kPatchStrength * patches.At(mx, my) +
                                       kRimLightening * SmoothStep(0.55, 1.0, radius);
        const double ink =
            SmoothStep(local_threshold - kInkRamp, local_threshold + kInkRamp, ridge);
        grey -= (grey - ridge_grey) * contact * ink;
      }
      grey += params.noise * kSensorNoise *
              (kBackgroundNoiseShare + (1.0 - kBackgroundNoiseShare) * contact) * rng.Normal();
      image.pixels[static_cast<size_t>(y) * params.width + x] =
          static_cast<uint8_t>(RoundToInt(Clamp(grey, 0.0, 255.0)));
    }
  }
  return image;
}

}  // namespace ridgeline::synth
