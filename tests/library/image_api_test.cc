// Image files through the public interface: decoding every format to pixels for rl_extract,
// converting to PGM, PNG and WSQ (the WSQ file meeting its bit rate), a print that survives WSQ
// well enough to match itself, and the refusal of bad arguments and damaged files.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <vector>

#include "image/png_encoder.h"
#include "ridgeline/ridgeline.h"
#include "ridgeline/ridgeline.hpp"
#include "tests/support/shared_data.h"
#include "tests/support/wsq_reference.h"

namespace ridgeline {
namespace {

// A buffer from the library, released when the test is done with it.
struct Buffer {
  uint8_t* data = nullptr;
  size_t size = 0;
  ~Buffer() { rl_image_free(data, size); }
  std::vector<uint8_t> bytes() const { return {data, data + size}; }
};

struct Decoded {
  Buffer pixels;
  int32_t width = 0;
  int32_t height = 0;
  int32_t ppi = -1;
};

rl_status Decode(const std::vector<uint8_t>& file, Decoded* out) {
  const rl_status status = rl_image_decode(file.data(), file.size(), &out->pixels.data, &out->width,
                                           &out->height, &out->ppi);
  out->pixels.size = static_cast<size_t>(out->width) * out->height;
  return status;
}

rl_status Convert(const std::vector<uint8_t>& file, rl_image_format to, double bitrate,
                  Buffer* out) {
  return rl_image_convert(file.data(), file.size(), to, bitrate, &out->data, &out->size);
}

TEST(ImageApi, ConvertsThroughEveryFormatKeepingThePixels) {
  const image::PrintImage source = testing::RidgeImage(301, 257);
  const std::vector<uint8_t> png = image::EncodePng(source.width, source.height, 1, source.pixels);

  Buffer pgm;
  ASSERT_EQ(Convert(png, RL_IMAGE_PGM, 0.0, &pgm), RL_OK);  // the rate matters for WSQ only
  Decoded from_pgm;
  ASSERT_EQ(Decode(pgm.bytes(), &from_pgm), RL_OK);
  EXPECT_EQ(from_pgm.width, 301);
  EXPECT_EQ(from_pgm.height, 257);
  EXPECT_EQ(from_pgm.ppi, 0);
  EXPECT_EQ(from_pgm.pixels.bytes(), source.pixels);

  for (double rate : {0.75, 2.25}) {
    SCOPED_TRACE(rate);
    Buffer wsq;
    ASSERT_EQ(Convert(pgm.bytes(), RL_IMAGE_WSQ, rate, &wsq), RL_OK);
    const double bpp = 8.0 * static_cast<double>(wsq.size) / (301 * 257);
    EXPECT_LE(bpp, rate);
    EXPECT_GE(bpp, 0.9 * rate);
    Decoded from_wsq;
    ASSERT_EQ(Decode(wsq.bytes(), &from_wsq), RL_OK);
    ASSERT_EQ(from_wsq.pixels.size, source.pixels.size());
    int worst = 0;
    for (size_t i = 0; i < source.pixels.size(); ++i) {
      worst = std::max(worst, std::abs(from_wsq.pixels.data[i] - source.pixels[i]));
    }
    EXPECT_LT(worst, rate < 1 ? 80 : 40);
    // Back to PNG: the decoded WSQ pixels, unchanged.
    Buffer back;
    ASSERT_EQ(Convert(wsq.bytes(), RL_IMAGE_PNG, 0.0, &back), RL_OK);
    Decoded from_png;
    ASSERT_EQ(Decode(back.bytes(), &from_png), RL_OK);
    EXPECT_EQ(from_png.pixels.bytes(), from_wsq.pixels.bytes());
  }

  // The C++ header gives the same.
  const std::vector<uint8_t> wsq = convert_image(png, RL_IMAGE_WSQ, 0.75);
  const Image decoded = decode_image(wsq);
  EXPECT_EQ(decoded.width, 301);
  EXPECT_EQ(decoded.pixels.size(), source.pixels.size());
}

TEST(ImageApi, PrintDecodedFromItsWsqMatchesTheOriginal) {
  const auto tif = testing::SharedDir() / "data" / "fvc2002" / "DB1_B" / "101_1.tif";
  if (!std::filesystem::exists(tif)) GTEST_SKIP() << "no shared prints";
  const std::vector<uint8_t> file = testing::ReadBytes(tif);
  Buffer wsq;
  ASSERT_EQ(Convert(file, RL_IMAGE_WSQ, 2.25, &wsq), RL_OK);
  Decoded original;
  Decoded compressed;
  ASSERT_EQ(Decode(file, &original), RL_OK);
  ASSERT_EQ(Decode(wsq.bytes(), &compressed), RL_OK);
  ASSERT_EQ(compressed.width, original.width);
  rl_engine* engine = nullptr;
  ASSERT_EQ(rl_engine_create(&engine), RL_OK);
  rl_features* a = nullptr;
  rl_features* b = nullptr;
  EXPECT_EQ(rl_extract(engine, original.pixels.data, original.width, original.height,
                       original.width, 500, &a),
            RL_OK);
  EXPECT_EQ(rl_extract(engine, compressed.pixels.data, compressed.width, compressed.height,
                       compressed.width, 500, &b),
            RL_OK);
  int32_t score = 0;
  if (a != nullptr && b != nullptr) {
    EXPECT_EQ(rl_compare(engine, a, b, &score), RL_OK);
    EXPECT_TRUE(rl_matches(score, 7)) << score;
  }
  rl_features_destroy(a);
  rl_features_destroy(b);
  rl_engine_destroy(engine);
}

TEST(ImageApi, RefusesBadArgumentsAndDamagedFiles) {
  const image::PrintImage source = testing::RidgeImage(64, 48);
  const std::vector<uint8_t> png = image::EncodePng(64, 48, 1, source.pixels);
  Buffer out;
  int32_t w = 0;
  int32_t h = 0;
  int32_t ppi = 0;
  EXPECT_EQ(rl_image_convert(nullptr, 10, RL_IMAGE_PGM, 0, &out.data, &out.size),
            RL_E_INVALID_ARGUMENT);
  EXPECT_EQ(rl_image_convert(png.data(), png.size(), RL_IMAGE_PGM, 0, nullptr, &out.size),
            RL_E_INVALID_ARGUMENT);
  EXPECT_EQ(Convert(png, static_cast<rl_image_format>(3), 0.75, &out), RL_E_INVALID_ARGUMENT);
  for (double rate : {0.0, 0.05, 9.0, std::nan("")}) {
    EXPECT_EQ(Convert(png, RL_IMAGE_WSQ, rate, &out), RL_E_INVALID_ARGUMENT) << rate;
  }
  EXPECT_EQ(rl_image_decode(png.data(), png.size(), &out.data, nullptr, &h, &ppi),
            RL_E_INVALID_ARGUMENT);
  EXPECT_EQ(out.data, nullptr);

  const std::vector<uint8_t> junk = {'G', 'I', 'F', '8', '9', 'a', 0, 0};
  EXPECT_EQ(Convert(junk, RL_IMAGE_PNG, 0, &out), RL_E_BAD_IMAGE);
  EXPECT_EQ(Convert({}, RL_IMAGE_PNG, 0, &out), RL_E_BAD_IMAGE);
  // A WSQ file cut anywhere is refused, never read past its end (the buffers are exact).
  Buffer wsq;
  ASSERT_EQ(Convert(png, RL_IMAGE_WSQ, 2.25, &wsq), RL_OK);
  for (size_t length = 0; length < wsq.size; ++length) {
    const std::vector<uint8_t> cut(wsq.data, wsq.data + length);
    uint8_t* pixels = nullptr;
    ASSERT_EQ(rl_image_decode(cut.data(), cut.size(), &pixels, &w, &h, &ppi), RL_E_BAD_IMAGE)
        << length;
    EXPECT_EQ(pixels, nullptr);
  }
  EXPECT_EQ(out.data, nullptr);
  EXPECT_EQ(out.size, 0u);
  rl_image_free(nullptr, 10);  // does nothing

  try {
    decode_image(junk);
    ADD_FAILURE() << "junk decoded";
  } catch (const Error& error) {
    EXPECT_EQ(error.status(), RL_E_BAD_IMAGE);
  }
}

}  // namespace
}  // namespace ridgeline
