// The WSQ file is a sequence of marker segments: start of image, tables (transform filters,
// quantization, Huffman codes) and comments in any order, the frame header (size, pixel shift
// and scale), then blocks of entropy-coded coefficients each behind a block header, and the
// end-of-image marker. Coefficients of all blocks form one stream that is dealt out to the
// coded subbands in order; the size and the quantization table decide how many there must be.
#include "image/wsq_decoder.h"

#include <array>
#include <optional>
#include <vector>

#include "image/wsq_huffman.h"
#include "image/wsq_subbands.h"
#include "image/wsq_transform.h"

namespace ridgeline::image {
namespace {

using wsq::kCodedSubbands;
using wsq::kSubbands;

constexpr uint8_t kSoi = 0xA0;
constexpr uint8_t kEoi = 0xA1;
constexpr uint8_t kSof = 0xA2;
constexpr uint8_t kSob = 0xA3;
constexpr uint8_t kDtt = 0xA4;
constexpr uint8_t kDqt = 0xA5;
constexpr uint8_t kDht = 0xA6;
constexpr uint8_t kDrt = 0xA7;
constexpr uint8_t kCom = 0xA8;
constexpr int kHuffmanTables = 8;
constexpr int kMaxFilterTaps = 32;

[[noreturn]] void Fail(const std::string& what) { throw InputError(what); }

// A cursor over one marker segment's parameters; every read fails past the segment's end.
class SegmentReader {
 public:
  SegmentReader(std::span<const uint8_t> body, const char* segment)
      : body_(body), segment_(segment) {}
  uint32_t Read(int width) {
    if (static_cast<size_t>(width) > body_.size() - at_) {
      Fail(std::string("the ") + segment_ + " segment is shorter than its contents");
    }
    uint32_t value = 0;
    for (int i = 0; i < width; ++i) value = (value << 8) | body_[at_++];
    return value;
  }
  std::span<const uint8_t> Take(size_t n) {
    if (n > body_.size() - at_) {
      Fail(std::string("the ") + segment_ + " segment is shorter than its contents");
    }
    at_ += n;
    return body_.subspan(at_ - n, n);
  }
  size_t position() const { return at_; }
  size_t remaining() const { return body_.size() - at_; }

 private:
  std::span<const uint8_t> body_;
  const char* segment_;
  size_t at_ = 0;
};

// A transmitted real number: mantissa / 10^exponent, each division by ten done in double and
// rounded to float, which is how the values were meant to be read to the last bit.
float Scaled(uint32_t exponent, uint32_t mantissa) {
  float value = static_cast<float>(mantissa);
  for (uint32_t i = 0; i < exponent; ++i) {
    value = static_cast<float>(static_cast<double>(value) / 10.0);
  }
  return value;
}

struct Frame {
  int width = 0;
  int height = 0;
  float shift = 0;  // M: pixel = coefficient x R + M
  float scale = 0;  // R
};

struct Quantization {
  float bin_centre = 0;  // C
  std::array<float, kSubbands> bin_width{};
  std::array<float, kSubbands> zero_bin{};
  std::array<bool, kSubbands> coded{};
};

wsq::FilterBank ReadTransformTable(SegmentReader& in) {
  const int lowpass_length = static_cast<int>(in.Read(1));
  const int highpass_length = static_cast<int>(in.Read(1));
  for (int length : {lowpass_length, highpass_length}) {
    if (length < 2 || length > kMaxFilterTaps) {
      Fail("the transform table has a filter of " + std::to_string(length) +
           " taps (2 to 32 are possible)");
    }
  }
  if (lowpass_length % 2 != highpass_length % 2) {
    Fail("the transform table mixes an odd-length and an even-length filter");
  }
  auto read_half = [&](int length) {
    std::vector<float> half(static_cast<size_t>((length + 1) / 2));
    for (float& tap : half) {
      const uint32_t sign = in.Read(1);
      const uint32_t exponent = in.Read(1);
      const float magnitude = Scaled(exponent, in.Read(4));
      tap = sign != 0 ? -magnitude : magnitude;
    }
    return half;
  };
  const std::vector<float> lowpass_half = read_half(lowpass_length);
  const std::vector<float> highpass_half = read_half(highpass_length);
  return wsq::SynthesisBank(lowpass_half, lowpass_length, highpass_half, highpass_length);
}

Quantization ReadQuantizationTable(SegmentReader& in) {
  Quantization q;
  const uint32_t centre_exponent = in.Read(1);
  q.bin_centre = Scaled(centre_exponent, in.Read(2));
  for (int k = 0; k < kSubbands; ++k) {
    const uint32_t width_exponent = in.Read(1);
    const uint32_t width = in.Read(2);
    const uint32_t zero_exponent = in.Read(1);
    const uint32_t zero = in.Read(2);
    q.bin_width[k] = Scaled(width_exponent, width);
    q.zero_bin[k] = Scaled(zero_exponent, zero);
    // A zero bin width marks a subband that is not transmitted; the last four never are.
    q.coded[k] = k < kCodedSubbands && width != 0;
  }
  return q;
}

Frame ReadFrameHeader(SegmentReader& in) {
  Frame frame;
  in.Read(1);  // black calibration value
  in.Read(1);  // white calibration value
  frame.height = static_cast<int>(in.Read(2));
  frame.width = static_cast<int>(in.Read(2));
  const uint32_t shift_exponent = in.Read(1);
  frame.shift = Scaled(shift_exponent, in.Read(2));
  const uint32_t scale_exponent = in.Read(1);
  frame.scale = Scaled(scale_exponent, in.Read(2));
  in.Read(1);  // encoder number
  in.Read(2);  // software implementation number
  if (frame.width == 0 || frame.height == 0) {
    Fail("the frame header gives an image of " + std::to_string(frame.width) + " x " +
         std::to_string(frame.height) + " pixels");
  }
  if (frame.width > kMaxImageSide || frame.height > kMaxImageSide) {
    Fail("the image is " + std::to_string(frame.width) + " x " + std::to_string(frame.height) +
         " pixels; fingerprint images larger than " + std::to_string(kMaxImageSide) +
         " pixels a side are refused");
  }
  return frame;
}

void ReadHuffmanTables(SegmentReader& in,
                       std::array<std::optional<wsq::HuffmanTable>, kHuffmanTables>* tables) {
  while (in.remaining() > 0) {
    const uint32_t id = in.Read(1);
    if (id >= kHuffmanTables) {
      Fail("a Huffman table has the number " + std::to_string(id) + " (0 to 7 are possible)");
    }
    const std::span<const uint8_t> bits = in.Take(wsq::kMaxCodeLength);
    size_t count = 0;
    for (uint8_t b : bits) count += b;
    if (count > wsq::kMaxTableValues) Fail("a Huffman table has more than 256 codes");
    const std::span<const uint8_t> values = in.Take(count);
    wsq::HuffmanTable table;
    const char* why = nullptr;
    if (!wsq::BuildHuffmanTable(bits.first<wsq::kMaxCodeLength>(), values, &table, &why)) {
      Fail(why);
    }
    (*tables)[id] = std::move(table);
  }
}

// The PPI line of a NISTCOM comment ("KEY VALUE" lines); 0 when absent, unknown (-1) or not a
// number.
int NistcomPpi(std::span<const uint8_t> text) {
  const std::string s(text.begin(), text.end());
  int ppi = 0;
  size_t line = 0;
  while (line < s.size()) {
    size_t end = s.find('\n', line);
    if (end == std::string::npos) end = s.size();
    const std::string entry = s.substr(line, end - line);
    const size_t gap = entry.find_first_of(" \t");
    if (gap != std::string::npos && entry.compare(0, gap, "PPI") == 0) {
      const size_t digits = entry.find_first_not_of(" \t", gap);
      int value = 0;
      bool valid = digits != std::string::npos;
      for (size_t i = digits; valid && i < entry.size() && entry[i] != '\r'; ++i) {
        if (entry[i] < '0' || entry[i] > '9' || value > 100000) {
          valid = false;
        } else {
          value = value * 10 + (entry[i] - '0');
        }
      }
      ppi = valid ? value : 0;
    }
    line = end + 1;
  }
  return ppi;
}

std::vector<uint8_t> ToPixels(std::span<const float> plane, const Frame& frame) {
  std::vector<uint8_t> pixels(plane.size());
  for (size_t i = 0; i < plane.size(); ++i) {
    float t = plane[i] * frame.scale + frame.shift;
    t = static_cast<float>(static_cast<double>(t) + 0.5);
    // A damaged table can make values overflow to infinity and NaN; NaN becomes black rather
    // than an undefined conversion.
    pixels[i] = !(t >= 0.0f) ? 0 : t > 255.0f ? 255 : static_cast<uint8_t>(t);
  }
  return pixels;
}

PrintImage Decode(std::span<const uint8_t> bytes) {
  if (!StartsLikeWsq(bytes)) Fail("no WSQ start-of-image marker");
  std::optional<Frame> frame;
  std::optional<wsq::FilterBank> filters;
  std::optional<Quantization> quantization;
  std::array<std::optional<wsq::HuffmanTable>, kHuffmanTables> tables;
  std::vector<int32_t> coefficients;
  int blocks = 0;
  int ppi = 0;
  bool have_nistcom = false;
  size_t at = 2;
  for (;;) {
    if (at + 2 > bytes.size()) Fail("the file ends without an end-of-image marker");
    if (bytes[at] != 0xFF) Fail("expected a marker at byte " + std::to_string(at));
    // 0xFF fill bytes may stand in front of a marker.
    while (at + 2 < bytes.size() && bytes[at + 1] == 0xFF) ++at;
    const uint8_t code = bytes[at + 1];
    at += 2;
    if (code == kEoi) break;
    if (code != kSof && code != kSob && code != kDtt && code != kDqt && code != kDht &&
        code != kDrt && code != kCom) {
      Fail("unexpected marker FF" + std::string(1, "0123456789ABCDEF"[code >> 4]) +
           std::string(1, "0123456789ABCDEF"[code & 15]) + " at byte " + std::to_string(at - 2));
    }
    if (at + 2 > bytes.size()) Fail("the file ends inside a segment header");
    const size_t length = (size_t{bytes[at]} << 8) | bytes[at + 1];
    if (length < 2 || length > bytes.size() - at) {
      Fail("a segment at byte " + std::to_string(at - 2) + " has the impossible length " +
           std::to_string(length));
    }
    const std::span<const uint8_t> body = bytes.subspan(at + 2, length - 2);
    size_t next = at + length;
    switch (code) {
      case kSof: {
        if (frame) Fail("the file has two frame headers");
        SegmentReader in(body, "frame header");
        frame = ReadFrameHeader(in);
        break;
      }
      case kDtt: {
        SegmentReader in(body, "transform table");
        filters = ReadTransformTable(in);
        // Some writers give this segment a fixed length larger than its records; the next
        // marker then follows the records directly.
        const size_t records_end = at + 2 + in.position();
        if (records_end < next && bytes[records_end] == 0xFF) next = records_end;
        break;
      }
      case kDqt: {
        SegmentReader in(body, "quantization table");
        quantization = ReadQuantizationTable(in);
        break;
      }
      case kDht: {
        SegmentReader in(body, "Huffman table");
        ReadHuffmanTables(in, &tables);
        break;
      }
      case kCom:
        if (!have_nistcom && blocks == 0 && body.size() >= 8 &&
            std::string(body.begin(), body.begin() + 8) == "NIST_COM") {
          have_nistcom = true;
          ppi = NistcomPpi(body);
        }
        break;
      case kDrt:
        break;  // restart markers are skipped wherever they occur in the data
      case kSob: {
        if (!frame) Fail("a block of image data comes before the frame header");
        SegmentReader in(body, "block header");
        const uint32_t id = in.Read(1);
        if (id >= kHuffmanTables || !tables[id]) {
          Fail("a block uses Huffman table " + std::to_string(id) + ", which is not defined");
        }
        const size_t limit = static_cast<size_t>(frame->width) * frame->height;
        next = wsq::DecodeBlock(bytes, next, *tables[id], limit, &coefficients);
        ++blocks;
        break;
      }
      default:
        break;
    }
    at = next;
  }
  if (!frame) Fail("the file has no frame header");
  if (blocks == 0) Fail("the file has no image data");
  if (!filters) Fail("the file has no transform table");
  if (!quantization) Fail("the file has no quantization table");

  const wsq::Geometry geometry = wsq::ComputeGeometry(frame->width, frame->height);
  size_t expected = 0;
  for (int k = 0; k < kCodedSubbands; ++k) {
    if (quantization->coded[k]) expected += static_cast<size_t>(geometry.subbands[k].area());
  }
  if (coefficients.size() != expected) {
    Fail("the image data holds " + std::to_string(coefficients.size()) + " coefficients where " +
         std::to_string(expected) + " are needed");
  }

  std::vector<float> plane(static_cast<size_t>(frame->width) * frame->height, 0.0f);
  const float centre = quantization->bin_centre;
  size_t next = 0;
  for (int k = 0; k < kCodedSubbands; ++k) {
    if (!quantization->coded[k]) continue;
    const wsq::Rect& r = geometry.subbands[k];
    const float width = quantization->bin_width[k];
    const double half_zero = quantization->zero_bin[k] / 2.0;
    for (int y = r.y; y < r.y + r.height; ++y) {
      float* row = plane.data() + static_cast<size_t>(y) * frame->width;
      for (int x = r.x; x < r.x + r.width; ++x) {
        const int32_t p = coefficients[next++];
        if (p > 0) {
          row[x] = static_cast<float>(width * (static_cast<float>(p) - centre) + half_zero);
        } else if (p < 0) {
          row[x] = static_cast<float>(width * (static_cast<float>(p) + centre) - half_zero);
        }
      }
    }
  }
  wsq::Reconstruct(plane, frame->width, geometry, *filters);

  PrintImage image;
  image.width = frame->width;
  image.height = frame->height;
  image.pixels = ToPixels(plane, *frame);
  image.declared_dpi = ppi;
  image.format = "WSQ";
  return image;
}

}  // namespace

bool StartsLikeWsq(std::span<const uint8_t> bytes) {
  return bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == kSoi;
}

PrintImage DecodeWsq(std::span<const uint8_t> bytes, const std::string& name) {
  try {
    return Decode(bytes);
  } catch (const InputError& error) {
    throw InputError(name + ": unreadable WSQ image (" + error.what() + ")");
  }
}

}  // namespace ridgeline::image
