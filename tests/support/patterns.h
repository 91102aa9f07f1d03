// Pixel patterns for stage tests and benchmarks: a straight ridge pattern and a deterministic
// noise texture. Both are functions of (x, y), to pass to TestImage.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>

namespace ridgeline::testing {

// Parallel ridges along the line at angle_degrees from +x turning towards +y (so a
// DirectionCode of angle_degrees / 1.5), one ridge every period pixels, grey 28..228.
inline std::function<uint8_t(int, int)> Ridges(double angle_degrees, double period) {
  const double a = angle_degrees * M_PI / 180.0;
  const double nx = -std::sin(a);
  const double ny = std::cos(a);
  return [=](int x, int y) {
    const double phase = 2.0 * M_PI * (nx * x + ny * y) / period;
    return static_cast<uint8_t>(128.0 + 100.0 * std::cos(phase));
  };
}

// A fixed pseudo-random byte per pixel (an integer hash of x, y and seed).
inline std::function<uint8_t(int, int)> Noise(uint32_t seed) {
  return [=](int x, int y) {
    uint32_t h = seed * 0x9E3779B9u ^ static_cast<uint32_t>(x) * 0x85EBCA6Bu ^
                 static_cast<uint32_t>(y) * 0xC2B2AE35u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return static_cast<uint8_t>(h >> 24);
  };
}

}  // namespace ridgeline::testing
