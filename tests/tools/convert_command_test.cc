// `ridgeline convert` and the image file writer: every output format holds the input's pixels
// (WSQ within its loss), the WSQ comment records the resolution, bad requests end with exit 2,
// and the written file is private and replaces a link at its name instead of writing through it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "image/wsq_decoder.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/wsq_reference.h"
#include "tools/image/image_writer.h"
#include "tools/image/png_writer.h"

namespace ridgeline::tools {
namespace {

namespace fs = std::filesystem;

using ridgeline::testing::ScratchDir;

PrintImage Ridges(int width, int height) {
  PrintImage image;
  image.width = width;
  image.height = height;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      image.pixels.push_back(static_cast<uint8_t>(
          140 + 80 * std::sin(std::hypot(x - width / 2.0, y - height / 2.0) * 0.7)));
  return image;
}

TEST(ImageWriter, PgmRoundTripsThroughTheReader) {
  const PrintImage image = Ridges(37, 21);
  const PrintImage back = DecodePrintImage(EncodePgm(image), "a.pgm");
  EXPECT_EQ(back.width, 37);
  EXPECT_EQ(back.pixels, image.pixels);
}

TEST(ImageWriter, FormatsAreNamedAndTakenFromTheExtension) {
  EXPECT_EQ(ImageFormatOf("a/b.WSQ"), ImageFileFormat::kWsq);
  EXPECT_EQ(ImageFormatOf("b.png"), ImageFileFormat::kPng);
  EXPECT_EQ(ImageFormatOf("b.pgm"), ImageFileFormat::kPgm);
  EXPECT_FALSE(ImageFormatOf("b.tif").has_value());
  EXPECT_FALSE(ImageFormatOf("wsq").has_value());
  EXPECT_EQ(ImageFormatNamed("Png"), ImageFileFormat::kPng);
}

TEST(ImageWriter, FileIsPrivateAndReplacesALinkNotItsTarget) {
  ScratchDir dir("ridgeline_convert");
  const fs::path target = dir / "elsewhere.txt";
  {
    std::FILE* f = std::fopen(target.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("keep", f);
    std::fclose(f);
  }
  const fs::path out = dir / "out.pgm";
  fs::create_symlink(target, out);
  WriteFileAtomically(out, {1, 2, 3});
  EXPECT_FALSE(fs::is_symlink(out));
  EXPECT_EQ(fs::file_size(out), 3u);
  EXPECT_EQ(fs::file_size(target), 4u);
  struct stat info {};
  ASSERT_EQ(::stat(out.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // No temporary file is left behind, and a directory is not overwritten.
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir / "")) ++entries;
  EXPECT_EQ(entries, 2);
  EXPECT_THROW(WriteFileAtomically(dir / "", {1}), InputError);
  EXPECT_THROW(WriteFileAtomically(dir / "missing" / "x.pgm", {1}), InputError);
}

#ifdef RIDGELINE_TOOL_PATH
int Tool(const std::string& args) {
  const std::string command = std::string(RIDGELINE_TOOL_PATH) + " " + args + " >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ConvertCommand, ConvertsBetweenPngWsqAndPgm) {
  ScratchDir dir("ridgeline_convert");
  const PrintImage image = Ridges(300, 280);
  WritePng(dir / "a.png", image.width, image.height, 1, image.pixels);
  const std::string a = (dir / "a").string();
  ASSERT_EQ(Tool("--dpi 569 convert " + a + ".png -o " + a + ".wsq --bitrate 2.25"), 0);
  const std::vector<uint8_t> wsq = testing::ReadBytes(a + ".wsq");
  const PrintImage decoded = DecodeWsq(wsq, "a.wsq");
  EXPECT_EQ(decoded.declared_dpi, 569);
  int worst = 0;
  for (size_t i = 0; i < image.pixels.size(); ++i) {
    worst = std::max(worst, std::abs(int{decoded.pixels[i]} - int{image.pixels[i]}));
  }
  EXPECT_LT(worst, 40);
  // The file meets the bit rate; the reference quantization stays below it.
  const double bpp = 8.0 * static_cast<double>(wsq.size()) / (300 * 280);
  EXPECT_LE(bpp, 2.25);
  EXPECT_GE(bpp, 0.9 * 2.25);
  ASSERT_EQ(Tool("convert " + a + ".png -o " + a +
                 "-ref.wsq --bitrate 2.25 "
                 "--reference-quantisation"),
            0);
  EXPECT_LT(testing::ReadBytes(a + "-ref.wsq").size(), wsq.size());

  ASSERT_EQ(Tool("convert " + a + ".wsq -o " + a + ".pgm"), 0);
  EXPECT_EQ(ReadPrintImage(a + ".pgm").pixels, decoded.pixels);
  ASSERT_EQ(Tool("convert " + a + ".wsq -o " + a + ".out --to png"), 0);
  const PrintImage png = ReadPrintImage(a + ".out");
  EXPECT_EQ(png.format, "PNG");
  EXPECT_EQ(png.pixels, decoded.pixels);
}

TEST(ConvertCommand, BadRequestsEndWithExitTwo) {
  ScratchDir dir("ridgeline_convert");
  const std::string a = (dir / "a").string();
  WritePng(a + ".png", 40, 40, 1, Ridges(40, 40).pixels);
  EXPECT_EQ(Tool("convert " + a + ".png -o " + a + ".tif"), 2);      // unknown format
  EXPECT_EQ(Tool("convert " + a + ".missing -o " + a + ".pgm"), 2);  // no input
  EXPECT_EQ(Tool("convert " + a + ".png -o " + a + ".wsq --bitrate 20"), 2);
  EXPECT_EQ(Tool("convert " + a + ".png -o " + a + ".pgm --to gif"), 2);
  EXPECT_FALSE(fs::exists(a + ".tif"));
}
#endif

}  // namespace
}  // namespace ridgeline::tools
