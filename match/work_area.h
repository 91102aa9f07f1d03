// Layout of the matcher's work area, shared by its stages. One MatchWork belongs to one engine
// context; it holds every table of a comparison at fixed capacity (250 minutiae and a 64 x 64
// block map per side), so a comparison allocates nothing. Each comparison overwrites all of it;
// a context runs one comparison at a time.
#pragma once

#include <cstdint>

#include "core/constants.h"
#include "core/records.h"
#include "match/match_params.h"
#include "match/match_result.h"
#include "match/match_work.h"

namespace ridgeline {

constexpr int kPairListCapacity = kMatchCapacity * (kMatchCapacity - 1) / 2 + 1;  // + sentinel
constexpr int32_t kPairSentinel = 30000;  // distance after the last pair of a list
constexpr int kMaxPairDistance = 1024;    // pairs this long or longer are not listed
constexpr uint8_t kEmptyBlock = 255;      // block map value in degrees of a block without ridges
constexpr int kVariationWeights = 256;    // one weight per byte difference of Variation
constexpr int kKeepPadding = 8;           // zero bytes after a window's marks, read as one word
constexpr int kMarkBlock = 16;            // windows are marked in whole blocks of this many pairs
constexpr int kRowBlock = 16;  // the pair matrices' rows are computed in whole blocks of this many
constexpr int kLanePadding = 64;  // readable entries past a pair list's sentinel: the widest vector

// One minutia pair j < k of a side, listed by length.
struct MinutiaPair {
  int32_t distance;  // pixels
  uint32_t packed;   // k in the high 16 bits, j in the low 16 bits

  int Low() const { return static_cast<int>(packed & 0xFFFFu); }
  int High() const { return static_cast<int>(packed >> 16); }
};

// Everything the matcher derives from one FeatureSet. Only the first `count` minutiae take part;
// the matrices are indexed [j][k] with both below count. A build fills the diagonal and the
// entries above it; row r's entries below the diagonal are derived from column r above it when
// a stage first needs the whole row (CompletePairRow), which few rows ever are.
struct PairTables {
  int count;
  int block_cols;
  int block_rows;
  // Zeros follow the last minutia for a row's last whole vector block.
  int16_t x[kMatchCapacity + kRowBlock];
  int16_t y[kMatchCapacity + kRowBlock];
  int16_t direction[kMatchCapacity + kRowBlock];  // 360 - Angle, and 0 for Angle 0
  uint8_t type[kMatchCapacity + kRowBlock];
  uint8_t variation[kMatchCapacity + kRowBlock];
  uint8_t block_direction[kMatchCapacity];             // map degrees at the minutia's block
  uint8_t map[kMapSize][kMapSize];                     // 0..178 degrees, kEmptyBlock for no ridges
  int16_t distance[kMatchCapacity][kMatchCapacity];    // pixels, symmetric
  int16_t bearing[kMatchCapacity][kMatchCapacity];     // of the vector j -> k, degrees
  int16_t relative[kMatchCapacity][kMatchCapacity];    // direction of k - direction of j, 0..359
  uint8_t row_complete[kMatchCapacity];                // row r holds its entries below the diagonal
  uint8_t neighbours[kMatchCapacity][kMatchCapacity];  // ascending indices within the radius
  uint8_t neighbour_count[kMatchCapacity];
  int32_t pair_count;      // entries before the sentinel
  int32_t listed_low;      // the shortest length listed: the minimum pair distance + 1, clamped
  int32_t placed_through;  // the pairs up to this length are in their slots (PlacePairList)
  MinutiaPair pairs[kPairListCapacity];
  // length_end[d]: the list index after the last pair no longer than d (0 below the shortest
  // listed length), so the pairs of length d are [length_end[d - 1], length_end[d]).
  int32_t length_end[kMaxPairDistance];
  // While pairs are placed, the next slot of each listed length (it starts at the length's first).
  int32_t place_cursor[kMaxPairDistance];
  // relative[j][k] and bearing[j][k] of each listed pair, beside the list so that pair voting
  // reads them in list order.
  // Room for a last whole vector or block of marks past the sentinel: the values there are read
  // but their marks are never used.
  int16_t pair_relative[kPairListCapacity + kLanePadding];
  int16_t pair_bearing[kPairListCapacity + kLanePadding];
};

// Row length of the cross tables: B's minutiae rounded up to whole blocks of kRowBlock, so a row
// loop runs over whole vectors; the entries past B's count hold the values of the zeros after
// B's last minutia and are never used.
constexpr int kCrossStride = (kMatchCapacity + kRowBlock - 1) / kRowBlock * kRowBlock;

// A rotation no angular test accepts: it lies more than a whole turn from every bearing
// difference (0..360).
constexpr int16_t kNoVoteRotation = 16000;

// Between every A minutia i and B minutia k.
struct CrossTables {
  int16_t weight[kMatchCapacity][kCrossStride];    // W: compatibility weight 0..1000
  int16_t rotation[kMatchCapacity][kCrossStride];  // R: rotation carrying i onto k, 0..359
  // R where W != 0, else kNoVoteRotation: pair voting's two tests of a correspondence in one.
  int16_t vote_rotation[kMatchCapacity][kCrossStride];
};

// One entry of the anchor list: an A minutia and the B minutia voted best for it.
struct Anchor {
  uint8_t a;
  uint8_t b;
  int32_t votes;
};

struct MatchWork {
  MatchParams params;
  uint8_t variation_weight[kVariationWeights];  // 100 - 100 d / span below span, then 0

  const FeatureSet* feature_a;
  const FeatureSet* feature_b;
  PairTables a;
  PairTables b;
  CrossTables cross;

  // Pair voting.
  uint8_t pair_keep[kPairListCapacity + kMarkBlock];  // marks of one B window, then zeros
  int32_t votes[kMatchCapacity][kMatchCapacity];      // V[i][k]
  int16_t best_b[kMatchCapacity];                     // B index voted best per A minutia
  int16_t best_votes[kMatchCapacity];                 // its vote count, held in 16 bits
  int16_t rank[kMatchCapacity];
  Anchor anchors[kMatchCapacity];  // by votes descending, ties by A index

  // Alignment search, per primary anchor and per candidate alignment.
  uint8_t compatible[kMatchCapacity][kMatchCapacity];  // (i, k) agrees with the primary anchor
  uint8_t compatible_list[kMatchCapacity][kMatchCapacity];
  uint8_t compatible_count[kMatchCapacity];
  int16_t mapped_x[kMatchCapacity];  // A minutia mapped into B, -1 = not usable
  int16_t mapped_y[kMatchCapacity];
  int16_t assignment[kMatchCapacity];  // P: per B minutia its A partner, -1 free, -2 outside

  // The refinement's result of the last comparison, valid when `refined` is set.
  MatchResult refined_result;
  bool refined;
};

// The (A, B) normaliser of raw scores: (max(nA, nB) + 3 min(nA, nB)) / 4.
inline int ScoreNormaliser(int na, int nb) {
  const int larger = na > nb ? na : nb;
  const int smaller = na > nb ? nb : na;
  return (larger + 3 * smaller) / 4;
}

// Block map value at (row, column); a cell outside the 64 x 64 map reads as empty.
inline int BlockAt(const PairTables& t, int row, int column) {
  if (row < 0 || column < 0 || row >= kMapSize || column >= kMapSize) return kEmptyBlock;
  return t.map[row][column];
}

}  // namespace ridgeline
