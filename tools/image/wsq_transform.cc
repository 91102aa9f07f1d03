// One-dimensional synthesis and analysis of a line, applied along the columns and rows of every
// split step. Lines are copied out, their two halves extended by symmetric reflection into
// padded buffers, filtered without bounds checks in the loop, and written back.
#include "tools/image/wsq_transform.h"

#include <algorithm>
#include <cassert>

namespace ridgeline::tools::wsq {
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
    values_.resize(s.size() + 2 * static_cast<size_t>(pad));
    for (int k = -pad; k < static_cast<int>(s.size()) + pad; ++k) {
      values_[static_cast<size_t>(k + pad)] = Extended(s, k, e);
    }
  }
  float at(int k) const { return values_[static_cast<size_t>(k + pad_)]; }

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
      const int a = (l0 - 1) / 2;
      const int b = (l1 - 1) / 2;
      for (int i = 0; i < n; ++i) {
        // Lowpass sample k sits at position 2k, highpass sample k at 2k + 1.
        const int k_low = -FloorDiv2(a - i);
        float sum = low_.at(k_low) * g0[static_cast<size_t>(a + i - 2 * k_low)];
        for (int k = k_low + 1; k <= FloorDiv2(i + a); ++k) {
          sum += low_.at(k) * g0[static_cast<size_t>(a + i - 2 * k)];
        }
        for (int k = -FloorDiv2(b - i + 1); k <= FloorDiv2(i - 1 + b); ++k) {
          sum += high_.at(k) * g1[static_cast<size_t>(b + i - 2 * k - 1)];
        }
        out_[static_cast<size_t>(i)] = sum;
      }
    } else {
      low_.Fill(low, pad_, {false, !even_n, false, false});
      high_.Fill(high, pad_, {false, false, true, !even_n});
      const int c0 = l0 / 2 - 1;
      const int c1 = l1 / 2 - 1;
      for (int i = 0; i < n; ++i) {
        // Tap index i - 2k + c must lie in 0 .. l - 1.
        const int k_low = FloorDiv2(i + c0 - l0) + 1;
        float sum = low_.at(k_low) * g0[static_cast<size_t>(i - 2 * k_low + c0)];
        for (int k = k_low + 1; k <= FloorDiv2(i + c0); ++k) {
          sum += low_.at(k) * g0[static_cast<size_t>(i - 2 * k + c0)];
        }
        for (int k = FloorDiv2(i + c1 - l1) + 1; k <= FloorDiv2(i + c1); ++k) {
          sum += high_.at(k) * g1[static_cast<size_t>(i - 2 * k + c1)];
        }
        out_[static_cast<size_t>(i)] = sum;
      }
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
};

// Runs `filter` over every row (along_rows) or every column of the node's rectangle.
template <typename Apply>
void ForEachLine(std::span<float> plane, int width, const Rect& r, bool along_rows, Apply apply) {
  const int lines = along_rows ? r.height : r.width;
  const int length = along_rows ? r.width : r.height;
  std::vector<float> line(static_cast<size_t>(length));
  for (int j = 0; j < lines; ++j) {
    const size_t origin = along_rows ? static_cast<size_t>(r.y + j) * width + r.x
                                     : static_cast<size_t>(r.y) * width + r.x + j;
    const size_t step = along_rows ? 1 : static_cast<size_t>(width);
    for (int i = 0; i < length; ++i) line[static_cast<size_t>(i)] = plane[origin + i * step];
    apply(std::span<float>(line));
    for (int i = 0; i < length; ++i) plane[origin + i * step] = line[static_cast<size_t>(i)];
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

}  // namespace ridgeline::tools::wsq
