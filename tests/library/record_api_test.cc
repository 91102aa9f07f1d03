// Standard minutiae records through the public interface: a record with the engine's item
// compares exactly like the compact template, one without it still tells genuine from impostor,
// the exported positions are the input-frame minutiae, and damaged records and bad arguments
// are refused without reading past the buffer.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "image/print_image.h"
#include "ridgeline/ridgeline.h"
#include "ridgeline/ridgeline.hpp"
#include "template/standard_record.h"
#include "tests/support/shared_data.h"

namespace ridgeline {
namespace {

std::filesystem::path Print(const char* name) {
  return testing::SharedDir() / "data" / "fvc2002" / "DB1_B" / name;
}

#define REQUIRE_PRINTS() \
  if (!std::filesystem::exists(Print("101_1.tif"))) GTEST_SKIP() << "no shared prints"

Features ExtractFile(Engine& engine, const char* name, int ppi = 500) {
  const tools::PrintImage image = tools::ReadPrintImage(Print(name));
  return engine.extract(image.pixels, image.width, image.height, ppi);
}

TEST(RecordApi, TheEngineItemComparesExactlyAndTheStandardFieldsStillDecide) {
  REQUIRE_PRINTS();
  Engine engine;
  const Features a = ExtractFile(engine, "101_1.tif");
  const Features b = ExtractFile(engine, "101_2.tif");
  const Features other = ExtractFile(engine, "102_1.tif");
  const std::vector<uint8_t> stored = engine.encode_template(a);
  const int template_score = engine.compare(b, engine.decode_template(stored));

  for (rl_record_format format : {RL_RECORD_ISO19794_2_2005, RL_RECORD_ISO19794_2_2011,
                                  RL_RECORD_ANSI378_2004, RL_RECORD_ANSI378_2009}) {
    const std::vector<uint8_t> record = engine.export_record(a, format);
    EXPECT_EQ(Engine::record_views(record), 1u);
    EXPECT_EQ(engine.compare(b, engine.import_record(record)), template_score) << format;
  }
  rl_record_options plain = rl_record_options_default();
  plain.engine_item = 0;
  const std::vector<uint8_t> foreign = engine.export_record(a, RL_RECORD_ANSI378_2009, plain);
  const int genuine = engine.compare(b, engine.import_record(foreign));
  const int impostor = engine.compare(other, engine.import_record(foreign));
  EXPECT_TRUE(Engine::matches(genuine)) << genuine;
  EXPECT_FALSE(Engine::matches(impostor)) << impostor;

  // Features decoded from a template have no input image; they still export and compare alike.
  const Features decoded = engine.decode_template(stored);
  EXPECT_EQ(engine.compare(b, engine.import_record(engine.export_record(decoded))), template_score);
}

TEST(RecordApi, ExportedPositionsAreTheInputFrameMinutiaeWithTheDeclaredImage) {
  REQUIRE_PRINTS();
  Engine engine;
  const tools::PrintImage image = tools::ReadPrintImage(Print("101_1.tif"));
  for (int ppi : {500, 1000}) {
    const Features a = engine.extract(image.pixels, image.width, image.height, ppi);
    rl_record_options options = rl_record_options_default();
    options.finger_position = 2;
    const std::vector<uint8_t> bytes = engine.export_record(a, RL_RECORD_ISO19794_2_2005, options);
    StandardRecord record;
    std::string error;
    ASSERT_TRUE(ReadStandardRecord(bytes, RecordReadMode::kStrict, &record, &error)) << error;
    const FingerView& view = record.views.at(0);
    EXPECT_EQ(view.width, image.width);
    EXPECT_EQ(view.height, image.height);
    EXPECT_EQ(view.x_resolution, ppi == 500 ? 197 : 394);
    EXPECT_EQ(view.finger_position, 2);
    const std::vector<rl_minutia> minutiae = a.minutiae(RL_FRAME_INPUT);
    ASSERT_EQ(view.minutiae.size(), minutiae.size());
    // The record keeps the engine's order; ISO angles are 360/256-degree steps.
    for (size_t i = 0; i < minutiae.size(); ++i) {
      EXPECT_EQ(view.minutiae[i].x, minutiae[i].x) << i;
      EXPECT_EQ(view.minutiae[i].y, minutiae[i].y) << i;
      const double gap = std::fmod(std::abs(view.minutiae[i].angle - minutiae[i].angle), 360.0);
      EXPECT_LE(std::min(gap, 360 - gap), 0.71) << i;
      EXPECT_EQ(view.minutiae[i].kind == MinutiaKind::kBifurcation,
                minutiae[i].type == RL_BIFURCATION);
    }
  }
}

TEST(RecordApi, SizesCapsAndDamagedRecordsAreReportedNotOverrun) {
  REQUIRE_PRINTS();
  Engine engine;
  const Features a = ExtractFile(engine, "101_1.tif");
  rl_engine* e = nullptr;
  ASSERT_EQ(rl_engine_create(&e), RL_OK);
  size_t size = 0;
  // Asking with no buffer gives the size; a buffer one byte short is left untouched.
  ASSERT_EQ(rl_record_export(e, a.get(), RL_RECORD_ISO19794_2_2005, nullptr, nullptr, 0, &size),
            RL_E_BUFFER_TOO_SMALL);
  std::vector<uint8_t> short_buffer(size - 1, 0xAB);
  EXPECT_EQ(rl_record_export(e, a.get(), RL_RECORD_ISO19794_2_2005, nullptr, short_buffer.data(),
                             short_buffer.size(), &size),
            RL_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(short_buffer, std::vector<uint8_t>(size - 1, 0xAB));
  // A cap drops the engine's item first, then minutiae; a cap below any record is refused.
  rl_record_options capped = rl_record_options_default();
  capped.max_bytes = 200;
  std::vector<uint8_t> buffer(4096);
  ASSERT_EQ(rl_record_export(e, a.get(), RL_RECORD_ISO19794_2_2005, &capped, buffer.data(),
                             buffer.size(), &size),
            RL_OK);
  EXPECT_LE(size, 200u);
  capped.max_bytes = 10;
  EXPECT_EQ(rl_record_export(e, a.get(), RL_RECORD_ISO19794_2_2005, &capped, buffer.data(),
                             buffer.size(), &size),
            RL_E_RECORD_CAP);
  // Bad arguments.
  // (An unknown format cannot be passed from C++ without undefined behaviour: every value in the
  // enumeration's range is a format. A C caller's stray value meets the export's switch.)
  rl_record_options bad_finger = rl_record_options_default();
  bad_finger.finger_position = 11;
  EXPECT_EQ(rl_record_export(e, a.get(), RL_RECORD_ISO19794_2_2005, &bad_finger, buffer.data(),
                             buffer.size(), &size),
            RL_E_INVALID_ARGUMENT);
  rl_features* out = reinterpret_cast<rl_features*>(1);
  EXPECT_EQ(rl_record_import(e, nullptr, 10, 0, &out), RL_E_INVALID_ARGUMENT);
  EXPECT_EQ(out, nullptr);

  rl_record_options plain = rl_record_options_default();
  plain.engine_item = 0;
  const std::vector<uint8_t> record = Engine().export_record(a, RL_RECORD_ANSI378_2004, plain);
  size_t views = 0;
  EXPECT_EQ(rl_record_view_count(record.data(), record.size(), &views), RL_OK);
  EXPECT_EQ(views, 1u);
  EXPECT_EQ(rl_record_import(e, record.data(), record.size(), 1, &out), RL_E_BAD_RECORD);
  EXPECT_EQ(out, nullptr);
  // Every truncation is refused (exact-size heap copies let ASan see any overrun).
  for (size_t n = 0; n < record.size(); ++n) {
    std::vector<uint8_t> cut(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_EQ(rl_record_import(e, cut.data() == nullptr ? record.data() : cut.data(), n, 0, &out),
              RL_E_BAD_RECORD)
        << n;
    EXPECT_EQ(out, nullptr);
  }
  // Random damage never crashes; what imports still compares.
  std::mt19937 random(19);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> damaged = record;
    damaged[random() % damaged.size()] ^= static_cast<uint8_t>(1 + random() % 255);
    if (rl_record_import(e, damaged.data(), damaged.size(), 0, &out) == RL_OK) {
      int32_t score = -1;
      EXPECT_EQ(rl_compare(e, a.get(), out, &score), RL_OK);
      EXPECT_TRUE(score >= 0 && score <= 9999);
      rl_features_destroy(out);
    }
  }
  for (rl_status s : {RL_E_BAD_RECORD, RL_E_RECORD_CAP}) {
    EXPECT_STRNE(rl_status_message(s), "unknown status");
  }
  rl_engine_destroy(e);
}

}  // namespace
}  // namespace ridgeline
