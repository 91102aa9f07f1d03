#include "template/template_encode.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "core/engine_params.h"
#include "template/template_container.h"
#include "template/template_decode.h"
#include "template/template_layout.h"
#include "tests/support/feature_set_fixture.h"

namespace ridgeline {
namespace {

using testing::FeatureRecordsFixture;
using testing::Minutia;

constexpr int kCapacity = 1024;

std::vector<uint8_t> Encode(EngineParams* params, FeatureRecordsFixture& set,
                            int capacity = kCapacity) {
  std::vector<uint8_t> buffer(static_cast<size_t>(capacity), 0xAB);
  EncodeTemplate(params, set.get(), 7, buffer);
  return buffer;
}

// The cell value a packed map gives back for a stored cell.
uint8_t PackedRoundTrip(uint8_t v) {
  if ((v & 0x7F) == 0x7F) return 0xFF;
  const int code = (v + 4) / 8;
  return static_cast<uint8_t>(code == 15 ? 0 : 8 * code);
}

// A random feature set: grid up to 63 x 63 with about a third of its blocks empty, minutiae
// anywhere on the grid.
void FillRandom(std::mt19937& rng, FeatureRecordsFixture& set) {
  auto uniform = [&rng](int lo, int hi) { return std::uniform_int_distribution<>(lo, hi)(rng); };
  const int cols = uniform(1, 63);
  const int rows = uniform(1, 63);
  set.SetGrid(cols, rows, 0);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      const int roll = uniform(0, 8);
      set.cell(c, r) = roll < 2 ? 0xFF : roll < 3 ? 127 : static_cast<uint8_t>(uniform(0, 119));
    }
  }
  const int count = uniform(10, 250);
  for (int i = 0; i < count; ++i) {
    set.Add({uniform(0, 16 * cols - 1), uniform(0, 16 * rows - 1), uniform(0, 359), uniform(0, 255),
             uniform(0, 1)});
  }
}

TEST(EncodeTemplate, RandomSetsRoundTripAtCapacity1024) {
  std::mt19937 rng(20261208);
  for (int trial = 0; trial < 300; ++trial) {
    FeatureRecordsFixture set;
    FillRandom(rng, set);
    EngineParams params = DefaultEngineParams();
    const std::vector<uint8_t> buffer = Encode(&params, set);
    const int size = TemplateRecordSize(buffer);
    ASSERT_LE(size, kCapacity) << trial;
    ASSERT_TRUE(CheckMinutiaTemplate(std::span(buffer).first(size))) << trial;

    const bool short_entries = params.TemplateSetting == 4;
    if (short_entries) {
      // Coordinates of a short entry are stored halved in a byte each.
      ASSERT_LE(set->BlockCols, 32) << trial;
      ASSERT_LE(set->BlockRows, 32) << trial;
    }
    FeatureRecordsFixture decoded;
    DecodeTemplate(decoded.get(), decoded.summary(), buffer);
    ASSERT_EQ(decoded->Count, set->Count) << trial;
    ASSERT_EQ(decoded->BlockCols, set->BlockCols);
    ASSERT_EQ(decoded->BlockRows, set->BlockRows);
    EXPECT_EQ(decoded.summary()->BoundaryDensity, 7);
    for (int i = 0; i < set->Count; ++i) {
      const Minutia want = set.at(i);
      const Minutia got = decoded.at(i);
      const int variation = std::min(want.variation, 127);
      if (short_entries) {
        ASSERT_EQ(got.x, want.x / 2 * 2) << trial << " " << i;
        ASSERT_EQ(got.y, want.y / 2 * 2);
        ASSERT_LE(std::abs(got.angle - want.angle), 1);
        ASSERT_EQ(got.type, want.type & 1);
      } else {
        ASSERT_EQ(got.x, want.x) << trial << " " << i;
        ASSERT_EQ(got.y, want.y);
        ASSERT_EQ(got.angle, want.angle);
        ASSERT_EQ(got.type, want.type);
      }
      ASSERT_EQ(got.variation, variation);
    }
    for (int r = 0; r < set->BlockRows; ++r) {
      for (int c = 0; c < set->BlockCols; ++c) {
        const uint8_t cell = set->DirectionMap[r][c];
        ASSERT_EQ(decoded->DirectionMap[r][c], params.TemplateFlag ? PackedRoundTrip(cell) : cell);
      }
    }
  }
}

TEST(EncodeTemplate, KeepsTheFirst255Of256OrMoreMinutiae) {
  FeatureRecordsFixture set(4, 4);
  for (int i = 0; i < 300; ++i) set.Add({i % 64, i / 64, i % 360, 1, 0});
  EngineParams params = DefaultEngineParams();
  const std::vector<uint8_t> buffer = Encode(&params, set, 4096);
  EXPECT_EQ(set->Count, 255);
  EXPECT_EQ(buffer[1], 255);
  FeatureRecordsFixture decoded;
  DecodeTemplate(decoded.get(), decoded.summary(), buffer);
  ASSERT_EQ(decoded->Count, 255);
  EXPECT_EQ(decoded.at(254).x, 254 % 64);
  EXPECT_EQ(decoded.at(254).y, 254 / 64);
}

TEST(EncodeTemplate, WideGridKeepsFiveByteEntriesAndCropsInstead) {
  // 40 x 8 blocks with 200 minutiae: 4-byte entries would fit the whole grid, but X / 2 of a
  // minutia right of pixel 511 does not fit a byte. The record must keep 5-byte entries and
  // crop until they fit, every kept minutia decoding to its exact position.
  FeatureRecordsFixture set(40, 8);
  for (int i = 0; i < 200; ++i) set.Add({(i * 37) % 640, (i * 11) % 128, i % 360, 3, 1});
  EngineParams params = DefaultEngineParams();
  const std::vector<uint8_t> buffer = Encode(&params, set);
  EXPECT_EQ(params.TemplateSetting, 5);
  EXPECT_EQ(params.TemplateFlag, 1);
  ASSERT_LE(TemplateRecordSize(buffer), kCapacity);
  ASSERT_LT(set->Count, 200);
  FeatureRecordsFixture decoded;
  DecodeTemplate(decoded.get(), decoded.summary(), buffer);
  ASSERT_EQ(decoded->Count, set->Count);
  for (int i = 0; i < set->Count; ++i) {
    EXPECT_EQ(decoded.at(i).x, set.at(i).x);
    EXPECT_EQ(decoded.at(i).y, set.at(i).y);
  }

  // 32 blocks wide is still short-entry ground: the whole grid fits uncropped.
  FeatureRecordsFixture narrow(32, 8);
  for (int i = 0; i < 200; ++i) narrow.Add({(i * 37) % 512, (i * 11) % 128});
  params = DefaultEngineParams();
  EXPECT_EQ(Encode(&params, narrow)[0], 0x44);
  EXPECT_EQ(narrow->Count, 200);
}

TEST(EncodeTemplate, PackedCodesRoundAndWrap) {
  // 61 x 2 cells hold every direction 0..119 and both empty values.
  FeatureRecordsFixture set(61, 2);
  for (int v = 0; v < 122; ++v) {
    set.cell(v % 61, v / 61) = v < 120 ? static_cast<uint8_t>(v) : v == 120 ? 127 : 255;
  }
  set.Add({5, 5});
  EngineParams params = DefaultEngineParams();
  // One byte short of the unpacked map: the packed map (61 bytes) is chosen.
  const std::vector<uint8_t> buffer = Encode(&params, set, 8 + 5 + 61);
  ASSERT_EQ(buffer[2], 61);
  FeatureRecordsFixture decoded;
  DecodeTemplate(decoded.get(), decoded.summary(), buffer);
  for (int v = 0; v < 122; ++v) {
    const uint8_t got = decoded->DirectionMap[v / 61][v % 61];
    if (v >= 120) {
      EXPECT_EQ(got, 0xFF) << v;
    } else if (v >= 116) {
      EXPECT_EQ(got, 0) << v;
    } else {
      EXPECT_EQ(got, 8 * ((v + 4) / 8)) << v;
    }
  }
}

TEST(EncodeTemplate, OddBlockCountLeavesLastLowNibbleZero) {
  FeatureRecordsFixture set(3, 1, 0xFF);
  set.cell(0, 0) = 8;
  set.Add({1, 1});
  EngineParams params = DefaultEngineParams();
  // The unpacked record needs 16 bytes; 15 forces the packed map of 2 bytes.
  const std::vector<uint8_t> buffer = Encode(&params, set, 15);
  EXPECT_EQ(TemplateRecordSize(buffer), 8 + 5 + 2);
  EXPECT_EQ(buffer[13], 0x1F);
  EXPECT_EQ(buffer[14], 0xF0);
}

TEST(EncodeTemplate, SideOf64BlocksIsCutTo63) {
  FeatureRecordsFixture set(64, 2);
  set.Add({10, 10});
  set.Add({1010, 20});  // in block column 63
  set.Add({1007, 5});   // in block column 62
  EngineParams params = DefaultEngineParams();
  params.CropX = 3;
  const std::vector<uint8_t> buffer = Encode(&params, set);
  EXPECT_EQ(set->BlockCols, 63);
  EXPECT_EQ(buffer[2] & 0x3F, 63);
  ASSERT_EQ(set->Count, 2);
  EXPECT_EQ(set.at(1).x, 1007);
  EXPECT_EQ(set->DirectionMap[0][63], 0xFF);
  EXPECT_EQ(set->DirectionMap[0][62], 40);
  EXPECT_EQ(params.CropX, 3);
}

TEST(EncodeTemplate, SideOf64HoldingEveryMinutiaLeavesTheBufferZero) {
  FeatureRecordsFixture set(2, 64);
  set.Add({10, 1010});
  EngineParams params = DefaultEngineParams();
  const std::vector<uint8_t> buffer = Encode(&params, set);
  EXPECT_EQ(set->Count, 0);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0; }));
}

TEST(EncodeTemplate, NoMinutiaeOrNoRoomLeavesTheBufferZero) {
  {
    FeatureRecordsFixture set(4, 4);
    EngineParams params = DefaultEngineParams();
    const std::vector<uint8_t> buffer = Encode(&params, set);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0; }));
  }
  {
    // Not even an empty record fits 6 bytes; nothing may be written past them.
    FeatureRecordsFixture set(4, 4);
    set.Add({3, 3});
    EngineParams params = DefaultEngineParams();
    const std::vector<uint8_t> buffer = Encode(&params, set, 6);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0; }));
  }
}

TEST(DecodeTemplate, ShortEntryAngleCode255Is360) {
  std::vector<uint8_t> record = {0x44, 1, 0x81, 1, 9, 0, 0x55, 0x46, 3, 4, 255, 0x85, 40};
  FeatureRecordsFixture decoded;
  DecodeTemplate(decoded.get(), decoded.summary(), record);
  ASSERT_EQ(decoded->Count, 1);
  EXPECT_EQ(decoded.at(0).angle, 360);
  EXPECT_EQ(decoded.at(0).type, 1);
  EXPECT_EQ(decoded.at(0).variation, 5);
  EXPECT_EQ(decoded.at(0).x, 6);

  FeatureRecordsFixture set(1, 1);
  set.Add({0, 0, 359});
  EngineParams params = DefaultEngineParams();
  const std::vector<uint8_t> buffer = Encode(&params, set, 8 + 4 + 1);
  ASSERT_EQ(buffer[0], 0x44);
  EXPECT_EQ(buffer[10], 254);
}

TEST(DecodeTemplate, LimitsPositionsToTheGridAndKeepsCellsOutsideIt) {
  // One 5-byte entry at (1023, 1023) on a 2 x 1 unpacked grid.
  std::vector<uint8_t> record = {0x45, 1, 0x82, 1, 0, 0, 0, 0, 0xFF, 0xFF, 0xF0, 0, 0, 12, 34};
  FeatureRecordsFixture decoded(5, 5, 99);
  DecodeTemplate(decoded.get(), decoded.summary(), record);
  EXPECT_EQ(decoded.at(0).x, 31);
  EXPECT_EQ(decoded.at(0).y, 15);
  EXPECT_EQ(decoded->DirectionMap[0][0], 12);
  EXPECT_EQ(decoded->DirectionMap[0][1], 34);
  EXPECT_EQ(decoded->DirectionMap[0][2], 99);
  EXPECT_EQ(decoded->DirectionMap[1][0], 99);
}

}  // namespace
}  // namespace ridgeline
