// The row forms of the direction estimate (EstimateDirectionCodes and EstimateDirections,
// branch-free) against the pixel form (EstimateDirection) they must equal code for code and
// anisotropy for anisotropy (clamped to 0 .. 255), in every vector instruction set the
// processor supports.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "extract/binary_resmoothing.h"
#include "extract/direction_estimate_row.h"
#include "tests/support/vector_targets.h"

namespace ridgeline {
namespace {

void ExpectCodesAgreeIn(const std::vector<int32_t>& h, const std::vector<int32_t>& d1,
                        const std::vector<int32_t>& v, const std::vector<int32_t>& d2) {
  const int count = static_cast<int>(h.size());
  std::vector<uint8_t> codes(h.size(), 200);
  EstimateDirectionCodes(h.data(), d1.data(), v.data(), d2.data(), count, codes.data());
  for (size_t i = 0; i < h.size(); ++i) {
    ASSERT_EQ(codes[i], EstimateDirection(h[i], d1[i], v[i], d2[i]).code)
        << "sums " << h[i] << " " << d1[i] << " " << v[i] << " " << d2[i];
  }
  // The form with anisotropies takes sums up to 2^22.
  std::vector<int32_t> sums[4];
  for (size_t i = 0; i < h.size(); ++i) {
    if (std::max({h[i], d1[i], v[i], d2[i]}) > (1 << 22)) continue;
    for (int g = 0; g < 4; ++g)
      sums[g].push_back(g == 0 ? h[i] : g == 1 ? d1[i] : g == 2 ? v[i] : d2[i]);
  }
  const size_t n = sums[0].size();
  std::vector<uint8_t> row_codes(n, 200);
  std::vector<int32_t> anisotropies(n, -1);
  EstimateDirections(sums[0].data(), sums[1].data(), sums[2].data(), sums[3].data(),
                     static_cast<int>(n), row_codes.data(), anisotropies.data());
  for (size_t i = 0; i < n; ++i) {
    const DirectionEstimate e = EstimateDirection(sums[0][i], sums[1][i], sums[2][i], sums[3][i]);
    ASSERT_EQ(row_codes[i], e.code)
        << "sums " << sums[0][i] << " " << sums[1][i] << " " << sums[2][i] << " " << sums[3][i];
    ASSERT_EQ(anisotropies[i], std::clamp(e.anisotropy, 0, 255))
        << "sums " << sums[0][i] << " " << sums[1][i] << " " << sums[2][i] << " " << sums[3][i];
  }
}

// The pixel form in 64 bits, for sums up to the row form's bound 2^24 (the pixel form's
// anisotropy would overflow there): the code, and the sector offset's numerator and divisor.
struct ReferenceEstimate {
  int code;
  int64_t numerator;
  int64_t n;
  int64_t scaled;  // the anisotropy's numerator max(lo - c, 0) 255 and divisor hi + c
  int64_t top;
};
ReferenceEstimate Reference(int64_t h, int64_t diagonal1, int64_t v, int64_t diagonal2) {
  const int64_t d1 = diagonal1 * 71 / 100;
  const int64_t d2 = diagonal2 * 71 / 100;
  const int64_t most = std::max({h, d1, v, d2});
  int64_t base = 45, pair = v + d1, p = d2, q = d1, r = v, s = h;
  if (v + d2 < pair) base = 75, pair = v + d2, p = h, q = v, r = d2, s = d1;
  if (h + d2 < pair) base = 105, pair = h + d2, p = d1, q = d2, r = h, s = v;
  if (h + d1 < pair) base = 15, p = v, q = h, r = d1, s = d2;
  const int64_t n = p + q + r + s - 4 * most;
  const int64_t numerator = (3 * (p - s) - q + r) * 15;
  if (n == 0) return {kNoDirection, numerator, n, 0, 0};
  const int64_t offset = numerator / n;
  const int64_t code = base + offset;
  const int64_t lo = r < q ? r : q, hi = r < q ? s : p;
  const int64_t c = (15 - std::abs(offset)) * (hi - lo) / 30;
  return {static_cast<int>(code == kDirectionSteps ? 0 : code), numerator, n,
          std::max<int64_t>(lo - c, 0) * 255, hi + c};
}

// The smallest diagonal sum that scales (x 71 / 100, rounded down) to d.
int32_t DiagonalFor(int64_t d) { return static_cast<int32_t>((100 * d + 70) / 71); }

void ExpectCodesMatchReference(const std::vector<int32_t>& h, const std::vector<int32_t>& d1,
                               const std::vector<int32_t>& v, const std::vector<int32_t>& d2) {
  testing::ForEachVectorTarget([&](const std::string&) {
    // Offsets into the row put the lanes at every position of a vector.
    for (size_t shift : {size_t{0}, size_t{5}}) {
      const int count = static_cast<int>(h.size() - shift);
      std::vector<uint8_t> codes(h.size(), 200);
      EstimateDirectionCodes(h.data() + shift, d1.data() + shift, v.data() + shift,
                             d2.data() + shift, count, codes.data());
      for (size_t i = shift; i < h.size(); ++i) {
        ASSERT_EQ(codes[i - shift], Reference(h[i], d1[i], v[i], d2[i]).code)
            << "sums " << h[i] << " " << d1[i] << " " << v[i] << " " << d2[i];
      }
    }
  });
}

void ExpectCodesAgree(const std::vector<int32_t>& h, const std::vector<int32_t>& d1,
                      const std::vector<int32_t>& v, const std::vector<int32_t>& d2) {
  testing::ForEachVectorTarget([&](const std::string&) { ExpectCodesAgreeIn(h, d1, v, d2); });
}

TEST(DirectionCodes, RowFormEqualsThePixelFormOnRandomSums) {
  std::mt19937 rng(7);
  // Small ranges make ties between the four sums and between sector pairs common; 318750 is the
  // sum of a 25 x 25 window of 8-bit gradients, and 2^22 goes past it as far as the pixel form's
  // anisotropy (a sum times 255 in 32 bits) is defined. The pixel form computes the anisotropy
  // even where only its code is compared, so larger sums would make the reference itself
  // overflow (the sanitizer build catches that).
  for (int range : {1, 3, 10, 255, 5000, 318750, 1 << 22}) {
    std::uniform_int_distribution<int32_t> sum(0, range);
    for (int count : {1, 7, 8, 13, 61}) {
      std::vector<int32_t> h, d1, v, d2;
      for (int i = 0; i < count * 40; ++i) {
        h.push_back(sum(rng));
        d1.push_back(sum(rng));
        v.push_back(sum(rng));
        d2.push_back(sum(rng));
      }
      ExpectCodesAgree(h, d1, v, d2);
    }
  }
}

// The sector offset's division in single precision with its correction, on the quotients the
// float rounding could put on the wrong side of a whole number: numerators one or two away from
// a multiple of divisors up to the bound 2^26, either sign.
TEST(DirectionCodes, SmallQuotientIsExactBesideWholeQuotients) {
  const int64_t divisors[] = {
      1, 2, 3, 7, 30, 12345677, (int64_t{3} << 24) + 1, (1 << 26) - 3, (1 << 26) - 1};
  int checked = 0;
  for (const int64_t d : divisors) {
    for (int64_t k = -45; k <= 45; ++k) {
      for (int64_t delta = -2; delta <= 2; ++delta) {
        const int64_t m = k * d + delta;
        if (std::abs(m) >= (int64_t{1} << 30) || std::abs(m) > 60 * d) continue;
        ASSERT_EQ(
            direction_estimate::SmallQuotient(static_cast<int32_t>(m), static_cast<int32_t>(d)),
            m / d)
            << m << " / " << d;
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 2000);
}

// The diagonals' scaling by 71 / 100 and the sector offset's quotient where an error of one
// shows: sums that tie exactly only when the scaled diagonal is right (flat windows), and sums
// whose offset quotient is a whole number or one away from it, up to the bound 2^24.
TEST(DirectionCodes, RowFormIsExactAtScalingAndQuotientBoundaries) {
  std::vector<int32_t> h, d1, v, d2;
  const auto add = [&](int64_t a, int64_t b, int64_t c, int64_t d) {
    h.push_back(static_cast<int32_t>(a));
    d1.push_back(static_cast<int32_t>(b));
    v.push_back(static_cast<int32_t>(c));
    d2.push_back(static_cast<int32_t>(d));
  };
  // Diagonal sums whose 71 x is a multiple of 100 or one below, paired with straight sums equal
  // to their scaled value: all four equal, no direction, unless a scaling is one off.
  for (int64_t x : {int64_t{100}, int64_t{199}, int64_t{318700}, int64_t{(1 << 24) - 1}}) {
    for (int64_t y = x - 3; y <= x + 3 && y < (1 << 24); ++y) {
      const int64_t scaled = y * 71 / 100;
      add(scaled, y, scaled, DiagonalFor(scaled));
      add(scaled + 1, y, scaled, y);
    }
  }
  std::mt19937 rng(11);
  // Sums near the top of their range (small divisors, large numerators) and spread over it
  // (divisors up to millions, where a near-whole quotient is rare and searched for longer).
  const struct {
    int64_t top, spread;
    int want;
  } ranges[] = {{5000, 2500, 50},
                {318750, 3000, 50},
                {318750, 159375, 20},
                {(1 << 24) - 1, 3000, 50},
                {(1 << 24) - 1, 1 << 23, 3}};
  for (const auto& range : ranges) {
    std::uniform_int_distribution<int64_t> sum(range.top - range.spread, range.top);
    int found = 0;
    for (int tries = 0; tries < 4000 && found < 400; ++tries) {
      const int64_t a = sum(rng), b = sum(rng), c = sum(rng);
      const int64_t from = sum(rng) - 3000;
      for (int64_t d = std::max(from, int64_t{0}); d < from + 3000 && found < 400; ++d) {
        const ReferenceEstimate e = Reference(a, b, c, d);
        if (e.n == 0) continue;
        const int64_t rest = std::abs(e.numerator) % -e.n;
        if (rest > 1 && rest < -e.n - 1) continue;
        add(a, b, c, d);
        ++found;
      }
    }
    EXPECT_GE(found, range.want) << range.top << " " << range.spread;
  }
  ExpectCodesMatchReference(h, d1, v, d2);
}

// The anisotropy's quotient where an error of one shows: whole quotients and those one away,
// and the largest, 255, for sums up to the bound 2^22.
TEST(DirectionCodes, RowAnisotropiesAreExactAtQuotientBoundaries) {
  std::vector<int32_t> sums[4];
  std::mt19937 rng(13);
  int whole = 0, clamped = 0, negative = 0;
  for (int64_t top : {int64_t{300}, int64_t{318750}, int64_t{1} << 22}) {
    for (int64_t spread : {top / 8, top}) {
      std::uniform_int_distribution<int64_t> sum(top - spread, top);
      for (int tries = 0; tries < 200000; ++tries) {
        const int64_t a = sum(rng), b = sum(rng), c = sum(rng), d = sum(rng);
        const ReferenceEstimate e = Reference(a, b, c, d);
        if (e.n == 0) continue;
        const bool near_whole =
            e.top > 0 && (e.scaled % e.top <= 1 || e.scaled % e.top >= e.top - 1);
        const bool near_clamp = e.top > 0 && std::abs(e.scaled - 256 * e.top) <= e.top;
        if (!near_whole && !near_clamp && e.top > 0) continue;
        whole += near_whole ? 1 : 0;
        clamped += near_clamp ? 1 : 0;
        negative += e.top < 0 ? 1 : 0;
        for (int g = 0; g < 4; ++g)
          sums[g].push_back(static_cast<int32_t>(g == 0 ? a : g == 1 ? b : g == 2 ? c : d));
      }
    }
  }
  // The chosen sector has lo <= hi and c >= 0, so quotients reach 255 (lo = hi) but not 256,
  // and divisors are not negative: the row form's clamps are not reached by any sums.
  EXPECT_GT(whole, 100);
  EXPECT_GT(clamped, 20);
  EXPECT_EQ(negative, 0);
  ExpectCodesAgree(sums[0], sums[1], sums[2], sums[3]);
}

// Runs of windows without any change (skipped whole) beside single changing windows at every
// position within and across vectors and blocks, in rows of odd lengths.
TEST(DirectionCodes, RowFormSkipsOnlyFlatRuns) {
  for (int count : {1, 15, 17, 64, 200, 333}) {
    std::vector<int32_t> sums[4];
    for (auto& s : sums) s.assign(static_cast<size_t>(count), 0);
    for (int at : {0, 7, 15, 16, 31, 63, 64, 65, 127, 128, 199, 300, 332}) {
      if (at >= count) continue;
      sums[static_cast<size_t>(at % 4)][static_cast<size_t>(at)] = 40 + at;
    }
    ExpectCodesAgree(sums[0], sums[1], sums[2], sums[3]);
    ExpectCodesMatchReference(sums[0], sums[1], sums[2], sums[3]);
  }
}

TEST(DirectionCodes, RowFormEqualsThePixelFormOnEdgeCases) {
  // All equal (no direction), one sum alone, the wrap of code 120 to 0, and scaled diagonals
  // that tie with the straight sums only after the 71 / 100 scaling.
  const std::vector<int32_t> h = {0, 5, 0, 100, 0, 71, 100, 1 << 20, 0, 7};
  const std::vector<int32_t> d1 = {0, 5, 9, 100, 100, 100, 0, 0, 1 << 23, 0};
  const std::vector<int32_t> v = {0, 5, 0, 0, 71, 71, 100, 1 << 20, 0, 7};
  const std::vector<int32_t> d2 = {0, 5, 0, 100, 100, 0, 141, 1 << 21, 0, 10};
  ExpectCodesAgree(h, d1, v, d2);
  // Every combination of four small sums.
  std::vector<int32_t> a, b, c, d;
  for (int i = 0; i < 6 * 6 * 6 * 6; ++i) {
    a.push_back(i % 6 * 40);
    b.push_back(i / 6 % 6 * 57);
    c.push_back(i / 36 % 6 * 40);
    d.push_back(i / 216 * 57);
  }
  ExpectCodesAgree(a, b, c, d);
}

}  // namespace
}  // namespace ridgeline
