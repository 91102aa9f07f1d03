// What the engine decides once for every caller: the resolution a capture is taken at and the one
// the extraction works at, the extraction's settings, the byte budget of one template and the
// default match level. The adapter, the public library and the tools all read them from here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <thread>

namespace ridgeline {

constexpr int kSensorResolution = 500;  // dpi the sample is always taken at
constexpr int kEngineResolution = 550;  // dpi the extraction works at
constexpr int32_t kExtractionResolutionPercent = 100;
constexpr int32_t kExtractionQualityType = 3;

constexpr std::size_t kTemplateCapacity = 1024;  // byte budget of one minutiae template
constexpr uint8_t kDefaultMatchLevel = 4;        // selects the match threshold 325

// A feature set with fewer minutiae than this is not compared: the matcher scores it 0.
constexpr int kMinComparableMinutiae = 4;

// Row bands of one extraction where captures are extracted one at a time (the adapter, the
// library, single-print commands): the local stages run on two threads when there is a second
// core, which would otherwise idle while the caller waits. Paths that already extract many
// prints in parallel use 1. Any count gives the same features bit for bit.
inline int CaptureExtractionBands() { return std::thread::hardware_concurrency() >= 2 ? 2 : 1; }

// Side of the resampled image for a source side (truncating).
constexpr int ResampledSide(int side) { return side * kEngineResolution / kSensorResolution; }

}  // namespace ridgeline
