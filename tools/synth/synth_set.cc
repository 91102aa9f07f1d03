// Sets of prints as the command writes them, their seeds and file names, and size parsing.
#include <cstdio>
#include <stdexcept>

#include "tools/synth/random.h"
#include "tools/synth/synth.h"

namespace ridgeline::synth {
namespace {

constexpr int kMaxFingers = 999;
constexpr int kMaxImpressions = 99;
constexpr int kMinSide = 32;
constexpr int kMaxSide = 2048;
// The master canvas exceeds the finger's visible part so that rotation and translation still
// find ridges under the sensor; its size is fixed, not scaled with the sensor, because a finger
// does not grow with the sensor.
constexpr int kMasterWidth = 280;
constexpr int kMasterHeight = 460;

}  // namespace

uint64_t MasterSeed(uint64_t set_seed, int finger) {
  return DeriveSeed(set_seed, static_cast<uint64_t>(finger), 0);
}

uint64_t ImpressionSeed(uint64_t set_seed, int finger, int impression) {
  return DeriveSeed(set_seed, static_cast<uint64_t>(finger), static_cast<uint64_t>(impression));
}

std::string ImpressionFileName(int finger, int impression) {
  char name[32];
  std::snprintf(name, sizeof name, "%03d_%02d.png", finger, impression);
  return name;
}

void ParseSize(const std::string& text, int* width, int* height) {
  // Digits 'x' digits and nothing else: no signs, spaces or upper-case X.
  int sides[2] = {0, 0};
  int side = 0;
  int digits = 0;
  bool ok = true;
  for (char c : text) {
    if (c >= '0' && c <= '9' && digits < 5) {
      sides[side] = sides[side] * 10 + (c - '0');
      ++digits;
    } else if (c == 'x' && side == 0 && digits > 0) {
      side = 1;
      digits = 0;
    } else {
      ok = false;
      break;
    }
  }
  ok = ok && side == 1 && digits > 0;
  for (int value : sides) ok = ok && value >= kMinSide && value <= kMaxSide;
  if (!ok) {
    throw std::invalid_argument("size must be WIDTHxHEIGHT with each side 32..2048, not '" + text +
                                "'");
  }
  *width = sides[0];
  *height = sides[1];
}

void GenerateSet(const SetParams& params,
                 const std::function<void(int finger, int impression, const Image& image)>& sink) {
  if (params.fingers < 1 || params.fingers > kMaxFingers) {
    throw std::invalid_argument("fingers must be 1..999");
  }
  if (params.impressions < 1 || params.impressions > kMaxImpressions) {
    throw std::invalid_argument("impressions must be 1..99");
  }
  // Checked here too, so that a bad size fails before any master is grown.
  if (params.width < kMinSide || params.width > kMaxSide || params.height < kMinSide ||
      params.height > kMaxSide) {
    throw std::invalid_argument("width and height must be 32..2048");
  }
  MasterParams master_params;
  master_params.width = kMasterWidth;
  master_params.height = kMasterHeight;
  ImpressionParams impression_params;
  impression_params.width = params.width;
  impression_params.height = params.height;
  for (int finger = 1; finger <= params.fingers; ++finger) {
    const Master master = GenerateMaster(master_params, MasterSeed(params.seed, finger));
    for (int impression = 1; impression <= params.impressions; ++impression) {
      sink(finger, impression,
           RenderImpression(master, impression_params,
                            ImpressionSeed(params.seed, finger, impression)));
    }
  }
}

}  // namespace ridgeline::synth
