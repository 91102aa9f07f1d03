// Resampling to 500 dpi and capture-side trimming.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "extract/check_image.h"
#include "extract/resample_image.h"
#include "image/print_image.h"
#include "tests/support/shared_data.h"
#include "tools/image/background_trim.h"
#include "tools/image/resolution.h"

namespace ridgeline::tools {
namespace {

PrintImage Filled(int width, int height, uint8_t value) {
  PrintImage image;
  image.width = width;
  image.height = height;
  image.pixels.assign(static_cast<size_t>(width) * height, value);
  return image;
}

// Ridges (grey 40..220, period 9) over the rectangle; white elsewhere.
PrintImage PrintOnPlaten(int width, int height, int left, int top, int print_w, int print_h) {
  PrintImage image = Filled(width, height, 255);
  for (int y = top; y < top + print_h; ++y)
    for (int x = left; x < left + print_w; ++x)
      image.pixels[static_cast<size_t>(y) * width + x] =
          static_cast<uint8_t>(130 + 90 * std::cos((x + 0.5 * y) * 2 * M_PI / 9));
  return image;
}

TEST(Resample, SizesFollowTheResolutionRatio) {
  const PrintImage image = Filled(296, 560, 100);
  const PrintImage out = Resample(image, 569, 500);
  EXPECT_EQ(out.width, 260);   // 296 x 500 / 569 = 260.1
  EXPECT_EQ(out.height, 492);  // 560 x 500 / 569 = 492.1
  EXPECT_EQ(out.declared_dpi, 500);
  for (uint8_t p : out.pixels) ASSERT_EQ(p, 100);  // a flat image stays flat
}

TEST(Resample, EqualResolutionsCopyAndDoublingInterpolates) {
  PrintImage image = Filled(2, 1, 0);
  image.pixels = {0, 200};
  EXPECT_EQ(Resample(image, 500, 500).pixels, image.pixels);
  const PrintImage up = Resample(image, 250, 500);
  ASSERT_EQ(up.width, 4);
  ASSERT_EQ(up.height, 2);
  // Centres at source -0.25, 0.25, 0.75, 1.25: clamped at both ends; both rows alike.
  EXPECT_EQ(up.pixels, (std::vector<uint8_t>{0, 50, 150, 200, 0, 50, 150, 200}));
}

TEST(BackgroundTrim, KeepsThePrintWholeWithItsMargin) {
  const PrintImage image = PrintOnPlaten(640, 480, 200, 100, 200, 260);
  const TrimBox box = FindPrintBox(image);
  EXPECT_EQ(box.left, 200 - kTrimMargin);
  EXPECT_EQ(box.top, 100 - kTrimMargin);
  EXPECT_EQ(box.width, 200 + 2 * kTrimMargin);
  EXPECT_EQ(box.height, 260 + 2 * kTrimMargin);
  const PrintImage trimmed = TrimBackground(image);
  // Every dark pixel of the original is inside the kept box.
  int dark_before = 0, dark_after = 0;
  for (uint8_t p : image.pixels) dark_before += p < 200;
  for (uint8_t p : trimmed.pixels) dark_after += p < 200;
  EXPECT_EQ(dark_after, dark_before);
}

TEST(BackgroundTrim, TightImagesAndImagesWithoutLightBackgroundAreUntouched) {
  const PrintImage tight = PrintOnPlaten(300, 300, 0, 0, 300, 300);
  const TrimBox box = FindPrintBox(tight);
  EXPECT_EQ(box.left, 0);
  EXPECT_EQ(box.top, 0);
  EXPECT_EQ(box.width, 300);
  EXPECT_EQ(box.height, 300);
  EXPECT_EQ(TrimBackground(tight).pixels, tight.pixels);
  EXPECT_EQ(TrimBackground(Filled(100, 100, 30)).pixels.size(), 100u * 100u);  // dark platen
  EXPECT_EQ(TrimBackground(Filled(100, 100, 255)).width, 100);                 // nothing to keep
}

TEST(BackgroundTrim, AFewStrayDarkPixelsDoNotStopTheTrim) {
  PrintImage image = PrintOnPlaten(400, 400, 150, 150, 100, 100);
  image.pixels[5 * 400 + 7] = 0;  // dust near the corner
  const TrimBox box = FindPrintBox(image);
  EXPECT_EQ(box.top, 150 - kTrimMargin);
  EXPECT_EQ(box.left, 150 - kTrimMargin);
}

TEST(BackgroundTrim, TooSmallACropIsNotMade) {
  const PrintImage image = PrintOnPlaten(300, 300, 140, 140, 20, 20);
  EXPECT_EQ(FindPrintBox(image).width, 300);
}

// The engine's grey-level test as the adapter runs it: on the image resampled from 500 to
// 550 dpi.
bool PassesGreyLevelTest(const PrintImage& image) {
  const int width = image.width * 550 / 500;
  const int height = image.height * 550 / 500;
  GrayImage working = AllocGrayImage(width, height);
  EXPECT_TRUE(ResampleImage(image.pixels.data(), image.width, image.height, 500, working, width,
                            height, 550));
  const bool passed = CheckImage(working, width, height);
  FreeGrayImage(working);
  return passed;
}

TEST(BackgroundTrim, SyntheticWidePlatenPrintPassesTheGreyLevelTestOnlyOnceTrimmed) {
  const PrintImage image = PrintOnPlaten(640, 480, 260, 150, 110, 150);
  EXPECT_FALSE(PassesGreyLevelTest(image));
  EXPECT_TRUE(PassesGreyLevelTest(TrimBackground(image)));
}

// Real prints on a wide white platen: every one that the grey-level test refuses as it stands
// passes once trimmed, and trimming keeps every dark pixel of the print.
TEST(BackgroundTrim, SharedPrintsRefusedForTheirMarginsPassOnceTrimmed) {
  const auto directory = ridgeline::testing::SharedDir() / "data/fvc2002/DB1_B";
  if (!std::filesystem::is_directory(directory)) GTEST_SKIP() << "no shared prints";
  int refused = 0;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (entry.path().extension() != ".tif") continue;
    const PrintImage image = ReadPrintImage(entry.path());
    const PrintImage trimmed = TrimBackground(image);
    SCOPED_TRACE(entry.path().string());
    EXPECT_TRUE(PassesGreyLevelTest(trimmed));
    refused += !PassesGreyLevelTest(image);
    int dark_before = 0, dark_after = 0;
    for (uint8_t p : image.pixels) dark_before += p < 96;
    for (uint8_t p : trimmed.pixels) dark_after += p < 96;
    // What goes is dust and the platen edge marks some of these scans carry (under 200 pixels).
    EXPECT_LE(dark_before - dark_after, 200);
  }
  EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace ridgeline::tools
