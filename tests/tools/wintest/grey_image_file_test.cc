#include "tools/wintest/grey_image_file.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/wintest/bir_record.h"

namespace ridgeline::wintest {
namespace {

std::string TempPath(const std::string& name) { return ::testing::TempDir() + "/" + name; }

void WriteText(const std::string& path, const std::string& bytes) {
  ASSERT_TRUE(WriteFileBytes(path, {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}));
}

void WriteTiff(const std::string& path, int width, int height, uint16_t photometric,
               const std::vector<uint8_t>& pixels) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tiff, nullptr);
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  for (int y = 0; y < height; ++y) {
    std::vector<uint8_t> row(pixels.begin() + y * width, pixels.begin() + (y + 1) * width);
    ASSERT_GE(TIFFWriteScanline(tiff, row.data(), y, 0), 0);
  }
  TIFFClose(tiff);
}

TEST(GreyImageFileTest, ReadsBinaryPgmWithComments) {
  const std::string path = TempPath("grey_ok.pgm");
  WriteText(path, std::string("P5\n# a comment\n3 2\n255\n") + "\x01\x02\x03\x04\x05\xff");
  GreyImage image;
  std::string error;
  ASSERT_TRUE(ReadGreyImage(path, &image, &error)) << error;
  EXPECT_EQ(image.width, 3);
  EXPECT_EQ(image.height, 2);
  EXPECT_EQ(image.pixels, (std::vector<uint8_t>{1, 2, 3, 4, 5, 255}));
  std::remove(path.c_str());
}

TEST(GreyImageFileTest, RefusesBadPgmFiles) {
  const std::string path = TempPath("grey_bad.pgm");
  GreyImage image;
  std::string error;
  for (const std::string& bytes :
       {std::string("P5\n3 2\n255\n\x01\x02"),
        std::string("P5\n3 2\n65535\n") + std::string(12, 'x'), std::string("P5\n0 2\n255\n"),
        std::string("P5\n99999 2\n255\n"), std::string("P2\n1 1\n255\n7"), std::string("P5\n3")}) {
    WriteText(path, bytes);
    EXPECT_FALSE(ReadGreyImage(path, &image, &error)) << bytes;
    EXPECT_FALSE(error.empty());
  }
  std::remove(path.c_str());
  EXPECT_FALSE(ReadGreyImage(path, &image, &error));
}

TEST(GreyImageFileTest, ReadsGreyTiffAndTurnsMinIsWhiteAround) {
  const std::vector<uint8_t> pixels = {0, 64, 128, 255, 10, 20};
  const std::string path = TempPath("grey.tif");
  GreyImage image;
  std::string error;
  WriteTiff(path, 3, 2, PHOTOMETRIC_MINISBLACK, pixels);
  ASSERT_TRUE(ReadGreyImage(path, &image, &error)) << error;
  EXPECT_EQ(image.width, 3);
  EXPECT_EQ(image.height, 2);
  EXPECT_EQ(image.pixels, pixels);

  WriteTiff(path, 3, 2, PHOTOMETRIC_MINISWHITE, pixels);
  ASSERT_TRUE(ReadGreyImage(path, &image, &error)) << error;
  EXPECT_EQ(image.pixels, (std::vector<uint8_t>{255, 191, 127, 0, 245, 235}));
  std::remove(path.c_str());
}

}  // namespace
}  // namespace ridgeline::wintest
