// The two-dimensional wavelet-packet transform of WSQ over a float coefficient plane: the
// decoder's reconstruction (synthesis) and the encoder's decomposition (analysis), both with
// either odd-length (whole-sample symmetric) or even-length (half-sample symmetric) filters.
//
// The arithmetic is single precision with a fixed summation order (lowpass terms, then highpass
// terms, each in increasing index), so that decoded pixels agree with other decoders that keep
// the same order; the files that hold these routines are built without contraction into fused
// multiply-adds for the same reason.
#pragma once

#include <span>
#include <vector>

#include "image/wsq_subbands.h"

namespace ridgeline::image::wsq {

// Both filters of a bank have the same parity: all odd (symmetric) or all even (lowpass
// symmetric, highpass antisymmetric). Taps are stored whole, index 0 first.
struct FilterBank {
  std::vector<float> lowpass;
  std::vector<float> highpass;
};

// The synthesis filters that invert an analysis bank given by the right halves of its filters
// (taps length/2 .. length-1, the form a file stores them in): the synthesis highpass comes from
// the analysis lowpass and the synthesis lowpass from the analysis highpass, with alternating
// signs. REQUIRES: each half has (length + 1) / 2 taps, both lengths of one parity, >= 2.
FilterBank SynthesisBank(std::span<const float> lowpass_half, int lowpass_length,
                         std::span<const float> highpass_half, int highpass_length);

// Inverse transform in place: nodes from the last to the first, in each the columns then the
// rows. REQUIRES: plane holds width x height values, geometry was computed for that size, the
// synthesis filters are non-empty and of one parity.
void Reconstruct(std::span<float> plane, int width, const Geometry& geometry,
                 const FilterBank& synthesis);

// Forward transform in place: nodes from the first to the last, in each the rows then the
// columns. Same requirements, with the analysis filters.
void Decompose(std::span<float> plane, int width, const Geometry& geometry,
               const FilterBank& analysis);

}  // namespace ridgeline::image::wsq
