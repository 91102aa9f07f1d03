// What the end-to-end tests and the demo rely on: generated prints pass sample acceptance and
// extraction, impressions of one finger match at the default level and different fingers do
// not. The set is the command's default (seed 7, 388 x 374), so these outcomes are fixed.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "core/engine_params.h"
#include "engine/engine.h"
#include "extract/check_image.h"
#include "extract/features_extraction.h"
#include "extract/resample_image.h"
#include "match/match_coord.h"
#include "match/match_params.h"
#include "match/match_work.h"
#include "tests/support/sanitizer_build.h"
#include "tools/synth/synth.h"

namespace ridgeline::synth {
namespace {

constexpr int kDefaultLevelThreshold = 325;  // match level 4
constexpr int kFingers = 3;
constexpr int kImpressions = 2;

struct Features {
  FeatureSet* set = nullptr;
  FeatureSummary* summary = nullptr;
  Features() = default;
  Features(const Features&) = delete;
  Features& operator=(const Features&) = delete;
  ~Features() { FreeFeatureRecords(set, summary); }
};

// Resamples to 550 dpi as sample acceptance does, checks the grey levels and extracts.
void Extract(const Image& image, Features* features) {
  const int width = image.width * 550 / 500;
  const int height = image.height * 550 / 500;
  GrayImage resampled = AllocGrayImage(width, height);
  ASSERT_NE(resampled, nullptr);
  ASSERT_TRUE(ResampleImage(image.pixels.data(), image.width, image.height, 500, resampled, width,
                            height, 550));
  EXPECT_TRUE(CheckImage(resampled, width, height));
  ASSERT_TRUE(AllocFeatureRecords(&features->set, &features->summary));
  EngineParams params;
  InitEngineParams(&params);
  EXPECT_EQ(FeaturesExtractionEx(&params, width, height, resampled, 100, features->set,
                                 features->summary, 1024, 3),
            1);
  FreeGrayImage(resampled);
}

TEST(SynthEngine, DefaultSetMatchesGenuineAndRejectsImpostors) {
  std::vector<Features> features(kFingers * kImpressions);
  GenerateSet(SetParams{kFingers, kImpressions, 7, 388, 374},
              [&](int finger, int impression, const Image& image) {
                Extract(image, &features[(finger - 1) * kImpressions + impression - 1]);
              });
  for (const Features& f : features) {
    ASSERT_NE(f.set, nullptr);
    // Comparable with real 500-dpi prints, which give some 30 to 45 minutiae.
    EXPECT_GE(f.set->Count, 20);
    EXPECT_LE(f.set->Count, 80);
    EXPECT_GE(f.summary->Quality, 60);
  }
  MatchParams match_params;
  InitMatchParams(&match_params);
  MatchWork* work = BuildMatchWork(250, 64, 64, 250, 64, 64, match_params);
  ASSERT_NE(work, nullptr);
  MatchResult result{};
  for (int finger = 0; finger < kFingers; ++finger) {
    const FeatureSet& first = *features[finger * kImpressions].set;
    const FeatureSet& second = *features[finger * kImpressions + 1].set;
    EXPECT_GE(MatchCoord(second, first, work, &result), kDefaultLevelThreshold) << finger + 1;
    for (int other = finger + 1; other < kFingers; ++other) {
      EXPECT_LT(MatchCoord(*features[other * kImpressions].set, first, work, &result),
                kDefaultLevelThreshold)
          << finger + 1 << " vs " << other + 1;
    }
  }
  FreeMatchWork(work);
}

// The engine's foreground on every print of the demo's default set (10 fingers, 4 impressions)
// covers the drawn finger and little else, and every minutia it keeps lies on it. A textured
// background is taken for skin and grows invented ridges and minutiae off the print. The
// sanitizer build checks the first fingers' first impressions, which sets of every size share.
TEST(SynthEngine, ForegroundHugsTheDrawnFingerOnEveryDemoPrint) {
  constexpr int kBlock = 16;
  const SetParams set = ridgeline::testing::kSanitizedBuild ? SetParams{4, 2, 7, 388, 374}
                                                            : SetParams{10, 4, 7, 388, 374};
  GenerateSet(set, [&](int finger, int impression, const Image& image) {
    SCOPED_TRACE(ImpressionFileName(finger, impression));
    const int width = image.width * 550 / 500;
    const int height = image.height * 550 / 500;
    GrayImage working = AllocGrayImage(width, height);
    GrayImage mask = AllocGrayImage(width, height);
    ASSERT_NE(working, nullptr);
    ASSERT_NE(mask, nullptr);
    ASSERT_TRUE(ResampleImage(image.pixels.data(), image.width, image.height, 500, working, width,
                              height, 550));
    // The drawn finger, block by block: ridge ink (the background never comes near it).
    std::vector<bool> drawn((width / kBlock) * (height / kBlock));
    for (int by = 0; by < height / kBlock; ++by) {
      for (int bx = 0; bx < width / kBlock; ++bx) {
        int dark = 0;
        for (int y = by * kBlock; y < (by + 1) * kBlock; ++y) {
          for (int x = bx * kBlock; x < (bx + 1) * kBlock; ++x) dark += working[y][x] < 128;
        }
        drawn[by * (width / kBlock) + bx] = dark >= 8;
      }
    }
    Features features;
    ASSERT_TRUE(AllocFeatureRecords(&features.set, &features.summary));
    EngineParams params;
    InitEngineParams(&params);
    params.ExportMask = 1;
    params.MaskImage = mask;
    EXPECT_EQ(FeaturesExtractionEx(&params, width, height, working, 100, features.set,
                                   features.summary, 1024, 3),
              1);
    int drawn_blocks = 0, covered = 0, foreground_blocks = 0, spilled = 0;
    for (int by = 0; by < height / kBlock; ++by) {
      for (int bx = 0; bx < width / kBlock; ++bx) {
        int print = 0;
        for (int y = by * kBlock; y < (by + 1) * kBlock; ++y) {
          for (int x = bx * kBlock; x < (bx + 1) * kBlock; ++x) print += mask[y][x] == 0;
        }
        const bool foreground = print * 2 > kBlock * kBlock;
        const bool is_drawn = drawn[by * (width / kBlock) + bx];
        drawn_blocks += is_drawn;
        covered += is_drawn && foreground;
        foreground_blocks += foreground;
        spilled += foreground && !is_drawn;
      }
    }
    ASSERT_GT(drawn_blocks, 0);
    EXPECT_GE(covered, drawn_blocks * 85 / 100) << covered << " of " << drawn_blocks;
    EXPECT_LE(spilled, foreground_blocks * 15 / 100) << spilled << " of " << foreground_blocks;
    for (int i = 0; i < features.set->Count; ++i) {
      const int x = features.set->X[i] + params.CropX;
      const int y = features.set->Y[i] + params.CropY;
      ASSERT_TRUE(x >= 0 && y >= 0 && x < width && y < height);
      EXPECT_EQ(mask[y][x], 0) << "minutia " << i << " at (" << x << ", " << y << ")";
    }
    FreeGrayImage(working);
    FreeGrayImage(mask);
  });
}

// Runs work(i) for i in 0..count-1 on every core; work must be safe to run concurrently.
template <typename Work>
void OnAllCores(int count, const Work& work) {
  std::atomic<int> next{0};
  std::vector<std::thread> threads;
  const int cores = static_cast<int>(std::max(2u, std::thread::hardware_concurrency()));
  for (int t = 0; t < cores; ++t) {
    threads.emplace_back([&] {
      for (int i = next++; i < count; i = next++) work(i);
    });
  }
  for (std::thread& thread : threads) thread.join();
}

// The fingers of one set are distinct people's fingers: no two of them match at the default
// level, and the impostor scores stay low, as between real fingers. A generator whose fingers
// share their direction field (one model per class) scores impostors of one class high enough
// that a gallery of a few hundred synthetic fingers refuses some as duplicates of others.
TEST(SynthEngine, FingersOfOneSetAreDistinct) {
  // Growing a master costs a third of a second of one core; the sanitizer build runs a smaller
  // set. 80 fingers are 3,160 pairs: the former generator put 8 of them at level 3.
  const int fingers = ridgeline::testing::kSanitizedBuild ? 12 : 80;
  MasterParams master_params;
  ImpressionParams impression_params;
  std::vector<FeaturePair> features(static_cast<size_t>(fingers));
  std::vector<AcceptStatus> status(static_cast<size_t>(fingers), AcceptStatus::kOutOfMemory);
  OnAllCores(fingers, [&](int i) {
    const Master master = GenerateMaster(master_params, MasterSeed(7, i + 1));
    const Image image = RenderImpression(master, impression_params, ImpressionSeed(7, i + 1, 1));
    const std::unique_ptr<Engine> engine = Engine::Create();
    if (engine == nullptr) return;
    AcceptedSample sample;
    status[static_cast<size_t>(i)] =
        engine->Accept(image.pixels, image.width, image.height, &sample);
    features[static_cast<size_t>(i)] = std::move(sample.features);
  });
  for (int i = 0; i < fingers; ++i) {
    ASSERT_EQ(status[static_cast<size_t>(i)], AcceptStatus::kAccepted) << "finger " << i + 1;
  }
  const int level_four = Engine::Threshold(kDefaultMatchLevel);
  const int level_three = Engine::Threshold(kDefaultMatchLevel - 1);
  std::vector<int> highest(static_cast<size_t>(fingers), 0);
  std::vector<int> over_level_three(static_cast<size_t>(fingers), 0);
  OnAllCores(fingers, [&](int reference) {
    const std::unique_ptr<Engine> engine = Engine::Create();
    if (engine == nullptr) return;
    for (int probe = reference + 1; probe < fingers; ++probe) {
      const int score = engine->Compare(*features[static_cast<size_t>(probe)].set(),
                                        *features[static_cast<size_t>(reference)].set());
      EXPECT_FALSE(Engine::Matches(score, kDefaultMatchLevel))
          << "fingers " << reference + 1 << " and " << probe + 1 << " score " << score;
      highest[static_cast<size_t>(reference)] =
          std::max(highest[static_cast<size_t>(reference)], score);
      over_level_three[static_cast<size_t>(reference)] += score >= level_three;
    }
  });
  const int pairs = fingers * (fingers - 1) / 2;
  int over = 0;
  for (int n : over_level_three) over += n;
  // Real prints of a few hundred fingers put almost no impostor at level 3.
  EXPECT_LE(over * 2000, pairs) << over << " of " << pairs << " pairs reach " << level_three;
  EXPECT_LT(*std::max_element(highest.begin(), highest.end()), level_four);
}

}  // namespace
}  // namespace ridgeline::synth
