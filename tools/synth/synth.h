// Synthetic fingerprints for the demo and the end-to-end tests: a master print per finger (an
// orientation field with the singular points of its class, a ridge period near 9 pixels, ridges
// grown by iterated oriented filtering) and impressions of it (rotation, translation, elastic
// distortion, partial contact, pressure, noise and background) as 8-bit grey 500-dpi images,
// dark ridges on a light background.
//
// Everything is a pure function of its parameters and seed: the same call gives the same bytes
// on every machine (own random generator, own transcendental functions, integer ridge growth).
// Invalid parameters throw std::invalid_argument with a message naming the field. Calls share no
// state and may run concurrently.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace ridgeline::synth {

// An 8-bit grey image, row-major, width * height bytes, 0 black .. 255 white.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;

  uint8_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Henry classes. kRandom draws one with roughly natural frequencies (loops most, arches few).
enum class FingerClass : uint8_t { kArch, kTentedArch, kLeftLoop, kRightLoop, kWhorl, kRandom };

const char* FingerClassName(FingerClass finger_class);

struct SingularPoint {
  double x = 0.0;  // master pixels
  double y = 0.0;
  bool is_core = true;  // core (index +1/2) or delta (index -1/2)
};

struct MasterParams {
  // The master canvas, in pixels at 500 dpi. The finger is an ellipse filling it but for a
  // margin; impressions see part of it.
  int width = 280;
  int height = 460;
  FingerClass finger_class = FingerClass::kRandom;
  // Mean ridge period in pixels; 0 draws one in [8.0, 10.4]. Allowed 6..13 otherwise.
  double mean_period = 0.0;
  // Rounds of oriented filtering that grow the ridges; 1..64.
  int growth_rounds = 18;
};

// A finger's ridge pattern. ridges holds one value per pixel in [-kRidgeOne, kRidgeOne]:
// positive on a ridge, negative in a valley. orientation holds the ridge direction in radians,
// [0, pi) with y pointing down; period the local ridge period in pixels.
struct Master {
  static constexpr int kRidgeOne = 1024;

  int width = 0;
  int height = 0;
  FingerClass finger_class = FingerClass::kArch;
  std::vector<int16_t> ridges;
  std::vector<float> orientation;
  std::vector<float> period;
  std::vector<SingularPoint> singular_points;
  double center_x = 0.0;  // the finger ellipse, master pixels
  double center_y = 0.0;
  double semi_axis_x = 0.0;
  double semi_axis_y = 0.0;
};

struct ImpressionParams {
  int width = 388;  // output image, pixels at 500 dpi; 32..2048 each
  int height = 374;
  double max_rotation_degrees = 20.0;  // 0..45
  double max_translation = 30.0;       // pixels, 0..200
  double max_distortion = 8.0;         // peak elastic displacement, pixels, 0..20
  double noise = 1.5;                  // scales sensor noise and dry spots, 0..4
};

// REQUIRES nothing: throws std::invalid_argument for out-of-range fields.
Master GenerateMaster(const MasterParams& params, uint64_t seed);
// master must come from GenerateMaster.
Image RenderImpression(const Master& master, const ImpressionParams& params, uint64_t seed);

// A set of prints as the command writes it: fingers 1..fingers, impressions 1..impressions.
struct SetParams {
  int fingers = 20;     // 1..999
  int impressions = 4;  // 1..99
  uint64_t seed = 7;
  int width = 388;
  int height = 374;
};

// Calls sink once per impression, finger by finger, in order. Finger f's master depends only on
// (seed, f) and impression i only on (seed, f, i), so sets of different sizes agree on the
// prints they share.
void GenerateSet(const SetParams& params,
                 const std::function<void(int finger, int impression, const Image& image)>& sink);

uint64_t MasterSeed(uint64_t set_seed, int finger);
uint64_t ImpressionSeed(uint64_t set_seed, int finger, int impression);

// "007_03.png" for finger 7, impression 3.
std::string ImpressionFileName(int finger, int impression);

// Parses "388x374"; throws std::invalid_argument on anything else or a size outside 32..2048.
void ParseSize(const std::string& text, int* width, int* height);

// Writes an 8-bit grey PNG with no time stamp or other varying chunk to a file the caller opened
// (the caller decides how it may be created); `name` is used in messages. Throws
// std::runtime_error when the file cannot be written.
void WritePng(std::FILE* file, const std::string& name, const Image& image);

}  // namespace ridgeline::synth
