// One-dimensional synthesis and analysis of a line, applied along the columns and rows of every
// split step. Lines are copied out, their two halves extended by symmetric reflection into
// padded buffers, filtered without bounds checks in the loop, and written back.
#include "image/wsq_transform.h"

#include <algorithm>
#include <cassert>

namespace ridgeline::image::wsq {
namespace {

int FloorDiv2(int n) { return n >= 0 ? n / 2 : -((1 - n) / 2); }

// How a sequence continues past its ends. Each end reflects either about its last sample
// (whole-sample: s[-1] = s[1]) or about the point just beyond it (half-sample: s[-1] = s[0]);
// `negate` makes the reflection antisymmetric, and `zero_at_right` puts an implied zero right
// after the last sample (the antisymmetric centre of an odd-length line's highpass half).
struct Extension {
  bool left_whole = true;
  bool right_whole = true;
  bool negate = false;
  bool zero_at_right = false;
};

// Value at index k (any integer) of the extension of s. Lines shorter than the filter reflect
// more than once; a line of one sample extends as a constant and an empty one as zeros.
float Extended(std::span<const float> s, int k, const Extension& e) {
  const int n = static_cast<int>(s.size());
  if (n == 0) return 0.0f;
  if (n == 1 && !e.zero_at_right) return s[0];
  bool negative = false;
  for (int bounces = 0; bounces < 64; ++bounces) {
    if (k >= 0 && k < n) return negative ? -s[static_cast<size_t>(k)] : s[static_cast<size_t>(k)];
    if (k < 0) {
      k = e.left_whole ? -k : -1 - k;
    } else {
      if (e.zero_at_right && k == n) return 0.0f;
      k = e.zero_at_right ? 2 * n - k : (e.right_whole ? 2 * n - 2 - k : 2 * n - 1 - k);
    }
    if (e.negate) negative = !negative;
  }
  return 0.0f;
}

// A band's samples with `pad` extended samples on each side: at(k) for -pad <= k < size + pad.
class PaddedBand {
 public:
  void Fill(std::span<const float> s, int pad, const Extension& e) {
    pad_ = pad;
    const int n = static_cast<int>(s.size());
    values_.resize(s.size() + 2 * static_cast<size_t>(pad));
    std::copy(s.begin(), s.end(), values_.begin() + pad);
    for (int k = 1; k <= pad; ++k) {
      values_[static_cast<size_t>(pad - k)] = Extended(s, -k, e);
      values_[static_cast<size_t>(pad + n - 1 + k)] = Extended(s, n - 1 + k, e);
    }
  }
  float at(int k) const { return values_[static_cast<size_t>(k + pad_)]; }
  // The samples from index k on.
  const float* from(int k) const { return values_.data() + pad_ + k; }

 private:
  std::vector<float> values_;
  int pad_ = 0;
};

class LineFilter {
 public:
  explicit LineFilter(const FilterBank& bank) : bank_(bank) {
    odd_ = bank.lowpass.size() % 2 == 1;
    pad_ = static_cast<int>(std::max(bank.lowpass.size(), bank.highpass.size())) / 2 + 2;
  }

  // line holds the lowpass half then the highpass half (the reverse when inverted); it is
  // replaced by the reconstructed samples.
  void Synthesise(std::span<float> line, bool inverted) {
    const int n = static_cast<int>(line.size());
    const int n_low = (n + 1) / 2;
    const int n_high = n / 2;
    const std::span<const float> low = inverted ? line.subspan(static_cast<size_t>(n_high))
                                                : line.first(static_cast<size_t>(n_low));
    const std::span<const float> high = inverted ? line.first(static_cast<size_t>(n_high))
                                                 : line.subspan(static_cast<size_t>(n_low));
    const bool even_n = n % 2 == 0;
    const std::vector<float>& g0 = bank_.lowpass;
    const std::vector<float>& g1 = bank_.highpass;
    const int l0 = static_cast<int>(g0.size());
    const int l1 = static_cast<int>(g1.size());
    out_.resize(static_cast<size_t>(n));
    if (odd_) {
      low_.Fill(low, pad_, {true, !even_n, false, false});
      high_.Fill(high, pad_, {false, even_n, false, false});
    } else {
      low_.Fill(low, pad_, {false, !even_n, false, false});
      high_.Fill(high, pad_, {false, false, true, !even_n});
    }
    // Output i = 2m + p takes the same taps, at the same offsets from m, for every m of one
    // parity p; summing term by term over all m keeps each output's order of additions
    // (lowpass terms, then highpass terms, each by increasing k) and lets the loops run flat.
    for (int p = 0; p < 2 && p < n; ++p) {
      const size_t count = static_cast<size_t>(n - p + 1) / 2;
      sums_.resize(count);
      bool first = true;
      auto term = [&](const PaddedBand& band, int d, float tap) {
        const float* source = band.from(d);
        float* sums = sums_.data();
        if (first) {
          for (size_t m = 0; m < count; ++m) sums[m] = source[m] * tap;
          first = false;
        } else {
          for (size_t m = 0; m < count; ++m) sums[m] += source[m] * tap;
        }
      };
      if (odd_) {
        // Lowpass sample k sits at position 2k, highpass sample k at 2k + 1; k = m + d.
        const int a = (l0 - 1) / 2;
        const int b = (l1 - 1) / 2;
        for (int d = -FloorDiv2(a - p); d <= FloorDiv2(p + a); ++d) {
          term(low_, d, g0[static_cast<size_t>(a + p - 2 * d)]);
        }
        for (int d = -FloorDiv2(b - p + 1); d <= FloorDiv2(p - 1 + b); ++d) {
          term(high_, d, g1[static_cast<size_t>(b + p - 2 * d - 1)]);
        }
      } else {
        // Tap index i - 2k + c must lie in 0 .. l - 1.
        const int c0 = l0 / 2 - 1;
        const int c1 = l1 / 2 - 1;
        for (int d = FloorDiv2(p + c0 - l0) + 1; d <= FloorDiv2(p + c0); ++d) {
          term(low_, d, g0[static_cast<size_t>(p - 2 * d + c0)]);
        }
        for (int d = FloorDiv2(p + c1 - l1) + 1; d <= FloorDiv2(p + c1); ++d) {
          term(high_, d, g1[static_cast<size_t>(p - 2 * d + c1)]);
        }
      }
      for (size_t m = 0; m < count; ++m) out_[2 * m + static_cast<size_t>(p)] = sums_[m];
    }
    std::copy(out_.begin(), out_.end(), line.begin());
  }

  // line holds samples; it is replaced by the lowpass half then the highpass half (the reverse
  // when inverted).
  void Analyse(std::span<float> line, bool inverted) {
    const int n = static_cast<int>(line.size());
    const int n_low = (n + 1) / 2;
    const int n_high = n / 2;
    const std::vector<float>& h0 = bank_.lowpass;
    const std::vector<float>& h1 = bank_.highpass;
    const int l0 = static_cast<int>(h0.size());
    const int l1 = static_cast<int>(h1.size());
    const int pad = std::max(l0, l1) + 2;
    if (odd_) {
      low_.Fill(line, pad, {true, true, false, false});
    } else {
      low_.Fill(line, pad, {false, false, false, false});
    }
    out_.resize(static_cast<size_t>(n));
    float* low = out_.data() + (inverted ? n_high : 0);
    float* high = out_.data() + (inverted ? 0 : n_low);
    const int low_origin = odd_ ? -(l0 - 1) / 2 : -l0 / 2 + 1;
    const int high_origin = odd_ ? 1 - (l1 - 1) / 2 : -l1 / 2 + 1;
    const float high_sign = odd_ ? 1.0f : -1.0f;
    for (int k = 0; k < n_low; ++k) {
      const int at = 2 * k + low_origin;
      float sum = h0[0] * low_.at(at);
      for (int i = 1; i < l0; ++i) sum += h0[static_cast<size_t>(i)] * low_.at(at + i);
      low[k] = sum;
    }
    for (int k = 0; k < n_high; ++k) {
      const int at = 2 * k + high_origin;
      float sum = high_sign * h1[0] * low_.at(at);
      for (int i = 1; i < l1; ++i) {
        sum += high_sign * h1[static_cast<size_t>(i)] * low_.at(at + i);
      }
      high[k] = sum;
    }
    std::copy(out_.begin(), out_.end(), line.begin());
  }

 private:
  const FilterBank& bank_;
  bool odd_ = true;
  int pad_ = 0;
  PaddedBand low_;
  PaddedBand high_;
  std::vector<float> out_;
  std::vector<float> sums_;
};

// Runs `apply` over every row (along_rows) or every column of the node's rectangle. Columns are
// copied out a few at a time so that each pass over the rows reads neighbouring values.
template <typename Apply>
void ForEachLine(std::span<float> plane, int width, const Rect& r, bool along_rows, Apply apply) {
  if (along_rows) {
    for (int j = 0; j < r.height; ++j) {
      apply(
          plane.subspan(static_cast<size_t>(r.y + j) * width + r.x, static_cast<size_t>(r.width)));
    }
    return;
  }
  constexpr int kColumnsAtOnce = 16;
  const size_t length = static_cast<size_t>(r.height);
  std::vector<float> columns(length * kColumnsAtOnce);
  for (int j0 = 0; j0 < r.width; j0 += kColumnsAtOnce) {
    const int count = std::min(kColumnsAtOnce, r.width - j0);
    for (size_t i = 0; i < length; ++i) {
      const float* row = plane.data() + (r.y + i) * width + r.x + j0;
      for (int c = 0; c < count; ++c) columns[static_cast<size_t>(c) * length + i] = row[c];
    }
    for (int c = 0; c < count; ++c) {
      apply(std::span<float>(columns).subspan(static_cast<size_t>(c) * length, length));
    }
    for (size_t i = 0; i < length; ++i) {
      float* row = plane.data() + (r.y + i) * width + r.x + j0;
      for (int c = 0; c < count; ++c) row[c] = columns[static_cast<size_t>(c) * length + i];
    }
  }
}

void CheckBank(const FilterBank& bank) {
  assert(!bank.lowpass.empty() && !bank.highpass.empty());
  assert(bank.lowpass.size() % 2 == bank.highpass.size() % 2);
  (void)bank;
}

}  // namespace

FilterBank SynthesisBank(std::span<const float> lowpass_half, int lowpass_length,
                         std::span<const float> highpass_half, int highpass_length) {
  assert(lowpass_half.size() == static_cast<size_t>(lowpass_length + 1) / 2);
  assert(highpass_half.size() == static_cast<size_t>(highpass_length + 1) / 2);
  FilterBank bank;
  bank.highpass.resize(static_cast<size_t>(lowpass_length));
  bank.lowpass.resize(static_cast<size_t>(highpass_length));
  auto alternate = [](size_t k, float v) { return k % 2 == 0 ? v : -v; };
  if (lowpass_length % 2 == 1) {
    // Whole-sample symmetric filters: the stored half starts with the centre tap.
    const size_t a = static_cast<size_t>(lowpass_length - 1) / 2;
    for (size_t k = 0; k <= a; ++k) {
      bank.highpass[a + k] = bank.highpass[a - k] = alternate(k, lowpass_half[k]);
    }
    const size_t b = static_cast<size_t>(highpass_length - 1) / 2;
    for (size_t k = 0; k <= b; ++k) {
      bank.lowpass[b + k] = bank.lowpass[b - k] = alternate(k, highpass_half[k]);
    }
  } else {
    // Half-sample filters: the stored half starts just right of the midpoint; the synthesis
    // highpass is antisymmetric, the synthesis lowpass symmetric.
    const size_t a = static_cast<size_t>(lowpass_length) / 2 - 1;
    for (size_t k = 0; k <= a; ++k) {
      bank.highpass[a + 1 + k] = alternate(k, lowpass_half[k]);
      bank.highpass[a - k] = -bank.highpass[a + 1 + k];
    }
    const size_t b = static_cast<size_t>(highpass_length) / 2 - 1;
    for (size_t k = 0; k <= b; ++k) {
      bank.lowpass[b + 1 + k] = alternate(k + 1, highpass_half[k]);
      bank.lowpass[b - k] = bank.lowpass[b + 1 + k];
    }
  }
  return bank;
}

void Reconstruct(std::span<float> plane, int width, const Geometry& geometry,
                 const FilterBank& synthesis) {
  CheckBank(synthesis);
  LineFilter filter(synthesis);
  for (int i = kNodes - 1; i >= 0; --i) {
    const Node& node = geometry.nodes[static_cast<size_t>(i)];
    if (node.rect.area() == 0) continue;
    ForEachLine(plane, width, node.rect, false,
                [&](std::span<float> line) { filter.Synthesise(line, node.invert_y); });
    ForEachLine(plane, width, node.rect, true,
                [&](std::span<float> line) { filter.Synthesise(line, node.invert_x); });
  }
}

void Decompose(std::span<float> plane, int width, const Geometry& geometry,
               const FilterBank& analysis) {
  CheckBank(analysis);
  LineFilter filter(analysis);
  for (int i = 0; i < kNodes; ++i) {
    const Node& node = geometry.nodes[static_cast<size_t>(i)];
    if (node.rect.area() == 0) continue;
    ForEachLine(plane, width, node.rect, true,
                [&](std::span<float> line) { filter.Analyse(line, node.invert_x); });
    ForEachLine(plane, width, node.rect, false,
                [&](std::span<float> line) { filter.Analyse(line, node.invert_y); });
  }
}

}  // namespace ridgeline::image::wsq
