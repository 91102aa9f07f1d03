// The tool's comparison beside the adapter: stored containers are checked as the adapter checks
// them before anything is decoded, the parallel scan gives exactly the scores of the one-by-one
// comparison, and the decision follows the level asked for.
#include "tools/cli/comparison.h"

#include <gtest/gtest.h>

#include "tools/synth/synth.h"

namespace ridgeline::tools {
namespace {

Capture SyntheticCapture(int finger, int impression) {
  const synth::Master master = synth::GenerateMaster({}, synth::MasterSeed(7, finger));
  const synth::Image image =
      synth::RenderImpression(master, {}, synth::ImpressionSeed(7, finger, impression));
  Capture capture;
  capture.name = synth::ImpressionFileName(finger, impression);
  capture.image.width = image.width;
  capture.image.height = image.height;
  capture.image.pixels = image.pixels;
  return capture;
}

// A stored container as enrollment writes it: header, then one length-prefixed template.
std::vector<uint8_t> Container(const Capture& capture) {
  const std::unique_ptr<Engine> engine = Engine::Create();
  AcceptedSample sample;
  EXPECT_EQ(
      engine->Accept(capture.image.pixels, capture.image.width, capture.image.height, &sample),
      AcceptStatus::kAccepted);
  const EncodedTemplate encoded = engine->EncodeTemplate(sample.features);
  const size_t size = encoded.bytes.size();
  std::vector<uint8_t> blob = {0, 0, 0, 0, 0, 1, 2001 & 0xFF, 2001 >> 8};
  blob.push_back(static_cast<uint8_t>(size & 0xFF));
  blob.push_back(static_cast<uint8_t>(size >> 8));
  blob.insert(blob.end(), encoded.bytes.begin(), encoded.bytes.end());
  return blob;
}

TEST(Comparison, OnlySoundContainersAreDecoded) {
  const std::vector<uint8_t> good = Container(SyntheticCapture(1, 1));
  const std::optional<DecodedTemplate> decoded = DecodeStoredTemplate(good);
  ASSERT_TRUE(decoded.has_value());
  ASSERT_EQ(decoded->size(), 1u);
  EXPECT_GT(decoded->front().set()->Count, 10);

  auto damaged = [&](auto change) {
    std::vector<uint8_t> blob = good;
    change(blob);
    return DecodeStoredTemplate(blob).has_value();
  };
  EXPECT_FALSE(damaged([](auto& b) { b.clear(); }));
  EXPECT_FALSE(damaged([](auto& b) { b.resize(7); }));             // header cut
  EXPECT_FALSE(damaged([](auto& b) { b[4] = 1; }));                // another container version
  EXPECT_FALSE(damaged([](auto& b) { b[5] = 0; }));                // no entry
  EXPECT_FALSE(damaged([](auto& b) { b[5] = 2; }));                // an entry announced, missing
  EXPECT_FALSE(damaged([](auto& b) { b[6] = 0; }));                // another template type
  EXPECT_FALSE(damaged([](auto& b) { b.resize(b.size() - 1); }));  // entry cut short
  EXPECT_FALSE(damaged([](auto& b) { b[9] = 0xFF; }));             // entry length past the end
  EXPECT_FALSE(damaged([](auto& b) { b[11] = 0; }));               // no minutiae
}

TEST(Comparison, ParallelScanGivesTheOneByOneScores) {
  constexpr int kFingers = 4;
  std::vector<DecodedTemplate> gallery(kFingers);
  for (int f = 0; f < kFingers; ++f) {
    eval::PrintFeatures enrolled = AcceptedFeatures(SyntheticCapture(f + 1, 1));
    ASSERT_TRUE(enrolled.reference);
    gallery[f].push_back(std::move(*enrolled.reference));
  }
  // Each finger twice, so the scan has more items than workers.
  for (int f = 0; f < kFingers; ++f) {
    gallery.push_back(*DecodeStoredTemplate(Container(SyntheticCapture(f + 1, 1))));
  }
  const eval::PrintFeatures probe = AcceptedFeatures(SyntheticCapture(3, 2));
  ASSERT_TRUE(probe.probe);
  const std::unique_ptr<Engine> engine = Engine::Create();
  std::vector<int> expected;
  for (const DecodedTemplate& stored : gallery) {
    expected.push_back(BestScore(*probe.probe->set(), stored, *engine));
  }
  for (int threads : {1, 2, 3, 16}) {
    EXPECT_EQ(ScoreAll(*probe.probe->set(), gallery, threads), expected) << threads;
  }
  EXPECT_GE(expected[2], LevelThreshold(kDefaultLevel));
  EXPECT_LT(expected[0], LevelThreshold(kDefaultLevel));
  EXPECT_TRUE(ScoreAll(*probe.probe->set(), {}, 0).empty());
}

TEST(Comparison, TheDecisionFollowsTheLevel) {
  // At the default level the adapter's answer stands, whatever the score says.
  const Decision adapter = Decide(kDefaultLevel, 10, true);
  EXPECT_TRUE(adapter.match);
  EXPECT_EQ(adapter.decided_by, "adapter");
  EXPECT_EQ(adapter.threshold, 325);
  // At other levels the score decides, the threshold itself included.
  for (int level = kMinLevel; level <= kMaxLevel; ++level) {
    if (level == kDefaultLevel) continue;
    const int threshold = LevelThreshold(level);
    EXPECT_TRUE(Decide(level, threshold, false).match) << level;
    EXPECT_FALSE(Decide(level, threshold - 1, true).match) << level;
    EXPECT_FALSE(Decide(level, std::nullopt, true).match) << level;
    EXPECT_EQ(Decide(level, threshold, false).decided_by, "engine");
    if (level > kMinLevel) {
      EXPECT_GT(threshold, LevelThreshold(level - 1));
    }
  }
  EXPECT_NE(DescribeDecision(Decide(2, 200, false)).find("engine"), std::string::npos);
}

}  // namespace
}  // namespace ridgeline::tools
