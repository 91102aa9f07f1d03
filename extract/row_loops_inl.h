// Branch-free per-row loops of the pixel directions and the binarisation, written for the
// compiler's vectoriser. No include guard on purpose: row_loops_highway.cc includes this file
// once inside each per-instruction-set namespace (so each copy is vectorised with that set's
// lanes: 8 or 16 32-bit lanes, 4 or 8 doubles, and the 32-bit multiply, min / max and blend
// instructions SSE2 lacks), and row_loops.cc once for the builds without Highway. Every copy
// evaluates the same integer expressions, and the divisions in double are exact (see
// TruncatingQuotient), so the instruction set cannot change a result.
//
// REQUIRES before inclusion: extract/direction_from_variations.h, <algorithm> and <cstdint>.

// Pixels a block of the loops below: two vectors of 16 32-bit lanes. Each loop walks its row in
// whole blocks, the last one ending at the row's end and overlapping the one before, so that no
// pixel falls to the scalar remainder loop the compiler adds after a vector loop (that remainder
// cost a quarter of the time of a row of 400 pixels). A pixel of the overlap is computed twice,
// from the same inputs: the loops never read what they write.
constexpr int kBlockPixels = kRowLoopBlock;

// The block starts x0 that cover begin .. end - 1 as described above, by calls block(x0).
// REQUIRES: end - begin >= kBlockPixels.
template <typename Block>
inline void ForEachBlock(int begin, int end, Block&& block) {
  int x0 = begin;
  for (; x0 + kBlockPixels <= end; x0 += kBlockPixels) block(x0);
  if (x0 < end) block(end - kBlockPixels);
}

// Calls span(x0, count) over begin .. end - 1: the blocks of ForEachBlock as
// span.template operator()<kBlockPixels>, or the whole stretch as operator()<0> when it is
// shorter than a block.
template <typename Span>
inline void ForEachSpan(int begin, int end, Span&& span) {
  if (end - begin < kBlockPixels) {
    if (end > begin) span.template operator()<0>(begin, end - begin);
    return;
  }
  ForEachBlock(begin, end,
               [&](int x0) { span.template operator()<kBlockPixels>(x0, kBlockPixels); });
}

// A diagonal sum's 71 / 100 share (sqrt(2) steps), truncated; and the estimate of one pixel
// from its window sums, the diagonal ones not yet scaled.
inline int32_t DiagonalShare(int32_t sum) {
  return static_cast<int32_t>(DivideByConstant<100, 37>(static_cast<uint32_t>(sum * int32_t{71})));
}
inline DirectionEstimate EstimateFromSums(int32_t w0, int32_t w30, int32_t w60, int32_t w90,
                                          int32_t threshold) {
  return DirectionFromVariationsSelect(w0, DiagonalShare(w30), w60, DiagonalShare(w90), threshold);
}

// The estimates of pixels 0 .. count - 1 of a row whose windows lie wholly off the border,
// from the window sums of the four variations (v30 and v90 not yet scaled by 71 / 100), with
// count = kCount, or the argument when kCount is 0 (a row too short for a block). Its own
// function, so that the restrict qualifiers hold.
// REQUIRES: every sum times 71 below 2^31, every scaled sum <= kMaxVariation32.
template <int kCount>
[[gnu::noinline]] void EstimateWholeWindowsSpan(const int32_t* __restrict w0,
                                                const int32_t* __restrict w30,
                                                const int32_t* __restrict w60,
                                                const int32_t* __restrict w90, int count,
                                                int32_t threshold, uint8_t* __restrict dir_out,
                                                uint8_t* __restrict iso_out) {
  const int n = kCount > 0 ? kCount : count;
  for (int x = 0; x < n; ++x) {
    const DirectionEstimate e = EstimateFromSums(w0[x], w30[x], w60[x], w90[x], threshold);
    dir_out[x] = e.code;
    iso_out[x] = e.isotropy;
  }
}

inline void EstimateWholeWindowsLoop(const int32_t* w0, const int32_t* w30, const int32_t* w60,
                                     const int32_t* w90, int begin, int end, int32_t threshold,
                                     uint8_t* dir_out, uint8_t* iso_out) {
  if (end - begin < kBlockPixels) {
    if (end > begin) {
      EstimateWholeWindowsSpan<0>(w0 + begin, w30 + begin, w60 + begin, w90 + begin, end - begin,
                                  threshold, dir_out + begin, iso_out + begin);
    }
    return;
  }
  ForEachBlock(begin, end, [&](int x0) {
    EstimateWholeWindowsSpan<kBlockPixels>(w0 + x0, w30 + x0, w60 + x0, w90 + x0, kBlockPixels,
                                           threshold, dir_out + x0, iso_out + x0);
  });
}

// v scaled by area / n when the window of n non-border pixels is clipped (n neither the whole
// area nor 0), truncated; the quotient is exact in double (TruncatingQuotient).
inline int32_t AsWholeWindow(int32_t v, int32_t n, int32_t area) {
  return Pick(n != area && n != 0, TruncatingQuotient(area * v, n | int32_t{n == 0}), v);
}

// The estimates of pixels 0 .. count - 1 (count as above) of any row: a window of
// n = rows_in x columns_in[x] non-border pixels counts as if it were whole (AsWholeWindow of
// each sum, the diagonal ones after their 71 / 100).
// REQUIRES: area x (every sum) < 2^31, area x 510 <= kMaxVariation32, every sum <= n x 510.
template <int kCount>
[[gnu::noinline]] void EstimateClippedWindowsSpan(
    const int32_t* __restrict w0, const int32_t* __restrict w30, const int32_t* __restrict w60,
    const int32_t* __restrict w90, const int32_t* __restrict columns_in, int32_t rows_in,
    int32_t area, int count, int32_t threshold, uint8_t* __restrict dir_out,
    uint8_t* __restrict iso_out) {
  const int span = kCount > 0 ? kCount : count;
  for (int x = 0; x < span; ++x) {
    const int32_t n = rows_in * columns_in[x];
    const DirectionEstimate e = DirectionFromVariationsSelect(
        AsWholeWindow(w0[x], n, area), AsWholeWindow(DiagonalShare(w30[x]), n, area),
        AsWholeWindow(w60[x], n, area), AsWholeWindow(DiagonalShare(w90[x]), n, area), threshold);
    dir_out[x] = e.code;
    iso_out[x] = e.isotropy;
  }
}

// The estimates of pixels begin .. end - 1 of any row (EstimateClippedWindowsSpan).
inline void EstimateClippedWindowsLoop(const int32_t* w0, const int32_t* w30, const int32_t* w60,
                                       const int32_t* w90, const int32_t* columns_in,
                                       int32_t rows_in, int32_t area, int begin, int end,
                                       int32_t threshold, uint8_t* dir_out, uint8_t* iso_out) {
  if (end - begin < kBlockPixels) {
    if (end > begin) {
      EstimateClippedWindowsSpan<0>(w0 + begin, w30 + begin, w60 + begin, w90 + begin,
                                    columns_in + begin, rows_in, area, end - begin, threshold,
                                    dir_out + begin, iso_out + begin);
    }
    return;
  }
  ForEachBlock(begin, end, [&](int x0) {
    EstimateClippedWindowsSpan<kBlockPixels>(w0 + x0, w30 + x0, w60 + x0, w90 + x0, columns_in + x0,
                                             rows_in, area, kBlockPixels, threshold, dir_out + x0,
                                             iso_out + x0);
  });
}

// out[x] = 255 where source[x] reaches the truncated mean of the window chosen by the clarity
// c = clarity[x]: window 0 where c >= high, else 1 where c >= low, else 2. s >= floor(S / C)
// exactly when (s + 1) C > S; the sum and the pixel count (columns_in[i][x] * rows_in[i]) of
// the chosen window are picked by masks.
// REQUIRES: 256 times every count below 2^31.
template <int kCount>
[[gnu::noinline]] void BinarizeByClaritySpan(
    const uint8_t* __restrict source, const uint8_t* __restrict clarity, int32_t high, int32_t low,
    const int32_t* __restrict sum0, const int32_t* __restrict sum1, const int32_t* __restrict sum2,
    const int32_t* __restrict columns0, const int32_t* __restrict columns1,
    const int32_t* __restrict columns2, int32_t rows0, int32_t rows1, int32_t rows2, int count,
    uint8_t* __restrict out) {
  const int n = kCount > 0 ? kCount : count;
  for (int x = 0; x < n; ++x) {
    const int32_t c = clarity[x];
    const int32_t m0 = -int32_t{c >= high};
    const int32_t m1 = ~m0 & -int32_t{c >= low};
    const int32_t m2 = ~(m0 | m1);
    const int32_t sum = (sum0[x] & m0) | (sum1[x] & m1) | (sum2[x] & m2);
    const int32_t pixels =
        (columns0[x] * rows0 & m0) | (columns1[x] * rows1 & m1) | (columns2[x] * rows2 & m2);
    out[x] = static_cast<uint8_t>(-int32_t{(source[x] + 1) * pixels > sum});
  }
}
inline void BinarizeByClarityLoop(const uint8_t* source, const uint8_t* clarity, int32_t high,
                                  int32_t low, const int32_t* const* sums,
                                  const int32_t* const* columns, const int32_t* rows, int width,
                                  uint8_t* out) {
  ForEachSpan(0, width, [&]<int kCount>(int x0, int count) {
    BinarizeByClaritySpan<kCount>(source + x0, clarity + x0, high, low, sums[0] + x0, sums[1] + x0,
                                  sums[2] + x0, columns[0] + x0, columns[1] + x0, columns[2] + x0,
                                  rows[0], rows[1], rows[2], count, out + x0);
  });
}

// The same test against one window.
inline void BinarizeOneWindowLoop(const uint8_t* __restrict source, const int32_t* __restrict sum,
                                  const int32_t* __restrict columns, int32_t rows, int width,
                                  uint8_t* __restrict out) {
  for (int x = 0; x < width; ++x) {
    out[x] = static_cast<uint8_t>(-int32_t{(source[x] + 1) * (columns[x] * rows) > sum[x]});
  }
}

// The same test on the 16-bit sums of windows of at most 15 x 15 pixels: every count is at
// most 225, so (s + 1) C <= 256 x 225 and every sum fits in 16 bits, and twice as many pixels
// go through a vector. high and low lie in 0 .. 256, so comparing them with a byte of the
// clarity map in 16 bits is the comparison in int32.
template <int kCount>
[[gnu::noinline]] void BinarizeByClarity16Span(
    const uint8_t* __restrict source, const uint8_t* __restrict clarity, uint16_t high,
    uint16_t low, const uint16_t* __restrict sum0, const uint16_t* __restrict sum1,
    const uint16_t* __restrict sum2, const uint16_t* __restrict columns0,
    const uint16_t* __restrict columns1, const uint16_t* __restrict columns2, uint16_t rows0,
    uint16_t rows1, uint16_t rows2, int count, uint8_t* __restrict out) {
  const int n = kCount > 0 ? kCount : count;
  for (int x = 0; x < n; ++x) {
    const uint16_t c = clarity[x];
    const auto m0 = static_cast<uint16_t>(-int{c >= high});
    const auto m1 = static_cast<uint16_t>(~m0 & -int{c >= low});
    const auto m2 = static_cast<uint16_t>(~(m0 | m1));
    const auto sum = static_cast<uint16_t>((sum0[x] & m0) | (sum1[x] & m1) | (sum2[x] & m2));
    const auto pixels = static_cast<uint16_t>((static_cast<uint16_t>(columns0[x] * rows0) & m0) |
                                              (static_cast<uint16_t>(columns1[x] * rows1) & m1) |
                                              (static_cast<uint16_t>(columns2[x] * rows2) & m2));
    const auto test = static_cast<uint16_t>((source[x] + 1) * pixels);
    out[x] = static_cast<uint8_t>(-int{test > sum});
  }
}
inline void BinarizeByClarity16Loop(const uint8_t* source, const uint8_t* clarity, int32_t high,
                                    int32_t low, const uint16_t* const* sums,
                                    const uint16_t* const* columns, const uint16_t* rows, int width,
                                    uint8_t* out) {
  const auto high16 = static_cast<uint16_t>(std::clamp(high, int32_t{0}, int32_t{256}));
  const auto low16 = static_cast<uint16_t>(std::clamp(low, int32_t{0}, int32_t{256}));
  ForEachSpan(0, width, [&]<int kCount>(int x0, int count) {
    BinarizeByClarity16Span<kCount>(source + x0, clarity + x0, high16, low16, sums[0] + x0,
                                    sums[1] + x0, sums[2] + x0, columns[0] + x0, columns[1] + x0,
                                    columns[2] + x0, rows[0], rows[1], rows[2], count, out + x0);
  });
}
inline void BinarizeOneWindow16Loop(const uint8_t* __restrict source,
                                    const uint16_t* __restrict sum,
                                    const uint16_t* __restrict columns, uint16_t rows, int width,
                                    uint8_t* __restrict out) {
  for (int x = 0; x < width; ++x) {
    const auto test = static_cast<uint16_t>((source[x] + 1) * columns[x] * rows);
    out[x] = static_cast<uint8_t>(-int{test > sum[x]});
  }
}

// Column sums of a sliding window: sums[x] += in[x], -= out[x], or both in one pass.
inline void AddRowLoop(int32_t* __restrict sums, const uint8_t* __restrict in, int width) {
  for (int x = 0; x < width; ++x) sums[x] += in[x];
}
inline void SubtractRowLoop(int32_t* __restrict sums, const uint8_t* __restrict out, int width) {
  for (int x = 0; x < width; ++x) sums[x] -= out[x];
}
inline void ExchangeRowLoop(int32_t* __restrict sums, const uint8_t* __restrict in,
                            const uint8_t* __restrict out, int width) {
  for (int x = 0; x < width; ++x) sums[x] += static_cast<int16_t>(in[x] - out[x]);
}

// IntegralRow16 as a running sum (the reference and the form without Highway).
inline void IntegralRow16Loop(const uint16_t* __restrict above, const uint8_t* __restrict row,
                              int width, uint16_t* __restrict out) {
  uint16_t sum = 0;
  out[0] = above[0];
  for (int x = 0; x < width; ++x) {
    sum = static_cast<uint16_t>(sum + row[x]);
    out[x + 1] = static_cast<uint16_t>(above[x + 1] + sum);
  }
}

// BoxFromIntegralRows16: four loads a pixel whatever the radius.
inline void BoxFromIntegralRows16Loop(const uint16_t* top, const uint16_t* bottom, int width,
                                      int radius, uint16_t* __restrict out) {
  const uint16_t* __restrict top_right = top + radius + 1;
  const uint16_t* __restrict bottom_right = bottom + radius + 1;
  const uint16_t* __restrict top_left = top - radius;
  const uint16_t* __restrict bottom_left = bottom - radius;
  for (int x = 0; x < width; ++x) {
    out[x] = static_cast<uint16_t>(bottom_right[x] - top_right[x] - bottom_left[x] + top_left[x]);
  }
}

// out[x] = the boundary density of a window, boundary[x] 255 / counted[x] truncated, scaled by
// the percentage factor[code] of the pixel's direction code (the low 7 bits of direction[x])
// and truncated again. A window that counts no pixel counts no boundary pixel either (they are
// a subset), so 0 / 1 gives its 0 with no test. The division is exact in double (see
// TruncatingQuotient).
// REQUIRES: 0 <= boundary[x] <= counted[x], boundary[x] 255 < 2^31; factor[c] <= 100.
template <int kCount>
[[gnu::noinline]] void BoundaryDensitySpan(const int32_t* __restrict boundary,
                                           const int32_t* __restrict counted,
                                           const uint8_t* __restrict direction,
                                           const int32_t* __restrict factor, int count,
                                           uint8_t* __restrict out) {
  const int n = kCount > 0 ? kCount : count;
  for (int x = 0; x < n; ++x) {
    const int32_t c = counted[x];
    const int32_t density = TruncatingQuotient(boundary[x] * 255, c | int32_t{c == 0});
    out[x] = static_cast<uint8_t>(density * factor[direction[x] & 0x7F] / 100);
  }
}
inline void BoundaryDensityLoop(const int32_t* boundary, const int32_t* counted,
                                const uint8_t* direction, const int32_t* factor, int width,
                                uint8_t* out) {
  ForEachSpan(0, width, [&]<int kCount>(int x0, int count) {
    BoundaryDensitySpan<kCount>(boundary + x0, counted + x0, direction + x0, factor, count,
                                out + x0);
  });
}

// The same density from packed sums: the low 16 bits of packed[x] hold the counted pixels, the
// high ones the boundary pixels, so that one column sum and one row sum carry both. The
// division is exact in single precision (TruncatingQuotient24): boundary 255 < 2^16 255 < 2^24.
template <int kCount>
[[gnu::noinline]] void BoundaryDensityPackedSpan(const int32_t* __restrict packed,
                                                 const uint8_t* __restrict direction,
                                                 const int32_t* __restrict factor, int count,
                                                 uint8_t* __restrict out) {
  const int n = kCount > 0 ? kCount : count;
  for (int x = 0; x < n; ++x) {
    const int32_t c = packed[x] & 0xFFFF;
    const int32_t boundary = static_cast<int32_t>(static_cast<uint32_t>(packed[x]) >> 16);
    const int32_t density = TruncatingQuotient24(boundary * 255, c | int32_t{c == 0});
    out[x] = static_cast<uint8_t>(density * factor[direction[x] & 0x7F] / 100);
  }
}
inline void BoundaryDensityPackedLoop(const int32_t* packed, const uint8_t* direction,
                                      const int32_t* factor, int width, uint8_t* out) {
  ForEachSpan(0, width, [&]<int kCount>(int x0, int count) {
    BoundaryDensityPackedSpan<kCount>(packed + x0, direction + x0, factor, count, out + x0);
  });
}

// Packed column sums of two indicator rows: sums[x] += low[x] + high[x] 2^16 of the row
// entering minus the same of the row leaving; either pair may be null.
inline void SlidePairedLoop(int32_t* __restrict sums, const uint8_t* __restrict in_low,
                            const uint8_t* __restrict in_high, const uint8_t* __restrict out_low,
                            const uint8_t* __restrict out_high, int width) {
  if (in_low != nullptr && out_low != nullptr) {
    for (int x = 0; x < width; ++x) {
      sums[x] += (in_low[x] - out_low[x]) +
                 static_cast<int32_t>(static_cast<uint32_t>(in_high[x] - out_high[x]) << 16);
    }
  } else if (in_low != nullptr) {
    for (int x = 0; x < width; ++x) sums[x] += in_low[x] + (int32_t{in_high[x]} << 16);
  } else if (out_low != nullptr) {
    for (int x = 0; x < width; ++x) sums[x] -= out_low[x] + (int32_t{out_high[x]} << 16);
  }
}

// The four variations of pixel x of the row `row` between `up` and `down`, each at most 510.
// The differences are taken on bytes (the larger minus the smaller) and summed in 16 bits, so
// that the vectorised loops work on 16-bit lanes rather than 32-bit ones.
struct PixelVariations {
  uint16_t v0, v30, v60, v90;
};
inline uint8_t ByteDiff(uint8_t a, uint8_t b) {
  return static_cast<uint8_t>(std::max(a, b) - std::min(a, b));
}
inline PixelVariations VariationsAt(const uint8_t* up, const uint8_t* row, const uint8_t* down,
                                    int x) {
  const uint8_t p = row[x];
  return {static_cast<uint16_t>(ByteDiff(p, row[x - 1]) + ByteDiff(p, row[x + 1])),
          static_cast<uint16_t>(ByteDiff(p, up[x - 1]) + ByteDiff(p, down[x + 1])),
          static_cast<uint16_t>(ByteDiff(p, up[x]) + ByteDiff(p, down[x])),
          static_cast<uint16_t>(ByteDiff(p, down[x - 1]) + ByteDiff(p, up[x + 1]))};
}

// The column sums of the four variations of columns 0 .. count - 1 (count = kCount, or the
// argument when kCount is 0), all but the first `skip` of them: adds those of row e (between
// rows eu and ed) and, when l is given, removes those of row l (between lu and ld), in one pass
// over the columns for all four sums; with e null it only removes. The skipped columns are
// rewritten unchanged (their change is masked to 0), so that a last block may overlap the one
// before without counting a row twice. Not inlined: the compiler honours the restricted
// parameters only in a function of its own, and without them the ten pointers need more
// run-time overlap tests than it makes before vectorising.
template <int kCount>
[[gnu::noinline]] void SlideVariationsSpan(
    const uint8_t* __restrict eu, const uint8_t* __restrict e, const uint8_t* __restrict ed,
    const uint8_t* __restrict lu, const uint8_t* __restrict l, const uint8_t* __restrict ld,
    int count, int skip, int32_t* __restrict s0, int32_t* __restrict s30, int32_t* __restrict s60,
    int32_t* __restrict s90) {
  const int n = kCount > 0 ? kCount : count;
  if (l == nullptr) {
    for (int x = 0; x < n; ++x) {
      const int32_t keep = -int32_t{x >= skip};
      const PixelVariations in = VariationsAt(eu, e, ed, x);
      s0[x] += in.v0 & keep;
      s30[x] += in.v30 & keep;
      s60[x] += in.v60 & keep;
      s90[x] += in.v90 & keep;
    }
  } else if (e == nullptr) {
    for (int x = 0; x < n; ++x) {
      const int32_t keep = -int32_t{x >= skip};
      const PixelVariations out = VariationsAt(lu, l, ld, x);
      s0[x] -= out.v0 & keep;
      s30[x] -= out.v30 & keep;
      s60[x] -= out.v60 & keep;
      s90[x] -= out.v90 & keep;
    }
  } else {
    for (int x = 0; x < n; ++x) {
      const int32_t keep = -int32_t{x >= skip};
      const PixelVariations in = VariationsAt(eu, e, ed, x);
      const PixelVariations out = VariationsAt(lu, l, ld, x);
      s0[x] += static_cast<int16_t>(in.v0 - out.v0) & keep;
      s30[x] += static_cast<int16_t>(in.v30 - out.v30) & keep;
      s60[x] += static_cast<int16_t>(in.v60 - out.v60) & keep;
      s90[x] += static_cast<int16_t>(in.v90 - out.v90) & keep;
    }
  }
}

// SlideVariationsSpan over columns 1 .. width - 2 in blocks of 64 (a block of 32 gets 256-bit
// vectors from g++ 12 here and is slower); the last block overlaps the one before and skips
// the columns that block took.
inline void SlideVariationsLoop(const uint8_t* eu, const uint8_t* e, const uint8_t* ed,
                                const uint8_t* lu, const uint8_t* l, const uint8_t* ld, int width,
                                int32_t* s0, int32_t* s30, int32_t* s60, int32_t* s90) {
  constexpr int kBlock = 64;
  auto span = [&]<int kCount>(int x0, int count, int skip) {
    const auto at = [x0](const uint8_t* row) { return row == nullptr ? row : row + x0; };
    SlideVariationsSpan<kCount>(at(eu), at(e), at(ed), at(lu), at(l), at(ld), count, skip, s0 + x0,
                                s30 + x0, s60 + x0, s90 + x0);
  };
  const int begin = 1;
  const int end = width - 1;
  if (end - begin < kBlock) {
    if (end > begin) span.template operator()<0>(begin, end - begin, 0);
    return;
  }
  int x0 = begin;
  for (; x0 + kBlock <= end; x0 += kBlock) span.template operator()<kBlock>(x0, kBlock, 0);
  if (x0 < end) span.template operator()<kBlock>(end - kBlock, kBlock, x0 - (end - kBlock));
}

// The contrast stretch of pixels 0 .. count - 1 (count = kCount, or the argument when kCount is
// 0), the window of pixel x holding columns_in[x] x rows_in pixels: the mean deviation
// d = sums[x] / that count, the band lo = max(mean - d, 0) .. hi = min(mean + d, 255) around
// the pixel's mean (mean_out[x], overwritten), and the pixel s stretched to 0 at or below lo,
// 255 at or above hi, (s - lo) 255 / (hi - lo) between, or kept when the band is empty.
// Branch-free, both divisions exact in double (TruncatingQuotient) or, with kSingle, in single
// precision (TruncatingQuotient24, twice the lanes): (s - lo) 255 is always below 2^24.
// REQUIRES: 0 <= sums[x] < 2^31, every count > 0; with kSingle both below 2^24.
template <int kCount, bool kSingle>
[[gnu::noinline]] void StretchSpan(const int32_t* __restrict sums, const uint8_t* __restrict source,
                                   const int32_t* __restrict columns_in, int32_t rows_in, int count,
                                   uint8_t* __restrict mean_out) {
  const int n = kCount > 0 ? kCount : count;
  auto quotient = [](int32_t a, int32_t b) {
    return kSingle ? TruncatingQuotient24(a, b) : TruncatingQuotient(a, b);
  };
  for (int x = 0; x < n; ++x) {
    const int32_t s = source[x];
    const int32_t mean = mean_out[x];
    const int32_t deviation = quotient(sums[x], columns_in[x] * rows_in);
    const int32_t lo = std::max(mean - deviation, 0);
    const int32_t hi = std::min(mean + deviation, 255);
    const int32_t band = hi - lo;
    const int32_t inside = TruncatingQuotient24((s - lo) * 255, band | int32_t{band == 0});
    const int32_t stretched = Pick(s <= lo, 0, Pick(s >= hi, 255, inside));
    mean_out[x] = static_cast<uint8_t>(Pick(band == 0, s, stretched));
  }
}

// True when sums[x] and columns_in[x] rows_in are below 2^24 for x in begin .. end - 1 (the
// single-precision quotient is exact for them); one branch-free pass.
inline bool BelowSingleLimit(const int32_t* __restrict sums, const int32_t* __restrict columns_in,
                             int32_t rows_in, int begin, int end) {
  int32_t most_sum = 0;
  int32_t most_columns = 0;
  for (int x = begin; x < end; ++x) {
    most_sum = std::max(most_sum, sums[x]);
    most_columns = std::max(most_columns, columns_in[x]);
  }
  constexpr int64_t kLimit = int64_t{1} << 24;
  return most_sum < kLimit && int64_t{most_columns} * rows_in < kLimit;
}

// StretchSpan over pixels begin .. end - 1 in blocks, in single precision when the row's sums
// and counts allow. The stretch is in place, so the last, overlapping block must not read means
// its neighbour block already stretched: it works on a copy of its means, taken first and
// written back last.
template <bool kSingle>
inline void StretchRowBlocks(const int32_t* sums, const uint8_t* source, const int32_t* columns_in,
                             int32_t rows_in, int begin, int end, uint8_t* mean_out) {
  if (end - begin < kBlockPixels) {
    if (end > begin) {
      StretchSpan<0, kSingle>(sums + begin, source + begin, columns_in + begin, rows_in,
                              end - begin, mean_out + begin);
    }
    return;
  }
  const int last = end - kBlockPixels;
  uint8_t tail[kBlockPixels];
  std::copy(mean_out + last, mean_out + end, tail);
  StretchSpan<kBlockPixels, kSingle>(sums + last, source + last, columns_in + last, rows_in,
                                     kBlockPixels, tail);
  for (int x0 = begin; x0 + kBlockPixels <= end; x0 += kBlockPixels) {
    StretchSpan<kBlockPixels, kSingle>(sums + x0, source + x0, columns_in + x0, rows_in,
                                       kBlockPixels, mean_out + x0);
  }
  std::copy(tail, tail + kBlockPixels, mean_out + last);
}
inline void StretchRowLoop(const int32_t* sums, const uint8_t* source, const int32_t* columns_in,
                           int32_t rows_in, int begin, int end, uint8_t* mean_out) {
  if (BelowSingleLimit(sums, columns_in, rows_in, begin, end)) {
    StretchRowBlocks<true>(sums, source, columns_in, rows_in, begin, end, mean_out);
  } else {
    StretchRowBlocks<false>(sums, source, columns_in, rows_in, begin, end, mean_out);
  }
}

// The preliminary binarisation of pixels begin .. end - 1 of a row whose two windows are whole:
// each mean is (sum m) >> 32 with m = ceil(2^32 / count), the multiplication of
// core/exact_divider.h (exact for these sums); m below 2^32 makes it a 32 x 32 -> 64-bit
// product, which vectorises.
template <int kCount>
[[gnu::noinline]] void PreBinarizeSpan(const int32_t* __restrict small_sums,
                                       const int32_t* __restrict large_sums,
                                       const uint8_t* __restrict source, int count,
                                       uint32_t small_reciprocal, uint32_t large_reciprocal,
                                       uint8_t* __restrict out) {
  const int n = kCount > 0 ? kCount : count;
  for (int x = 0; x < n; ++x) {
    const auto small_mean = static_cast<uint32_t>(
        (uint64_t{static_cast<uint32_t>(small_sums[x])} * small_reciprocal) >> 32);
    const auto large_mean = static_cast<uint32_t>(
        (uint64_t{static_cast<uint32_t>(large_sums[x])} * large_reciprocal) >> 32);
    out[x] = static_cast<uint8_t>(-int32_t{uint32_t{source[x]} >= (large_mean + small_mean) / 2});
  }
}
inline void PreBinarizeLoop(const int32_t* small_sums, const int32_t* large_sums,
                            const uint8_t* source, int begin, int end, uint32_t small_reciprocal,
                            uint32_t large_reciprocal, uint8_t* out) {
  ForEachSpan(begin, end, [&]<int kCount>(int x0, int count) {
    PreBinarizeSpan<kCount>(small_sums + x0, large_sums + x0, source + x0, count, small_reciprocal,
                            large_reciprocal, out + x0);
  });
}

// The same test on 16-bit window sums, each mean the high half of a 16 x 16-bit product
// shifted right (NarrowDivider).
template <int kCount>
[[gnu::noinline]] void PreBinarize16Span(const uint16_t* __restrict small_sums,
                                         const uint16_t* __restrict large_sums,
                                         const uint8_t* __restrict source, int count,
                                         uint16_t small_multiplier, int small_shift,
                                         uint16_t large_multiplier, int large_shift,
                                         uint8_t* __restrict out) {
  const int n = kCount > 0 ? kCount : count;
  for (int x = 0; x < n; ++x) {
    const auto small_high =
        static_cast<uint16_t>((uint32_t{small_sums[x]} * small_multiplier) >> 16);
    const auto large_high =
        static_cast<uint16_t>((uint32_t{large_sums[x]} * large_multiplier) >> 16);
    const auto threshold =
        static_cast<uint16_t>(((small_high >> small_shift) + (large_high >> large_shift)) >> 1);
    out[x] = static_cast<uint8_t>(-int{uint16_t{source[x]} >= threshold});
  }
}
inline void PreBinarize16Loop(const uint16_t* small_sums, const uint16_t* large_sums,
                              const uint8_t* source, int begin, int end, uint16_t small_multiplier,
                              int small_shift, uint16_t large_multiplier, int large_shift,
                              uint8_t* out) {
  ForEachSpan(begin, end, [&]<int kCount>(int x0, int count) {
    PreBinarize16Span<kCount>(small_sums + x0, large_sums + x0, source + x0, count,
                              small_multiplier, small_shift, large_multiplier, large_shift,
                              out + x0);
  });
}

// Window means of pixels 0 .. count - 1 (count = kCount, or the argument when kCount is 0):
// out[x] = sums[x] / (columns_in[x] rows_in), truncated; the quotient is exact in single
// precision (TruncatingQuotient24: the sums stay below 2^24). For the rows whose windows are
// clipped at the top or the bottom, where the counts change from row to row. REQUIRES: 0 <= sums[x]
// <= 255 x that count, every count > 0 and below 2^16.
template <int kCount>
[[gnu::noinline]] void MeanSpan(const int32_t* __restrict sums,
                                const int32_t* __restrict columns_in, int32_t rows_in, int count,
                                uint8_t* __restrict out) {
  const int n = kCount > 0 ? kCount : count;
  for (int x = 0; x < n; ++x) {
    out[x] = static_cast<uint8_t>(TruncatingQuotient24(sums[x], columns_in[x] * rows_in));
  }
}
inline void MeanRowLoop(const int32_t* sums, const int32_t* columns_in, int32_t rows_in, int width,
                        uint8_t* out) {
  ForEachSpan(0, width, [&]<int kCount>(int x0, int count) {
    MeanSpan<kCount>(sums + x0, columns_in + x0, rows_in, count, out + x0);
  });
}

// The same means as (sums[x] reciprocals[x]) >> 32, reciprocals[x] = ceil(2^32 / count): the
// multiplication of core/exact_divider.h, exact for these sums, and a 32 x 32 -> 64-bit product
// that vectorises (no division at all).
// REQUIRES: every count >= 2 (reciprocals below 2^32) with 255 count^2 < 2^32;
// 0 <= sums[x] <= 255 x that count.
template <int kCount>
[[gnu::noinline]] void MeanByReciprocalSpan(const int32_t* __restrict sums,
                                            const uint32_t* __restrict reciprocals, int count,
                                            uint8_t* __restrict out) {
  const int n = kCount > 0 ? kCount : count;
  for (int x = 0; x < n; ++x) {
    out[x] =
        static_cast<uint8_t>((uint64_t{static_cast<uint32_t>(sums[x])} * reciprocals[x]) >> 32);
  }
}
inline void MeanByReciprocalLoop(const int32_t* sums, const uint32_t* reciprocals, int width,
                                 uint8_t* out) {
  ForEachSpan(0, width, [&]<int kCount>(int x0, int count) {
    MeanByReciprocalSpan<kCount>(sums + x0, reciprocals + x0, count, out + x0);
  });
}

// The 3 x 3 means of pixels 1 .. width - 2 of a row between the rows above and below: the
// three rows' column sums first (column, scratch of width entries), then out[x] = the sum of
// columns x - 1 .. x + 1 divided by kDivisor, in 16-bit lanes (the sums stay below 9 x 255; a
// division by a constant becomes a multiplication).
template <uint16_t kDivisor>
inline void Mean3RowLoop(const uint8_t* __restrict up, const uint8_t* __restrict mid,
                         const uint8_t* __restrict down, int width, uint16_t* __restrict column,
                         uint8_t* __restrict out) {
  for (int x = 0; x < width; ++x) column[x] = static_cast<uint16_t>(up[x] + mid[x] + down[x]);
  for (int x = 1; x < width - 1; ++x) {
    out[x] = static_cast<uint8_t>(static_cast<uint16_t>(column[x - 1] + column[x] + column[x + 1]) /
                                  kDivisor);
  }
}

// Column counts of the pixels below limit: counts[x] += (in[x] < limit) - (out[x] < limit) for
// the row entering (in) and the row leaving (out), either possibly null.
inline void CountBelowLimitLoop(int32_t* __restrict counts, const uint8_t* __restrict in,
                                const uint8_t* __restrict out, int32_t limit, int width) {
  if (in != nullptr && out != nullptr) {
    for (int x = 0; x < width; ++x) {
      counts[x] += int32_t{in[x] < limit} - int32_t{out[x] < limit};
    }
  } else if (in != nullptr) {
    for (int x = 0; x < width; ++x) counts[x] += int32_t{in[x] < limit};
  } else if (out != nullptr) {
    for (int x = 0; x < width; ++x) counts[x] -= int32_t{out[x] < limit};
  }
}

// A row of the foreground mask: a pixel is foreground when usable[x] > needed or near[x] is 1;
// the others get the background bit in dir[x]. Adds the foreground pixels' isotropies to *sum
// and their number to *count (one row's sums fit in 32 bits).
inline void ForegroundRowLoop(const int32_t* __restrict usable, int32_t needed,
                              const uint8_t* __restrict near, const uint8_t* __restrict iso,
                              int width, uint8_t* __restrict dir, int32_t* sum, int32_t* count) {
  int32_t row_sum = 0;
  int32_t row_count = 0;
  for (int x = 0; x < width; ++x) {
    const int32_t foreground = int32_t{usable[x] > needed} | int32_t{near[x]};
    row_sum += iso[x] & -foreground;
    row_count += foreground;
    dir[x] = static_cast<uint8_t>(dir[x] | (kBackgroundBit & (foreground - 1)));
  }
  *sum += row_sum;
  *count += row_count;
}

// The boundary indicators of a binary row (0 / 255 pixels) between its neighbour rows above and
// below, columns 1 .. width - 2: is_foreground[x] = 1 where the pixel is counted (the
// background bit of direction[x] clear), is_boundary[x] = 1 where a counted pixel's 3 x 3
// block holds both values. column is scratch of width entries (the three-row sums).
inline void BoundaryIndicatorLoop(const uint8_t* __restrict above, const uint8_t* __restrict middle,
                                  const uint8_t* __restrict below,
                                  const uint8_t* __restrict direction, int width,
                                  uint16_t* __restrict column, uint8_t* __restrict is_foreground,
                                  uint8_t* __restrict is_boundary) {
  for (int x = 0; x < width; ++x) {
    column[x] = static_cast<uint16_t>(above[x] + middle[x] + below[x]);
  }
  for (int x = 1; x < width - 1; ++x) {
    const uint8_t counted = (direction[x] & kBackgroundBit) == 0 ? 1 : 0;
    const int block = column[x - 1] + column[x] + column[x + 1];
    is_foreground[x] = counted;
    is_boundary[x] = counted & (block != 0 && block != 9 * 255 ? 1 : 0);  // not all black / white
  }
}

// The counted pixels (background bit of direction[x] clear) of columns 1 .. width - 2 of a
// binary row and those of them whose 3 x 3 block holds both values, added to *counted and
// *boundary (one row's counts fit in 32 bits).
inline void BoundaryCountLoop(const uint8_t* __restrict above, const uint8_t* __restrict middle,
                              const uint8_t* __restrict below, const uint8_t* __restrict direction,
                              int width, int32_t* counted, int32_t* boundary) {
  int32_t row_counted = 0;
  int32_t row_boundary = 0;
  for (int x = 1; x < width - 1; ++x) {
    const int32_t foreground = (direction[x] & kBackgroundBit) == 0 ? 1 : 0;
    const int block = above[x - 1] + above[x] + above[x + 1] + middle[x - 1] + middle[x] +
                      middle[x + 1] + below[x - 1] + below[x] + below[x + 1];
    row_counted += foreground;
    row_boundary += foreground & (block != 0 && block != 9 * 255 ? 1 : 0);
  }
  *counted += row_counted;
  *boundary += row_boundary;
}

// LevelPassRow, branch-free for the vectoriser: 0xFF or-ed in keeps the pixel.
inline uint8_t LevelPassLoop(const uint8_t* __restrict direction, int width,
                             uint8_t* __restrict levels, uint8_t* __restrict codes) {
  constexpr uint8_t kLevels = 0x07;
  uint8_t still_due = 0;
  for (int x = 0; x < width; ++x) {
    const uint8_t raw = levels[x];
    const auto active = static_cast<uint8_t>((raw & kLevels) != 0 ? 1 : 0);
    const auto keep = static_cast<uint8_t>(active - 1);  // 0xFF on level 0, else 0
    codes[x] = static_cast<uint8_t>((direction[x] & kCodeMask) | keep);
    const auto lowered = static_cast<uint8_t>(raw - active);
    levels[x] = lowered;
    still_due = static_cast<uint8_t>(still_due | (lowered & kLevels));
  }
  return still_due;
}

// MajorityRow: the column sums of the three rows, then the block sums, all in 16-bit lanes
// (at most 9 x 255).
inline void MajorityLoop(const uint8_t* __restrict above, const uint8_t* __restrict middle,
                         const uint8_t* __restrict below, int width, uint16_t white_sum,
                         uint16_t* __restrict column, uint8_t* __restrict out) {
  for (int x = 0; x < width; ++x) {
    column[x] = static_cast<uint16_t>(above[x] + middle[x] + below[x]);
  }
  for (int x = 1; x < width - 1; ++x) {
    const auto block = static_cast<uint16_t>(column[x - 1] + column[x] + column[x + 1]);
    out[x] = static_cast<uint8_t>(-int{block >= white_sum});
  }
}
