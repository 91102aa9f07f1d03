// The 8-neighbourhood code of a skeleton pixel and the code sets that thinning and skeleton
// repair share. A NeighbourCode has one bit per neighbour, set when that neighbour is black
// (0): bit 0 north (x, y - 1), then clockwise: north-east, east, south-east, south, south-west,
// west, and bit 7 north-west.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace ridgeline {

constexpr int kNorthBit = 0;
constexpr int kNorthEastBit = 1;
constexpr int kEastBit = 2;
constexpr int kSouthEastBit = 3;
constexpr int kSouthBit = 4;
constexpr int kSouthWestBit = 5;
constexpr int kWestBit = 6;
constexpr int kNorthWestBit = 7;

// Offsets (dx, dy) of the neighbour of each bit.
constexpr std::array<int, 8> kNeighbourDx = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr std::array<int, 8> kNeighbourDy = {-1, -1, 0, 1, 1, 1, 0, -1};

// REQUIRES: (x, y) is off the image frame, so all eight neighbours exist.
inline int NeighbourCode(const uint8_t* const* image, int x, int y) {
  const uint8_t* above = image[y - 1];
  const uint8_t* row = image[y];
  const uint8_t* below = image[y + 1];
  return (above[x] == 0 ? 1 << kNorthBit : 0) | (above[x + 1] == 0 ? 1 << kNorthEastBit : 0) |
         (row[x + 1] == 0 ? 1 << kEastBit : 0) | (below[x + 1] == 0 ? 1 << kSouthEastBit : 0) |
         (below[x] == 0 ? 1 << kSouthBit : 0) | (below[x - 1] == 0 ? 1 << kSouthWestBit : 0) |
         (row[x - 1] == 0 ? 1 << kWestBit : 0) | (above[x - 1] == 0 ? 1 << kNorthWestBit : 0);
}

// A white pixel whose black neighbours are exactly two pixels facing each other across it (a
// one-pixel gap in a ridge): it is turned black to close the gap.
constexpr std::array<uint8_t, 8> kBridgeCodes = {9, 17, 33, 34, 66, 68, 72, 136};
// A black pixel at the centre of a T whose only black neighbours are three of its four direct
// ones: it is turned white so the junction does not hold a thick corner.
constexpr std::array<uint8_t, 4> kJunctionCodes = {21, 69, 81, 84};

// A 256-entry membership table of a code list: `mark` at the listed codes, 0 elsewhere.
template <size_t N>
constexpr std::array<uint8_t, 256> CodeTable(const std::array<uint8_t, N>& codes,
                                             uint8_t mark = 1) {
  std::array<uint8_t, 256> table{};
  for (uint8_t code : codes) table[code] = mark;
  return table;
}

constexpr std::array<uint8_t, 256> kIsBridgeCode = CodeTable(kBridgeCodes);
constexpr std::array<uint8_t, 256> kIsJunctionCode = CodeTable(kJunctionCodes);

}  // namespace ridgeline
