// Singular points: the places where the ridge flow turns round on itself (loops and deltas turn
// the direction by half a turn, whorl centres by a full turn). The candidate search tests every
// inner block of the masked block direction map with a Poincare index; the refinement joins
// touching candidate blocks into groups and places each group's point on the pixel whose
// neighbourhood disagrees most, with the direction of the straightest ridge-parallel line out.
//
// Both lists hold kSingularCapacity entries. Entries beyond that are dropped: the first 100
// candidates (in row-major block order) and the first 100 points (in group order) are kept.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace ridgeline {

// Summed turn of the DirectionCodes of a closed ring, in half turns (120 codes): +-1 for a
// loop or delta, +-2 for a whorl, 0 for none or when a step is ambiguous (two successive codes
// exactly 60 apart). An undefined code (127) takes part with its own value.
// REQUIRES: length >= 1; ring holds length codes, none of them 255.
int PoincareIndex(int length, const uint8_t* ring);

// Clears candidates and appends every block (c, r) of the wholeCols x wholeRows grid, at least
// two blocks from its border, whose 8-block and 12-block rings contain no background block and
// whose indices agree in sign (outer index nonzero). Entries hold block coordinates, Direction
// -1 and the outer ring's index as a signed byte. blockDirectionMap rows must reach wholeCols.
void FindSingularCandidates(int wholeCols, int wholeRows, const uint8_t* const* blockDirectionMap,
                            SingularPointList* candidates);

// Sum over the 5 x 5 square centred on (row, column) of the folded code difference from the
// centre pixel, skipping pixels without a direction (127); 0 when the centre has none.
// REQUIRES: the 5 x 5 square lies inside the image.
int DirectionDisagreement(const uint8_t* const* directionImage, int row, int column);

// Direction in degrees 0..359 of the line from (column, row) to the point of the radius-40
// ring along which the pixel directions agree best with the line itself.
int SingularDirection(int width, int height, const uint8_t* const* directionImage, int row,
                      int column);

// Groups the 8-connected candidates (clearing their Type bytes as they join), drops groups of
// mixed type, and appends one point per remaining group to singularPoints in pixel coordinates.
// REQUIRES: every candidate lies at least two blocks inside a grid of whole blocks of the
// width x height image (as FindSingularCandidates produces them); blockSize is 16.
void RefineSingularPoints(int width, int height, int blockSize,
                          const uint8_t* const* directionImage, SingularPointList* candidates,
                          SingularPointList* singularPoints);

}  // namespace ridgeline
