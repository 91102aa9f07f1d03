// WSQ decoding: the reference files decode to the reference decoder's pixels, the subband
// layout follows the image size for odd and even sides, the transform inverts itself with odd
// and even filters, and damaged files of every kind are refused with InputError (never a
// crash or a read beyond the bytes; this suite runs under AddressSanitizer in CI).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "image/wsq_decoder.h"
#include "image/wsq_encoder.h"
#include "image/wsq_subbands.h"
#include "image/wsq_transform.h"
#include "tests/support/wsq_reference.h"

namespace ridgeline::tools {
namespace {

using testing::ReadBytes;
using testing::WsqReferenceDir;
using testing::WsqReferences;

// The offset of the first segment with this marker code, or 0 when there is none. Walks the
// segment lengths up to the first block of image data.
size_t FindSegment(const std::vector<uint8_t>& wsq, uint8_t code) {
  size_t at = 2;
  while (at + 4 <= wsq.size() && wsq[at] == 0xFF) {
    if (wsq[at + 1] == code) return at;
    if (wsq[at + 1] == 0xA3) return 0;
    at += 2 + ((size_t{wsq[at + 2]} << 8) | wsq[at + 3]);
  }
  return 0;
}

std::vector<uint8_t> SmallestReferenceFile() {
  return ReadBytes(WsqReferenceDir() / "fvc2002_DB3_B_104_3_br075.wsq");
}

TEST(WsqDecoder, ReferenceFilesDecodeToTheReferencePixels) {
  const auto references = WsqReferences();
  if (references.empty()) GTEST_SKIP() << "no WSQ reference files in " << WsqReferenceDir();
  for (const auto& ref : references) {
    SCOPED_TRACE(ref.file);
    const PrintImage image = ReadPrintImage(WsqReferenceDir() / ref.file);
    ASSERT_EQ(image.width, ref.width);
    ASSERT_EQ(image.height, ref.height);
    EXPECT_EQ(image.format, "WSQ");
    EXPECT_EQ(image.declared_dpi, ref.ppi);
    const std::vector<uint8_t> expected =
        testing::PgmPixels(WsqReferenceDir() / ref.decoded, ref.width, ref.height);
    ASSERT_EQ(expected.size(), image.pixels.size());
    size_t differing = 0;
    int largest = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
      const int d = std::abs(int{image.pixels[i]} - int{expected[i]});
      differing += d != 0;
      largest = std::max(largest, d);
    }
    // Decoders that round at other points may differ by one grey level on a few pixels.
    EXPECT_LE(largest, 1);
    EXPECT_LE(differing * 10000, expected.size()) << differing << " pixels differ";
    std::cout << "[ WSQ      ] " << ref.file << ": " << differing << " of " << expected.size()
              << " pixels differ, largest difference " << largest << "\n";
  }
}

TEST(WsqDecoder, ThirdPartyFileDecodes) {
  const auto path = testing::SharedDir() / "interop" / "libbiomeval" / "img.wsq";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no " << path;
  const PrintImage image = ReadPrintImage(path);
  EXPECT_GT(image.width, 0);
  EXPECT_GT(image.height, 0);
  EXPECT_EQ(image.pixels.size(), static_cast<size_t>(image.width) * image.height);
  // A picture with dark shapes on a light ground, not a flat or saturated plane.
  int lowest = 255, highest = 0;
  for (uint8_t p : image.pixels)
    lowest = std::min<int>(lowest, p), highest = std::max<int>(highest, p);
  EXPECT_GT(highest - lowest, 100);
}

TEST(WsqDecoder, WsqInsideAnAnsi381RecordDecodesWithTheRecordsResolution) {
  const std::vector<uint8_t> wsq = SmallestReferenceFile();
  if (wsq.empty()) GTEST_SKIP() << "no WSQ reference files";
  std::vector<uint8_t> record = {'F', 'I', 'R', 0, '0', '1', '0', 0};
  auto put = [&](uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) record.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  put(36 + 14 + wsq.size(), 6);
  put(0, 4), put(0, 2), put(31, 2);
  put(1, 1), put(1, 1);                                // one finger, pixels per inch
  put(600, 2), put(600, 2), put(600, 2), put(600, 2);  // scan and image resolution
  put(8, 1), put(2, 1), put(0, 2);                     // 8 bits, WSQ
  put(14 + wsq.size(), 4);
  put(2, 1), put(1, 1), put(1, 1), put(80, 1), put(0, 1);
  put(300, 2), put(300, 2), put(0, 1);
  const size_t header = record.size();
  record.insert(record.end(), wsq.begin(), wsq.end());
  const PrintImage image = DecodePrintImage(record, "wsq.fir");
  EXPECT_EQ(image.width, 300);
  EXPECT_EQ(image.declared_dpi, 600);
  EXPECT_EQ(image.pixels, DecodePrintImage(wsq, "a.wsq").pixels);
  // A record whose size disagrees with its WSQ image, or whose block runs past the end.
  std::vector<uint8_t> wrong_size = record;
  wrong_size[header - 3] = 0x20;
  EXPECT_THROW(DecodePrintImage(wrong_size, "wsq.fir"), InputError);
  std::vector<uint8_t> cut(record.begin(), record.end() - 100);
  EXPECT_THROW(DecodePrintImage(cut, "wsq.fir"), InputError);
}

TEST(WsqSubbands, LayoutFollowsTheSizeForOddAndEvenSides) {
  const wsq::Geometry g = wsq::ComputeGeometry(257, 301);
  auto rect = [&](int k) {
    const wsq::Rect& r = g.subbands[static_cast<size_t>(k)];
    return std::vector<int>{r.x, r.y, r.width, r.height};
  };
  EXPECT_EQ(rect(0), (std::vector<int>{0, 0, 9, 10}));
  EXPECT_EQ(rect(3), (std::vector<int>{9, 10, 8, 9}));
  EXPECT_EQ(rect(37), (std::vector<int>{0, 95, 17, 18}));
  EXPECT_EQ(rect(50), (std::vector<int>{49, 132, 16, 19}));
  EXPECT_EQ(rect(51), (std::vector<int>{65, 76, 64, 75}));
  EXPECT_EQ(rect(56), (std::vector<int>{0, 151, 65, 75}));
  EXPECT_EQ(rect(63), (std::vector<int>{193, 226, 64, 75}));
  const wsq::Node& node4 = g.nodes[4];
  EXPECT_EQ(std::vector<int>({node4.rect.x, node4.rect.y, node4.rect.width, node4.rect.height}),
            (std::vector<int>{65, 0, 64, 76}));
  EXPECT_TRUE(node4.invert_x);
  EXPECT_FALSE(node4.invert_y);

  // Coefficients per block: subbands 0..18, 19..51 and 52..59.
  struct Case {
    int width, height, first, second, third;
  };
  for (const Case& c : {Case{388, 374, 9118, 27160, 72556}, Case{257, 301, 4940, 14539, 38678},
                        Case{298, 259, 4875, 14495, 38591}}) {
    const wsq::Geometry geometry = wsq::ComputeGeometry(c.width, c.height);
    int blocks[3] = {0, 0, 0};
    for (int k = 0; k < wsq::kCodedSubbands; ++k) {
      const int block = k < wsq::kSecondBlockStart ? 0 : k < wsq::kThirdBlockStart ? 1 : 2;
      blocks[block] += geometry.subbands[static_cast<size_t>(k)].area();
    }
    EXPECT_EQ(blocks[0], c.first) << c.width << "x" << c.height;
    EXPECT_EQ(blocks[1], c.second) << c.width << "x" << c.height;
    EXPECT_EQ(blocks[2], c.third) << c.width << "x" << c.height;
  }
}

TEST(WsqSubbands, SubbandsTileTheImageAtEverySize) {
  for (int width : {1, 2, 3, 5, 16, 31, 64, 255, 256, 257}) {
    for (int height : {1, 4, 7, 33, 300}) {
      const wsq::Geometry g = wsq::ComputeGeometry(width, height);
      std::vector<int> cover(static_cast<size_t>(width) * height, 0);
      for (const wsq::Rect& r : g.subbands) {
        ASSERT_GE(r.width, 0);
        ASSERT_GE(r.height, 0);
        for (int y = r.y; y < r.y + r.height; ++y)
          for (int x = r.x; x < r.x + r.width; ++x) ++cover[static_cast<size_t>(y) * width + x];
      }
      for (int c : cover) ASSERT_EQ(c, 1) << width << "x" << height;
    }
  }
}

// The analysis filters of the usual 9/7 bank and of an 8/8 half-sample bank.
wsq::FilterBank Analysis97() {
  return {{0.03782845550699546f, -0.02384946501938000f, -0.11062440441842342f, 0.37740285561265380f,
           0.85269867900940344f, 0.37740285561265380f, -0.11062440441842342f, -0.02384946501938000f,
           0.03782845550699546f},
          {0.06453888262893845f, -0.04068941760955844f, -0.41809227322221221f, 0.78848561640566439f,
           -0.41809227322221221f, -0.04068941760955844f, 0.06453888262893845f}};
}

wsq::FilterBank Analysis88() {
  return {
      {0.07565691101399093f, -0.12335584105275092f, -0.09789296778409587f, 0.85269867900940344f,
       0.85269867900940344f, -0.09789296778409587f, -0.12335584105275092f, 0.07565691101399093f},
      {0.03226944131446922f, -0.05261415011924844f, -0.18870142780632693f, 0.60328894481393847f,
       -0.60328894481393847f, 0.18870142780632693f, 0.05261415011924844f, -0.03226944131446922f}};
}

wsq::FilterBank SynthesisOf(const wsq::FilterBank& analysis) {
  const auto& h0 = analysis.lowpass;
  const auto& h1 = analysis.highpass;
  return wsq::SynthesisBank(std::span(h0).subspan(h0.size() / 2), static_cast<int>(h0.size()),
                            std::span(h1).subspan(h1.size() / 2), static_cast<int>(h1.size()));
}

TEST(WsqTransform, ReconstructionInvertsDecompositionWithOddAndEvenFilters) {
  for (const wsq::FilterBank& analysis : {Analysis97(), Analysis88()}) {
    const wsq::FilterBank synthesis = SynthesisOf(analysis);
    for (auto [width, height] :
         {std::pair{256, 256}, std::pair{257, 301}, std::pair{298, 259}, std::pair{120, 97}}) {
      SCOPED_TRACE(std::to_string(analysis.lowpass.size()) + " taps, " + std::to_string(width) +
                   "x" + std::to_string(height));
      std::mt19937 random(width * 1000 + height);
      std::vector<float> image(static_cast<size_t>(width) * height);
      for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<float>(i % 37) * 3.0f - 50.0f + static_cast<float>(random() % 17);
      }
      std::vector<float> plane = image;
      const wsq::Geometry geometry = wsq::ComputeGeometry(width, height);
      wsq::Decompose(plane, width, geometry, analysis);
      wsq::Reconstruct(plane, width, geometry, synthesis);
      float worst = 0;
      for (size_t i = 0; i < image.size(); ++i)
        worst = std::max(worst, std::abs(plane[i] - image[i]));
      EXPECT_LT(worst, 0.01f);
    }
  }
}

TEST(WsqTransform, TinyImagesStayFinite) {
  for (const wsq::FilterBank& analysis : {Analysis97(), Analysis88()}) {
    const wsq::FilterBank synthesis = SynthesisOf(analysis);
    for (int width : {1, 2, 3, 5, 9}) {
      for (int height : {1, 2, 4, 7}) {
        std::vector<float> plane(static_cast<size_t>(width) * height, 10.0f);
        const wsq::Geometry geometry = wsq::ComputeGeometry(width, height);
        wsq::Decompose(plane, width, geometry, analysis);
        wsq::Reconstruct(plane, width, geometry, synthesis);
        for (float v : plane) ASSERT_TRUE(std::isfinite(v));
      }
    }
  }
}

// A small file of our own keeps the exhaustive damage tests fast under the sanitizers.
std::vector<uint8_t> SmallFile() { return EncodeWsq(testing::RidgeImage(64, 48), 2.25, 500); }

TEST(WsqDecoder, TruncatedFileIsRefusedAtEveryLength) {
  const std::vector<uint8_t> small = SmallFile();
  for (size_t length = 0; length < small.size(); ++length) {
    EXPECT_THROW(DecodeWsq(std::span(small.data(), length), "cut.wsq"), InputError) << length;
  }
  // A reference file: every length through its tables and the first block's start, then a
  // sample of the rest.
  const std::vector<uint8_t> wsq = SmallestReferenceFile();
  if (wsq.empty()) GTEST_SKIP() << "no WSQ reference files";
  for (size_t length = 0; length < wsq.size(); length += length < 800 ? 1 : 97) {
    EXPECT_THROW(DecodePrintImage(std::span(wsq.data(), length), "cut.wsq"), InputError) << length;
  }
}

// Damages 1 to 4 bytes of `wsq` per variant, in the first `head` bytes for two variants out of
// three and anywhere for the third; every variant must decode to a whole image or be refused.
int DamageAndDecode(const std::vector<uint8_t>& wsq, size_t head, int variants, uint32_t seed) {
  std::mt19937 random(seed);
  int refused = 0;
  for (int variant = 0; variant < variants; ++variant) {
    std::vector<uint8_t> bad = wsq;
    const int changes = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < changes; ++i) {
      const size_t at = variant % 3 == 2 ? random() % bad.size() : 2 + random() % (head - 2);
      bad[at] = static_cast<uint8_t>(random());
    }
    try {
      const PrintImage image = DecodePrintImage(bad, "bad.wsq");
      EXPECT_EQ(image.pixels.size(), static_cast<size_t>(image.width) * image.height);
    } catch (const InputError&) {
      ++refused;
    }
  }
  return refused;
}

TEST(WsqDecoder, CorruptedHeadersAndTablesAreDecodedOrRefused) {
  // Everything up to the first block's data holds the headers and tables.
  const std::vector<uint8_t> small = SmallFile();
  const size_t small_head = FindSegment(small, 0xA3) + 5;
  ASSERT_GT(small_head, 5u);
  EXPECT_GT(DamageAndDecode(small, small_head, 400, 22), 0);
  const std::vector<uint8_t> wsq = SmallestReferenceFile();
  if (wsq.empty()) GTEST_SKIP() << "no WSQ reference files";
  EXPECT_GT(DamageAndDecode(wsq, FindSegment(wsq, 0xA3) + 5, 40, 23), 0);
}

TEST(WsqDecoder, DamagedStructureIsRefusedWithTheFault) {
  const std::vector<uint8_t> wsq = SmallestReferenceFile();
  if (wsq.empty()) GTEST_SKIP() << "no WSQ reference files";
  auto message = [](const std::vector<uint8_t>& bytes) -> std::string {
    try {
      DecodeWsq(bytes, "x.wsq");
    } catch (const InputError& error) {
      return error.what();
    }
    return "decoded";
  };
  const size_t sof = FindSegment(wsq, 0xA2);
  const size_t dtt = FindSegment(wsq, 0xA4);
  const size_t dqt = FindSegment(wsq, 0xA5);
  const size_t dht = FindSegment(wsq, 0xA6);
  const size_t sob = FindSegment(wsq, 0xA3);
  ASSERT_TRUE(sof && dtt && dqt && dht && sob);
  auto with = [&](size_t at, uint8_t value) {
    std::vector<uint8_t> bad = wsq;
    bad[at] = value;
    return bad;
  };
  std::vector<uint8_t> no_rows = with(sof + 6, 0);
  no_rows[sof + 7] = 0;
  EXPECT_NE(message(no_rows).find("300 x 0"), std::string::npos);
  EXPECT_NE(message(with(sof + 6, 0x40)).find("refused"), std::string::npos);
  EXPECT_NE(message(with(dtt + 4, 0)).find("filter of 0 taps"), std::string::npos);
  EXPECT_NE(message(with(dtt + 4, 8)).find("mixes"), std::string::npos);
  EXPECT_NE(message(with(dht + 4, 9)).find("number 9"), std::string::npos);
  EXPECT_NE(message(with(sob + 4, 5)).find("not defined"), std::string::npos);
  EXPECT_NE(message(with(dht + 5, 200)).find("Huffman table"), std::string::npos);
  // A subband declared absent leaves more coefficients than the image needs.
  std::vector<uint8_t> fewer_subbands = wsq;
  for (int i = 0; i < 6; ++i) fewer_subbands[dqt + 7 + 6 * 10 + i] = 0;
  EXPECT_NE(message(fewer_subbands).find("coefficients"), std::string::npos);
  // Missing tables: turn the segment into a comment.
  EXPECT_NE(message(with(dtt + 1, 0xA8)).find("no transform table"), std::string::npos);
  EXPECT_NE(message(with(dqt + 1, 0xA8)).find("no quantization table"), std::string::npos);
  std::vector<uint8_t> no_end(wsq.begin(), wsq.end() - 2);
  EXPECT_NE(message(no_end).find("end-of-image"), std::string::npos);
  EXPECT_NE(message({0xFF, 0xA0, 0xFF, 0xA1}).find("no frame header"), std::string::npos);
  EXPECT_NE(message(with(dqt + 2, 0xFF)).find("impossible length"), std::string::npos);
}

TEST(WsqDecoder, OverflowingFilterTapsGiveDefinedPixels) {
  std::vector<uint8_t> wsq = SmallestReferenceFile();
  if (wsq.empty()) GTEST_SKIP() << "no WSQ reference files";
  const size_t dtt = FindSegment(wsq, 0xA4);
  ASSERT_NE(dtt, 0u);
  // Every tap 4294967295 (exponent 0): the reconstruction overflows to inf and NaN.
  for (size_t record = 0; record < 9; ++record) {
    const size_t at = dtt + 6 + 6 * record;
    wsq[at + 1] = 0;
    for (int i = 2; i < 6; ++i) wsq[at + static_cast<size_t>(i)] = 0xFF;
  }
  const PrintImage image = DecodeWsq(wsq, "huge.wsq");
  EXPECT_EQ(image.pixels.size(), static_cast<size_t>(image.width) * image.height);
}

}  // namespace
}  // namespace ridgeline::tools
