// The encoder mirrors the decoder. The image is shifted to mean zero and scaled into about
// -128..128; after the decomposition each subband's variance (over a central window, which
// leaves out the borders a print rarely fills) decides its bin width so that the total rate
// meets the target; subbands whose share would not be worth its bits get no bits at all.
#include "image/wsq_encoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "image/wsq_huffman.h"
#include "image/wsq_subbands.h"
#include "image/wsq_transform.h"

namespace ridgeline::image {
namespace {

using wsq::kCodedSubbands;
using wsq::kSubbands;

// The analysis filters: the biorthogonal 9/7 pair, whole-sample symmetric.
const wsq::FilterBank& AnalysisFilters() {
  static const wsq::FilterBank bank{
      {0.03782845550699546f, -0.02384946501938000f, -0.11062440441842342f, 0.37740285561265380f,
       0.85269867900940344f, 0.37740285561265380f, -0.11062440441842342f, -0.02384946501938000f,
       0.03782845550699546f},
      {0.06453888262893845f, -0.04068941760955844f, -0.41809227322221221f, 0.78848561640566439f,
       -0.41809227322221221f, -0.04068941760955844f, 0.06453888262893845f}};
  return bank;
}

// Below this summed variance of the four lowest subbands the image is nearly flat and the
// variances are taken over whole subbands instead of their central windows.
constexpr float kFlatImageVariance = 20000.0f;
// Subbands with less variance carry nothing worth coding.
constexpr float kMinCodedVariance = 1.01f;
constexpr float kBinCentre = 0.44f;
constexpr double kZeroBinRatio = 1.2;

// Weights of the high-frequency subbands 52..59 in the bit allocation (1 for the others).
constexpr std::array<float, 8> kHighBandWeights = {1.32f, 1.08f, 1.42f, 1.08f,
                                                   1.32f, 1.42f, 1.08f, 1.08f};

float SubbandWeight(int k) {
  return k >= 52 ? kHighBandWeights[static_cast<size_t>(k - 52)] : 1.0f;
}

// Share of the image's pixels in subband k.
float AreaShare(int k) { return k < 4 ? 1.0f / 1024 : k < 51 ? 1.0f / 256 : 1.0f / 16; }

float Variance(const std::vector<float>& plane, int width, const wsq::Rect& r, bool window) {
  wsq::Rect w = r;
  if (window) {
    w = {r.x + r.width / 8, r.y + 9 * r.height / 32, 3 * r.width / 4, 7 * r.height / 16};
  }
  const int n = w.area();
  if (n < 2) return 0.0f;
  float sum = 0.0f;
  float squares = 0.0f;
  for (int y = w.y; y < w.y + w.height; ++y) {
    const float* row = plane.data() + static_cast<size_t>(y) * width;
    for (int x = w.x; x < w.x + w.width; ++x) {
      sum += row[x];
      squares += row[x] * row[x];
    }
  }
  const float mean_part = sum * sum / static_cast<float>(n);
  return static_cast<float>(static_cast<double>(squares - mean_part) / (n - 1));
}

struct BinWidths {
  std::array<float, kSubbands> q{};  // 0: not coded
  std::array<float, kSubbands> z{};
};

BinWidths AllocateBits(const std::array<float, kSubbands>& variance, float bitrate) {
  BinWidths bins;
  std::array<bool, kCodedSubbands> in_set{};
  std::array<float, kCodedSubbands> relative{};  // bin width before the common factor
  std::array<float, kCodedSubbands> sigma{};
  bool any = false;
  for (int k = 0; k < kCodedSubbands; ++k) {
    if (variance[k] < kMinCodedVariance) continue;
    in_set[k] = any = true;
    sigma[k] = static_cast<float>(std::sqrt(static_cast<double>(variance[k])));
    relative[k] = k < 4 ? 1.0f
                        : 10.0f / (SubbandWeight(k) *
                                   static_cast<float>(std::log(static_cast<double>(variance[k]))));
  }
  if (!any) return bins;
  const std::array<bool, kCodedSubbands> initial = in_set;
  float q = 0.0f;
  for (;;) {
    float share = 0.0f;
    float product = 1.0f;
    for (int k = 0; k < kCodedSubbands; ++k) {
      if (!in_set[k]) continue;
      share += AreaShare(k);
      product = static_cast<float>(
          static_cast<double>(product) *
          std::pow(static_cast<double>(sigma[k] / relative[k]), static_cast<double>(AreaShare(k))));
    }
    q = static_cast<float>(std::pow(2.0, static_cast<double>(bitrate / share) - 1.0) / 2.5 /
                           std::pow(static_cast<double>(product), 1.0 / share));
    bool removed = false;
    for (int k = 0; k < kCodedSubbands; ++k) {
      if (in_set[k] && relative[k] / q >= 5.0 * static_cast<double>(sigma[k])) {
        in_set[k] = false;
        removed = true;
      }
    }
    if (!removed) break;
    bool left = false;
    for (bool b : in_set) left = left || b;
    if (!left) break;
  }
  for (int k = 0; k < kCodedSubbands; ++k) {
    if (!initial[k]) continue;
    bins.q[k] = relative[k] / q;
    bins.z[k] = static_cast<float>(kZeroBinRatio * bins.q[k]);
  }
  return bins;
}

// Quantized values travel as 16-bit magnitudes. At rates far above what prints need the
// allocation can make a low subband's bins so narrow that its largest coefficient would not
// fit; such a subband gets the narrowest bins that still hold it, rather than clipped values.
void FitSixteenBits(const std::vector<float>& plane, int width, const wsq::Geometry& geometry,
                    BinWidths* bins) {
  constexpr float kLargestMagnitude = 65535.0f;
  for (int k = 0; k < kCodedSubbands; ++k) {
    if (bins->q[k] == 0.0f) continue;
    const wsq::Rect& r = geometry.subbands[k];
    float largest = 0.0f;
    for (int y = r.y; y < r.y + r.height; ++y) {
      const float* row = plane.data() + static_cast<size_t>(y) * width;
      for (int x = r.x; x < r.x + r.width; ++x) largest = std::max(largest, std::abs(row[x]));
    }
    if (largest / bins->q[k] < kLargestMagnitude - 2.0f) continue;
    bins->q[k] = largest / (kLargestMagnitude - 2.0f);
    bins->z[k] = static_cast<float>(kZeroBinRatio * bins->q[k]);
  }
}

int32_t Quantize(float c, float q, float z) {
  const float half = z / 2.0f;
  int32_t p = 0;
  if (c > half) {
    p = static_cast<int32_t>(static_cast<double>((c - half) / q) + 1.0);
  } else if (c < -half) {
    p = static_cast<int32_t>(static_cast<double>((c + half) / q) - 1.0);
  }
  // Magnitudes travel in at most 16 bits.
  return std::clamp(p, -65535, 65535);
}

// A symbol and the extra bits that follow its code.
struct Symbol {
  uint8_t symbol;
  uint8_t extra_bits;
  uint16_t extra;
};

void EmitRun(uint32_t run, std::vector<Symbol>* out) {
  if (run <= static_cast<uint32_t>(wsq::kMaxShortRun)) {
    out->push_back({static_cast<uint8_t>(run), 0, 0});
  } else if (run <= 255) {
    out->push_back({wsq::kRun8, 8, static_cast<uint16_t>(run)});
  } else {
    out->push_back({wsq::kRun16, 16, static_cast<uint16_t>(run)});
  }
}

void EmitValue(int32_t v, std::vector<Symbol>* out) {
  if (v >= wsq::kMinShortValue && v <= wsq::kMaxShortValue) {
    out->push_back({static_cast<uint8_t>(v + wsq::kValueOffset), 0, 0});
  } else if (v > 0) {
    out->push_back(v <= 255 ? Symbol{wsq::kPositive8, 8, static_cast<uint16_t>(v)}
                            : Symbol{wsq::kPositive16, 16, static_cast<uint16_t>(v)});
  } else {
    out->push_back(-v <= 255 ? Symbol{wsq::kNegative8, 8, static_cast<uint16_t>(-v)}
                             : Symbol{wsq::kNegative16, 16, static_cast<uint16_t>(-v)});
  }
}

std::vector<Symbol> BlockSymbols(const std::vector<int32_t>& coefficients) {
  std::vector<Symbol> symbols;
  uint32_t run = 0;
  for (int32_t p : coefficients) {
    if (p == 0) {
      if (run == 65535) {
        EmitRun(run, &symbols);
        run = 0;
      }
      ++run;
      continue;
    }
    if (run > 0) EmitRun(run, &symbols);
    run = 0;
    EmitValue(p, &symbols);
  }
  if (run > 0) EmitRun(run, &symbols);
  return symbols;
}

class ByteWriter {
 public:
  void U8(uint32_t v) { bytes_.push_back(static_cast<uint8_t>(v)); }
  void U16(uint32_t v) { U8(v >> 8), U8(v); }
  void U32(uint32_t v) { U16(v >> 16), U16(v); }
  void Marker(uint8_t code) { U8(0xFF), U8(code); }
  // Writes the length of a segment started at `start` (the offset of its length field).
  size_t BeginSegment(uint8_t code) {
    Marker(code);
    U16(0);
    return bytes_.size() - 2;
  }
  void EndSegment(size_t start) {
    const size_t length = bytes_.size() - start;
    bytes_[start] = static_cast<uint8_t>(length >> 8);
    bytes_[start + 1] = static_cast<uint8_t>(length);
  }
  // A real number as exponent and mantissa: the mantissa keeps as many digits as fit in
  // `limit`.
  void Scaled(float value, double limit, bool wide) {
    if (value == 0.0f) {
      U8(0);
      wide ? U32(0) : U16(0);
      return;
    }
    if (value >= limit) {  // no room for a fraction: the nearest whole number that fits
      U8(0);
      const uint32_t whole = static_cast<uint32_t>(std::min<double>(value + 0.5, limit));
      wide ? U32(whole) : U16(whole);
      return;
    }
    int count = 0;
    while (value < limit) {
      value *= 10.0f;
      ++count;
    }
    const uint32_t mantissa = static_cast<uint32_t>(static_cast<double>(value) / 10.0 + 0.5);
    U8(static_cast<uint32_t>(count - 1));
    wide ? U32(mantissa) : U16(mantissa);
  }

  // Entropy-coded bits, most significant first, with a 0x00 stuffed after every 0xFF.
  void Bits(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      current_ = static_cast<uint8_t>((current_ << 1) | ((value >> i) & 1));
      if (++filled_ == 8) FlushByte();
    }
  }
  // Pads the last byte with 1-bits.
  void EndBits() {
    while (filled_ != 0) Bits(1, 1);
  }

  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  void FlushByte() {
    U8(current_);
    if (current_ == 0xFF) U8(0x00);
    current_ = 0;
    filled_ = 0;
  }
  std::vector<uint8_t> bytes_;
  uint8_t current_ = 0;
  int filled_ = 0;
};

void WriteHuffmanTable(ByteWriter& out, int id, const wsq::HuffmanTable& table) {
  const size_t start = out.BeginSegment(0xA6);
  out.U8(static_cast<uint32_t>(id));
  for (uint8_t b : table.bits) out.U8(b);
  for (uint8_t v : table.values) out.U8(v);
  out.EndSegment(start);
}

void WriteBlock(ByteWriter& out, int table_id, const wsq::HuffmanTable& table,
                const std::vector<Symbol>& symbols) {
  const size_t start = out.BeginSegment(0xA3);
  out.U8(static_cast<uint32_t>(table_id));
  out.EndSegment(start);
  const std::array<wsq::HuffmanCode, 256> codes = wsq::CanonicalCodes(table);
  for (const Symbol& s : symbols) {
    out.Bits(codes[s.symbol].code, codes[s.symbol].length);
    if (s.extra_bits > 0) out.Bits(s.extra, s.extra_bits);
  }
  out.EndBits();
}

wsq::HuffmanTable TableFor(const std::vector<Symbol>& a, const std::vector<Symbol>* b) {
  std::array<uint32_t, 256> frequencies{};
  for (const Symbol& s : a) ++frequencies[s.symbol];
  if (b != nullptr) {
    for (const Symbol& s : *b) ++frequencies[s.symbol];
  }
  // An empty block still needs a table to name; any one symbol serves.
  if (a.empty() && (b == nullptr || b->empty())) frequencies[1] = 1;
  return wsq::OptimalHuffmanTable(frequencies);
}

std::string Nistcom(int width, int height, int ppi, double bitrate) {
  char rate[32];
  std::snprintf(rate, sizeof rate, "%f", bitrate);
  return "NIST_COM 9\nPIX_WIDTH " + std::to_string(width) + "\nPIX_HEIGHT " +
         std::to_string(height) + "\nPIX_DEPTH 8\nPPI " + std::to_string(ppi) +
         "\nLOSSY 1\nCOLORSPACE GRAY\nCOMPRESSION WSQ\nWSQ_BITRATE " + rate;
}

// What the quantization works on: the image's wavelet subbands and their variances, computed
// once however many quantizations the rate control tries.
struct Analysis {
  int width = 0;
  int height = 0;
  float shift = 0.0f;
  float scale = 1.0f;
  wsq::Geometry geometry;
  std::vector<float> plane;
  std::array<float, kSubbands> variance{};
};

Analysis Analyse(const PrintImage& image) {
  Analysis a;
  a.width = image.width;
  a.height = image.height;
  // Shift to mean zero and scale so that the extreme pixel lands at +-128.
  uint64_t sum = 0;
  uint8_t lowest = 255;
  uint8_t highest = 0;
  for (uint8_t p : image.pixels) {
    sum += p;
    lowest = std::min(lowest, p);
    highest = std::max(highest, p);
  }
  a.shift = static_cast<float>(sum) / static_cast<float>(image.pixels.size());
  a.scale = std::max(a.shift - lowest, highest - a.shift) / 128.0f;
  if (a.scale == 0.0f) a.scale = 1.0f;  // a flat image
  a.plane.resize(image.pixels.size());
  for (size_t i = 0; i < a.plane.size(); ++i) {
    a.plane[i] = (static_cast<float>(image.pixels[i]) - a.shift) / a.scale;
  }

  a.geometry = wsq::ComputeGeometry(a.width, a.height);
  wsq::Decompose(a.plane, a.width, a.geometry, AnalysisFilters());

  float lowest_bands = 0.0f;
  for (int k = 0; k < 4; ++k) {
    a.variance[k] = Variance(a.plane, a.width, a.geometry.subbands[k], true);
    lowest_bands += a.variance[k];
  }
  const bool flat = lowest_bands < kFlatImageVariance;
  for (int k = flat ? 0 : 4; k < kCodedSubbands; ++k) {
    a.variance[k] = Variance(a.plane, a.width, a.geometry.subbands[k], !flat);
  }
  return a;
}

// One whole file with the bins the allocation gives for allocation_rate; the comment records
// comment_rate (what the caller asked for).
std::vector<uint8_t> Encode(const Analysis& a, float allocation_rate, double comment_rate,
                            int ppi) {
  const int width = a.width;
  const int height = a.height;
  const wsq::Geometry& geometry = a.geometry;
  const std::vector<float>& plane = a.plane;
  BinWidths bins = AllocateBits(a.variance, allocation_rate);
  FitSixteenBits(plane, width, geometry, &bins);

  std::array<std::vector<int32_t>, 3> blocks;
  for (int k = 0; k < kCodedSubbands; ++k) {
    if (bins.q[k] == 0.0f) continue;
    auto& block = blocks[k < wsq::kSecondBlockStart ? 0 : k < wsq::kThirdBlockStart ? 1 : 2];
    const wsq::Rect& r = geometry.subbands[k];
    for (int y = r.y; y < r.y + r.height; ++y) {
      const float* row = plane.data() + static_cast<size_t>(y) * width;
      for (int x = r.x; x < r.x + r.width; ++x) {
        block.push_back(Quantize(row[x], bins.q[k], bins.z[k]));
      }
    }
  }
  std::array<std::vector<Symbol>, 3> symbols;
  for (size_t b = 0; b < 3; ++b) symbols[b] = BlockSymbols(blocks[b]);
  const wsq::HuffmanTable first_table = TableFor(symbols[0], nullptr);
  const wsq::HuffmanTable second_table = TableFor(symbols[1], &symbols[2]);

  ByteWriter out;
  out.Marker(0xA0);
  const std::string comment = Nistcom(width, height, ppi, comment_rate);
  size_t start = out.BeginSegment(0xA8);
  for (char c : comment) out.U8(static_cast<uint8_t>(c));
  out.EndSegment(start);

  start = out.BeginSegment(0xA4);
  const wsq::FilterBank& filters = AnalysisFilters();
  out.U8(static_cast<uint32_t>(filters.lowpass.size()));
  out.U8(static_cast<uint32_t>(filters.highpass.size()));
  for (const std::vector<float>* taps : {&filters.lowpass, &filters.highpass}) {
    for (size_t i = taps->size() / 2; i < taps->size(); ++i) {
      const float tap = (*taps)[i];
      out.U8(tap < 0.0f ? 1 : 0);
      out.Scaled(std::abs(tap), 4294967295.0, true);
    }
  }
  out.EndSegment(start);

  start = out.BeginSegment(0xA5);
  out.U8(2);
  out.U16(static_cast<uint32_t>(std::lround(kBinCentre * 100)));
  for (int k = 0; k < kSubbands; ++k) {
    out.Scaled(bins.q[k], 65535.0, false);
    out.Scaled(bins.z[k], 65535.0, false);
  }
  out.EndSegment(start);

  start = out.BeginSegment(0xA2);
  out.U8(0);    // black
  out.U8(255);  // white
  out.U16(static_cast<uint32_t>(height));
  out.U16(static_cast<uint32_t>(width));
  out.Scaled(a.shift, 65535.0, false);
  out.Scaled(a.scale, 65535.0, false);
  out.U8(2);  // encoder number
  out.U16(0);
  out.EndSegment(start);

  WriteHuffmanTable(out, 0, first_table);
  WriteBlock(out, 0, first_table, symbols[0]);
  WriteHuffmanTable(out, 1, second_table);
  WriteBlock(out, 1, second_table, symbols[1]);
  WriteBlock(out, 1, second_table, symbols[2]);
  out.Marker(0xA1);
  return out.Take();
}

// Rate control. The allocation's rate drives the common factor of every bin width, and the file
// grows with it (nearly monotonically; a subband joining the coded set makes a small step). So
// the allocation rate is searched, geometrically, for the largest file that does not exceed the
// target size; the search stops once a file lies within kRateTolerance below the target. When
// even the coarsest quantization overshoots (a tiny image whose tables alone exceed the budget)
// the smallest file is returned; when even the finest falls short, the largest.
constexpr double kRateTolerance = 0.02;
constexpr float kMinAllocationRate = 0.01f;
// Far above any useful target; keeps the allocation's 2^(rate / share) finite.
constexpr float kMaxAllocationRate = 2.0f * static_cast<float>(kMaxWsqBitrate);
constexpr int kRateSearchSteps = 24;

std::vector<uint8_t> EncodeAtFileSize(const Analysis& a, double bitrate, int ppi) {
  const double target = bitrate * static_cast<double>(a.width) * a.height / 8.0;
  std::vector<uint8_t> best;      // the largest file within the target
  std::vector<uint8_t> smallest;  // kept while nothing fits
  auto fits = [&](float rate) {
    std::vector<uint8_t> file = Encode(a, rate, bitrate, ppi);
    const bool within = static_cast<double>(file.size()) <= target;
    if (within && file.size() > best.size()) best = file;
    if (!within && (smallest.empty() || file.size() < smallest.size())) smallest = file;
    return within;
  };
  auto close_enough = [&] {
    return !best.empty() && static_cast<double>(best.size()) >= (1.0 - kRateTolerance) * target;
  };
  // Bracket the target between a rate whose file fits (low) and one whose file does not (high),
  // starting from the rate asked for, which usually undershoots.
  float low = 0.0f;
  float high = 0.0f;
  float rate = static_cast<float>(bitrate);
  if (fits(rate)) {
    low = rate;
    while (!close_enough()) {
      rate = std::min(rate * 1.5f, kMaxAllocationRate);
      if (!fits(rate)) {
        high = rate;
        break;
      }
      low = rate;
      if (rate == kMaxAllocationRate) return best;
    }
  } else {
    high = rate;
    for (;;) {
      rate = std::max(rate / 1.5f, kMinAllocationRate);
      if (fits(rate)) {
        low = rate;
        break;
      }
      high = rate;
      if (rate == kMinAllocationRate) return smallest;
    }
  }
  for (int step = 0; step < kRateSearchSteps && high > 0.0f && !close_enough(); ++step) {
    const float middle = std::sqrt(low * high);
    if (middle <= low || middle >= high) break;
    (fits(middle) ? low : high) = middle;
  }
  return best;
}

}  // namespace

std::vector<uint8_t> EncodeWsq(const PrintImage& image, double bitrate, int ppi,
                               WsqRateControl control) {
  const int width = image.width;
  const int height = image.height;
  if (width <= 0 || height <= 0 || width > 65535 || height > 65535 ||
      image.pixels.size() != static_cast<size_t>(width) * height) {
    throw InputError("WSQ holds images of 1 to 65535 pixels a side, not " + std::to_string(width) +
                     " x " + std::to_string(height));
  }
  if (!(bitrate >= kMinWsqBitrate && bitrate <= kMaxWsqBitrate)) {
    throw InputError("the WSQ bit rate must lie between 0.1 and 8 bits per pixel");
  }
  const Analysis analysis = Analyse(image);
  if (control == WsqRateControl::kReference) {
    return Encode(analysis, static_cast<float>(bitrate), bitrate, ppi);
  }
  return EncodeAtFileSize(analysis, bitrate, ppi);
}

}  // namespace ridgeline::image
