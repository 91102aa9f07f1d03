// The public C interface as another program uses it: extraction, the template round trip, the
// comparison and the decision, and its refusals of bad arguments and bad bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "engine/engine.h"
#include "image/print_image.h"
#include "ridgeline/ridgeline.h"
#include "tests/support/shared_data.h"
#include "tools/eval/print_features.h"

namespace ridgeline {
namespace {

struct Engine_ {
  rl_engine* engine = nullptr;
  Engine_() { EXPECT_EQ(rl_engine_create(&engine), RL_OK); }
  ~Engine_() { rl_engine_destroy(engine); }
};

struct Features_ {
  rl_features* f = nullptr;
  ~Features_() { rl_features_destroy(f); }
};

std::filesystem::path Print(const char* name) {
  return testing::SharedDir() / "data" / "fvc2002" / "DB1_B" / name;
}

// Skips the test when the shared prints are absent.
#define REQUIRE_PRINTS() \
  if (!std::filesystem::exists(Print("101_1.tif"))) GTEST_SKIP() << "no shared prints"

tools::PrintImage Load(const char* name) { return tools::ReadPrintImage(Print(name)); }

rl_status Extract(rl_engine* engine, const tools::PrintImage& image, rl_features** out,
                  int ppi = 500) {
  return rl_extract(engine, image.pixels.data(), image.width, image.height, image.width, ppi, out);
}

std::vector<uint8_t> Encode(rl_engine* engine, const rl_features* features) {
  std::vector<uint8_t> bytes(1024);
  size_t size = 0;
  EXPECT_EQ(rl_template_encode(engine, features, bytes.data(), bytes.size(), &size), RL_OK);
  bytes.resize(size);
  return bytes;
}

TEST(RidgelineApi, ScoresAndTemplatesEqualTheEngineAcceptanceAndEnrollment) {
  REQUIRE_PRINTS();
  Engine_ e;
  const tools::PrintImage a = Load("101_1.tif");
  const tools::PrintImage b = Load("101_2.tif");
  const tools::PrintImage other = Load("102_1.tif");
  Features_ fa, fb, fo, enrolled, enrolled_other;
  ASSERT_EQ(Extract(e.engine, a, &fa.f), RL_OK);
  ASSERT_EQ(Extract(e.engine, b, &fb.f), RL_OK);
  ASSERT_EQ(Extract(e.engine, other, &fo.f), RL_OK);

  // The evaluation's path (acceptance, enrollment encoding, decoding) gives the same score.
  const eval::PrintFeatures ea = eval::ExtractPrint({a.width, a.height, a.pixels});
  const eval::PrintFeatures eb = eval::ExtractPrint({b.width, b.height, b.pixels});
  ASSERT_EQ(ea.status, eval::PrintStatus::kAccepted);
  ASSERT_EQ(eb.status, eval::PrintStatus::kAccepted);
  EXPECT_EQ(rl_features_minutia_count(fa.f), static_cast<size_t>(ea.minutiae));

  const std::vector<uint8_t> stored = Encode(e.engine, fa.f);
  EXPECT_EQ(stored.size(), static_cast<size_t>(ea.template_bytes));
  EXPECT_EQ(rl_template_check(stored.data(), stored.size()), RL_OK);
  ASSERT_EQ(rl_template_decode(e.engine, stored.data(), stored.size(), &enrolled.f), RL_OK);
  int32_t genuine = 0;
  ASSERT_EQ(rl_compare(e.engine, fb.f, enrolled.f, &genuine), RL_OK);
  auto engine = Engine::Create();
  EXPECT_EQ(genuine, engine->Compare(*eb.probe->set(), *ea.reference->set()));
  EXPECT_EQ(rl_matches(genuine, 4), 1) << genuine;

  const std::vector<uint8_t> stored_other = Encode(e.engine, fo.f);
  ASSERT_EQ(
      rl_template_decode(e.engine, stored_other.data(), stored_other.size(), &enrolled_other.f),
      RL_OK);
  int32_t impostor = 0;
  ASSERT_EQ(rl_compare(e.engine, fb.f, enrolled_other.f, &impostor), RL_OK);
  EXPECT_EQ(rl_matches(impostor, 4), 0) << impostor;
}

TEST(RidgelineApi, InputFrameCoordinatesLieOnTheGivenImageAtAnyResolution) {
  REQUIRE_PRINTS();
  Engine_ e;
  const tools::PrintImage a = Load("101_1.tif");
  Features_ at500;
  ASSERT_EQ(Extract(e.engine, a, &at500.f), RL_OK);
  std::vector<rl_minutia> input(rl_features_minutia_count(at500.f));
  std::vector<rl_minutia> engine_frame(input.size());
  size_t count = 0;
  ASSERT_EQ(rl_features_minutiae(at500.f, RL_FRAME_INPUT, input.data(), input.size(), &count),
            RL_OK);
  ASSERT_EQ(rl_features_minutiae(at500.f, RL_FRAME_ENGINE, engine_frame.data(), engine_frame.size(),
                                 &count),
            RL_OK);
  for (size_t i = 0; i < count; ++i) {
    EXPECT_GE(input[i].x, 0);
    EXPECT_LT(input[i].x, a.width);
    EXPECT_GE(input[i].y, 0);
    EXPECT_LT(input[i].y, a.height);
    EXPECT_EQ(input[i].angle, (engine_frame[i].angle + 180) % 360);
  }

  // The same pixels declared at 1000 ppi are shrunk to half before extraction: the minutiae
  // come back in the given image's pixels, so about twice the 500-ppi coordinates of a
  // half-size image would be; all of them inside the image.
  Features_ at1000;
  ASSERT_EQ(Extract(e.engine, a, &at1000.f, 1000), RL_OK);
  std::vector<rl_minutia> scaled(rl_features_minutia_count(at1000.f));
  ASSERT_EQ(rl_features_minutiae(at1000.f, RL_FRAME_INPUT, scaled.data(), scaled.size(), &count),
            RL_OK);
  for (const rl_minutia& m : scaled) {
    EXPECT_TRUE(m.x >= 0 && m.x < a.width && m.y >= 0 && m.y < a.height) << m.x << "," << m.y;
  }
}

TEST(RidgelineApi, RefusesBadArgumentsAndImagesWithoutAllocatingForThem) {
  Engine_ e;
  rl_features* f = reinterpret_cast<rl_features*>(1);
  const std::vector<uint8_t> grey(400 * 400, 128);
  EXPECT_EQ(rl_extract(nullptr, grey.data(), 400, 400, 400, 500, &f), RL_E_INVALID_ARGUMENT);
  EXPECT_EQ(f, nullptr);
  EXPECT_EQ(rl_extract(e.engine, grey.data(), 400, 400, 399, 500, &f), RL_E_INVALID_ARGUMENT);
  EXPECT_EQ(rl_extract(e.engine, grey.data(), 0, 400, 400, 500, &f), RL_E_INVALID_ARGUMENT);
  EXPECT_EQ(rl_extract(e.engine, grey.data(), 400, 400, 400, 99, &f), RL_E_RESOLUTION);
  // 400 pixels at 100 ppi would be 2000 at 500 ppi: refused before the resampling.
  EXPECT_EQ(rl_extract(e.engine, grey.data(), 400, 400, 400, 100, &f), RL_E_IMAGE_SIZE);
  EXPECT_EQ(rl_extract(e.engine, grey.data(), 20, 20, 20, 500, &f), RL_E_IMAGE_SIZE);
  // One grey level everywhere: a bad capture.
  EXPECT_EQ(rl_extract(e.engine, grey.data(), 400, 400, 400, 500, &f), RL_E_BAD_CAPTURE);
  EXPECT_EQ(f, nullptr);
  size_t count = 0;
  EXPECT_EQ(rl_features_minutiae(nullptr, RL_FRAME_INPUT, nullptr, 0, &count),
            RL_E_INVALID_ARGUMENT);
  int32_t score = -1;
  EXPECT_EQ(rl_compare(e.engine, nullptr, nullptr, &score), RL_E_INVALID_ARGUMENT);
  EXPECT_EQ(rl_engine_create(nullptr), RL_E_INVALID_ARGUMENT);
  for (int s = RL_OK; s <= RL_E_BAD_IMAGE; ++s) {
    EXPECT_STRNE(rl_status_message(static_cast<rl_status>(s)), "unknown status");
  }
}

TEST(RidgelineApi, DamagedTemplatesAreRefusedAtEveryLengthAndFlip) {
  REQUIRE_PRINTS();
  Engine_ e;
  Features_ fa;
  ASSERT_EQ(Extract(e.engine, Load("101_1.tif"), &fa.f), RL_OK);
  const std::vector<uint8_t> stored = Encode(e.engine, fa.f);
  // Too small a buffer says how much is needed and writes nothing beyond it.
  std::array<uint8_t, 16> small{};
  size_t needed = 0;
  EXPECT_EQ(rl_template_encode(e.engine, fa.f, small.data(), small.size(), &needed),
            RL_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(needed, stored.size());
  // Every truncation is refused; a copy on the heap of exactly that size lets ASan catch any
  // read past its end.
  for (size_t n = 1; n < stored.size(); ++n) {
    std::vector<uint8_t> cut(stored.begin(), stored.begin() + static_cast<std::ptrdiff_t>(n));
    Features_ out;
    EXPECT_EQ(rl_template_decode(e.engine, cut.data(), cut.size(), &out.f), RL_E_BAD_TEMPLATE) << n;
  }
  // Random byte damage never crashes; what decodes still compares.
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> damaged = stored;
    damaged[random() % damaged.size()] ^= static_cast<uint8_t>(1 + random() % 255);
    Features_ out;
    if (rl_template_decode(e.engine, damaged.data(), damaged.size(), &out.f) == RL_OK) {
      int32_t score = -1;
      EXPECT_EQ(rl_compare(e.engine, fa.f, out.f, &score), RL_OK);
      EXPECT_TRUE(score >= 0 && score <= 9999);
    }
  }
}

TEST(RidgelineApi, ThresholdsFollowTheLevelTableAndClamp) {
  const int expected[] = {65, 115, 200, 325, 465, 630, 820};
  for (int level = 1; level <= 7; ++level) EXPECT_EQ(rl_threshold(level), expected[level - 1]);
  EXPECT_EQ(rl_threshold(0), 65);
  EXPECT_EQ(rl_threshold(-5), 65);
  EXPECT_EQ(rl_threshold(99), 820);
  EXPECT_EQ(rl_matches(325, 4), 1);
  EXPECT_EQ(rl_matches(324, 4), 0);
  EXPECT_STREQ(rl_version(), RIDGELINE_VERSION);
  EXPECT_EQ(rl_template_format_version(), 1);
}

}  // namespace
}  // namespace ridgeline
