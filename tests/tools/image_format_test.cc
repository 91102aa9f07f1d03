// The readers of our own (BMP, PNM) and the JPEG and JPEG 2000 readers on the cases that used to
// go wrong: every BMP layout a scanner writes (palette depths, colour, top-down rows), PNM
// samples of any maxval scaled to the full 8-bit range, truncated files refused as damaged,
// and headers that ask for more pixels than the limit refused before anything is decoded.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/print_image.h"
#include "tests/support/image_encoders.h"

namespace ridgeline::tools {
namespace {

PrintImage Pattern(int width, int height) {
  PrintImage image;
  image.width = width;
  image.height = height;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      image.pixels.push_back(static_cast<uint8_t>((x * 11 + y * 5) & 255));
  return image;
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

struct BmpLayout {
  int bits = 8;            // 1, 4 and 8 through a grey palette; 24 and 32 as colour
  bool top_down = false;   // negative height
  bool bitfields = false;  // 32 bits with explicit masks after a 40-byte header
};

// A BMP whose pixels decode to `image` (values are quantised to the palette for 1 and 4 bits).
std::vector<uint8_t> Bmp(const PrintImage& image, BmpLayout layout) {
  const int bits = layout.bits;
  const uint32_t palette = bits <= 8 ? (1u << bits) : 0;
  const uint32_t masks = layout.bitfields ? 12 : 0;
  const uint32_t offset = 14 + 40 + masks + palette * 4;
  const size_t stride = (static_cast<size_t>(image.width) * bits + 31) / 32 * 4;
  std::vector<uint8_t> out(offset + stride * image.height, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  out[0] = 'B', out[1] = 'M';
  put32(2, static_cast<uint32_t>(out.size()));
  put32(10, offset);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(image.width));
  put32(22, static_cast<uint32_t>(layout.top_down ? -image.height : image.height));
  out[26] = 1, out[28] = static_cast<uint8_t>(bits);
  if (layout.bitfields) {
    put32(30, 3);
    put32(54, 0x0000FF00u), put32(58, 0x00FF0000u), put32(62, 0xFF000000u);  // r, g, b
  }
  const uint32_t levels = palette ? palette : 1;
  for (uint32_t i = 0; i < palette; ++i) {
    put32(14 + 40 + masks + 4 * i, 0x010101u * (i * 255 / (levels - 1)));
  }
  for (int y = 0; y < image.height; ++y) {
    uint8_t* row = out.data() + offset + stride * (layout.top_down ? y : image.height - 1 - y);
    for (int x = 0; x < image.width; ++x) {
      const uint8_t v = image.at(x, y);
      if (bits <= 8) {
        const uint32_t index = v * (levels - 1) / 255;
        const int per_byte = 8 / bits;
        row[x / per_byte] |= static_cast<uint8_t>(index << (8 - bits - (x % per_byte) * bits));
      } else if (bits == 24) {
        row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = v;
      } else if (layout.bitfields) {
        row[4 * x + 1] = row[4 * x + 2] = row[4 * x + 3] = v;  // the masks' byte lanes
      } else {
        row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = v;
      }
    }
  }
  return out;
}

TEST(BmpReader, EveryLayoutDecodesToTheSameGrey) {
  const PrintImage source = Pattern(29, 17);  // odd width: rows carry padding
  for (const BmpLayout layout :
       {BmpLayout{8, false, false}, BmpLayout{8, true, false}, BmpLayout{24, false, false},
        BmpLayout{24, true, false}, BmpLayout{32, false, false}, BmpLayout{32, true, true}}) {
    SCOPED_TRACE(std::to_string(layout.bits) + (layout.top_down ? " top-down" : " bottom-up"));
    const PrintImage image = DecodePrintImage(Bmp(source, layout), "a.bmp");
    ASSERT_EQ(image.width, 29);
    ASSERT_EQ(image.height, 17);
    EXPECT_EQ(image.pixels, source.pixels);
  }
}

TEST(BmpReader, NarrowPalettesPickTheirEntries) {
  const PrintImage source = Pattern(13, 5);
  for (int bits : {1, 4}) {
    SCOPED_TRACE(bits);
    const PrintImage image = DecodePrintImage(Bmp(source, {bits, false, false}), "a.bmp");
    const uint32_t levels = (1u << bits) - 1;
    for (size_t i = 0; i < image.pixels.size(); ++i) {
      ASSERT_EQ(image.pixels[i], source.pixels[i] * levels / 255 * 255 / levels) << i;
    }
  }
}

TEST(BmpReader, DamagedFieldsAreRefused) {
  const std::vector<uint8_t> good = Bmp(Pattern(20, 10), {});
  auto with = [&](size_t at, std::vector<uint8_t> value) {
    std::vector<uint8_t> bytes = good;
    std::copy(value.begin(), value.end(), bytes.begin() + static_cast<ptrdiff_t>(at));
    return bytes;
  };
  EXPECT_THROW(DecodeBmp(with(10, {0xFF, 0xFF, 0xFF, 0x7F}), "offset"), InputError);
  EXPECT_THROW(DecodeBmp(with(14, {41, 0, 0, 0}), "header size"), InputError);
  EXPECT_THROW(DecodeBmp(with(22, {0, 0, 0, 0x80}), "INT32_MIN height"), InputError);
  EXPECT_THROW(DecodeBmp(with(26, {2}), "planes"), InputError);
  EXPECT_THROW(DecodeBmp(with(28, {7}), "bits"), InputError);
  EXPECT_THROW(DecodeBmp(with(30, {1}), "run-length"), InputError);
  EXPECT_THROW(DecodeBmp(with(46, {0, 2, 0, 0}), "512 palette entries"), InputError);
  // A palette of 4 entries while the pixels use up to 255.
  std::vector<uint8_t> short_palette = with(46, {4, 0, 0, 0});
  EXPECT_THROW(DecodeBmp(short_palette, "index past the palette"), InputError);
}

// A file cut anywhere is refused with a message naming it damaged or truncated; before, a BMP
// cut to 70 % of its bytes decoded with its missing rows made up.
TEST(BmpAndPnmReaders, TruncatedFilesAreRefusedAsDamaged) {
  const PrintImage source = Pattern(24, 16);
  std::string pgm16 = "P5 24 16 65535\n";
  for (uint8_t v : source.pixels) pgm16 += {static_cast<char>(v), static_cast<char>(v)};
  std::string pgm = "P5\n24 16\n255\n";
  pgm.append(source.pixels.begin(), source.pixels.end());
  const std::vector<std::vector<uint8_t>> files = {
      Bmp(source, {}), Bmp(source, {24, true, false}), Bytes(pgm), Bytes(pgm16),
      ridgeline::testing::EncodeJpeg(source.width, source.height, source.pixels)};
  for (const auto& bytes : files) {
    ASSERT_NO_THROW(DecodePrintImage(bytes, "whole"));
    for (size_t length = 3; length < bytes.size(); length += 7) {
      SCOPED_TRACE(length);
      const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(length));
      try {
        DecodePrintImage(cut, "cut");
        ADD_FAILURE() << "a cut file was decoded";
      } catch (const InputError& error) {
        const std::string message = error.what();
        EXPECT_TRUE(message.find("truncated") != std::string::npos ||
                    message.find("damaged") != std::string::npos)
            << message;
      }
    }
  }
}

TEST(PnmReader, SamplesAreScaledAgainstMaxval) {
  // 16-bit samples keep their high byte's meaning (the old reader kept the low byte: noise).
  std::string wide = "P5\n3 1\n65535\n";
  wide += std::string("\x00\x00\x80\x00\xFF\xFF", 6);
  EXPECT_EQ(DecodePrintImage(Bytes(wide), "a.pgm").pixels, (std::vector<uint8_t>{0, 128, 255}));
  // A 4-bit map: 15 is white.
  const std::string narrow = std::string("P5 3 1 15\n") + std::string("\x00\x07\x0F", 3);
  EXPECT_EQ(DecodePrintImage(Bytes(narrow), "b.pgm").pixels, (std::vector<uint8_t>{0, 119, 255}));
  // Plain text with comments, and colour maps as grey.
  EXPECT_EQ(DecodePrintImage(Bytes("P2 # made by hand\n2 1\n# max\n100\n0 100\n"), "c.pgm").pixels,
            (std::vector<uint8_t>{0, 255}));
  EXPECT_EQ(DecodePrintImage(Bytes("P3 2 1 255 255 255 255 0 0 0"), "d.ppm").pixels,
            (std::vector<uint8_t>{255, 0}));
  const std::string p6 = std::string("P6 1 1 255\n") + std::string("\xFF\x00\x00", 3);
  const PrintImage red = DecodePrintImage(Bytes(p6), "e.ppm");
  EXPECT_EQ(red.format, "PPM");
  EXPECT_EQ(red.pixels, (std::vector<uint8_t>{76}));  // 0.299 x 255
  // One-byte colour samples scale against their own maxval before the luma weights.
  const std::string p6_narrow =
      std::string("P6 2 1 15\n") + std::string("\x0F\x0F\x0F\x00\x0F\x00", 6);
  EXPECT_EQ(DecodePrintImage(Bytes(p6_narrow), "f.ppm").pixels, (std::vector<uint8_t>{255, 150}));
}

TEST(PnmReader, HostileHeadersAreRefused) {
  for (const std::string text :
       {"P5 99999999999999999999999 1 255\n", "P5 4294967297 1 255\n", "P5 2 1 65536\n\x01\x01",
        "P5 2 1 0\n\x01\x01", "P5 -2 1 255\n\x01\x01", "P5 2 1 255", "P5 2 1 10\n\x0B\x01",
        "P2 2 1 255 1 300", "P2 2 2 255 1 2 3", "P5 3 1 10\n\x01\x02\x0B",
        "P6 1 1 10\n\x01\x0B\x01", "P4 8 1\n\x01", "P5 0 1 255\n"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(DecodePrintImage(Bytes(text), "hostile.pgm"), InputError);
  }
}

// A JPEG header asking for 60,000 x 60,000 pixels is refused from the header alone.
TEST(JpegReader, HugeDeclaredSizeAndDamageAreRefused) {
  const PrintImage source = Pattern(16, 16);
  std::vector<uint8_t> jpeg = ridgeline::testing::EncodeJpeg(16, 16, source.pixels);
  for (size_t i = 0; i + 8 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {  // start of frame: height and width at 5, 7
      jpeg[i + 5] = jpeg[i + 7] = 0xEA;
      jpeg[i + 6] = jpeg[i + 8] = 0x60;
    }
  }
  try {
    DecodePrintImage(jpeg, "huge.jpg");
    ADD_FAILURE() << "decoded";
  } catch (const InputError& error) {
    EXPECT_NE(std::string(error.what()).find("60000 x 60000"), std::string::npos) << error.what();
  }
  std::vector<uint8_t> noise = ridgeline::testing::EncodeJpeg(16, 16, source.pixels);
  for (size_t i = noise.size() / 2; i < noise.size() - 2; ++i) noise[i] = 0xFF;
  EXPECT_THROW(DecodePrintImage(noise, "noise.jpg"), InputError);
}

TEST(Jpeg2000Reader, LosslessCodestreamGivesThePixels) {
  const PrintImage source = Pattern(40, 30);
  const std::vector<uint8_t> j2k = ridgeline::testing::EncodeJpeg2000(40, 30, source.pixels);
  const PrintImage image = DecodePrintImage(j2k, "a.j2k");
  EXPECT_EQ(image.format, "JPEG2000");
  EXPECT_EQ(image.pixels, source.pixels);
  const std::vector<uint8_t> cut(j2k.begin(), j2k.begin() + static_cast<ptrdiff_t>(j2k.size() / 2));
  EXPECT_THROW(DecodePrintImage(cut, "cut.j2k"), InputError);
  // A grid of 120,000 one-pixel tiles (the decoder would build each while reading the header)
  // and a size over the limit are refused from the size segment alone.
  auto with_siz = [](std::vector<uint8_t> bytes, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
    return bytes;
  };
  const std::vector<uint8_t> tiny_tiles =
      with_siz(with_siz(with_siz(j2k, 12, 3000), 24, 1), 28, 1);  // height, tile sides
  EXPECT_THROW(DecodePrintImage(with_siz(j2k, 12, 5000), "tall.j2k"), InputError);
  try {
    DecodePrintImage(tiny_tiles, "tiles.j2k");
    ADD_FAILURE() << "decoded";
  } catch (const InputError& error) {
    EXPECT_NE(std::string(error.what()).find("tiles"), std::string::npos) << error.what();
  }
}

}  // namespace
}  // namespace ridgeline::tools
