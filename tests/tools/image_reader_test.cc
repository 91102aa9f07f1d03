// Image input: every format decodes to the same grey pixels, declared resolutions are read, and
// damaged input of every kind is refused with InputError (never a crash, never a read beyond
// the bytes).
#include <gtest/gtest.h>

#include <tiffio.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "image/print_image.h"
#include "tests/support/image_encoders.h"
#include "tests/support/shared_data.h"
#include "tools/image/png_writer.h"

namespace ridgeline::tools {
namespace {

PrintImage Gradient(int width, int height) {
  PrintImage image;
  image.width = width;
  image.height = height;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      image.pixels.push_back(static_cast<uint8_t>((x * 7 + y * 3) & 255));
  return image;
}

std::vector<uint8_t> Bmp8(const PrintImage& image, int32_t pixels_per_metre) {
  const int stride = (image.width + 3) & ~3;
  const uint32_t offset = 14 + 40 + 256 * 4;
  std::vector<uint8_t> out(offset + static_cast<size_t>(stride) * image.height, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  out[0] = 'B', out[1] = 'M';
  put32(2, static_cast<uint32_t>(out.size()));
  put32(10, offset);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(image.width));
  put32(22, static_cast<uint32_t>(image.height));
  out[26] = 1, out[28] = 8;
  put32(38, static_cast<uint32_t>(pixels_per_metre));
  put32(42, static_cast<uint32_t>(pixels_per_metre));
  for (int i = 0; i < 256; ++i) put32(54 + 4 * static_cast<size_t>(i), 0x010101u * i);
  for (int y = 0; y < image.height; ++y)  // bottom-up rows
    for (int x = 0; x < image.width; ++x)
      out[offset + static_cast<size_t>(image.height - 1 - y) * stride + x] = image.at(x, y);
  return out;
}

std::vector<uint8_t> Pgm(const PrintImage& image) {
  const std::string header =
      "P5\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
  std::vector<uint8_t> out(header.begin(), header.end());
  out.insert(out.end(), image.pixels.begin(), image.pixels.end());
  return out;
}

std::vector<uint8_t> Ansi381(const PrintImage& image, int dpi, int compression = 0) {
  // Built with its first bytes: g++ 12 at -O3 sees a false overflow in inserting a list into an
  // empty vector.
  std::vector<uint8_t> out = {'F', 'I', 'R', 0, '0', '1', '0', 0};
  auto put = [&](uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  const size_t pixels = image.pixels.size();
  put(36 + 14 + pixels, 6);
  put(0, 4), put(0, 2), put(31, 2);
  put(1, 1), put(1, 1);  // one finger, pixels per inch
  put(static_cast<uint64_t>(dpi), 2), put(static_cast<uint64_t>(dpi), 2);
  put(static_cast<uint64_t>(dpi), 2), put(static_cast<uint64_t>(dpi), 2);
  put(8, 1), put(static_cast<uint64_t>(compression), 1), put(0, 2);
  put(14 + pixels, 4);
  put(2, 1), put(1, 1), put(1, 1), put(80, 1), put(0, 1);
  put(static_cast<uint64_t>(image.width), 2), put(static_cast<uint64_t>(image.height), 2),
      put(0, 1);
  out.insert(out.end(), image.pixels.begin(), image.pixels.end());
  return out;
}

std::vector<uint8_t> Tiff8(const PrintImage& image, float dpi) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("ridgeline_tiff_" + std::to_string(::getpid()) + ".tif");
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, image.width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, image.height);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  if (dpi > 0) {
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, dpi);
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, dpi);
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  }
  for (int y = 0; y < image.height; ++y) {
    TIFFWriteScanline(tiff,
                      const_cast<uint8_t*>(&image.pixels[static_cast<size_t>(y) * image.width]),
                      static_cast<uint32_t>(y));
  }
  TIFFClose(tiff);
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  std::filesystem::remove(path);
  return bytes;
}

std::vector<uint8_t> PngWithDpi(const PrintImage& image, int dpi) {
  std::vector<uint8_t> png = EncodePng(image.width, image.height, 1, image.pixels);
  // Insert a pHYs chunk after IHDR (8 + 25 bytes); its CRC is not checked by the reader.
  const uint32_t per_metre = static_cast<uint32_t>(dpi / 0.0254 + 0.5);
  std::vector<uint8_t> chunk = {0, 0, 0, 9, 'p', 'H', 'Y', 's'};
  for (int k = 0; k < 2; ++k)
    for (int i = 3; i >= 0; --i) chunk.push_back(static_cast<uint8_t>(per_metre >> (8 * i)));
  chunk.push_back(1);
  chunk.insert(chunk.end(), {0, 0, 0, 0});
  png.insert(png.begin() + 33, chunk.begin(), chunk.end());
  return png;
}

TEST(ImageReader, EveryLosslessFormatGivesTheSamePixels) {
  const PrintImage source = Gradient(37, 23);
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
      {"PNG", EncodePng(source.width, source.height, 1, source.pixels)},
      {"BMP", Bmp8(source, 0)},
      {"PGM", Pgm(source)},
      {"TIFF", Tiff8(source, 0)},
      {"ANSI-381", Ansi381(source, 500)}};
  for (const auto& [format, bytes] : files) {
    SCOPED_TRACE(format);
    const PrintImage image = DecodePrintImage(bytes, "test." + format);
    EXPECT_EQ(image.format, format);
    EXPECT_EQ(image.width, source.width);
    EXPECT_EQ(image.height, source.height);
    EXPECT_EQ(image.pixels, source.pixels);
  }
}

std::vector<uint8_t> Jpeg(const PrintImage& image, int dpi) {
  return ridgeline::testing::EncodeJpeg(image.width, image.height, image.pixels, dpi);
}

TEST(ImageReader, JpegDecodesToNearlyTheSamePixels) {
  PrintImage source;
  source.width = 32;
  source.height = 24;
  source.pixels.assign(32 * 24, 90);
  const PrintImage image = DecodePrintImage(Jpeg(source, 0), "a.jpg");
  EXPECT_EQ(image.format, "JPEG");
  ASSERT_EQ(image.width, 32);
  ASSERT_EQ(image.height, 24);
  for (uint8_t p : image.pixels) ASSERT_NEAR(p, 90, 2);  // a flat block survives the codec
}

TEST(ImageReader, DeclaredResolutionIsReadFromEachFormat) {
  const PrintImage source = Gradient(16, 16);
  EXPECT_EQ(DecodePrintImage(PngWithDpi(source, 569), "a.png").declared_dpi, 569);
  EXPECT_EQ(DecodePrintImage(Bmp8(source, 19685), "a.bmp").declared_dpi, 500);
  EXPECT_EQ(DecodePrintImage(Tiff8(source, 1000.0f), "a.tif").declared_dpi, 1000);
  EXPECT_EQ(DecodePrintImage(Ansi381(source, 569), "a.fir").declared_dpi, 569);
  const std::vector<uint8_t> jpeg = Jpeg(source, 1000);
  ASSERT_EQ(jpeg[3], 0xE0);  // the writer puts a JFIF segment first
  EXPECT_EQ(DecodePrintImage(jpeg, "a.jpg").declared_dpi, 1000);
  EXPECT_EQ(DecodePrintImage(Pgm(source), "a.pgm").declared_dpi, 0);
  EXPECT_EQ(DecodePrintImage(Tiff8(source, 0), "a.tif").declared_dpi, 0);
}

// `source` as a file of each format the reader takes (no resolution declared where a format can
// leave it out).
std::vector<std::vector<uint8_t>> InEveryFormat(const PrintImage& source) {
  return {EncodePng(source.width, source.height, 1, source.pixels),
          Bmp8(source, 0),
          Pgm(source),
          Tiff8(source, 0),
          Ansi381(source, 500),
          Jpeg(source, 0)};
}

// Damaged bytes are refused as bad input or decoded to a whole image: some readers fill missing
// pixel rows, but never with a size that does not hold its pixels.
void ExpectWholeOrRefused(const std::vector<uint8_t>& bytes) {
  try {
    const PrintImage image = DecodePrintImage(bytes, "damaged");
    EXPECT_EQ(image.pixels.size(), static_cast<size_t>(image.width) * image.height);
  } catch (const InputError&) {
  }
}

TEST(ImageReader, TruncatedFilesAreRefusedAtEveryLength) {
  const std::vector<std::vector<uint8_t>> files = InEveryFormat(Gradient(20, 12));
  for (const auto& bytes : files) {
    for (size_t length = 0; length < bytes.size(); ++length) {
      SCOPED_TRACE(length);
      // A shorter copy, so that the sanitizer sees any read past its end.
      const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(length));
      ExpectWholeOrRefused(cut);
    }
  }
}

TEST(ImageReader, PgmMissingPixelsIsRefusedNotFilled) {
  std::vector<uint8_t> pgm = Pgm(Gradient(40, 30));
  pgm.resize(pgm.size() - 40);  // the last row
  EXPECT_THROW(DecodePrintImage(pgm, "short.pgm"), InputError);
}

TEST(ImageReader, CorruptedBytesAreDecodedOrRefusedNeverReadBeyond) {
  const std::vector<std::vector<uint8_t>> files = InEveryFormat(Gradient(24, 18));
  uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  for (const auto& bytes : files) {
    for (int round = 0; round < 300; ++round) {
      std::vector<uint8_t> damaged = bytes;
      // A few bytes of the first 64 (where the headers are) set to arbitrary values.
      for (int k = 0; k < 3; ++k) {
        damaged[next() % std::min<size_t>(64, damaged.size())] = static_cast<uint8_t>(next());
      }
      ExpectWholeOrRefused(damaged);
    }
  }
}

TEST(ImageReader, WrongFormatHugeAndEmptyImagesAreRefused) {
  const std::vector<uint8_t> text = {'h', 'e', 'l', 'l', 'o'};
  EXPECT_THROW(DecodePrintImage(text, "notes.txt"), InputError);
  EXPECT_THROW(DecodePrintImage({}, "empty.png"), InputError);
  const std::string huge = "P5\n100000 100000\n255\n";
  EXPECT_THROW(
      DecodePrintImage({reinterpret_cast<const uint8_t*>(huge.data()), huge.size()}, "huge.pgm"),
      InputError);
  const std::string zero = "P5\n0 10\n255\n";
  EXPECT_THROW(
      DecodePrintImage({reinterpret_cast<const uint8_t*>(zero.data()), zero.size()}, "zero.pgm"),
      InputError);
  PrintImage one = Gradient(4, 4);
  EXPECT_THROW(DecodePrintImage(Ansi381(one, 500, 2), "compressed.fir"), InputError);
  std::vector<uint8_t> big_claim = Ansi381(one, 500);
  big_claim[36 + 9] = 0x0F;  // width 3844: more pixels than the record holds
  EXPECT_THROW(DecodePrintImage(big_claim, "short.fir"), InputError);
}

TEST(ImageReader, MissingFileAndDirectoryAreRefused) {
  EXPECT_THROW(ReadPrintImage("/nonexistent/print.png"), InputError);
  EXPECT_THROW(ReadPrintImage(std::filesystem::temp_directory_path()), InputError);
}

TEST(ImageReader, ReadsTheSharedTiffPrints) {
  const auto file = ridgeline::testing::SharedDir() / "data/fvc2002/DB1_B/101_1.tif";
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "no shared prints";
  const PrintImage image = ReadPrintImage(file);
  EXPECT_EQ(image.width, 388);
  EXPECT_EQ(image.height, 374);
}

}  // namespace
}  // namespace ridgeline::tools
