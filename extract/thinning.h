// Thinning: the black ridges of the final binary image become lines one pixel wide (the
// skeleton). A pre-pass fills tiny white holes, a two-sub-step parallel thinning driven by two
// deletion tables over the NeighbourCode removes border pixels until nothing changes, and a
// post-pass bridges one-pixel gaps and clears the centres of T-shaped junction blocks.
#pragma once

#include <array>
#include <cstdint>

#include "core/records.h"

namespace ridgeline {

// Deletion tables over the NeighbourCode of a black pixel: 255 = delete, 0 = keep. Each holds
// the codes of the classic two-sub-iteration rule (2 to 6 black neighbours, one white-to-black
// change round the pixel, the sub-step's two side conditions) plus ten extra codes.
extern const std::array<uint8_t, 256> kThinTableA;
extern const std::array<uint8_t, 256> kThinTableB;

// Thins the binary image (0 ridge, 255 white) in place; the frame pixels never change. Returns
// the number of thinning iterations, the last one (which deleted nothing) included, or -1 when
// the working image cannot be allocated (the image is then untouched).
int ThinRidges(int width, int height, GrayImage image);

}  // namespace ridgeline
