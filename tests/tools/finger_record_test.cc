// Finger image records: the ANSI INCITS 381 and ISO/IEC 19794-4 forms are told apart by their
// structure, and the image inside may be raw grey, JPEG, JPEG 2000 or PNG.
#include <gtest/gtest.h>

#include <filesystem>

#include "image/print_image.h"
#include "tests/support/image_encoders.h"
#include "tests/support/shared_data.h"
#include "tools/image/png_writer.h"

namespace ridgeline::tools {
namespace {

enum class Form { kAnsi, kIso };

// A record with one view holding `data` (pixels or a compressed file) of a width x height image.
std::vector<uint8_t> Record(Form form, int width, int height, int compression,
                            const std::vector<uint8_t>& data, int dpi = 500) {
  std::vector<uint8_t> out;
  auto put = [&](uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  const size_t header = form == Form::kAnsi ? 36 : 32;
  put(0x46495200, 4);  // "FIR\0"
  put(0x30313000, 4);  // "010\0"
  put(header + 14 + data.size(), 6);
  if (form == Form::kAnsi) put(0x00420000, 4);  // product identifier
  put(0, 2), put(31, 2);                        // capture device, acquisition level
  put(1, 1), put(1, 1);                         // one finger, pixels per inch
  for (int i = 0; i < 4; ++i) put(static_cast<uint64_t>(dpi), 2);
  put(8, 1), put(static_cast<uint64_t>(compression), 1), put(0, 2);
  put(14 + data.size(), 4);
  put(2, 1), put(1, 1), put(1, 1), put(80, 1), put(0, 1);
  put(static_cast<uint64_t>(width), 2), put(static_cast<uint64_t>(height), 2), put(0, 1);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::vector<uint8_t> Pixels(int width, int height) {
  std::vector<uint8_t> pixels;
  for (int i = 0; i < width * height; ++i) pixels.push_back(static_cast<uint8_t>(i * 13 % 251));
  return pixels;
}

TEST(FingerRecord, BothFormsWithEveryImageCodingGiveThePixels) {
  const int w = 33, h = 21;
  const std::vector<uint8_t> pixels = Pixels(w, h);
  const std::vector<std::pair<int, std::vector<uint8_t>>> codings = {
      {0, pixels},
      {4, ridgeline::testing::EncodeJpeg2000(w, h, pixels)},
      {5, EncodePng(w, h, 1, pixels)}};
  for (const Form form : {Form::kAnsi, Form::kIso}) {
    for (const auto& [compression, data] : codings) {
      SCOPED_TRACE(std::to_string(static_cast<int>(form)) + " " + std::to_string(compression));
      const PrintImage image = DecodePrintImage(Record(form, w, h, compression, data, 569), "r");
      EXPECT_EQ(image.format, form == Form::kAnsi ? "ANSI-381" : "ISO-19794-4");
      EXPECT_EQ(image.pixels, pixels);
      EXPECT_EQ(image.declared_dpi, 569);
    }
    // JPEG is lossy: a flat image comes back flat.
    const std::vector<uint8_t> flat(static_cast<size_t>(w * h), 120);
    const PrintImage jpeg = DecodePrintImage(
        Record(form, w, h, 3, ridgeline::testing::EncodeJpeg(w, h, flat)), "r.jpg");
    for (uint8_t p : jpeg.pixels) ASSERT_NEAR(p, 120, 2);
  }
}

// The old reader took every record as the 36-byte form: an ISO record's pixels were read four
// bytes late and its header fields from the wrong places.
TEST(FingerRecord, FormIsToldByStructureNotByTheLeadingBytes) {
  const std::vector<uint8_t> pixels = Pixels(20, 20);
  const std::vector<uint8_t> iso = Record(Form::kIso, 20, 20, 0, pixels);
  EXPECT_EQ(DecodePrintImage(iso, "iso").format, "ISO-19794-4");
  std::vector<uint8_t> wrong_length = iso;
  wrong_length[13] -= 1;  // the record length no longer matches either form
  wrong_length.pop_back();
  EXPECT_THROW(DecodePrintImage(wrong_length, "bad length"), InputError);
  std::vector<uint8_t> truncated = iso;
  truncated.resize(truncated.size() - 1);
  EXPECT_THROW(DecodePrintImage(truncated, "cut"), InputError);
}

TEST(FingerRecord, DamagedAndUnsupportedContentIsRefused) {
  const std::vector<uint8_t> pixels = Pixels(16, 16);
  // WSQ (2) and bit-packed (1) images are named, not misread.
  EXPECT_THROW(DecodePrintImage(Record(Form::kAnsi, 16, 16, 1, pixels), "packed"), InputError);
  // A header whose size disagrees with the embedded image.
  EXPECT_THROW(DecodePrintImage(Record(Form::kIso, 17, 16, 5, EncodePng(16, 16, 1, pixels)), "x"),
               InputError);
  // An embedded PNG that is damaged.
  std::vector<uint8_t> png = EncodePng(16, 16, 1, pixels);
  png.resize(png.size() / 2);
  EXPECT_THROW(DecodePrintImage(Record(Form::kAnsi, 16, 16, 5, png), "x"), InputError);
  // Raw pixels fewer than the header's size; no finger at all.
  EXPECT_THROW(DecodePrintImage(Record(Form::kAnsi, 17, 16, 0, pixels), "x"), InputError);
  std::vector<uint8_t> none = Record(Form::kAnsi, 16, 16, 0, pixels);
  none[22] = 0;
  EXPECT_THROW(DecodePrintImage(none, "x"), InputError);
}

TEST(FingerRecord, ReadsTheSharedAnsiRecord) {
  const auto file = ridgeline::testing::SharedDir() / "interop/fjfx/ansi381/TestAnsiImage.fir";
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "no shared interchange records";
  const PrintImage image = ReadPrintImage(file);
  EXPECT_EQ(image.format, "ANSI-381");
  EXPECT_EQ(image.width, 211);
  EXPECT_EQ(image.height, 376);
  EXPECT_EQ(image.declared_dpi, 508);
}

}  // namespace
}  // namespace ridgeline::tools
