// WSQ encoding: re-encoding the reference inputs gives the reference files, our files decode
// with the quality the rate promises, every size round-trips, and the NISTCOM comment carries
// the size, resolution and bit rate.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "image/wsq_decoder.h"
#include "image/wsq_encoder.h"
#include "tests/support/wsq_reference.h"

namespace ridgeline::tools {
namespace {

using testing::WsqReferenceDir;

using testing::Psnr;

PrintImage Ridges(int width, int height) { return testing::RidgeImage(width, height); }

std::string Comment(const std::vector<uint8_t>& wsq) {
  // The comment is the first segment after the start-of-image marker.
  if (wsq.size() < 6 || wsq[2] != 0xFF || wsq[3] != 0xA8) return "";
  const size_t length = (size_t{wsq[4]} << 8) | wsq[5];
  return {wsq.begin() + 6, wsq.begin() + 4 + static_cast<std::ptrdiff_t>(length)};
}

TEST(WsqEncoder, ReferenceInputsEncodeToTheReferenceFiles) {
  const auto references = testing::WsqReferences();
  const auto data = testing::SharedDir() / "data";
  if (references.empty() || !std::filesystem::is_directory(data)) {
    GTEST_SKIP() << "no WSQ reference files or prints";
  }
  for (const auto& ref : references) {
    SCOPED_TRACE(ref.file);
    const PrintImage input = testing::ReferenceInput(ref);
    ASSERT_FALSE(input.pixels.empty()) << "no print " << ref.source_print;
    const std::vector<uint8_t> ours =
        EncodeWsq(input, ref.bitrate, ref.ppi, WsqRateControl::kReference);
    const std::vector<uint8_t> theirs = testing::ReadBytes(WsqReferenceDir() / ref.file);
    const double our_psnr = Psnr(DecodeWsq(ours, "ours").pixels, input.pixels);
    const double their_psnr = Psnr(DecodeWsq(theirs, "theirs").pixels, input.pixels);
    EXPECT_GT(our_psnr, their_psnr - 1.0);
    EXPECT_NEAR(static_cast<double>(ours.size()), static_cast<double>(theirs.size()),
                0.1 * static_cast<double>(theirs.size()));
    // The same arithmetic in the same order makes the same bytes.
    EXPECT_TRUE(ours == theirs);
    std::cout << "[ WSQ      ] " << ref.file << ": " << ours.size() << " bytes ("
              << 8.0 * static_cast<double>(ours.size()) / (ref.width * ref.height)
              << " bits/pixel), PSNR " << our_psnr << " dB, reference " << theirs.size()
              << " bytes, " << their_psnr << " dB\n";
  }
}

TEST(WsqEncoder, EverySizeRoundTrips) {
  for (auto [width, height] : {std::pair{1, 1}, std::pair{2, 3}, std::pair{7, 5}, std::pair{33, 17},
                               std::pair{64, 64}, std::pair{255, 257}, std::pair{300, 200}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    const PrintImage image = Ridges(width, height);
    const std::vector<uint8_t> wsq = EncodeWsq(image, 2.25, 500);
    const PrintImage decoded = DecodePrintImage(wsq, "round.wsq");
    ASSERT_EQ(decoded.width, width);
    ASSERT_EQ(decoded.height, height);
    EXPECT_EQ(decoded.format, "WSQ");
    EXPECT_EQ(decoded.declared_dpi, 500);
    // Lines long enough for the filters reconstruct faithfully.
    if (width >= 64 && height >= 64) {
      EXPECT_GT(Psnr(decoded.pixels, image.pixels), 30.0);
    }
  }
}

TEST(WsqEncoder, HigherRateGivesBiggerFilesAndHigherQuality) {
  const PrintImage image = Ridges(320, 300);
  double last_psnr = 0;
  size_t last_size = 0;
  for (double rate : {0.3, 0.75, 2.25, 5.0}) {
    const std::vector<uint8_t> wsq = EncodeWsq(image, rate, 500);
    const double psnr = Psnr(DecodeWsq(wsq, "r.wsq").pixels, image.pixels);
    EXPECT_GT(psnr, last_psnr) << rate;
    EXPECT_GT(wsq.size(), last_size) << rate;
    // The allocation never spends more than the target.
    EXPECT_LT(8.0 * static_cast<double>(wsq.size()) / (320 * 300), rate * 1.1) << rate;
    last_psnr = psnr;
    last_size = wsq.size();
  }
}

TEST(WsqEncoder, FlatImageSurvives) {
  PrintImage flat;
  flat.width = 260;
  flat.height = 270;
  flat.pixels.assign(260 * 270, 201);
  const PrintImage decoded = DecodeWsq(EncodeWsq(flat, 0.75, 500), "flat.wsq");
  for (uint8_t p : decoded.pixels) ASSERT_NEAR(p, 201, 1);
}

TEST(WsqEncoder, CommentCarriesSizeResolutionAndRate) {
  const std::vector<uint8_t> wsq = EncodeWsq(Ridges(270, 290), 0.75, 569);
  EXPECT_EQ(Comment(wsq),
            "NIST_COM 9\nPIX_WIDTH 270\nPIX_HEIGHT 290\nPIX_DEPTH 8\nPPI 569\nLOSSY 1\n"
            "COLORSPACE GRAY\nCOMPRESSION WSQ\nWSQ_BITRATE 0.750000");
  EXPECT_EQ(DecodeWsq(wsq, "a.wsq").declared_dpi, 569);
  // An unknown resolution is written as -1 and read as none.
  const std::vector<uint8_t> unknown = EncodeWsq(Ridges(270, 290), 0.75, -1);
  EXPECT_NE(Comment(unknown).find("\nPPI -1\n"), std::string::npos);
  EXPECT_EQ(DecodeWsq(unknown, "b.wsq").declared_dpi, 0);
}

TEST(WsqEncoder, BadArgumentsAreRefused) {
  PrintImage empty;
  EXPECT_THROW(EncodeWsq(empty, 0.75, 500), InputError);
  const PrintImage image = Ridges(40, 40);
  EXPECT_THROW(EncodeWsq(image, 0.0, 500), InputError);
  EXPECT_THROW(EncodeWsq(image, 9.0, 500), InputError);
  EXPECT_THROW(EncodeWsq(image, std::nan(""), 500), InputError);
  PrintImage short_pixels = image;
  short_pixels.pixels.pop_back();
  EXPECT_THROW(EncodeWsq(short_pixels, 0.75, 500), InputError);
}

}  // namespace
}  // namespace ridgeline::tools
