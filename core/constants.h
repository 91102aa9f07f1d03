// Fixed sizes shared by extraction, matching and the adapter. Records of these capacities are
// allocated zeroed from the heap; no stage grows them.
#pragma once

namespace ridgeline {

constexpr int kBlockSize = 16;          // pixels per block side
constexpr int kMapSize = 64;            // blocks per DirectionMap side
constexpr int kFeatureCapacity = 1000;  // minutiae per FeatureSet / candidates per result
constexpr int kSingularCapacity = 100;  // singular points per list
constexpr int kMatchCapacity = 250;     // minutiae per side in matching
constexpr int kMinImageSide = 34;       // smallest image side the extraction accepts
constexpr int kMaxImageSide = 1024;     // largest image side the extraction accepts

// DirectionCode: 0..119 in 1.5-degree steps, plus two reserved values.
constexpr int kDirectionSteps = 120;
constexpr unsigned char kNoDirection = 127;
constexpr unsigned char kBackground = 255;
constexpr unsigned char kBackgroundBit = 0x80;  // bit 7 of a DirectionImage byte
constexpr unsigned char kCodeMask = 0x7F;       // bits 0-6 of a DirectionImage byte

}  // namespace ridgeline
