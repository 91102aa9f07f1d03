// The host's sensor side: declared resolutions, the --dpi override, trimming on and off, and the
// size window of the engine, each change reported as a note.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "tests/support/scratch_dir.h"
#include "tools/host/capture_preparation.h"
#include "tools/image/png_writer.h"

namespace ridgeline::tools {
namespace {

namespace fs = std::filesystem;

class CapturePreparation : public ::testing::Test {
 protected:
  // Ridges over a rectangle of the given size at (left, top), white platen around it, written
  // as a PGM (which declares no resolution).
  fs::path Platen(int width, int height, int left, int top, int print_w, int print_h) {
    std::string pgm = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const bool inside = x >= left && x < left + print_w && y >= top && y < top + print_h;
        const double grey = inside ? 130 + 90 * std::cos((x + 0.5 * y) * 2 * M_PI / 9) : 255;
        pgm += static_cast<char>(static_cast<uint8_t>(grey));
      }
    }
    const fs::path path = dir_ / "print.pgm";
    FILE* file = fopen(path.c_str(), "wb");
    fwrite(pgm.data(), 1, pgm.size(), file);
    fclose(file);
    return path;
  }

  ridgeline::testing::ScratchDir scratch_{"ridgeline_capture"};
  const fs::path dir_ = scratch_.path();
};

TEST_F(CapturePreparation, TrimsByDefaultAndSaysSo) {
  const fs::path path = Platen(400, 300, 100, 50, 200, 200);
  std::vector<std::string> notes;
  const Capture trimmed = PrepareCapture(path, {}, &notes);
  EXPECT_EQ(trimmed.image.width, 200 + 2 * 16);
  EXPECT_EQ(trimmed.image.height, 200 + 2 * 16);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("trimmed"), std::string::npos);
  notes.clear();
  const Capture whole = PrepareCapture(path, {.dpi = 0, .trim = false}, &notes);
  EXPECT_EQ(whole.image.width, 400);
  EXPECT_TRUE(notes.empty());
}

TEST_F(CapturePreparation, DpiOptionResamplesTo500) {
  const fs::path path = Platen(400, 300, 0, 0, 400, 300);
  std::vector<std::string> notes;
  const Capture capture = PrepareCapture(path, {.dpi = 1000, .trim = true}, &notes);
  EXPECT_EQ(capture.image.width, 200);
  EXPECT_EQ(capture.image.height, 150);
  ASSERT_FALSE(notes.empty());
  EXPECT_NE(notes[0].find("1000 dpi"), std::string::npos);
}

TEST_F(CapturePreparation, DeclaredResolutionIsFollowedUnlessImplausible) {
  std::vector<uint8_t> pixels(300 * 200);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>((i % 300) * 7 % 200);
  std::vector<uint8_t> png = EncodePng(300, 200, 1, pixels);
  auto with_dpi = [&](double dpi) {
    std::vector<uint8_t> out = png;
    const uint32_t per_metre = static_cast<uint32_t>(dpi / 0.0254 + 0.5);
    std::vector<uint8_t> chunk = {0, 0, 0, 9, 'p', 'H', 'Y', 's'};
    for (int k = 0; k < 2; ++k)
      for (int i = 3; i >= 0; --i) chunk.push_back(static_cast<uint8_t>(per_metre >> (8 * i)));
    chunk.insert(chunk.end(), {1, 0, 0, 0, 0});
    out.insert(out.begin() + 33, chunk.begin(), chunk.end());
    const fs::path path = dir_ / "declared.png";
    FILE* file = fopen(path.c_str(), "wb");
    fwrite(out.data(), 1, out.size(), file);
    fclose(file);
    return path;
  };
  std::vector<std::string> notes;
  EXPECT_EQ(PrepareCapture(with_dpi(600), {.dpi = 0, .trim = false}, &notes).image.width, 250);
  EXPECT_EQ(PrepareCapture(with_dpi(600), {.dpi = 500, .trim = false}, &notes).image.width, 300);
  notes.clear();
  EXPECT_EQ(PrepareCapture(with_dpi(72), {.dpi = 0, .trim = false}, &notes).image.width, 300);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("ignoring"), std::string::npos);
}

TEST_F(CapturePreparation, SidesOutsideTheEnginesWindowAreRefused) {
  EXPECT_THROW(PrepareCapture(Platen(30, 200, 0, 0, 30, 200), {}, nullptr), InputError);
  EXPECT_THROW(PrepareCapture(Platen(940, 200, 0, 0, 940, 200), {}, nullptr), InputError);
  EXPECT_NO_THROW(PrepareCapture(Platen(931, 31, 0, 0, 931, 31), {}, nullptr));
  // A 500-dpi print too large is not shrunk on a guess, and --dpi is not offered as a cure.
  try {
    PrepareCapture(Platen(940, 200, 0, 0, 940, 200), {}, nullptr);
  } catch (const InputError& error) {
    const std::string message = error.what();
    EXPECT_NE(message.find("too large for a print from a 500-dpi sensor"), std::string::npos);
    EXPECT_EQ(message.find("--dpi"), std::string::npos) << message;
  }
  // A file that says it is at a higher resolution is brought down to 500 dpi.
  EXPECT_EQ(PrepareCapture(Platen(940, 200, 0, 0, 940, 200), {.dpi = 1000, .trim = false}, nullptr)
                .image.width,
            470);
}

TEST_F(CapturePreparation, DecodedImagesArePreparedLikeFilesAndKeepTheirFrame) {
  const fs::path path = Platen(400, 300, 100, 50, 200, 200);
  const Capture from_file = PrepareCapture(path, {}, nullptr);
  const Capture from_memory = PrepareImage(ReadPrintImage(path), "memory", {}, nullptr);
  EXPECT_EQ(from_memory.name, "memory");
  EXPECT_EQ(from_memory.image.pixels, from_file.image.pixels);
  EXPECT_EQ(from_memory.frame.trim_left, 100 - 16);
  EXPECT_EQ(from_memory.frame.trim_top, 50 - 16);
  const Capture doubled = PrepareImage(ReadPrintImage(path), "memory", {.dpi = 1000}, nullptr);
  EXPECT_DOUBLE_EQ(doubled.frame.file_per_capture, 2.0);
}

TEST_F(CapturePreparation, LowResolutionThatWouldBlowUpTheImageIsRefusedFirst) {
  PrintImage image;
  image.width = image.height = 2000;
  image.pixels.assign(2000 * 2000, 128);
  // 2000 pixels at 100 dpi would be 10000 a side at 500 dpi.
  try {
    PrepareImage(image, "big", {.dpi = 100}, nullptr);
    FAIL() << "accepted";
  } catch (const InputError& error) {
    EXPECT_NE(std::string(error.what()).find("100 dpi"), std::string::npos) << error.what();
  }
  image.width = image.height = 600;
  image.pixels.assign(600 * 600, 128);
  EXPECT_THROW(PrepareImage(image, "big", {.dpi = 100, .trim = false}, nullptr), InputError);
}

}  // namespace
}  // namespace ridgeline::tools
